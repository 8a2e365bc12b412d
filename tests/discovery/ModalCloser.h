#pragma once

#include <QObject>
#include <QTimer>

// Closes every modal window that opens while it exists (the settings dialog
// and any message box it shows), so that a test can press a button that runs
// a modal loop and get control back.
class ModalCloser final : public QObject {
    Q_OBJECT
public:
    explicit ModalCloser(int delayMs = 200);

    bool ClosedAny() const { return closed_ > 0; }
    int Closed() const { return closed_; }

private slots:
    void OnTick();

private:
    QTimer timer_;
    int closed_ = 0;
};
