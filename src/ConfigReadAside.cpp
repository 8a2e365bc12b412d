#include "ConfigReadAside.h"

#include "VcaConfigReader.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <thread>

namespace configread {

namespace {

constexpr int kPollMs = 5;

// One read under way on its own thread; joined when the owner goes.
class AsideRead final : public QObject {
public:
    AsideRead(QObject* parent, const QByteArray& content) : QObject(parent)
    {
        thread_ = std::thread([this, content] {
            reader_ = std::make_shared<const VcaConfigReader>(content);
            done_.store(true, std::memory_order_release);
        });
    }
    ~AsideRead() override { thread_.join(); }
    AsideRead(const AsideRead&) = delete;
    AsideRead& operator=(const AsideRead&) = delete;

    bool Done() const { return done_.load(std::memory_order_acquire); }
    std::shared_ptr<const VcaConfigReader> Reader() const { return reader_; }

private:
    std::thread thread_;
    std::shared_ptr<const VcaConfigReader> reader_; // written once by the thread, read after Done
    std::atomic<bool> done_{false};
};

} // namespace

std::shared_ptr<const VcaConfigReader> ReadWaiting(const QByteArray& content)
{
    if (content.size() < kReadAsideBytes) {
        return std::make_shared<const VcaConfigReader>(content);
    }
    QObject owner;
    auto* read = new AsideRead(&owner, content);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [read, &loop] {
        if (read->Done()) {
            loop.quit();
        }
    });
    poll.start(kPollMs);
    loop.exec();
    return read->Reader();
}

bool ReadThen(QObject* context, const QByteArray& content,
              const std::function<void(const VcaConfigReader&)>& then)
{
    if (content.size() < kReadAsideBytes) {
        then(VcaConfigReader(content));
        return true;
    }
    auto* read = new AsideRead(context, content);
    auto* poll = new QTimer(read);
    QObject::connect(poll, &QTimer::timeout, read, [read, poll, then] {
        if (read->Done()) {
            // `then` may open a modal box: no second call from its loop.
            poll->stop();
            const std::shared_ptr<const VcaConfigReader> reader = read->Reader();
            read->deleteLater();
            then(*reader);
        }
    });
    poll->start(kPollMs);
    return false;
}

} // namespace configread
