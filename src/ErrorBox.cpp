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

QString PlainToolTip(const QString& text)
{
    if (text.isEmpty()) {
        return text;
    }
    // pre-wrap keeps runs of blanks and line breaks as they were.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + ShownText(text).toHtmlEscaped() +
           QStringLiteral("</p>");
}

void ShowErrorBox(QWidget* parent, const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::translate("SettingsDialog", "Error"),
                    ShownText(message), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool AskYesNo(QWidget* parent, const QString& question)
{
    QMessageBox box(QMessageBox::Question, parent->windowTitle(), question,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
