// Readdress from the search window in the virtual LAN: the selected rows, or
// without a selection the rows with an address problem, the dialog's
// defaults, Apply with a password asked again, and the rows afterwards.
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

    void readdressSelectedRowsThenOfferTheProblemRows()
    {
        SimDevice group(QStringLiteral("dev1"),
                        {QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--mac"),
                         QStringLiteral("02:E8:00:00:01:01"), QStringLiteral("--ip"),
                         QStringLiteral("192.168.1.100"), QStringLiteral("--password"),
                         QStringLiteral("pw-all")},
                        QStringLiteral("udp"));
        SimDevice own(QStringLiteral("dev3"),
                      {QStringLiteral("--mac"), QStringLiteral("02:E8:00:00:02:01"), QStringLiteral("--ip"),
                       QStringLiteral("192.168.1.100"), QStringLiteral("--name"),
                       QStringLiteral("Tor <b>Süd</b>"), QStringLiteral("--password"),
                       QStringLiteral("pw-own")},
                      QStringLiteral("udp"));
        // At the address of its namespace: no problem, never offered.
        SimDevice fine(QStringLiteral("dev2"), {QStringLiteral("--mac"), QStringLiteral("02:E8:00:00:03:01")},
                       QStringLiteral("udp"));
        QVERIFY(group.IsReady() && own.IsReady() && fine.IsReady());

        ClientMainForm window;
        window.show();
        auto* table = Child<QTableWidget>(&window, "tableWidgetDevices");
        auto* search = Child<QPushButton>(&window, "pushButtonSearch");
        auto* readdress = Child<QPushButton>(&window, "pushButtonReaddress");
        auto* status = Child<QStatusBar>(&window, "statusbar");
        search->click();
        QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), kSearchEndTimeoutMs);
        QCOMPARE(table->rowCount(), 5);
        table->horizontalHeader()->setSortIndicator(kMacColumn, Qt::AscendingOrder);
        auto rowOf = [table](const QString& mac) { return Column(table, kMacColumn).indexOf(mac); };
        const QString groupFirst = QStringLiteral("02-E8-00-00-01-01");
        const QString ownMac = QStringLiteral("02-E8-00-00-02-01");
        for (const QString& mac : {groupFirst, ownMac}) {
            table->selectionModel()->select(table->model()->index(rowOf(mac), 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }

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
            QCOMPARE(Column(plan, 0),
                     QStringList({QStringLiteral("QEL Sim"), QStringLiteral("Tor <b>Süd</b>")}));
            QCOMPARE(Column(plan, 1), QStringList({groupFirst, ownMac}));
            QCOMPARE(Column(plan, 2),
                     QStringList({QStringLiteral("192.168.1.100"), QStringLiteral("192.168.1.100")}));
            QCOMPARE(Column(plan, 3),
                     QStringList({QStringLiteral("10.77.0.2"), QStringLiteral("10.77.0.3")}));

            password->setText(QStringLiteral("pw-all"));
            Child<QPushButton>(dialog, "pushButtonApply")->click();
            QCOMPARE(password->text(), QString());
            QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(dialog, "pushButtonClose")->isEnabled(),
                                     kBatchTimeoutMs);
            QCOMPARE(Column(plan, 4),
                     QStringList({QStringLiteral("confirmed"), QStringLiteral("confirmed")}));
            QCOMPARE(Child<QLabel>(dialog, "labelSummary")->text(),
                     QStringLiteral("2 of 2 devices readdressed and confirmed"));
            Child<QPushButton>(dialog, "pushButtonClose")->click();
        });
        readdress->click();
        QCOMPARE(asked, QStringList({QStringLiteral("Tor <b>Süd</b> (02-E8-00-00-02-01) refused the "
                                                    "administrator password. Its own password:")}));
        QVERIFY(askedAsPlainText);

        // The confirming search did not empty the table; the two rows took
        // their new records, names kept, static addressing.
        QCOMPARE(table->rowCount(), 5);
        QCOMPARE(status->currentMessage(), QStringLiteral("2 of 2 devices readdressed and confirmed"));
        QCOMPARE(table->item(rowOf(groupFirst), kIpColumn)->text(), QStringLiteral("10.77.0.2"));
        QCOMPARE(table->item(rowOf(groupFirst), 1)->text(), QStringLiteral("QEL Sim"));
        QCOMPARE(table->item(rowOf(ownMac), kIpColumn)->text(), QStringLiteral("10.77.0.3"));
        QCOMPARE(table->item(rowOf(ownMac), 1)->text(), QStringLiteral("Tor <b>Süd</b>"));
        QCOMPARE(table->item(rowOf(ownMac), 6)->text(), QStringLiteral("static"));
        QCOMPARE(table->item(rowOf(QStringLiteral("02-E8-00-00-01-02")), kIpColumn)->text(),
                 QStringLiteral("192.168.1.101"));

        // Without a selection the two devices still outside are offered;
        // the addresses the first batch gave are taken now.
        table->clearSelection();
        WhenDialogOpens([&](ReaddressDialog* dialog) {
            auto* plan = Child<QTableWidget>(dialog, "tableWidgetPlan");
            QCOMPARE(Column(plan, 1),
                     QStringList({QStringLiteral("02-E8-00-00-01-02"), QStringLiteral("02-E8-00-00-01-03")}));
            QCOMPARE(Child<QLineEdit>(dialog, "lineEditFirstAddress")->text(), QStringLiteral("10.77.0.4"));
            QCOMPARE(Column(plan, 3),
                     QStringList({QStringLiteral("10.77.0.4"), QStringLiteral("10.77.0.5")}));
            Child<QPushButton>(dialog, "pushButtonClose")->click();
        });
        readdress->click();
        QCOMPARE(table->item(rowOf(QStringLiteral("02-E8-00-00-01-02")), kIpColumn)->text(),
                 QStringLiteral("192.168.1.101"));
        QCOMPARE(asked.size(), 1);
    }
};

QTEST_MAIN(ReaddressDialogLanTest)
#include "ReaddressDialogLanTest.moc"
