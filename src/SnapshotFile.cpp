#include "SnapshotFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

namespace {

constexpr int kMaxNameChars = 64;
// Snapshots taken within one second: after this many the folder is taken to
// be unusable rather than searched on.
constexpr int kMaxSameNameTries = 1000;

QString Text(const char* text)
{
    return QCoreApplication::translate("SnapshotFile", text);
}

} // namespace

QString SnapshotFileName(const QString& deviceName, const QString& address, const QDateTime& when)
{
    QString name = deviceName.trimmed();
    for (QChar& c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control) {
            c = QLatin1Char('_');
        }
    }
    if (name.startsWith(QLatin1Char('.'))) {
        name[0] = QLatin1Char('_');
    }
    if (name.size() > kMaxNameChars) {
        // Never between the two halves of a surrogate pair.
        const int cut = name.at(kMaxNameChars - 1).isHighSurrogate() ? kMaxNameChars - 1 : kMaxNameChars;
        name.truncate(cut);
    }
    if (name.isEmpty()) {
        name = address;
    }
    return name + QLatin1Char('-') + when.toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           QStringLiteral(".png");
}

bool SaveSnapshot(const QImage& picture, const QString& folder, const QString& fileName, QString& savedPath,
                  QString& error)
{
    if (picture.isNull()) {
        error = Text("no picture");
        return false;
    }
    const QDir dir(folder);
    if (!dir.exists()) {
        error = Text("the folder %1 does not exist").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const QString base = QFileInfo(fileName).completeBaseName();
    const QString suffix = QFileInfo(fileName).suffix();
    QString path = dir.filePath(fileName);
    for (int n = 2; QFileInfo::exists(path); ++n) {
        if (n > kMaxSameNameTries) {
            error = Text("too many files named %1").arg(fileName);
            return false;
        }
        path = dir.filePath(base + QLatin1Char('-') + QString::number(n) + QLatin1Char('.') + suffix);
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(picture)) {
        error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    savedPath = path;
    return true;
}
