// The receive thread on a loopback socket: how it reads an announced burst
// and what it does once the burst is over.
#include "UdpReceiveThread.h"

#include <QByteArray>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Few enough to fit in any receive buffer, so that every one must arrive.
constexpr int kDatagrams = 100;

} // namespace

class ReceiveThreadTest : public QObject {
    Q_OBJECT
private slots:
    // An announced burst that brings nothing ends by itself after a bounded
    // number of paced reads; the thread still hears what comes later, reads
    // a burst nobody announced whole and in order, and stops at once while
    // a burst is on.
    void burstWindowEndsAndLaterDatagramsStillArrive()
    {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        QVERIFY(bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0);
        QVERIFY(getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0);

        std::mutex mutex;
        std::vector<QByteArray> received; // guarded by mutex
        const auto count = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return received.size();
        };
        {
            UdpReceiveThread thread({fd}, std::make_shared<std::atomic<size_t>>(0),
                                    [&](DatagramBatch&& batch, size_t) {
                                        std::lock_guard<std::mutex> lock(mutex);
                                        for (const ReceivedDatagram& d : batch) {
                                            received.push_back(d.bytes);
                                        }
                                    });
            QVERIFY(thread.IsRunning());
            const size_t before = thread.Waits();
            thread.BurstBegins();
            QTRY_VERIFY(thread.Waits() > before + 1); // the announcement is taken
            QTRY_VERIFY(!thread.InBurst());
            // A window of kBurstGapMs at a pause of a quarter millisecond;
            // reading without pause would wait far more often.
            QVERIFY2(thread.Waits() - before < 20 * UdpReceiveThread::kBurstGapMs, "the thread spins");

            const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            QVERIFY(sender >= 0);
            for (int i = 0; i < kDatagrams; ++i) {
                const QByteArray datagram = QByteArray::number(i).repeated(i % 7 + 1);
                QCOMPARE(sendto(sender, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
                                reinterpret_cast<const sockaddr*>(&local), sizeof local),
                         static_cast<ssize_t>(datagram.size()));
            }
            close(sender);
            QTRY_COMPARE(count(), size_t(kDatagrams));
            thread.BurstBegins(); // the destructor must not wait for it to end
        }
        close(fd);
        for (int i = 0; i < kDatagrams; ++i) {
            QCOMPARE(received[static_cast<size_t>(i)], QByteArray::number(i).repeated(i % 7 + 1));
        }
    }
};

QTEST_GUILESS_MAIN(ReceiveThreadTest)
#include "ReceiveThreadTest.moc"
