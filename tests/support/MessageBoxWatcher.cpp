#include "MessageBoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace {
constexpr int kPollIntervalMs = 20;
}

MessageBoxWatcher::MessageBoxWatcher()
{
    connect(&timer_, &QTimer::timeout, this, &MessageBoxWatcher::Poll);
    timer_.start(kPollIntervalMs);
}

void MessageBoxWatcher::Clear()
{
    texts_.clear();
    titles_.clear();
    allPlainText_ = true;
}

void MessageBoxWatcher::Poll()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible()) {
            continue;
        }
        titles_ << box->windowTitle();
        texts_ << box->text();
        allPlainText_ = allPlainText_ && box->textFormat() == Qt::PlainText;
        QAbstractButton* answer = answer_ != QMessageBox::NoButton ? box->button(answer_) : nullptr;
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        if (answer != nullptr) {
            answer->click();
        } else if (ok != nullptr) {
            ok->click();
        } else {
            box->reject();
        }
    }
}
