// The UDP transport inside the workstation namespace of the virtual LAN:
// run lifecycle, delivery of datagrams, and the exchange with a simulated
// device.
#include "SimDevice.h"
#include "UdpModule.h"
#include "TestHelpers.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {

void SendToModule(const QByteArray& datagram)
{
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, UdpModuleWithTimer::kListenPort),
             qint64(datagram.size()));
}

} // namespace

class TransportLanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!SimDevice::Available()) {
            QSKIP("needs the virtual LAN (run through ctest)");
        }
    }

    // One run without replies: nothing before the listening time is up, then
    // exactly one Stopped(); Stop() afterwards adds nothing.
    void runWithoutRepliesStopsOnceByItself()
    {
        UdpModuleWithTimer module(nullptr);
        QSignalSpy stopped(&module, SIGNAL(Stopped()));
        module.Start();
        QVERIFY(module.ListenError().isEmpty());
        Idle(1000);
        QCOMPARE(stopped.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        module.Stop();
        Idle(200);
        QCOMPARE(stopped.count(), 1);
    }

    void stopEmitsAtOnceAndTheTimeoutAddsNothing()
    {
        UdpModuleWithTimer module(nullptr);
        QSignalSpy stopped(&module, SIGNAL(Stopped()));
        module.Stop();
        QCOMPARE(stopped.count(), 0);
        module.Start();
        module.Stop();
        QCOMPARE(stopped.count(), 1);
        module.Stop();
        Idle(UdpModuleWithTimer::kListenTimeMs + 500);
        QCOMPARE(stopped.count(), 1);
        // Stopped means closed: nothing sent to the port reaches the module.
        QSignalSpy received(&module, SIGNAL(DatagramReceived(QByteArray)));
        SendToModule("late");
        Idle(200);
        QCOMPARE(received.count(), 0);
    }

    // The second run of Start/Stop/Start gets its own full listening time
    // rather than the remainder of the first run's.
    void restartGetsAFullListeningTime()
    {
        UdpModuleWithTimer module(nullptr);
        QSignalSpy stopped(&module, SIGNAL(Stopped()));
        module.Start();
        Idle(1500);
        module.Stop();
        module.Start();
        QCOMPARE(stopped.count(), 1);
        Idle(2000); // past the first run's end
        QCOMPARE(stopped.count(), 1);
        SendToModule("still listening");
        QSignalSpy received(&module, SIGNAL(DatagramReceived(QByteArray)));
        QTRY_COMPARE(received.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 2, 10000);
    }

    void pendingDatagramsArriveWholeInOrder()
    {
        UdpModuleWithTimer module(nullptr);
        std::vector<QByteArray> received;
        connect(&module, &UdpModuleWithTimer::DatagramReceived,
                [&received](const QByteArray& d) { received.push_back(d); });
        module.Start();
        QByteArray big(2000, '\0');
        for (int i = 0; i < big.size(); ++i) {
            big[i] = static_cast<char>(i * 7);
        }
        SendToModule("first");
        SendToModule(big);
        SendToModule(QByteArray());
        QTRY_COMPARE(received.size(), size_t(3));
        QCOMPARE(received[0], QByteArray("first"));
        QCOMPARE(received[1], big);
        QCOMPARE(received[2], QByteArray());
        module.Stop();
    }

    // A receiver that stops the run from its slot: the second datagram,
    // already pending, is dropped with the socket, and the run ends once.
    void stopFromTheFirstReceiverDropsTheRest()
    {
        UdpModuleWithTimer module(nullptr);
        QSignalSpy stopped(&module, SIGNAL(Stopped()));
        std::vector<QByteArray> received;
        connect(&module, &UdpModuleWithTimer::DatagramReceived, [&received, &module](const QByteArray& d) {
            received.push_back(d);
            module.Stop();
        });
        module.Start();
        SendToModule("one");
        SendToModule("two");
        QTRY_COMPARE(received.size(), size_t(1));
        Idle(300);
        QCOMPARE(received.size(), size_t(1));
        QCOMPARE(received[0], QByteArray("one"));
        QCOMPARE(stopped.count(), 1);
    }

    // The broadcast leaves through the virtual LAN and the devices' replies
    // come back; the module's own request (port 49076) never reaches it.
    void broadcastReachesDevicesAndRepliesComeBack()
    {
        // MAC addresses beginning 02:D3 tell this test's devices from other
        // simulators that may share the LAN.
        SimDevice dev1(QStringLiteral("dev1"),
                       {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--mac"),
                        QStringLiteral("02:D3:00:00:10:01")},
                       QStringLiteral("udp"));
        SimDevice dev2(QStringLiteral("dev2"), {QStringLiteral("--mac"), QStringLiteral("02:D3:00:00:10:11")},
                       QStringLiteral("udp"));
        QVERIFY(dev1.IsReady());
        QVERIFY(dev2.IsReady());
        UdpModuleWithTimer module(nullptr);
        std::vector<QByteArray> received;
        connect(&module, &UdpModuleWithTimer::DatagramReceived, [&received](const QByteArray& d) {
            if (d.size() >= 70 && d.mid(68, 2) == QByteArray("\x02\xD3", 2)) {
                received.push_back(d);
            }
        });
        QSignalSpy stopped(&module, SIGNAL(Stopped()));
        module.Start();
        module.SendBroadcast(QByteArray("discover"));
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QCOMPARE(received.size(), size_t(3));
        for (const QByteArray& reply : received) {
            QCOMPARE(reply.size(), 131);
        }
    }

    // Another program holds the port exclusively: the run reports why it
    // cannot listen, still ends by its timeout with one Stopped(), and the
    // next run after the port is free listens again.
    void bindFailureIsReportedAndTheRunStillEnds()
    {
        auto blocker = std::make_unique<QUdpSocket>();
        QVERIFY(blocker->bind(QHostAddress::Any, UdpModuleWithTimer::kListenPort,
                              QAbstractSocket::DontShareAddress));
        UdpModuleWithTimer module(nullptr);
        QSignalSpy stopped(&module, SIGNAL(Stopped()));
        module.Start();
        QVERIFY(!module.ListenError().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QVERIFY(!module.ListenError().isEmpty());
        blocker.reset();
        module.Start();
        QVERIFY(module.ListenError().isEmpty());
        module.Stop();
    }

    // While its consumer is behind, the receive thread sleeps instead of
    // spinning over datagrams it may not read; woken, it hands them on in
    // batches of bounded size.
    void receiveThreadSleepsWhileBacklogIsFull()
    {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        const int buffer = 32 * 1024 * 1024;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        QVERIFY(bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0);
        QVERIFY(getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0);

        constexpr int kDatagrams = 200; // 12 MB: several batches' worth
        auto backlog = std::make_shared<std::atomic<size_t>>(UdpReceiveThread::kMaxBacklogBytes + 1);
        std::mutex mutex;
        std::vector<size_t> batchBytes;
        int received = 0;
        {
            UdpReceiveThread thread({fd}, backlog, [&](DatagramBatch&& batch, size_t) {
                size_t bytes = 0;
                for (const ReceivedDatagram& d : batch) {
                    bytes += static_cast<size_t>(d.bytes.size());
                }
                std::lock_guard<std::mutex> lock(mutex);
                batchBytes.push_back(bytes);
                received += batch.size();
            });
            QUdpSocket sender;
            for (int i = 0; i < kDatagrams; ++i) {
                QCOMPARE(sender.writeDatagram(QByteArray(60000, 'x'), QHostAddress::LocalHost,
                                              ntohs(local.sin_port)),
                         qint64(60000));
            }
            const size_t waits = thread.Waits();
            Idle(300);
            QVERIFY2(thread.Waits() - waits < 10, "the receive thread spins");
            QCOMPARE(received, 0);

            backlog->store(0);
            thread.BacklogDrained();
            const auto count = [&] {
                std::lock_guard<std::mutex> lock(mutex);
                return received;
            };
            QTRY_COMPARE_WITH_TIMEOUT(count(), kDatagrams, 10000);
        }
        close(fd);
        QVERIFY(batchBytes.size() > 2);
        for (const size_t bytes : batchBytes) {
            QVERIFY(bytes <= UdpReceiveThread::kMaxBatchBytes + 65536);
        }
    }
};

QTEST_GUILESS_MAIN(TransportLanTest)
#include "TransportLanTest.moc"
