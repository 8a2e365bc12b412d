// A workstation without any network: run in a fresh, empty network
// namespace (only a loopback interface, down), where a broadcast has no
// route. The search must say that its request could not be sent rather than
// report that no device answered.
#include "ClientMainForm.h"
#include "UdpModule.h"

#include <QNetworkInterface>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

class NoNetworkTest : public QObject {
    Q_OBJECT
private slots:
    // Refuses to broadcast anywhere but in an empty namespace.
    void initTestCase()
    {
        for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
            if (!(interface.flags() & QNetworkInterface::IsLoopBack)) {
                QFAIL(qPrintable(QStringLiteral("not isolated: interface %1 exists; run through ctest")
                                     .arg(interface.name())));
            }
        }
    }

    void transportReportsTheFailedSend()
    {
        UdpModuleWithTimer module(nullptr);
        QSignalSpy stopped(&module, SIGNAL(Stopped()));
        module.Start();
        QVERIFY(module.ListenError().isEmpty());
        QVERIFY(module.SendError().isEmpty());
        module.SendBroadcast(QByteArray("discover"));
        QVERIFY(!module.SendError().isEmpty());
        module.Stop();
        QCOMPARE(stopped.count(), 1);
        // The next run starts clean.
        module.Start();
        QVERIFY(module.SendError().isEmpty());
        module.Stop();
    }

    void searchWindowShowsTheFailedSend()
    {
        ClientMainForm window;
        window.show();
        auto* search = window.findChild<QPushButton*>(QStringLiteral("pushButtonSearch"));
        QVERIFY(search != nullptr);
        search->click();
        QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), 10000);
        const QString status = window.statusBar()->currentMessage();
        QVERIFY2(status.startsWith(QStringLiteral("Cannot send the search request: ")), qPrintable(status));
        QVERIFY(status.size() > QStringLiteral("Cannot send the search request: ").size());
    }
};

QTEST_MAIN(NoNetworkTest)
#include "NoNetworkTest.moc"
