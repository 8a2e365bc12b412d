#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Answers every modal message box that appears while it is alive: records its
// title and text and presses OK (or the answer set for questions; without
// either the box is rejected), so that a test can run code that shows one
// and check what was shown.
class MessageBoxWatcher final : public QObject {
    Q_OBJECT
public:
    MessageBoxWatcher();

    QStringList Texts() const { return texts_; }
    QStringList Titles() const { return titles_; }
    // Whether every box so far showed its text as plain text.
    bool AllPlainText() const { return allPlainText_; }
    void Clear();
    // The button pressed in a box that has it, before OK.
    void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }

private slots:
    void Poll();

private:
    QTimer timer_;
    QStringList texts_;
    QStringList titles_;
    bool allPlainText_ = true;
    QMessageBox::StandardButton answer_ = QMessageBox::NoButton;
};
