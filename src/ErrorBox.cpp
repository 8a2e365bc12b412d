#include "ErrorBox.h"

#include <QCoreApplication>
#include <QMessageBox>

QString ShownText(const QString& text)
{
    if (text.size() <= kShownTextMaxChars) {
        return text;
    }
    return text.left(kShownTextMaxChars) + QChar(0x2026);
}

void ShowErrorBox(QWidget* parent, const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::translate("SettingsDialog", "Error"),
                    ShownText(message), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
