#include "BatchRunner.h"

#include <utility>

BatchRunner::BatchRunner(size_t count, EntryAction start, EntryAction skip, QObject* parent)
    : QObject(parent), count_(count), start_(std::move(start)), skip_(std::move(skip))
{
}

BatchRunner::~BatchRunner() = default;

void BatchRunner::Start()
{
    if (state_ != State::Idle) {
        return;
    }
    state_ = State::Running;
    current_ = 0;
    StartCurrent();
}

void BatchRunner::Cancel()
{
    if (state_ != State::Running) {
        return;
    }
    // Between two entries the queued start of the next one sees it too.
    cancelled_ = true;
}

void BatchRunner::EntryDone()
{
    if (state_ != State::Running || !entryAtWork_) {
        return;
    }
    entryAtWork_ = false;
    const size_t ended = current_++;
    emit EntryEnded(static_cast<int>(ended));
    QMetaObject::invokeMethod(
        this, [this] { StartCurrent(); }, Qt::QueuedConnection);
}

void BatchRunner::StartCurrent()
{
    if (state_ != State::Running || entryAtWork_) {
        return;
    }
    if (cancelled_) {
        for (size_t i = current_; i < count_; ++i) {
            skip_(i);
        }
        current_ = count_;
    }
    if (current_ >= count_) {
        state_ = State::Finished;
        emit Finished();
        return;
    }
    entryAtWork_ = true;
    emit EntryStarted(static_cast<int>(current_));
    start_(current_);
}
