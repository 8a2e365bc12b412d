// Readdress from the search window in the virtual LAN: without a selection
// the rows with an address problem, the dialog's defaults, Apply with a
// password asked again, the rows and marks afterwards; then a selected row.
#include "ClientMainForm.h"
#include "ReaddressDialog.h"
#include "SimDevice.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

constexpr int kSearchEndTimeoutMs = 10000;
constexpr int kBatchTimeoutMs = 30000;
constexpr int kIpColumn = 2;
constexpr int kMacColumn = 3;

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

QStringList FiveTimes(const QString& text)
{
    return QStringList{text, text, text, text, text};
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
        auto* search = Child<QPushButton>(&window, "pushButtonSearch");
        auto* readdress = Child<QPushButton>(&window, "pushButtonReaddress");
        auto* status = Child<QStatusBar>(&window, "statusbar");
        search->click();
        QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), kSearchEndTimeoutMs);
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

        QStringList asked;
        bool askedAsPlainText = false;
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            auto* ask = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (ask == nullptr || ask->objectName() != QStringLiteral("readdressPasswordDialog")) {
                return;
            }
            asked << ask->labelText();
            askedAsPlainText = ask->findChild<QLabel*>()->textFormat() == Qt::PlainText;
            QCOMPARE(ask->textEchoMode(), QLineEdit::Password);
            ask->setTextValue(QStringLiteral("pw-own"));
            ask->accept();
        });
        answerer.start(20);

        const QStringList newAddresses = {QStringLiteral("10.77.0.2"), QStringLiteral("10.77.0.3"),
                                          QStringLiteral("10.77.0.4"), QStringLiteral("10.77.0.5"),
                                          QStringLiteral("10.77.0.6")};
        WhenDialogOpens([&](ReaddressDialog* dialog) {
            auto* plan = Child<QTableWidget>(dialog, "tableWidgetPlan");
            auto* password = Child<QLineEdit>(dialog, "lineEditPassword");
            QCOMPARE(Child<QComboBox>(dialog, "comboBoxInterface")->currentText(),
                     QStringLiteral("eth0 (10.77.0.0/24)"));
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditFirstAddress")->text(), QStringLiteral("10.77.0.2"));
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditMask")->text(), QStringLiteral("255.255.255.0"));
            // The devices' gateway 192.168.1.1 and DNS 0.0.0.0 are not in the new network.
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditGateway")->text(), QString());
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditDns")->text(), QString());
            QCOMPARE(password->echoMode(), QLineEdit::Password);
            QCOMPARE(Column(plan, 0), names);
            QCOMPARE(Column(plan, 1), groupMacs);
            QCOMPARE(Column(plan, 2), FiveTimes(QStringLiteral("192.168.1.100")));
            QCOMPARE(Column(plan, 3), newAddresses);

            password->setText(QStringLiteral("pw-all"));
            Child<QPushButton>(dialog, "pushButtonApply")->click();
            QCOMPARE(password->text(), QString());
            QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(dialog, "pushButtonClose")->isEnabled(),
                                     kBatchTimeoutMs);
            QCOMPARE(Column(plan, 4), FiveTimes(QStringLiteral("confirmed")));
            QCOMPARE(Child<QLabel>(dialog, "labelSummary")->text(),
                     QStringLiteral("5 of 5 devices readdressed and confirmed"));
            Child<QPushButton>(dialog, "pushButtonClose")->click();
        });
        readdress->click();
        QCOMPARE(asked, QStringList({QStringLiteral("Tor <b>Süd</b> 3 (02-E8-00-00-01-03) refused the "
                                                    "administrator password. Its own password:")}));
        QVERIFY(askedAsPlainText);

        // The confirming search did not empty the table; the five rows took
        // their new records, names kept, static addressing, marks gone.
        QCOMPARE(status->currentMessage(), QStringLiteral("5 of 5 devices readdressed and confirmed"));
        QCOMPARE(Column(table, kMacColumn), listedMacs);
        QCOMPARE(Column(table, kIpColumn).mid(0, 5), newAddresses);
        QCOMPARE(Column(table, 1).mid(0, 5), names);
        QCOMPARE(Column(table, 6).mid(0, 5), FiveTimes(QStringLiteral("static")));
        for (int row = 0; row < table->rowCount(); ++row) {
            QVERIFY(table->item(row, 0)->icon().isNull());
        }

        // A selected row is offered even without a problem, and the
        // addresses the batch gave are taken now.
        table->selectRow(5);
        WhenDialogOpens([&](ReaddressDialog* dialog) {
            QCOMPARE(Column(Child<QTableWidget>(dialog, "tableWidgetPlan"), 1), QStringList{fineMac});
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditFirstAddress")->text(), QStringLiteral("10.77.0.7"));
            Child<QPushButton>(dialog, "pushButtonClose")->click();
        });
        readdress->click();
        QCOMPARE(status->currentMessage(), QStringLiteral("7 device(s) found"));
        QCOMPARE(asked.size(), 1);
    }
};

QTEST_MAIN(ReaddressDialogLanTest)
#include "ReaddressDialogLanTest.moc"
