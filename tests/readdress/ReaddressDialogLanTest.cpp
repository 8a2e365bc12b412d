// Readdress from the search window in the virtual LAN: without a selection
// the rows with an address problem, the dialog's defaults, Apply with a
// password asked again, the rows and marks afterwards; then a selected row.
// Devices of two interfaces planned each in its own network; one password
// for the devices that refuse; the plan worked out off the GUI thread.
#include "ClientMainForm.h"
#include "ReaddressDialog.h"
#include "SimDevice.h"
#include "TestHelpers.h"
#include "UdpModule.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <memory>

namespace {

constexpr int kSearchEndTimeoutMs = 10000;
constexpr int kBatchTimeoutMs = 30000;
constexpr int kIpColumn = 2;
constexpr int kMacColumn = 3;
constexpr int kMaskColumn = 4;
// Of the dialog's plan.
constexpr int kPlanInterfaceColumn = 3;
constexpr int kPlanNewColumn = 4;
constexpr int kPlanStatusColumn = 5;
const QString kChecking = QStringLiteral("Checking which addresses are free\u2026");

// Runs `drive` on the readdress dialog once it is open, and closes the
// dialog afterwards even when a check in `drive` failed.
void WhenDialogOpens(const std::function<void(ReaddressDialog*)>& drive)
{
    QTimer::singleShot(0, [drive] {
        auto* dialog = qobject_cast<ReaddressDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            QFAIL("the readdress dialog did not open");
        }
        drive(dialog);
        if (dialog->isVisible()) {
            dialog->done(QDialog::Rejected);
        }
    });
}

QStringList Column(const QTableWidget* table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row) {
        texts << table->item(row, column)->text();
    }
    return texts;
}

QStringList Times(int count, const QString& text)
{
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        texts << text;
    }
    return texts;
}

// Answers every refused-password question with `answer`, the box for the
// other devices as it is, and keeps the questions' texts.
class PasswordAnswerer {
public:
    explicit PasswordAnswerer(const QString& answer)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
            QWidget* ask = QApplication::activeModalWidget();
            if (ask == nullptr || ask->objectName() != QStringLiteral("readdressPasswordDialog")) {
                return;
            }
            auto* label = Child<QLabel>(ask, "labelRefusedPassword");
            asked << label->text();
            allPlainText = allPlainText && label->textFormat() == Qt::PlainText;
            auto* field = Child<QLineEdit>(ask, "lineEditRefusedPassword");
            allHidden = allHidden && field->echoMode() == QLineEdit::Password;
            field->setText(answer);
            ask->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        timer_.start(20);
    }

    QStringList asked;
    bool allPlainText = true;
    bool allHidden = true;

private:
    QTimer timer_;
};

// The rows whose MAC begins with `prefix`: MAC -> the cells of `column`.
QMap<QString, QString> ByMac(const QTableWidget* table, int macColumn, int column,
                             const QString& prefix = QStringLiteral("02-F4"))
{
    QMap<QString, QString> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString mac = table->item(row, macColumn)->text();
        if (mac.startsWith(prefix)) {
            rows.insert(mac, table->item(row, column)->text());
        }
    }
    return rows;
}

// Searches from the window and waits for the search's end.
void Search(QWidget* window)
{
    auto* search = Child<QPushButton>(window, "pushButtonSearch");
    search->click();
    QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), kSearchEndTimeoutMs);
}

// Waits for the dialog's plan, then clicks Apply with `password`.
void Apply(ReaddressDialog* dialog, const QString& password)
{
    auto* apply = Child<QPushButton>(dialog, "pushButtonApply");
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kBatchTimeoutMs);
    Child<QLineEdit>(dialog, "lineEditPassword")->setText(password);
    apply->click();
}

QStringList Args(std::initializer_list<const char*> words)
{
    QStringList args;
    for (const char* word : words) {
        args << QString::fromLatin1(word);
    }
    return args;
}

} // namespace

class ReaddressDialogLanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!SimDevice::Available()) {
            QSKIP("needs the virtual LAN (run through ctest)");
        }
    }

    // Five devices fresh from the factory at one address outside the
    // workstation's network, one of them with its own password: without a
    // selection Readdress… offers them, the defaults give them free
    // addresses of the workstation's network, and the marks go.
    void readdressTheProblemRowsWithTheDefaults()
    {
        SimDevice group(
            QStringLiteral("dev1"),
            {QStringLiteral("--count"), QStringLiteral("5"), QStringLiteral("--same-ip"),
             QStringLiteral("192.168.1.100"), QStringLiteral("--mac"), QStringLiteral("02:E8:00:00:01:01"),
             QStringLiteral("--name"), QStringLiteral("Tor <b>Süd</b>"), QStringLiteral("--password"),
             QStringLiteral("pw-all"), QStringLiteral("--password-of"), QStringLiteral("3=pw-own")},
            QStringLiteral("udp"));
        // At the address of its namespace and listed twice (it answers
        // twice): sharing with no one, no problem, never offered.
        SimDevice fine(QStringLiteral("dev2"),
                       {QStringLiteral("--mac"), QStringLiteral("02:E8:00:00:03:01"),
                        QStringLiteral("--discovery-duplicate")},
                       QStringLiteral("udp"));
        QVERIFY(group.IsReady() && fine.IsReady());

        ClientMainForm window;
        window.show();
        auto* table = Child<QTableWidget>(&window, "tableWidgetDevices");
        auto* readdress = Child<QPushButton>(&window, "pushButtonReaddress");
        auto* status = Child<QStatusBar>(&window, "statusbar");
        Search(&window);
        QCOMPARE(table->rowCount(), 7);
        QCOMPARE(status->currentMessage(),
                 QStringLiteral("7 device(s) found; 5 share an IP address with another device; 5 are outside "
                                "this workstation's networks"));
        table->horizontalHeader()->setSortIndicator(kMacColumn, Qt::AscendingOrder);
        QStringList groupMacs;
        QStringList names;
        for (int n = 1; n <= 5; ++n) {
            groupMacs << QStringLiteral("02-E8-00-00-01-0%1").arg(n);
            names << (n == 1 ? QStringLiteral("Tor <b>Süd</b>") : QStringLiteral("Tor <b>Süd</b> %1").arg(n));
        }
        const QString fineMac = QStringLiteral("02-E8-00-00-03-01");
        const QStringList listedMacs = groupMacs + QStringList{fineMac, fineMac};
        QCOMPARE(Column(table, kMacColumn), listedMacs);
        QCOMPARE(Column(table, 1).mid(0, 5), names);

        PasswordAnswerer answerer(QStringLiteral("pw-own"));

        const QStringList newAddresses = {QStringLiteral("10.77.0.2"), QStringLiteral("10.77.0.3"),
                                          QStringLiteral("10.77.0.4"), QStringLiteral("10.77.0.5"),
                                          QStringLiteral("10.77.0.6")};
        WhenDialogOpens([&](ReaddressDialog* dialog) {
            auto* plan = Child<QTableWidget>(dialog, "tableWidgetPlan");
            auto* password = Child<QLineEdit>(dialog, "lineEditPassword");
            QCOMPARE(Child<QGroupBox>(dialog, "groupInterface_eth0")->title(),
                     QStringLiteral("eth0 (10.77.0.0/24)"));
            QTRY_COMPARE_WITH_TIMEOUT(Column(plan, kPlanNewColumn), newAddresses, kBatchTimeoutMs);
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditFirstAddress")->text(), QStringLiteral("10.77.0.2"));
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditMask")->text(), QStringLiteral("255.255.255.0"));
            // The devices' gateway 192.168.1.1 and DNS 0.0.0.0 are not in the new network.
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditGateway")->text(), QString());
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditDns")->text(), QString());
            QCOMPARE(password->echoMode(), QLineEdit::Password);
            QCOMPARE(Column(plan, 0), names);
            QCOMPARE(Column(plan, 1), groupMacs);
            QCOMPARE(Column(plan, 2), Times(5, QStringLiteral("192.168.1.100")));
            QCOMPARE(Column(plan, kPlanInterfaceColumn), Times(5, QStringLiteral("eth0")));
            QCOMPARE(Child<QLabel>(dialog, "labelDnsPlan")->text(),
                     QStringLiteral(
                         "DNS: none \u2014 the devices' current DNS cannot be read, and will be cleared"));

            password->setText(QStringLiteral("pw-all"));
            Child<QPushButton>(dialog, "pushButtonApply")->click();
            QCOMPARE(password->text(), QString());
            QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(dialog, "pushButtonClose")->isEnabled(),
                                     kBatchTimeoutMs);
            QCOMPARE(Column(plan, kPlanStatusColumn), Times(5, QStringLiteral("confirmed")));
            QCOMPARE(Child<QLabel>(dialog, "labelSummary")->text(),
                     QStringLiteral("5 of 5 devices readdressed and confirmed"));
            Child<QPushButton>(dialog, "pushButtonClose")->click();
        });
        readdress->click();
        QCOMPARE(answerer.asked,
                 QStringList({QStringLiteral("Tor <b>Süd</b> 3 (02-E8-00-00-01-03) refused the "
                                             "administrator password. Its own password:")}));
        QVERIFY(answerer.allPlainText && answerer.allHidden);

        // The confirming search did not empty the table; the five rows took
        // their new records, names kept, static addressing, marks gone.
        QCOMPARE(status->currentMessage(), QStringLiteral("5 of 5 devices readdressed and confirmed"));
        QCOMPARE(Column(table, kMacColumn), listedMacs);
        QCOMPARE(Column(table, kIpColumn).mid(0, 5), newAddresses);
        QCOMPARE(Column(table, 1).mid(0, 5), names);
        QCOMPARE(Column(table, 6).mid(0, 5), Times(5, QStringLiteral("static")));
        for (int row = 0; row < table->rowCount(); ++row) {
            QVERIFY(table->item(row, 0)->icon().isNull());
        }

        // A selected row is offered even without a problem, and the
        // addresses the batch gave are taken now.
        table->selectRow(5);
        WhenDialogOpens([&](ReaddressDialog* dialog) {
            QCOMPARE(Column(Child<QTableWidget>(dialog, "tableWidgetPlan"), 1), QStringList{fineMac});
            QTRY_COMPARE_WITH_TIMEOUT(Child<QLineEdit>(dialog, "lineEditFirstAddress")->text(),
                                      QStringLiteral("10.77.0.7"), kBatchTimeoutMs);
            Child<QPushButton>(dialog, "pushButtonClose")->click();
        });
        readdress->click();
        QCOMPARE(status->currentMessage(), QStringLiteral("7 device(s) found"));
        QCOMPARE(answerer.asked.size(), 1);
    }

    // Two devices fresh from the factory heard on eth0 and one on eth1:
    // each group is planned in its own interface's network. Another program
    // holds the reply port at Apply: the summary counts the wait down, and
    // once the port is free the batch goes on. The next search finds every
    // device where the plan put it.
    void readdressDevicesOfTwoInterfaces()
    {
        SimDevice pair(QStringLiteral("dev1"),
                       Args({"--count", "2", "--mac", "02:F4:00:00:01:01", "--same-ip", "192.168.1.100"}),
                       QStringLiteral("udp"));
        SimDevice apart(QStringLiteral("s2dev1"),
                        Args({"--mac", "02:F4:00:00:02:01", "--same-ip", "192.168.1.100"}),
                        QStringLiteral("udp"));
        QVERIFY(pair.IsReady() && apart.IsReady());
        ClientMainForm window;
        window.show();
        auto* table = Child<QTableWidget>(&window, "tableWidgetDevices");
        Search(&window);

        QMap<QString, QString> planned;
        WhenDialogOpens([&](ReaddressDialog* dialog) {
            auto* plan = Child<QTableWidget>(dialog, "tableWidgetPlan");
            auto* summary = Child<QLabel>(dialog, "labelSummary");
            auto holder = std::make_unique<QUdpSocket>();
            QVERIFY(holder->bind(QHostAddress::Any, UdpModuleWithTimer::kListenPort,
                                 QAbstractSocket::DontShareAddress));
            Apply(dialog, QStringLiteral("admin"));
            QCOMPARE(Child<QGroupBox>(dialog, "groupInterface_eth1")->title(),
                     QStringLiteral("eth1 (10.78.0.0/24)"));
            QCOMPARE(Column(plan, kPlanInterfaceColumn), Args({"eth0", "eth0", "eth1"}));
            planned = ByMac(plan, 1, kPlanNewColumn);
            QTRY_VERIFY_WITH_TIMEOUT(
                summary->text().contains(QRegularExpression(QStringLiteral(
                    "^Waiting for UDP port 49077: another program holds it \\(\\d+ s left\\)$"))),
                kBatchTimeoutMs);
            holder.reset();
            QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(dialog, "pushButtonClose")->isEnabled(),
                                     kBatchTimeoutMs);
            QCOMPARE(Column(plan, kPlanStatusColumn), Times(3, QStringLiteral("confirmed")));
            Child<QPushButton>(dialog, "pushButtonClose")->click();
        });
        Child<QPushButton>(&window, "pushButtonReaddress")->click();

        Search(&window);
        QCOMPARE(ByMac(table, kMacColumn, kIpColumn), planned);
        QVERIFY(planned.first().startsWith(QStringLiteral("10.77.0.")));
        QVERIFY(planned.last().startsWith(QStringLiteral("10.78.0.")));
        QCOMPARE(ByMac(table, kMacColumn, kMaskColumn, QStringLiteral("02-F4-00-00-02")).values(),
                 QStringList{QStringLiteral("255.255.255.0")});
    }

    // Four devices still on the factory's password and one on the site's,
    // all at one address. Apply with the field empty starts nothing; with
    // the site's password the four refuse, one question is asked, and its
    // answer, kept for the others, readdresses all four.
    void sitePasswordAskedOnce()
    {
        SimDevice factory(QStringLiteral("dev1"),
                          Args({"--count", "4", "--mac", "02:F4:00:00:03:01", "--same-ip", "192.168.1.100"}),
                          QStringLiteral("udp"));
        SimDevice site(
            QStringLiteral("dev2"),
            Args({"--mac", "02:F4:00:00:04:01", "--same-ip", "192.168.1.100", "--password", "site-pw"}),
            QStringLiteral("udp"));
        QVERIFY(factory.IsReady() && site.IsReady());
        ClientMainForm window;
        window.show();
        Search(&window);

        PasswordAnswerer answerer(QStringLiteral("admin"));
        QMap<QString, QString> planned;
        WhenDialogOpens([&](ReaddressDialog* dialog) {
            auto* plan = Child<QTableWidget>(dialog, "tableWidgetPlan");
            auto* close = Child<QPushButton>(dialog, "pushButtonClose");
            Apply(dialog, QString());
            QCOMPARE(Child<QLabel>(dialog, "labelSummary")->text(),
                     QStringLiteral("Type the devices' administrator password"));
            QVERIFY(close->isEnabled());
            Apply(dialog, QStringLiteral("site-pw"));
            QTRY_VERIFY_WITH_TIMEOUT(close->isEnabled(), kBatchTimeoutMs);
            planned = ByMac(plan, 1, kPlanNewColumn);
            QCOMPARE(Column(plan, kPlanStatusColumn), Times(5, QStringLiteral("confirmed")));
            close->click();
        });
        Child<QPushButton>(&window, "pushButtonReaddress")->click();
        QCOMPARE(answerer.asked.size(), 1);

        Search(&window);
        QCOMPARE(ByMac(Child<QTableWidget>(&window, "tableWidgetDevices"), kMacColumn, kIpColumn), planned);
    }

    // Finding free addresses waits for the ARP table: the dialog works it
    // out while the GUI goes on, serves an edit made meanwhile once the
    // running plan ends, and closes at once while a plan is worked out.
    void planningLeavesTheGuiResponsive()
    {
        SimDevice device(QStringLiteral("dev1"),
                         Args({"--mac", "02:F4:00:00:05:01", "--same-ip", "192.168.1.100"}),
                         QStringLiteral("udp"));
        QVERIFY(device.IsReady());
        ClientMainForm window;
        window.show();
        Search(&window);

        WhenDialogOpens([&](ReaddressDialog* dialog) {
            auto* first = Child<QLineEdit>(dialog, "lineEditFirstAddress");
            auto* summary = Child<QLabel>(dialog, "labelSummary");
            auto* apply = Child<QPushButton>(dialog, "pushButtonApply");
            auto* plan = Child<QTableWidget>(dialog, "tableWidgetPlan");
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kBatchTimeoutMs);

            auto edit = [first](const char* address) {
                first->setText(QString::fromLatin1(address));
                emit first->editingFinished();
            };
            // An event posted right after an edit is served while its plan
            // is worked out: the probe is not made on this thread.
            QString seenMeanwhile;
            bool served = false;
            edit("10.77.0.100");
            QVERIFY(!apply->isEnabled());
            QMetaObject::invokeMethod(
                dialog,
                [&] {
                    seenMeanwhile = summary->text();
                    served = true;
                },
                Qt::QueuedConnection);
            QTRY_VERIFY(served);
            QCOMPARE(seenMeanwhile, kChecking);
            // An edit while a plan runs is planned once that one has ended.
            edit("10.77.0.120");
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kBatchTimeoutMs);
            QCOMPARE(Column(plan, kPlanNewColumn), QStringList{QStringLiteral("10.77.0.120")});

            edit("10.77.0.140");
            QCOMPARE(summary->text(), kChecking);
            Child<QPushButton>(dialog, "pushButtonClose")->click();
            QVERIFY(!dialog->isVisible());
        });
        Child<QPushButton>(&window, "pushButtonReaddress")->click();
        QCOMPARE(window.findChildren<ReaddressDialog*>().size(), 0);
    }
};

QTEST_MAIN(ReaddressDialogLanTest)
#include "ReaddressDialogLanTest.moc"
