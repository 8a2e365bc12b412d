#include "TestHelpers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <algorithm>

void Idle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QTest::qWait(20);
    }
}

QString ToolTipShows(const QString& toolTip)
{
    if (!Qt::mightBeRichText(toolTip)) {
        return toolTip;
    }
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

int CountStartingWith(const std::vector<std::string>& messages, const std::string& prefix)
{
    return static_cast<int>(std::count_if(messages.begin(), messages.end(), [&prefix](const std::string& m) {
        return m.compare(0, prefix.size(), prefix) == 0;
    }));
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        return {};
    }
    return path;
}
