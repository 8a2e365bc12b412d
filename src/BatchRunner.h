#pragma once

#include <QObject>

#include <cstddef>
#include <functional>

// Runs the entries of a batch one after another: each entry's work is
// started only after the previous one's has ended, a failure of one entry
// does not stop the rest, and Cancel sends nothing more once the entry at
// work has ended. What an entry's work is, and how it fails, is the owner's:
// the runner starts it through `start` and is told its end by EntryDone().
// Entries never started because of a cancel are handed to `skip`.
// GUI thread only.
class BatchRunner final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(BatchRunner)
public:
    using EntryAction = std::function<void(size_t index)>;

    BatchRunner(size_t count, EntryAction start, EntryAction skip, QObject* parent);
    ~BatchRunner() override;

    // Starts the first entry (at once); Finished follows the last one.
    void Start();
    // The entry at work finishes; no other is started.
    void Cancel();
    // The entry at work has ended; the next one starts from the event loop,
    // so that entries that end at once do not nest one call per entry.
    void EntryDone();

    bool IsRunning() const { return state_ == State::Running; }
    bool IsFinished() const { return state_ == State::Finished; }
    bool IsCancelled() const { return cancelled_; }
    size_t Count() const { return count_; }
    // The entry at work, or the next one to start.
    size_t Current() const { return current_; }

signals:
    void EntryStarted(int index);
    void EntryEnded(int index);
    // Every entry has ended or was skipped.
    void Finished();

private:
    void StartCurrent();

    enum class State { Idle, Running, Finished };
    size_t count_ = 0;
    EntryAction start_;
    EntryAction skip_;
    State state_ = State::Idle;
    size_t current_ = 0;
    bool cancelled_ = false;
    bool entryAtWork_ = false;
};
