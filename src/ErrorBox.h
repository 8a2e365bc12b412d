#pragma once

#include <QString>

class QWidget;

// Messages often quote what a device sent (an HTTP or RTSP reason, a URL).
// They are shown as plain text, never as rich text, and cut to a length a
// message box and a status bar can hold.
constexpr int kShownTextMaxChars = 300;

// The text cut to kShownTextMaxChars characters, followed by "…" when cut.
QString ShownText(const QString& text);

// A tool tip that shows ShownText(text) as it is: a tool tip takes text that
// looks like markup as rich text, so the text is escaped and always given as
// rich text. Empty text gives no tool tip.
QString PlainToolTip(const QString& text);

// A modal critical message box titled "Error" with one OK button, showing
// ShownText(message) as plain text.
void ShowErrorBox(QWidget* parent, const QString& message);

// A modal Yes/No question titled as `parent`'s window, with No as default
// and for Escape, showing `question` as plain text; true for Yes.
bool AskYesNo(QWidget* parent, const QString& question);
