#include "ModalCloser.h"

#include <QApplication>
#include <QWidget>

ModalCloser::ModalCloser(int delayMs)
{
    timer_.setInterval(delayMs);
    connect(&timer_, &QTimer::timeout, this, &ModalCloser::OnTick);
    timer_.start();
}

void ModalCloser::OnTick()
{
    if (QWidget* modal = QApplication::activeModalWidget()) {
        ++closed_;
        modal->close();
    }
}
