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
        QAbstractButton* ok =
            box->button(answer_) != nullptr ? box->button(answer_) : box->button(QMessageBox::Ok);
        if (ok != nullptr) {
            ok->click();
        } else {
            box->reject();
        }
    }
}
