// The search window against simulated devices in the virtual LAN: what a
// user sees after pressing Search.
#include "ClientMainForm.h"
#include "SimDevice.h"
#include "MessageBoxWatcher.h"
#include "ModalCloser.h"
#include "RowMenu.h"
#include "SearchWindowFixture.h"
#include "SettingsDialog.h"
#include "UdpModule.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QItemSelectionModel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <map>
#include <memory>

namespace {

constexpr int kSearchEndTimeoutMs = 10000;

// This test's simulated devices have MAC addresses that begin 02:D3, so that
// other simulators sharing the LAN do not disturb what it checks: the rows it
// counts are its own, and the status text must match the whole table.
const QString kOwnMacPrefix = QStringLiteral("02-D3-");

QString Mac(int n)
{
    return QStringLiteral("02:D3:00:00:%1:%2")
        .arg(n / 256, 2, 16, QLatin1Char('0'))
        .arg(n % 256, 2, 16, QLatin1Char('0'));
}

// The simulator's arguments for a device with MAC number `n` that answers a
// search only after `delayMs`.
QStringList DelayedReplies(int n, int delayMs)
{
    return {QStringLiteral("--mac"), Mac(n), QStringLiteral("--discovery-delay-ms"),
            QString::number(delayMs)};
}

// The nine cell texts of a row.
QStringList Row(const QTableWidget* table, int row)
{
    QStringList cells;
    for (int column = 0; column < table->columnCount(); ++column) {
        const QTableWidgetItem* item = table->item(row, column);
        cells << (item != nullptr ? item->text() : QStringLiteral("<none>"));
    }
    return cells;
}

// The virtual LAN with its devices dev1..devN moved to another subnet while
// it exists, and put back as the test fixture made it afterwards.
class ForeignDeviceSubnet final {
public:
    explicit ForeignDeviceSubnet(const QString& subnet)
    {
        ok_ = Up({QStringLiteral("--device-subnet"), subnet});
    }
    ~ForeignDeviceSubnet() { Up({}); }
    ForeignDeviceSubnet(const ForeignDeviceSubnet&) = delete;
    ForeignDeviceSubnet& operator=(const ForeignDeviceSubnet&) = delete;
    bool Ok() const { return ok_; }

private:
    static bool Up(const QStringList& extra)
    {
        QProcess lan;
        lan.setProcessChannelMode(QProcess::ForwardedChannels);
        lan.start(qEnvironmentVariable("QEL_SOURCE_DIR") + QStringLiteral("/scripts/virtual-lan"),
                  QStringList{QStringLiteral("up"), qEnvironmentVariable("QEL_LAN_DEVICES"),
                              QStringLiteral("--second"), qEnvironmentVariable("QEL_LAN_SECOND_DEVICES")} +
                      extra);
        return lan.waitForFinished(60000) && lan.exitStatus() == QProcess::NormalExit && lan.exitCode() == 0;
    }
    bool ok_ = false;
};

} // namespace

class SearchLanTest : public SearchWindowFixture {
    Q_OBJECT
private:
    // The rows of this test's devices, in table order.
    QList<QStringList> OwnRows() const
    {
        QList<QStringList> rows;
        for (int row = 0; row < table_->rowCount(); ++row) {
            const QStringList cells = Row(table_, row);
            if (cells.at(3).startsWith(kOwnMacPrefix)) {
                rows << cells;
            }
        }
        return rows;
    }

    QString CountText() const { return QStringLiteral("%1 device(s) found").arg(table_->rowCount()); }

    // Presses Search and waits until the search has ended.
    void SearchToEnd()
    {
        search_->click();
        QVERIFY(!search_->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(search_->isEnabled(), kSearchEndTimeoutMs);
    }

private slots:
    void initTestCase()
    {
        if (!SimDevice::Available()) {
            QSKIP("needs the virtual LAN (run through ctest)");
        }
    }

    void init() { OpenWindow(); }
    void cleanup() { CloseWindow(); }

    // Three devices in three namespaces, each column as the device reports
    // it; a second search starts from an empty table and finds them again.
    void searchListsEveryDeviceWithAllColumns()
    {
        const QString name = QStringLiteral("Камера №1 südtor");
        SimDevice dev1(QStringLiteral("dev1"),
                       {QStringLiteral("--name"), name, QStringLiteral("--mac"),
                        QStringLiteral("02:d3:45:4c:00:a1"), QStringLiteral("--serial"),
                        QStringLiteral("SN-A1"), QStringLiteral("--gateway"), QStringLiteral("10.77.0.254")},
                       QStringLiteral("udp"));
        SimDevice dev2(QStringLiteral("dev2"),
                       {QStringLiteral("--addressing"), QStringLiteral("dhcp"), QStringLiteral("--mac"),
                        QStringLiteral("02:D3:45:4C:00:B2"), QStringLiteral("--product"),
                        QStringLiteral("VCA-200"), QStringLiteral("--firmware"), QStringLiteral("3.0.0")},
                       QStringLiteral("udp"));
        // Replies padded to 2000 bytes: only the first 131 count.
        SimDevice dev3(QStringLiteral("dev3"),
                       {QStringLiteral("--mac"), QStringLiteral("02:D3:45:4C:00:C3"), QStringLiteral("--ip"),
                        QStringLiteral("192.168.7.9"), QStringLiteral("--mask"),
                        QStringLiteral("255.255.0.0"), QStringLiteral("--discovery-reply-size"),
                        QStringLiteral("2000")},
                       QStringLiteral("udp"));
        QVERIFY(dev1.IsReady() && dev2.IsReady() && dev3.IsReady());

        QCOMPARE(status_->currentMessage(), QString());
        search_->click();
        QCOMPARE(status_->currentMessage(), QStringLiteral("Searching devices in network..."));
        QVERIFY(stop_->isEnabled());
        QVERIFY(!settings_->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(search_->isEnabled(), kSearchEndTimeoutMs);
        QCOMPARE(OwnRows().size(), 3);
        QCOMPARE(status_->currentMessage(),
                 CountText() + QStringLiteral("; 1 are outside this workstation's networks"));
        QVERIFY(!stop_->isEnabled());

        std::map<QString, QStringList> byMac;
        for (const QStringList& row : OwnRows()) {
            byMac[row.at(3)] = row;
        }
        QCOMPARE(byMac[QStringLiteral("02-D3-45-4C-00-A1")],
                 QStringList({QStringLiteral("QEL VCA-100"), name, QStringLiteral("10.77.0.11"),
                              QStringLiteral("02-D3-45-4C-00-A1"), QStringLiteral("255.255.255.0"),
                              QStringLiteral("10.77.0.254"), QStringLiteral("static"),
                              QStringLiteral("2.4.1-sim"), QStringLiteral("SN-A1")}));
        QCOMPARE(byMac[QStringLiteral("02-D3-45-4C-00-B2")],
                 QStringList({QStringLiteral("VCA-200"), QStringLiteral("QEL Sim"),
                              QStringLiteral("10.77.0.12"), QStringLiteral("02-D3-45-4C-00-B2"),
                              QStringLiteral("255.255.255.0"), QStringLiteral("10.77.0.1"),
                              QStringLiteral("DHCP"), QStringLiteral("3.0.0"), QStringLiteral("QS000001")}));
        QCOMPARE(byMac[QStringLiteral("02-D3-45-4C-00-C3")].mid(2, 4),
                 QStringList({QStringLiteral("192.168.7.9"), QStringLiteral("02-D3-45-4C-00-C3"),
                              QStringLiteral("255.255.0.0"), QStringLiteral("192.168.0.1")}));

        table_->selectRow(1);
        QVERIFY(settings_->isEnabled());
        search_->click();
        QCOMPARE(table_->rowCount(), 0);
        QVERIFY(!settings_->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(search_->isEnabled(), kSearchEndTimeoutMs);
        QCOMPARE(OwnRows().size(), 3);
    }

    // One process answering for three devices, each reply twice: six rows,
    // duplicates kept, in the order the replies were sent.
    void rowsKeepArrivalOrderAndDuplicates()
    {
        SimDevice sim(QStringLiteral("dev1"),
                      {QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--mac"), Mac(0x101),
                       QStringLiteral("--discovery-duplicate")},
                      QStringLiteral("udp"));
        QVERIFY(sim.IsReady());
        SearchToEnd();
        const QList<QStringList> rows = OwnRows();
        QCOMPARE(rows.size(), 6);
        const QStringList names = {QStringLiteral("QEL Sim"),   QStringLiteral("QEL Sim"),
                                   QStringLiteral("QEL Sim 2"), QStringLiteral("QEL Sim 2"),
                                   QStringLiteral("QEL Sim 3"), QStringLiteral("QEL Sim 3")};
        for (int row = 0; row < 6; ++row) {
            QCOMPARE(rows.at(row).at(1), names.at(row));
        }
        QCOMPARE(rows.at(0), rows.at(1));
        QCOMPARE(status_->currentMessage(), CountText());
    }

    // F5 searches as the button does; the devices selected before a search
    // are selected again as they answer it, whatever their rows' order.
    void f5SearchesAndKeepsTheSelection()
    {
        SimDevice first(QStringLiteral("dev1"), {QStringLiteral("--mac"), Mac(0x401)}, QStringLiteral("udp"));
        SimDevice second(QStringLiteral("dev2"), DelayedReplies(0x402, 300), QStringLiteral("udp"));
        QVERIFY(first.IsReady() && second.IsReady());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        const QString kept = QStringLiteral("02-D3-00-00-04-02");
        const auto selectedMacs = [this] {
            QStringList macs;
            for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
                macs << table_->item(index.row(), 3)->text();
            }
            return macs;
        };

        QTest::keyClick(window_, Qt::Key_F5);
        QVERIFY(!search_->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(search_->isEnabled(), kSearchEndTimeoutMs);
        QCOMPARE(OwnRows().size(), 2);
        for (int row = 0; row < table_->rowCount(); ++row) {
            if (Row(table_, row).at(3) == kept) {
                table_->selectRow(row);
            }
        }
        QCOMPARE(selectedMacs(), QStringList{kept});

        QTest::keyClick(window_, Qt::Key_F5);
        QCOMPARE(table_->rowCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(search_->isEnabled(), kSearchEndTimeoutMs);
        QCOMPARE(OwnRows().size(), 2);
        QCOMPARE(selectedMacs(), QStringList{kept});
        QVERIFY(settings_->isEnabled());
    }

    // Malformed replies are dropped; the good one is listed.
    void malformedRepliesNeverReachTheTable()
    {
        SimDevice sim(QStringLiteral("dev2"),
                      {QStringLiteral("--mac"), Mac(0x201), QStringLiteral("--malformed"),
                       QStringLiteral("discover-short"), QStringLiteral("--malformed"),
                       QStringLiteral("discover-no-nul"), QStringLiteral("--malformed"),
                       QStringLiteral("discover-bad-type")},
                      QStringLiteral("udp"));
        QVERIFY(sim.IsReady());
        SearchToEnd();
        QCOMPARE(OwnRows().size(), 1);
        for (int row = 0; row < table_->rowCount(); ++row) {
            QVERIFY(!Row(table_, row).at(1).startsWith(QStringLiteral("XXXX")));
        }
        QCOMPARE(status_->currentMessage(), CountText());
    }

    // A reply after the listening time, or after Stop Search, is not listed.
    void lateRepliesAreIgnored()
    {
        SimDevice late(QStringLiteral("dev1"), DelayedReplies(0x301, 3600), QStringLiteral("udp"));
        SimDevice slow(QStringLiteral("dev2"), DelayedReplies(0x302, 700), QStringLiteral("udp"));
        QVERIFY(late.IsReady() && slow.IsReady());
        search_->click();
        stop_->click();
        QVERIFY(search_->isEnabled());
        QCOMPARE(status_->currentMessage(), CountText());
        // Past both replies to the first request, so that none of them can
        // fall into the next search.
        Idle(3900);
        QCOMPARE(OwnRows().size(), 0);

        SearchToEnd();
        QCOMPARE(OwnRows().size(), 1); // the slow one, within the listening time
        QCOMPARE(OwnRows().front().at(3), QStringLiteral("02-D3-00-00-03-02"));
        Idle(1500); // past the late one
        QCOMPARE(OwnRows().size(), 1);
        QCOMPARE(status_->currentMessage(), CountText());
    }

    // Double-click on a row during a search stops the search, shows the
    // count so far and opens that row's settings; a reply that was still
    // on its way is not added afterwards.
    void doubleClickDuringSearchOpensSettings()
    {
        SimDevice quick(QStringLiteral("dev1"),
                        {QStringLiteral("--mac"), Mac(0x401), QStringLiteral("--count"), QStringLiteral("2")},
                        QStringLiteral("udp"));
        SimDevice slow(QStringLiteral("dev2"), DelayedReplies(0x411, 1500), QStringLiteral("udp"));
        QVERIFY(quick.IsReady() && slow.IsReady());
        search_->click();
        QTRY_COMPARE(OwnRows().size(), 2);
        QVERIFY(!search_->isEnabled());

        QStringList messages;
        connect(status_, &QStatusBar::messageChanged, [&messages](const QString& text) { messages << text; });
        bool stopEnabledWhileOpen = true;
        QTimer::singleShot(100, [&] { stopEnabledWhileOpen = stop_->isEnabled(); });
        ModalCloser closer(300);
        const QRect cell = table_->visualRect(table_->model()->index(0, 1));
        // A real double-click: press and release, then the double-click event.
        QTest::mouseClick(table_->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(table_->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QVERIFY2(closer.ClosedAny(), qPrintable(messages.join(QStringLiteral(" | "))));
        QVERIFY(!messages.isEmpty());
        QCOMPARE(messages.front(), CountText());
        QVERIFY(!stopEnabledWhileOpen);
        QVERIFY(search_->isEnabled());
        const int rows = table_->rowCount();
        Idle(1800);
        QCOMPARE(table_->rowCount(), rows);
        QCOMPARE(OwnRows().size(), 2);
    }

    // Another program holds port 49077 exclusively: the window says so
    // instead of claiming that no device answered.
    void busyPortIsShownInsteadOfACount()
    {
        auto blocker = std::make_unique<QUdpSocket>();
        QVERIFY(blocker->bind(QHostAddress::Any, UdpModuleWithTimer::kListenPort,
                              QAbstractSocket::DontShareAddress));
        SearchToEnd();
        QVERIFY2(status_->currentMessage().startsWith(QStringLiteral("Cannot listen on UDP port 49077: ")),
                 qPrintable(status_->currentMessage()));
        QVERIFY(status_->currentMessage().size() >
                QStringLiteral("Cannot listen on UDP port 49077: ").size());
        blocker.reset();
        SimDevice sim(QStringLiteral("dev1"), {QStringLiteral("--mac"), Mac(0x501)}, QStringLiteral("udp"));
        QVERIFY(sim.IsReady());
        SearchToEnd();
        QCOMPARE(OwnRows().size(), 1);
        QCOMPARE(status_->currentMessage(), CountText());
    }

    // A second copy of the tool searches at the same time. Of the programs
    // sharing the reply port, only the one bound last hears replies sent to
    // this workstation's address: the window therefore sends nothing while
    // another program listens there and says why, and the copy that asked
    // hears its device, once.
    void secondCopyIsToldThePortIsInUse()
    {
        SimDevice sim(QStringLiteral("dev1"), {QStringLiteral("--mac"), Mac(0x601)}, QStringLiteral("udp"));
        QVERIFY(sim.IsReady());
        UdpModuleWithTimer other(nullptr);
        QSignalSpy replies(&other, SIGNAL(DatagramReceived(QByteArray)));
        QSignalSpy stopped(&other, SIGNAL(Stopped()));
        other.Start();
        QVERIFY(other.ListenError().isEmpty());
        other.SendBroadcast(QByteArray("discover"));
        SearchToEnd();
        QCOMPARE(status_->currentMessage(),
                 QStringLiteral("Cannot listen on UDP port 49077: another program is using it, perhaps a "
                                "second copy of this tool"));
        QVERIFY(OwnRows().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, kSearchEndTimeoutMs);
        int own = 0;
        for (const QList<QVariant>& reply : replies) {
            own += reply.at(0).toByteArray().mid(68, 6) == QByteArray::fromHex("02D300000601") ? 1 : 0;
        }
        QCOMPARE(own, 1);
    }

    // Five devices fresh from the factory at one address, and one more that
    // keeps its own, all in a subnet the workstation is not in; their
    // replies still arrive. One device of the workstation's second network
    // is fine. The status, every problem row and the export name both
    // problems, by the networks of the interface each reply came in on.
    void sharedAndForeignAddressesAreNamed()
    {
        if (qEnvironmentVariableIsEmpty("QEL_LAN_DEVICES")) {
            QSKIP("needs the fixture's layout of the virtual LAN");
        }
        ForeignDeviceSubnet foreign(QStringLiteral("10.88.0"));
        QVERIFY(foreign.Ok());
        SimDevice group(QStringLiteral("dev1"),
                        {QStringLiteral("--count"), QStringLiteral("5"), QStringLiteral("--same-ip"),
                         QStringLiteral("--mac"), Mac(0x701)},
                        QStringLiteral("udp"));
        SimDevice lone(QStringLiteral("dev2"), {QStringLiteral("--mac"), Mac(0x711)}, QStringLiteral("udp"));
        SimDevice home(QStringLiteral("s2dev1"), {QStringLiteral("--mac"), Mac(0x721)},
                       QStringLiteral("udp"));
        QVERIFY(group.IsReady() && lone.IsReady() && home.IsReady());

        SearchToEnd();
        QCOMPARE(OwnRows().size(), 7);
        QCOMPARE(status_->currentMessage(),
                 QStringLiteral("7 device(s) found; 5 share an IP address with another device; 6 are outside "
                                "this workstation's networks"));
        const QString shared = QStringLiteral("Shares 192.168.1.100 with 4 other devices; Not in this "
                                              "workstation's networks (10.77.0.0/24)");
        std::map<QString, QString> problemOf; // by MAC
        for (int row = 0; row < table_->rowCount(); ++row) {
            const QString mac = table_->item(row, 3)->text();
            const QString tip = ToolTipShows(table_->item(row, 1)->toolTip());
            const QString name = table_->item(row, 1)->text();
            problemOf[mac] = tip == name ? QString() : tip.mid(name.size() + 1);
            QCOMPARE(table_->item(row, 0)->icon().isNull(), problemOf[mac].isEmpty());
        }
        for (int n = 0; n < 5; ++n) {
            QCOMPARE(problemOf[QStringLiteral("02-D3-00-00-07-%1").arg(n + 1, 2, 10, QLatin1Char('0'))],
                     shared);
        }
        QCOMPARE(problemOf[QStringLiteral("02-D3-00-00-07-11")],
                 QStringLiteral("Not in this workstation's networks (10.77.0.0/24)"));
        QCOMPARE(problemOf[QStringLiteral("02-D3-00-00-07-21")], QString());

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("devices.csv"));
        QString error;
        QVERIFY2(window_->ExportTable(path, error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll().mid(3)).split(QStringLiteral("\r\n"));
        QVERIFY(lines.front().endsWith(QStringLiteral(",Serial number,Problems")));
        int sharedLines = 0;
        for (const QString& line : lines) {
            sharedLines +=
                line.contains(QStringLiteral("192.168.1.100,")) && line.endsWith(QLatin1Char(',') + shared)
                    ? 1
                    : 0;
        }
        QCOMPARE(sharedLines, 5);
        QVERIFY(
            lines.filter(QStringLiteral("02-D3-00-00-07-21")).front().endsWith(QStringLiteral("QS000001,")));
    }

    // Two devices at one address; Settings from the row menu gives the
    // second its own, and both rows lose their mark at once. A device
    // listed twice is no other device at its own address.
    void settingsFromTheRowMenuEndsAConflict()
    {
        SimDevice pair(QStringLiteral("dev1"),
                       {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--same-ip"),
                        QStringLiteral("10.77.0.11"), QStringLiteral("--http-bind"),
                        QStringLiteral("10.77.0.11"), QStringLiteral("--mac"), Mac(0x801)},
                       QStringLiteral("udp,http"));
        SimDevice twice(QStringLiteral("dev2"),
                        {QStringLiteral("--mac"), Mac(0x811), QStringLiteral("--discovery-duplicate")},
                        QStringLiteral("udp,http"));
        QVERIFY(pair.IsReady() && twice.IsReady());
        SearchToEnd();
        QCOMPARE(OwnRows().size(), 4);
        int second = -1;
        int heardTwice = -1;
        for (int row = 0; row < table_->rowCount(); ++row) {
            const QString mac = table_->item(row, 3)->text();
            QCOMPARE(table_->item(row, 0)->icon().isNull(), mac == QStringLiteral("02-D3-00-00-08-11"));
            second = mac == QStringLiteral("02-D3-00-00-08-02") ? row : second;
            heardTwice = mac == QStringLiteral("02-D3-00-00-08-11") ? row : heardTwice;
        }
        QVERIFY(second >= 0 && heardTwice >= 0);

        // Runs `drive` on the settings dialog the row menu opens.
        QTimer poll;
        poll.setInterval(50);
        std::function<void(SettingsDialog*)> drive;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
            if (dialog != nullptr) {
                poll.stop();
                drive(dialog);
            }
        });

        QStringList othersOfTwice;
        drive = [&](SettingsDialog* dialog) {
            for (const uint32_t ip : dialog->ListedAddresses()) {
                othersOfTwice << QString::fromStdString(IpTypeToString(ip));
            }
            dialog->reject();
        };
        poll.start();
        ChooseFromRowMenu(table_, heardTwice, "actionRowSettings");
        QCOMPARE(othersOfTwice, QStringList({QStringLiteral("10.77.0.11"), QStringLiteral("10.77.0.11")}));

        bool applied = false;
        drive = [&](SettingsDialog* dialog) {
            QCOMPARE(QString::fromStdString(dialog->GetParams().deviceName), QStringLiteral("QEL Sim 2"));
            Child<QLineEdit>(dialog, "lineEditIpAddress")->setText(QStringLiteral("10.77.0.150"));
            Child<QLineEdit>(dialog, "lineEditCurPassword")->setText(QStringLiteral("admin"));
            auto* apply = Child<QPushButton>(dialog, "pushButtonApply1");
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kSearchEndTimeoutMs);
            applied = QString::fromStdString(IpTypeToString(dialog->GetParams().ip)) ==
                      QStringLiteral("10.77.0.150");
            dialog->reject();
        };
        poll.start();
        MessageBoxWatcher boxes;
        ChooseFromRowMenu(table_, second, "actionRowSettings");
        QVERIFY2(applied, qPrintable(boxes.Texts().join(QStringLiteral(" | "))));
        QCOMPARE(OwnRows().size(), 4);
        for (int row = 0; row < table_->rowCount(); ++row) {
            QVERIFY(table_->item(row, 0)->icon().isNull());
            QCOMPARE(ToolTipShows(table_->item(row, 2)->toolTip()), table_->item(row, 2)->text());
        }
    }
};

QTEST_MAIN(SearchLanTest)
#include "SearchLanTest.moc"
