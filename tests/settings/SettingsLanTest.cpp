// The settings dialog end to end, inside the virtual LAN: the search window
// finds a simulated device, opens its dialog, and the dialog loads its pages
// and changes the device's network settings and password over the real
// protocols. Widgets are reached by their object names.

#include "ui_ClientMainForm.h"

#include "ClientMainForm.h"
#include "DialogLan.h"
#include "SimDevice.h"
#include "LogCapture.h"
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "TestHelpers.h"
#include "ZonesTab.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressDialog>
#include <QSpinBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

// A device namespace of the LAN and a MAC of its own, so that devices other
// tests may run at the same time never answer for this one.
const QString kDeviceNamespace = QStringLiteral("dev3");
const QString kDeviceIp = QStringLiteral("10.77.0.13");
const QString kMac = QStringLiteral("02:51:45:4C:66:01");
const QString kMacText = QStringLiteral("02-51-45-4C-66-01");
const QString kPassword = QStringLiteral("admin");

using dialoglan::kColumnAddressing;
using dialoglan::kColumnDeviceName;
using dialoglan::kColumnGateway;
using dialoglan::kColumnIp;
using dialoglan::kColumnMac;
using dialoglan::kColumnMask;
using dialoglan::kSearchAttempts;
using dialoglan::kSearchTimeoutMs;

constexpr int kReplyTimeoutMs = 6000;
// A settings request without response is followed by a search: two
// listening times.
constexpr int kCheckedReplyTimeoutMs = 10000;

std::unique_ptr<SimDevice> StartDevice(const QStringList& faults = {})
{
    // The video server is not needed here.
    QStringList arguments{QStringLiteral("--only"),       QStringLiteral("udp,http"),
                          QStringLiteral("--name"),       QStringLiteral("Lobby"),
                          QStringLiteral("--mac"),        kMac,
                          QStringLiteral("--password"),   kPassword,
                          QStringLiteral("--addressing"), QStringLiteral("static")};
    return std::make_unique<SimDevice>(kDeviceNamespace, arguments + faults);
}

// Replies the dialog has dispatched, answered or failed.
int CountDispatched(const std::vector<std::string>& messages)
{
    return static_cast<int>(std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
        return (m.rfind("Got HTTP reply ", 0) == 0 && m.find(", waitReplyType: ") != std::string::npos) ||
               m.rfind("HTTP request failed, waitReplyType: ", 0) == 0;
    }));
}

// The device's web interface, asked directly: what it now holds.
QByteArray DeviceGet(const QString& ip, const QString& pathAndQuery)
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(
        QNetworkRequest(QUrl(QStringLiteral("http://%1/qel-cgi/admin/%2").arg(ip, pathAndQuery)))));
    if (!QTest::qWaitFor([&reply] { return reply->isFinished(); }, kReplyTimeoutMs)) {
        return {};
    }
    return reply->readAll();
}
const std::string kDatagramSent = "Attempting to send datagram";

// The source page has its data: the dialog's first load is done.
bool SourceLoaded(SettingsDialog& dialog)
{
    return QTest::qWaitFor([&dialog] { return Child<QLineEdit>(&dialog, "lineEditSourceHost")->isEnabled(); },
                           kReplyTimeoutMs);
}

} // namespace

class SettingsLanTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void OpeningLoadsSourceOnceAndOtherPagesLazily();
    void FailedSourceLoadIsShownOnceAndNeverRetried();
    void LoadsAskedForDuringAReplyReachTheirPages();
    void IncompleteAnswersAreReported();
    void SourceApplyKeepsWhatWasNotTouched();
    void SourcePasswordIsKeptUnlessEmptied();
    void NewAddressIsUsedAfterANetworkChange();
    void FailedLoadIsRetriedAtTheNewAddress();
    void TransportFailuresAreNamed();
    void InvalidInputSendsNothing();
    void TextTheWireWouldCutIsRefused();
    void NetworkChangeReachesDeviceAndRow();
    void DhcpStillSendsAddresses();
    void FailuresAreShownAndLeaveRecord_data();
    void FailuresAreShownAndLeaveRecord();
    void NoResponseIsCheckedBySearch_data();
    void NoResponseIsCheckedBySearch();
    void AddressingThatCutsTheDeviceOffIsCaught();
    void SharedAddressIsNamedAndAskedAbout();
    void SharedMacIsNamedAndRefused();
    void ReplyFromAnotherAddressDoesNotMoveTheDevice();
    void OneOutcomePerRun_data();
    void OneOutcomePerRun();
    void PasswordChangeReplacesOldPassword();
    void EmptyNewPasswordIsAskedAboutFirst();
    void ClosingWhileWaitingSaysNothing();
    void SecondPortIsSearchedAndChangedAlone();
    void ScreenshotOfEveryTab();

private:
    // Searches until the device's row shows, stops the search and selects
    // the row; returns it, or -1.
    int FindDevice();
    // Starts the test's simulated device afresh with `faults` (the one
    // before is stopped first) and finds its row; -1 when it did not come up
    // or no search showed it.
    int StartAndFind(const QStringList& faults = {});
    // Opens the selected row's dialog (double-click or the Settings button),
    // runs `body` inside its modal loop, then closes it.
    void WithDialog(int row, bool doubleClick, const std::function<void(SettingsDialog&)>& body,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Fills the network group, presses its Apply and waits for the outcome.
    // `whileWaiting` runs right after the click, before any reply can be
    // handled.
    void ApplyNetwork(SettingsDialog& dialog, const QString& name, int ipType, const QString& ip,
                      const QString& password, const std::function<void()>& whileWaiting = {});
    void ApplyPassword(SettingsDialog& dialog, const QString& current, const QString& next);
    // The window's status as the dialog said it: the device the window
    // names first ("Lobby (10.77.0.13): ") is left out.
    QString Status() const
    {
        static const QRegularExpression device(QStringLiteral("^(.*? \\()?\\d{1,3}(\\.\\d{1,3}){3}\\)?: "));
        return window_->statusBar()->currentMessage().remove(device);
    }
    QTableWidget* Table() const { return Child<QTableWidget>(window_.get(), "tableWidgetDevices"); }

    std::unique_ptr<ClientMainForm> window_;
    std::unique_ptr<MessageBoxWatcher> boxes_;
    std::unique_ptr<LogCapture> log_;
    std::unique_ptr<SimDevice> device_;
};

void SettingsLanTest::initTestCase()
{
    if (!SimDevice::Available()) {
        QSKIP("needs the virtual LAN and the simulator (run through ctest)");
    }
}

void SettingsLanTest::init()
{
    log_ = std::make_unique<LogCapture>();
    boxes_ = std::make_unique<MessageBoxWatcher>();
    window_ = std::make_unique<ClientMainForm>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void SettingsLanTest::cleanup()
{
    device_.reset();
    window_.reset();
    boxes_.reset();
    log_.reset();
}

int SettingsLanTest::FindDevice()
{
    return dialoglan::FindDeviceRow(window_.get(), kMacText);
}

int SettingsLanTest::StartAndFind(const QStringList& faults)
{
    device_.reset();
    device_ = StartDevice(faults);
    return device_->IsReady() ? FindDevice() : -1;
}

void SettingsLanTest::WithDialog(int row, bool doubleClick, const std::function<void(SettingsDialog&)>& body,
                                 Qt::KeyboardModifiers modifiers)
{
    QVERIFY2(dialoglan::WithDialog(window_.get(), row, doubleClick, body, modifiers),
             "the settings dialog did not open");
}

void SettingsLanTest::ApplyNetwork(SettingsDialog& dialog, const QString& name, int ipType, const QString& ip,
                                   const QString& password, const std::function<void()>& whileWaiting)
{
    Child<QTabWidget>(&dialog, "tabWidget")->setCurrentWidget(Child<QWidget>(&dialog, "tabSettings"));
    Child<QLineEdit>(&dialog, "lineEditDeviceName")->setText(name);
    Child<QComboBox>(&dialog, "comboBoxIpType")->setCurrentIndex(ipType);
    Child<QLineEdit>(&dialog, "lineEditIpAddress")->setText(ip);
    Child<QLineEdit>(&dialog, "lineEditNetMask")->setText(QStringLiteral("255.255.255.0"));
    // The gateway of the address's own network: one outside it is refused.
    Child<QLineEdit>(&dialog, "lineEditGateway")
        ->setText(ip.section(QLatin1Char('.'), 0, 2) + QStringLiteral(".1"));
    Child<QLineEdit>(&dialog, "lineEditDns")->setText(QStringLiteral("10.77.0.2"));
    Child<QLineEdit>(&dialog, "lineEditCurPassword")->setText(password);
    QPushButton* apply = Child<QPushButton>(&dialog, "pushButtonApply1");
    QTest::mouseClick(apply, Qt::LeftButton);
    if (whileWaiting) {
        whileWaiting();
    }
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kCheckedReplyTimeoutMs);
}

void SettingsLanTest::ApplyPassword(SettingsDialog& dialog, const QString& current, const QString& next)
{
    Child<QTabWidget>(&dialog, "tabWidget")->setCurrentWidget(Child<QWidget>(&dialog, "tabSettings"));
    Child<QLineEdit>(&dialog, "lineEditCurPassword2")->setText(current);
    Child<QLineEdit>(&dialog, "lineEditNewPassword")->setText(next);
    Child<QLineEdit>(&dialog, "lineEditNewPassword2")->setText(next);
    QPushButton* apply = Child<QPushButton>(&dialog, "pushButtonApply2");
    QTest::mouseClick(apply, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kCheckedReplyTimeoutMs);
}

void SettingsLanTest::OpeningLoadsSourceOnceAndOtherPagesLazily()
{
    // The web interface answers late, so the source load is still out when
    // the dialog is first looked at.
    const int row = StartAndFind({QStringLiteral("--http-delay-ms"), QStringLiteral("800")});
    QVERIFY(row >= 0);
    log_->Clear();

    WithDialog(row, true, [&](SettingsDialog& dialog) {
        auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
        auto* host = Child<QLineEdit>(&dialog, "lineEditSourceHost");
        QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("tabSource"));
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 1);
        QVERIFY(
            log_->Contains(kHttpSent + "http://" + kDeviceIp.toStdString() + "/qel-cgi/admin/getcam.fcgi"));
        QVERIFY(!host->isEnabled());
        QVERIFY(!Child<QPushButton>(&dialog, "pushButtonApply3")->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(host->isEnabled(), kReplyTimeoutMs);
        QCOMPARE(host->text(), QStringLiteral("192.168.0.90"));
        QCOMPARE(Child<QLineEdit>(&dialog, "lineEditSourceLogin")->text(), QStringLiteral("admin"));
        QVERIFY(Child<QLineEdit>(&dialog, "lineEditSourcePasswprd")->text().isEmpty());
        QVERIFY(Child<QPushButton>(&dialog, "pushButtonApply3")->isEnabled());
        // The page read the encoder's values from the configuration itself.
        QCOMPARE(Child<QLineEdit>(&dialog, "lBitrate")->text(), QStringLiteral("2500000"));
        QCOMPARE(Child<QLineEdit>(&dialog, "lFps")->text(), QStringLiteral("25"));
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 2);

        // The settings page loads nothing.
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSettings"));
        QTest::qWait(300);
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 2);

        // Zones twice: one getconfig.
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSettings"));
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
        QTRY_COMPARE_WITH_TIMEOUT(CountDispatched(log_->Messages()), 3, kReplyTimeoutMs);
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 3);
        QVERIFY(log_->Contains(kHttpSent + "http://" + kDeviceIp.toStdString() +
                               "/qel-cgi/admin/getconfig.fcgi"));

        // Back on Source: nothing is sent and the page stays as it was.
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSource"));
        QTest::qWait(300);
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 3);
        QVERIFY(host->isEnabled());
        QCOMPARE(host->text(), QStringLiteral("192.168.0.90"));
        QVERIFY(boxes_->Texts().isEmpty());
    });
    QCOMPARE(Table()->item(row, kColumnDeviceName)->text(), QStringLiteral("Lobby"));
}

void SettingsLanTest::FailedSourceLoadIsShownOnceAndNeverRetried()
{
    // The device's reason phrase is markup, and long: it is shown as text,
    // cut short.
    const QString reason =
        QStringLiteral("<img src=\"/nonexistent.png\"><b>busy</b>") + QString(400, QLatin1Char('x'));
    const int row = StartAndFind({QStringLiteral("--http-reason"), reason});
    QVERIFY(row >= 0);
    log_->Clear();

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 1, kReplyTimeoutMs);
        const QString error = boxes_->Texts().at(0);
        QVERIFY2(error.startsWith(
                     QStringLiteral("Loading the video source settings failed: HTTP request failed: ")),
                 qPrintable(error));
        QVERIFY(boxes_->AllPlainText());
        QVERIFY2(error.contains(QStringLiteral("<img src=")), qPrintable(error));
        QCOMPARE(error.size(), 301);
        QVERIFY(error.endsWith(QChar(0x2026)));
        QCOMPARE(boxes_->Titles().at(0), QStringLiteral("Error"));
        QCOMPARE(Status(), error);

        auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSettings"));
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSource"));
        QTest::qWait(500);
        QCOMPARE(boxes_->Texts().size(), 1);
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 1);
        QVERIFY(!Child<QLineEdit>(&dialog, "lineEditSourceHost")->isEnabled());
        QVERIFY(!Child<QPushButton>(&dialog, "pushButtonApply3")->isEnabled());

        // The zones' load names what failed to load as well.
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
        QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 2, kReplyTimeoutMs);
        QVERIFY2(boxes_->Texts().at(1).startsWith(
                     QStringLiteral("Loading the analytics configuration failed: HTTP request failed: ")),
                 qPrintable(boxes_->Texts().at(1)));
    });
}

void SettingsLanTest::LoadsAskedForDuringAReplyReachTheirPages()
{
    const int row = StartAndFind({QStringLiteral("--http-delay-ms"), QStringLiteral("800")});
    QVERIFY(row >= 0);
    log_->Clear();

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        // Zones and Grid are shown while the source reply is still out.
        auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabGrid"));
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 1);

        QTRY_COMPARE_WITH_TIMEOUT(CountDispatched(log_->Messages()), 4, 4 * kReplyTimeoutMs);
        QCOMPARE(CountStartingWith(log_->Messages(), kHttpSent), 4);
        // One request at a time: each is sent after the previous reply.
        std::vector<std::string> flow;
        for (const std::string& m : log_->Messages()) {
            if (m.rfind(kHttpSent, 0) == 0) {
                flow.push_back(m.substr(m.rfind('/') + 1));
            } else if (m.rfind("Got HTTP reply ", 0) == 0 &&
                       m.find(", waitReplyType: ") != std::string::npos) {
                flow.push_back(m.substr(m.rfind(' ') + 1));
            }
        }
        const std::vector<std::string> expected = {"getcam.fcgi",    "1", "getconfig.fcgi", "3",
                                                   "getconfig.fcgi", "6", "getconfig.fcgi", "8"};
        QCOMPARE(flow, expected);

        // Each page got its own answer.
        QCOMPARE(Child<QLineEdit>(&dialog, "lineEditSourceHost")->text(), QStringLiteral("192.168.0.90"));
        auto* zones = Child<QTableWidget>(&dialog, "tableWidgetZones");
        QCOMPARE(zones->rowCount(), 1);
        QCOMPARE(zones->item(0, kZoneColumnPoints)->text(),
                 QStringLiteral("6553,6553:58982,6553:58982,58982:6553,58982:"));
        QCOMPARE(Child<QSpinBox>(&dialog, "spinBoxFieldOfView")->value(), 60);
        QCOMPARE(Child<QSpinBox>(&dialog, "spinBoxCameraAngle")->value(), 30);
        QCOMPARE(Child<QDoubleSpinBox>(&dialog, "doubleSpinBoxCameraHeight")->value(), 4.5);
        QVERIFY(boxes_->Texts().isEmpty());
    });
}

void SettingsLanTest::IncompleteAnswersAreReported()
{
    {
        // A source without a host, and a login with base64 padding: both
        // reach the page whole, and an apply writes them back unchanged.
        const auto device = StartDevice();
        QVERIFY(device->IsReady());
        DeviceGet(kDeviceIp, QStringLiteral("setcam.fcgi?model=axis&host=&login=YWRtaW4%3D&password=x"));

        const int row = FindDevice();
        QVERIFY(row >= 0);
        WithDialog(row, false, [&](SettingsDialog& dialog) {
            auto* apply = Child<QPushButton>(&dialog, "pushButtonApply3");
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kReplyTimeoutMs);
            QCOMPARE(Child<QLineEdit>(&dialog, "lineEditSourceLogin")->text(), QStringLiteral("YWRtaW4="));
            QVERIFY(Child<QLineEdit>(&dialog, "lineEditSourceHost")->text().isEmpty());
            Child<QLineEdit>(&dialog, "lineEditSourcePasswprd")->setText(QStringLiteral("y"));
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("Source settings were applied successfully."),
                                      kReplyTimeoutMs);
            QVERIFY(boxes_->Texts().isEmpty());
        });
        QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getcam.fcgi")).contains("\r\nhost=\r\n"));
        QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getcam.fcgi")).contains("login=YWRtaW4=\r\n"));
    }
    boxes_->Clear();
    {
        const int row = StartAndFind({QStringLiteral("--http-config-fault"), QStringLiteral("no-channels")});
        QVERIFY(row >= 0);
        WithDialog(row, false, [&](SettingsDialog& dialog) {
            QVERIFY(SourceLoaded(dialog));
            auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
            tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
            QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 1, kReplyTimeoutMs);
            tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabGrid"));
            QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 2, kReplyTimeoutMs);
            const QString noChannel = QStringLiteral("The device's configuration has no channel 0");
            QCOMPARE(boxes_->Texts(), (QStringList{noChannel, noChannel}));
            QCOMPARE(Status(), noChannel);
            QCOMPARE(Child<QTableWidget>(&dialog, "tableWidgetZones")->rowCount(), 0);
            // Zones that were never read are never removed.
            QVERIFY(!Child<QPushButton>(&dialog, "pushButtonApplyZones")->isEnabled());
        });
    }
}

void SettingsLanTest::SourceApplyKeepsWhatWasNotTouched()
{
    const QString sourcePassword = QStringLiteral("Cam-Stored-Pw1");
    {
        const int row = StartAndFind({QStringLiteral("--source-password"), sourcePassword});
        QVERIFY(row >= 0);
        WithDialog(row, false, [&](SettingsDialog& dialog) {
            auto* apply = Child<QPushButton>(&dialog, "pushButtonApply3");
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kReplyTimeoutMs);
            // The configuration read for the zones shows the encoder's values.
            auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
            tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
            auto* fps = Child<QLineEdit>(&dialog, "lFps");
            QTRY_COMPARE_WITH_TIMEOUT(fps->text(), QStringLiteral("25"), kReplyTimeoutMs);
            QCOMPARE(Child<QLineEdit>(&dialog, "lBitrate")->text(), QStringLiteral("2500000"));
            tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSource"));

            fps->setText(QStringLiteral("12"));
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("Source settings were applied successfully."),
                                      kReplyTimeoutMs);
        });
        const QByteArray config = DeviceGet(kDeviceIp, QStringLiteral("getconfig.fcgi"));
        QVERIFY2(config.contains("fps: 12"), config.constData());
        QVERIFY2(config.contains("password: \"" + sourcePassword.toUtf8() + "\""), config.constData());
        QVERIFY(boxes_->Texts().isEmpty());
    }
    {
        // Both requests fail: one error names both, and the typed password
        // shows nowhere.
        const QString typed = QStringLiteral("Typed-Pw-77 &x");
        const int row = StartAndFind({QStringLiteral("--http-fail"), QStringLiteral("setcam.fcgi"),
                                      QStringLiteral("--http-fail"), QStringLiteral("encoder.fcgi")});
        QVERIFY(row >= 0);
        log_->Clear();
        WithDialog(row, false, [&](SettingsDialog& dialog) {
            auto* apply = Child<QPushButton>(&dialog, "pushButtonApply3");
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kReplyTimeoutMs);
            Child<QLineEdit>(&dialog, "lineEditSourcePasswprd")->setText(typed);
            Child<QLineEdit>(&dialog, "lBitrate")->setText(QStringLiteral("2048"));
            Child<QLineEdit>(&dialog, "lFps")->setText(QStringLiteral("25"));
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 1, kReplyTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kReplyTimeoutMs);
        });
        const QString error = boxes_->Texts().at(0);
        QVERIFY2(error.startsWith(
                     QStringLiteral("The video source request (setcam) failed: HTTP request failed: ")) &&
                     error.contains(QStringLiteral("The encoder request failed: HTTP request failed: ")) &&
                     error.contains(QStringLiteral("password=***")),
                 qPrintable(error));
        QVERIFY(Status() != QStringLiteral("Source settings were applied successfully."));
        for (const QString& shown : {error, Status()}) {
            QVERIFY2(!shown.contains(QStringLiteral("Typed-Pw")), qPrintable(shown));
        }
        for (const std::string& message : log_->Messages()) {
            QVERIFY2(message.find("Typed-Pw") == std::string::npos, message.c_str());
        }
    }
}

// setcam always writes a password and getcam gives none: a password field
// the user left alone stands for the one the device holds. Only one the user
// emptied, or one not known from a configuration read whole, is asked about.
void SettingsLanTest::SourcePasswordIsKeptUnlessEmptied()
{
    const QString sourcePassword = QStringLiteral("Cam-Stored-Pw1");
    const QString question =
        QStringLiteral("The device will store an empty password for its video source. Send it anyway?");
    const QString applied = QStringLiteral("Source settings were applied successfully.");
    const QString notApplied = QStringLiteral("Nothing was applied: the video source password is empty.");
    {
        const int row = StartAndFind({QStringLiteral("--source-password"), sourcePassword});
        QVERIFY(row >= 0);
        log_->Clear();
        WithDialog(row, false, [&](SettingsDialog& dialog) {
            auto* apply = Child<QPushButton>(&dialog, "pushButtonApply3");
            auto* host = Child<QLineEdit>(&dialog, "lineEditSourceHost");
            auto* password = Child<QLineEdit>(&dialog, "lineEditSourcePasswprd");
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kReplyTimeoutMs);
            QVERIFY(password->text().isEmpty());
            QCOMPARE(password->placeholderText(), QStringLiteral("unchanged unless typed"));
            // Nothing reads the admin password: the field takes no input, and
            // a wrong value in it changes nothing.
            auto* admin = Child<QLineEdit>(&dialog, "lineEditCurPassword3");
            QVERIFY(!admin->isEnabled());
            QCOMPARE(admin->toolTip(),
                     QStringLiteral("Not needed: the device's web interface signs in by itself"));
            admin->setText(QStringLiteral("not the admin password"));

            // Only the host changes: the device keeps its source password.
            host->setText(QStringLiteral("192.168.0.91"));
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(Status(), applied, kReplyTimeoutMs);
            QVERIFY(!admin->isEnabled());
            QVERIFY(boxes_->Texts().isEmpty());
            const QByteArray kept = DeviceGet(kDeviceIp, QStringLiteral("getconfig.fcgi"));
            QVERIFY2(kept.contains("password: \"" + sourcePassword.toUtf8() + "\""), kept.constData());
            QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getcam.fcgi")).contains("host=192.168.0.91\r\n"));

            // Emptied by the user: asked first; No sends nothing, Yes empties it.
            QTest::keyClicks(password, QStringLiteral("x"));
            QTest::keyClick(password, Qt::Key_Backspace);
            host->setText(QStringLiteral("192.168.0.92"));
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts(), QStringList{question}, kReplyTimeoutMs);
            QCOMPARE(Status(), notApplied);
            QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getcam.fcgi")).contains("host=192.168.0.91\r\n"));
            boxes_->SetAnswer(QMessageBox::Yes);
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(Status(), applied, kReplyTimeoutMs);
            QCOMPARE(boxes_->Texts(), (QStringList{question, question}));
        });
        const QByteArray config = DeviceGet(kDeviceIp, QStringLiteral("getconfig.fcgi"));
        QVERIFY2(config.contains("password: \"\""), config.constData());
        QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getcam.fcgi")).contains("host=192.168.0.92\r\n"));
        for (const std::string& message : log_->Messages()) {
            QVERIFY2(message.find("Cam-Stored-Pw1") == std::string::npos, message.c_str());
        }
    }
    {
        // A configuration read only in part does not say what the device
        // holds: an empty field is asked about, and No sends nothing.
        boxes_->Clear();
        boxes_->SetAnswer(QMessageBox::No);
        const int row = StartAndFind({QStringLiteral("--source-password"), sourcePassword,
                                      QStringLiteral("--http-config-fault"), QStringLiteral("malformed")});
        QVERIFY(row >= 0);
        WithDialog(row, false, [&](SettingsDialog& dialog) {
            auto* apply = Child<QPushButton>(&dialog, "pushButtonApply3");
            QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled() && boxes_->Texts().size() == 1, kReplyTimeoutMs);
            Child<QLineEdit>(&dialog, "lineEditSourceHost")->setText(QStringLiteral("192.168.0.91"));
            QTest::mouseClick(apply, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 2, kReplyTimeoutMs);
            QCOMPARE(boxes_->Texts().at(1), question);
            QCOMPARE(Status(), notApplied);
        });
        QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getcam.fcgi")).contains("host=192.168.0.90\r\n"));
    }
}

void SettingsLanTest::NewAddressIsUsedAfterANetworkChange()
{
    // The device moves to the address where a second simulated web interface
    // listens; what the dialog sends afterwards must land there.
    const QString newIp = QStringLiteral("10.77.0.14");
    const auto device = StartDevice();
    QVERIFY(device->IsReady());
    SimDevice moved(QStringLiteral("dev4"), {QStringLiteral("--mac"), QStringLiteral("02:51:45:4C:66:04")},
                    QStringLiteral("http"));
    QVERIFY(moved.IsReady());
    const int row = FindDevice();
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
        auto* applyZones = Child<QPushButton>(&dialog, "pushButtonApplyZones");
        QTRY_VERIFY_WITH_TIMEOUT(applyZones->isEnabled(), kReplyTimeoutMs);
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, newIp, kPassword);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));

        tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
        auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
        table->selectRow(0);
        QTest::mouseClick(Child<QPushButton>(&dialog, "pushButtonRemoveZone"), Qt::LeftButton);
        QTest::mouseClick(applyZones, Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Zones were applied"));
        QVERIFY(boxes_->Texts().isEmpty());
    });
    QVERIFY(!DeviceGet(newIp, QStringLiteral("getconfig.fcgi")).contains("zones"));
    QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getconfig.fcgi")).contains("zones"));
}

// A page that could not load from the device's old address loads from its new
// one once a network change has moved the device there.
void SettingsLanTest::FailedLoadIsRetriedAtTheNewAddress()
{
    const QString newIp = QStringLiteral("10.77.0.14");
    // No web interface answers at the old address.
    const int row = StartAndFind({QStringLiteral("--only"), QStringLiteral("udp")});
    QVERIFY(row >= 0);
    SimDevice moved(QStringLiteral("dev4"), {QStringLiteral("--mac"), QStringLiteral("02:51:45:4C:66:04")},
                    QStringLiteral("http"));
    QVERIFY(moved.IsReady());
    log_->Clear();

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 1, kReplyTimeoutMs);
        QVERIFY2(
            boxes_->Texts().at(0).startsWith(QStringLiteral("Loading the video source settings failed: ")),
            qPrintable(boxes_->Texts().at(0)));
        auto* host = Child<QLineEdit>(&dialog, "lineEditSourceHost");
        QVERIFY(!host->isEnabled());
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, newIp, kPassword);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));

        Child<QTabWidget>(&dialog, "tabWidget")->setCurrentWidget(Child<QWidget>(&dialog, "tabSource"));
        QTRY_VERIFY_WITH_TIMEOUT(host->isEnabled(), kReplyTimeoutMs);
        QCOMPARE(host->text(), QStringLiteral("192.168.0.90"));
        QTRY_COMPARE_WITH_TIMEOUT(Child<QLineEdit>(&dialog, "lFps")->text(), QStringLiteral("25"),
                                  kReplyTimeoutMs);
        QVERIFY(log_->Contains(kHttpSent + "http://" + newIp.toStdString() + "/qel-cgi/admin/getcam.fcgi"));
        QCOMPARE(boxes_->Texts().size(), 1);
    });
}

void SettingsLanTest::TransportFailuresAreNamed()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        // Another program (a second copy of the tool, searching) shares the
        // reply port: the reply could reach it instead, and the change would
        // be applied but reported as failed. So nothing is sent and the
        // reason is named.
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 49077,
                            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        ApplyNetwork(dialog, QStringLiteral("Never applied"), STATIC, kDeviceIp, kPassword);
        QCOMPARE(boxes_->Texts().size(), 1);
        QVERIFY2(boxes_->Texts().at(0).startsWith(QStringLiteral("Cannot listen on UDP port 49077: ")),
                 qPrintable(boxes_->Texts().at(0)));
    });
    const int found = FindDevice();
    QVERIFY(found >= 0);
    QCOMPARE(Table()->item(found, kColumnDeviceName)->text(), QStringLiteral("Lobby"));
}

void SettingsLanTest::InvalidInputSendsNothing()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        log_->Clear();
        const QString statusBefore = Status();
        auto* ip = Child<QLineEdit>(&dialog, "lineEditIpAddress");
        auto* mask = Child<QLineEdit>(&dialog, "lineEditNetMask");
        auto* gateway = Child<QLineEdit>(&dialog, "lineEditGateway");
        auto* dns = Child<QLineEdit>(&dialog, "lineEditDns");
        auto* apply = Child<QPushButton>(&dialog, "pushButtonApply1");

        // Each field is checked in turn; the first bad one is named.
        ip->setText(QStringLiteral("10.0.0.256"));
        gateway->setText(QStringLiteral("gateway"));
        QTest::mouseClick(apply, Qt::LeftButton);
        ip->setText(kDeviceIp);
        mask->setText(QStringLiteral("255.255.255.0.1"));
        QTest::mouseClick(apply, Qt::LeftButton);
        mask->setText(QStringLiteral("255.255.255.0"));
        QTest::mouseClick(apply, Qt::LeftButton);
        gateway->setText(QStringLiteral("10.77.0.1"));
        dns->setText(QString());
        QTest::mouseClick(apply, Qt::LeftButton);

        // Different new passwords.
        Child<QLineEdit>(&dialog, "lineEditCurPassword2")->setText(kPassword);
        Child<QLineEdit>(&dialog, "lineEditNewPassword")->setText(QStringLiteral("one"));
        Child<QLineEdit>(&dialog, "lineEditNewPassword2")->setText(QStringLiteral("two"));
        QTest::mouseClick(Child<QPushButton>(&dialog, "pushButtonApply2"), Qt::LeftButton);

        QTRY_COMPARE(boxes_->Texts().size(), 5);
        const QStringList expected = {QStringLiteral("Invalid IP-address"),
                                      QStringLiteral("Invalid network mask"),
                                      QStringLiteral("Invalid gateway"), QStringLiteral("Invalid DNS"),
                                      QStringLiteral("Passwords are not equal")};
        QCOMPARE(boxes_->Texts(), expected);
        const QStringList titles = boxes_->Titles();
        QCOMPARE(titles.size(), expected.size());
        QVERIFY(std::all_of(titles.begin(), titles.end(),
                            [](const QString& t) { return t == QStringLiteral("Error"); }));
        QCOMPARE(CountStartingWith(log_->Messages(), kDatagramSent), 0);
        QVERIFY(apply->isEnabled());
        QVERIFY(Child<QPushButton>(&dialog, "pushButtonApply2")->isEnabled());
        QCOMPARE(Status(), statusBefore);
    });
}

// A request field holds 31 bytes of UTF-8: longer text would reach the device
// cut (a password even inside a letter, locking the user out), so it is
// refused before anything is sent, with the cursor in the field to correct.
void SettingsLanTest::TextTheWireWouldCutIsRefused()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);
    const QString passwordMessage =
        QStringLiteral("The password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
    const QString currentMessage = QStringLiteral(
        "The current password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
    const QString nameMessage =
        QStringLiteral("The device name must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
    const QString cyrillic20 = QString(20, QChar(0x0416)); // 40 bytes of UTF-8
    const QString ascii32(32, QLatin1Char('p'));
    const QString longest = QString(15, QChar(0x0416)) + QLatin1Char('!'); // 31 bytes

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        log_->Clear();
        const auto refused = [&](const QString& message, const char* field) {
            QTRY_VERIFY(!boxes_->Texts().isEmpty());
            QCOMPARE(boxes_->Texts().constLast(), message);
            QCOMPARE(dialog.focusWidget(), Child<QWidget>(&dialog, field));
        };
        ApplyPassword(dialog, kPassword, cyrillic20);
        refused(passwordMessage, "lineEditNewPassword");
        ApplyPassword(dialog, ascii32, QStringLiteral("next"));
        refused(currentMessage, "lineEditCurPassword2");
        ApplyNetwork(dialog, QString(16, QChar(0x0416)), STATIC, kDeviceIp, kPassword);
        refused(nameMessage, "lineEditDeviceName");
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, kDeviceIp, ascii32);
        refused(currentMessage, "lineEditCurPassword");
        QCOMPARE(boxes_->Texts().size(), 4);
        QCOMPARE(CountStartingWith(log_->Messages(), kDatagramSent), 0);

        // The device still opens with its password; 31 bytes arrive whole.
        ApplyPassword(dialog, kPassword, longest);
        QCOMPARE(Status(), QStringLiteral("Password was changed successfully"));
        ApplyNetwork(dialog, QString(15, QChar(0x0416)) + QLatin1Char('1'), STATIC, kDeviceIp, longest);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
        QCOMPARE(boxes_->Texts().size(), 4);
    });
    const int found = FindDevice();
    QVERIFY(found >= 0);
    QCOMPARE(Table()->item(found, kColumnDeviceName)->text(), QString(15, QChar(0x0416)) + QLatin1Char('1'));
}

void SettingsLanTest::NetworkChangeReachesDeviceAndRow()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);

    // Ctrl+double-click deselects the row while opening it.
    WithDialog(
        row, true,
        [&](SettingsDialog& dialog) {
            QCOMPARE(QString::fromStdString(dialog.GetParams().deviceName), QStringLiteral("Lobby"));
            QVERIFY(SourceLoaded(dialog));
            auto* apply1 = Child<QPushButton>(&dialog, "pushButtonApply1");
            auto* apply2 = Child<QPushButton>(&dialog, "pushButtonApply2");
            // While the request is out, the group and both Apply buttons are off.
            bool checked = false;
            ApplyNetwork(dialog, QStringLiteral("Lobby East"), STATIC, QStringLiteral("10.77.0.50"),
                         kPassword, [&]() {
                             checked = true;
                             QVERIFY(!apply1->isEnabled());
                             QVERIFY(!apply2->isEnabled());
                             QVERIFY(!Child<QLineEdit>(&dialog, "lineEditDeviceName")->isEnabled());
                             QVERIFY(!Child<QComboBox>(&dialog, "comboBoxIpType")->isEnabled());
                             QVERIFY(Child<QLineEdit>(&dialog, "lineEditNewPassword")->isEnabled());
                             QVERIFY(Child<QWidget>(&dialog, "buttonBox")->isEnabled());
                             QCOMPARE(Status(), QStringLiteral("Applying network parameters..."));
                         });
            QVERIFY(checked);
            QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
            QVERIFY(boxes_->Texts().isEmpty());
            QCOMPARE(QString::fromStdString(dialog.GetParams().deviceName), QStringLiteral("Lobby East"));
            QCOMPARE(QString::fromStdString(IpTypeToString(dialog.GetParams().ip)),
                     QStringLiteral("10.77.0.50"));
        },
        Qt::ControlModifier);

    // The row takes the dialog's record...
    QTableWidget* table = Table();
    QCOMPARE(table->item(row, kColumnDeviceName)->text(), QStringLiteral("Lobby East"));
    QCOMPARE(table->item(row, kColumnIp)->text(), QStringLiteral("10.77.0.50"));
    QCOMPARE(table->item(row, kColumnGateway)->text(), QStringLiteral("10.77.0.1"));
    // ...and the device answers the next search with it.
    const int found = FindDevice();
    QVERIFY(found >= 0);
    QCOMPARE(table->item(found, kColumnDeviceName)->text(), QStringLiteral("Lobby East"));
    QCOMPARE(table->item(found, kColumnIp)->text(), QStringLiteral("10.77.0.50"));
    QCOMPARE(table->item(found, kColumnMask)->text(), QStringLiteral("255.255.255.0"));
    QCOMPARE(table->item(found, kColumnAddressing)->text(), QStringLiteral("static"));
}

void SettingsLanTest::DhcpStillSendsAddresses()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        ApplyNetwork(dialog, QStringLiteral("Lobby"), DHCP, QStringLiteral("10.77.0.60"), kPassword);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
    });
    const int found = FindDevice();
    QVERIFY(found >= 0);
    QCOMPARE(Table()->item(found, kColumnAddressing)->text(), QStringLiteral("DHCP"));
    QCOMPARE(Table()->item(found, kColumnIp)->text(), QStringLiteral("10.77.0.60"));
}

void SettingsLanTest::FailuresAreShownAndLeaveRecord_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("passwordGroup");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");

    const QStringList none;
    const QString wrong = QStringLiteral("not the password");
    QTest::newRow("network, wrong password")
        << none << false << wrong << QStringLiteral("Failed to apply network parameters: invalid password");
    QTest::newRow("network, device error")
        << QStringList{QStringLiteral("--settings-result"), QStringLiteral("2")} << false << kPassword
        << QStringLiteral("Failed to apply network parameters: error occurred");
    QTest::newRow("network, unknown code")
        << QStringList{QStringLiteral("--settings-result"), QStringLiteral("7")} << false << kPassword
        << QStringLiteral("Failed to apply network parameters: unknown response code 7");
    QTest::newRow("network, noise before the reply")
        << QStringList{QStringLiteral("--malformed"), QStringLiteral("settings-wrong-mac"),
                       QStringLiteral("--malformed"), QStringLiteral("settings-wrong-type"),
                       QStringLiteral("--malformed"), QStringLiteral("settings-short")}
        << false << wrong << QStringLiteral("Failed to apply network parameters: invalid password");
    QTest::newRow("password, wrong password")
        << none << true << wrong << QStringLiteral("Failed to change password: invalid password");
    QTest::newRow("password, device error")
        << QStringList{QStringLiteral("--settings-result"), QStringLiteral("2")} << true << kPassword
        << QStringLiteral("Failed to change password: error occurred");
    QTest::newRow("password, unknown code")
        << QStringList{QStringLiteral("--settings-result"), QStringLiteral("255")} << true << kPassword
        << QStringLiteral("Failed to change password: unknown response code 255");
}

void SettingsLanTest::FailuresAreShownAndLeaveRecord()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, passwordGroup);
    QFETCH(QString, password);
    QFETCH(QString, message);

    const int row = StartAndFind(faults);
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        if (passwordGroup) {
            ApplyPassword(dialog, password, QStringLiteral("new secret"));
        } else {
            ApplyNetwork(dialog, QStringLiteral("Renamed"), STATIC, QStringLiteral("10.77.0.70"), password);
        }
        QCOMPARE(boxes_->Texts(), QStringList{message});
        QCOMPARE(boxes_->Titles(), QStringList{QStringLiteral("Error")});
        QCOMPARE(Status(), message);
        // Usable again at once, and the record is untouched.
        QVERIFY(Child<QPushButton>(&dialog, "pushButtonApply1")->isEnabled());
        QVERIFY(Child<QPushButton>(&dialog, "pushButtonApply2")->isEnabled());
        QVERIFY(Child<QLineEdit>(&dialog, "lineEditDeviceName")->isEnabled());
        QCOMPARE(QString::fromStdString(dialog.GetParams().deviceName), QStringLiteral("Lobby"));
    });
    QCOMPARE(Table()->item(row, kColumnDeviceName)->text(), QStringLiteral("Lobby"));
    QCOMPARE(Table()->item(row, kColumnIp)->text(), kDeviceIp);
}

void SettingsLanTest::NoResponseIsCheckedBySearch_data()
{
    QTest::addColumn<bool>("passwordGroup");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("deviceGone");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("changed");

    const QString network = QStringLiteral("Failed to apply network parameters: no response from device; ");
    QTest::newRow("network, applied")
        << false << kPassword << false
        << network + QStringLiteral("a new search shows the device with the new settings") << true;
    // A wrong password: the device changes nothing and says nothing.
    QTest::newRow("network, not applied")
        << false << QStringLiteral("not the password") << false
        << network + QStringLiteral("a new search shows the device unchanged") << false;
    QTest::newRow("network, device gone")
        << false << kPassword << true
        << network + QStringLiteral("the device did not answer the search either") << false;
    QTest::newRow("password") << true << kPassword << false
                              << QStringLiteral(
                                     "Failed to change password: no response from device; a new search "
                                     "shows the device, but not whether its password changed")
                              << false;
}

// A device that applies a change without answering: a search for its MAC
// tells the user what became of the change, and a change the device shows is
// taken by the record and the row as after a reply.
void SettingsLanTest::NoResponseIsCheckedBySearch()
{
    QFETCH(bool, passwordGroup);
    QFETCH(QString, password);
    QFETCH(bool, deviceGone);
    QFETCH(QString, message);
    QFETCH(bool, changed);

    const int row = StartAndFind({QStringLiteral("--settings-no-reply")});
    QVERIFY(row >= 0);
    const QString name = changed ? QStringLiteral("Renamed") : QStringLiteral("Lobby");
    const QString ip = changed ? QStringLiteral("10.77.0.70") : kDeviceIp;

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        // The source page's loads end first, so that a device killed below
        // fails only the change.
        QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(&dialog, "pushButtonApply3")->isEnabled(),
                                 kReplyTimeoutMs);
        if (passwordGroup) {
            ApplyPassword(dialog, password, QStringLiteral("new secret"));
        } else {
            ApplyNetwork(dialog, QStringLiteral("Renamed"), STATIC, QStringLiteral("10.77.0.70"), password,
                         [&] {
                             if (deviceGone) {
                                 device_->Kill();
                             }
                         });
        }
        QCOMPARE(boxes_->Texts(), QStringList{message});
        QCOMPARE(Status(), message);
        QCOMPARE(QString::fromStdString(dialog.GetParams().deviceName), name);
        QCOMPARE(QString::fromStdString(IpTypeToString(dialog.GetParams().ip)), ip);
    });
    QCOMPARE(Table()->item(row, kColumnDeviceName)->text(), name);
    QCOMPARE(Table()->item(row, kColumnIp)->text(), ip);
}

// Addressing that would cut the device off is refused, each with its reason
// and the cursor in the field to correct; an address another listed device
// holds or this workstation cannot reach is asked about first. Neither sends
// anything; DHCP takes its addresses from the server and is not checked.
void SettingsLanTest::AddressingThatCutsTheDeviceOffIsCaught()
{
    const auto device = StartDevice();
    SimDevice other(QStringLiteral("dev4"), {QStringLiteral("--mac"), QStringLiteral("02:51:45:4C:66:02")},
                    QStringLiteral("udp"));
    QVERIFY(device->IsReady() && other.IsReady());
    // A whole search, so that both are listed.
    QTableWidget* table = Table();
    auto* search = Child<QPushButton>(window_.get(), "pushButtonSearch");
    for (int attempt = 0; attempt < kSearchAttempts && table->rowCount() < 2; ++attempt) {
        QTest::mouseClick(search, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), kSearchTimeoutMs);
    }
    const QList<QTableWidgetItem*> found = table->findItems(kMacText, Qt::MatchExactly);
    QVERIFY(table->rowCount() >= 2 && found.size() == 1);
    table->selectRow(found.front()->row());

    WithDialog(found.front()->row(), false, [&](SettingsDialog& dialog) {
        QVERIFY(Child<QLabel>(&dialog, "labelSharedAddress")->isHidden());
        QVERIFY(SourceLoaded(dialog));
        log_->Clear();
        auto* apply = Child<QPushButton>(&dialog, "pushButtonApply1");
        const auto send = [&](int ipType, const char* ip, const char* mask, const char* gateway) {
            const int before = boxes_->Texts().size();
            Child<QComboBox>(&dialog, "comboBoxIpType")->setCurrentIndex(ipType);
            Child<QLineEdit>(&dialog, "lineEditIpAddress")->setText(QLatin1String(ip));
            Child<QLineEdit>(&dialog, "lineEditNetMask")->setText(QLatin1String(mask));
            Child<QLineEdit>(&dialog, "lineEditGateway")->setText(QLatin1String(gateway));
            Child<QLineEdit>(&dialog, "lineEditCurPassword")->setText(kPassword);
            QTest::mouseClick(apply, Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return apply->isEnabled(); }, kReplyTimeoutMs)) {
                return QStringLiteral("(no outcome)");
            }
            return boxes_->Texts().size() > before ? boxes_->Texts().constLast() : QString();
        };
        const struct {
            const char* ip;
            const char* mask;
            const char* gateway;
            const char* message;
            const char* field;
        } refused[] = {
            {"10.77.0.13", "255.0.255.0", "10.77.0.1",
             "The network mask 255.0.255.0 is not valid: its ones must all come before its zeros",
             "lineEditNetMask"},
            {"10.77.0.0", "255.255.255.0", "10.77.0.1",
             "The IP address 10.77.0.0 is the network address of 10.77.0.0/24; a device cannot use it",
             "lineEditIpAddress"},
            {"10.77.0.255", "255.255.255.0", "10.77.0.1",
             "The IP address 10.77.0.255 is the broadcast address of 10.77.0.0/24; a device cannot use it",
             "lineEditIpAddress"},
            {"10.77.0.13", "255.255.255.0", "10.78.0.1",
             "The gateway 10.78.0.1 is outside the device's network 10.77.0.0/24", "lineEditGateway"},
        };
        for (const auto& entry : refused) {
            QCOMPARE(send(STATIC, entry.ip, entry.mask, entry.gateway), QLatin1String(entry.message));
            QCOMPARE(dialog.focusWidget(), Child<QWidget>(&dialog, entry.field));
        }
        // Asked; the box's default, No, sends nothing.
        QCOMPARE(
            send(STATIC, "10.77.0.14", "255.255.255.0", "10.77.0.1"),
            QStringLiteral("Another listed device already uses 10.77.0.14: after this change two devices "
                           "answer at one address. Apply anyway?"));
        const QString outside = QStringLiteral("After this change the tool cannot reach the device from this "
                                               "workstation (its networks: 10.77.0.0/24). Apply anyway?");
        QCOMPARE(send(STATIC, "10.88.0.20", "255.255.255.0", "0.0.0.0"), outside);
        QCOMPARE(Status(), QStringLiteral("Network parameters were not applied; nothing was sent"));
        QCOMPARE(CountStartingWith(log_->Messages(), kDatagramSent), 0);
        QCOMPARE(boxes_->Texts().size(), 6);

        QCOMPARE(send(DHCP, "10.77.0.13", "255.0.255.0", "10.78.0.1"), QString());
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
        // Yes sends; an empty gateway (0.0.0.0) is no gateway.
        boxes_->SetAnswer(QMessageBox::Yes);
        QCOMPARE(send(STATIC, "10.88.0.20", "255.255.255.0", "0.0.0.0"), outside);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
    });
    QCOMPARE(Table()->item(found.front()->row(), kColumnIp)->text(), QStringLiteral("10.88.0.20"));
}

// The dialog of a device whose address another listed device shares (as if
// one with another MAC had answered from it) says so, and asks before the
// first change an analytics page sends: it could reach the other device.
// A second device answers with this one's MAC (cloned firmware): the window
// lists both and names the problem, and the dialog refuses the requests that
// go by MAC, since both devices would take them.
void SettingsLanTest::SharedMacIsNamedAndRefused()
{
    device_ = StartDevice();
    SimDevice twin(QStringLiteral("dev4"),
                   {QStringLiteral("--mac"), kMac, QStringLiteral("--serial"), QStringLiteral("QS-TWIN"),
                    QStringLiteral("--name"), QStringLiteral("Twin")},
                   QStringLiteral("udp"));
    QVERIFY(device_->IsReady() && twin.IsReady());
    QTableWidget* table = Table();
    auto* search = Child<QPushButton>(window_.get(), "pushButtonSearch");
    for (int attempt = 0;
         attempt < kSearchAttempts && table->findItems(kMacText, Qt::MatchExactly).size() < 2; ++attempt) {
        QTest::mouseClick(search, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), kSearchTimeoutMs);
    }
    const QList<QTableWidgetItem*> rows = table->findItems(kMacText, Qt::MatchExactly);
    QCOMPARE(rows.size(), 2);
    QVERIFY2(Status().contains(QStringLiteral("; 2 share a MAC address with another device")),
             qPrintable(Status()));
    int lobby = -1;
    for (const QTableWidgetItem* item : rows) {
        const bool isLobby = table->item(item->row(), kColumnDeviceName)->text() == QLatin1String("Lobby");
        lobby = isLobby ? item->row() : lobby;
        QVERIFY2(item->toolTip().contains(
                     isLobby ? QStringLiteral("Shares its MAC address with Twin (QS-TWIN)<")
                             : QStringLiteral("Shares its MAC address with Lobby (QS000001)<")),
                 qPrintable(item->toolTip()));
    }
    QVERIFY(lobby >= 0);
    table->selectRow(lobby);

    const QString refusal =
        QStringLiteral("Two devices answer with MAC 02-51-45-4C-66-01; a change would reach both");
    WithDialog(lobby, false, [&](SettingsDialog& dialog) {
        QCOMPARE(Child<QLabel>(&dialog, "labelSharedAddress")->text(), refusal);
        QVERIFY(SourceLoaded(dialog));
        log_->Clear();
        ApplyNetwork(dialog, QStringLiteral("Renamed"), STATIC, QStringLiteral("10.77.0.70"), kPassword);
        ApplyPassword(dialog, kPassword, QStringLiteral("new secret"));
        QCOMPARE(boxes_->Texts(), QStringList({refusal, refusal}));
        QVERIFY(!log_->Contains(kDatagramSent));
    });
    // Readdress and templates are refused alike, before any dialog.
    table->clearSelection();
    table->selectRow(rows.front()->row());
    QTest::mouseClick(Child<QPushButton>(window_.get(), "pushButtonReaddress"), Qt::LeftButton);
    QCOMPARE(boxes_->Texts().last(), refusal);
    QVERIFY(!log_->Contains(kDatagramSent));
}

// After a change without reply, a host that answers the search in the
// device's name, naming the new address from an address of its own, is not
// believed: the dialog keeps the address the device had.
void SettingsLanTest::ReplyFromAnotherAddressDoesNotMoveTheDevice()
{
    // The device itself answers the search late, after the other host.
    const int row = StartAndFind({QStringLiteral("--settings-no-reply"),
                                  QStringLiteral("--discovery-delay-ms"), QStringLiteral("1000")});
    QVERIFY(row >= 0);
    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        SimDevice other(QStringLiteral("dev2"),
                        {QStringLiteral("--mac"), kMac, QStringLiteral("--ip"), QStringLiteral("10.77.0.70"),
                         QStringLiteral("--name"), QStringLiteral("Renamed"), QStringLiteral("--gateway"),
                         QStringLiteral("10.77.0.1"), QStringLiteral("--dns"), QStringLiteral("10.77.0.2"),
                         QStringLiteral("--reply-from"), QStringLiteral("10.77.0.12"),
                         QStringLiteral("--settings-no-reply")},
                        QStringLiteral("udp"));
        QVERIFY(other.IsReady());
        // A wrong password: the device changes nothing.
        ApplyNetwork(dialog, QStringLiteral("Renamed"), STATIC, QStringLiteral("10.77.0.70"),
                     QStringLiteral("not the password"));
        QCOMPARE(boxes_->Texts(),
                 QStringList{QStringLiteral("Failed to apply network parameters: no response "
                                            "from device; a new search shows the device "
                                            "unchanged")});
        QCOMPARE(QString::fromStdString(IpTypeToString(dialog.GetParams().ip)), kDeviceIp);
    });
    QCOMPARE(Table()->item(row, kColumnIp)->text(), kDeviceIp);
}

void SettingsLanTest::SharedAddressIsNamedAndAskedAbout()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        auto* line = Child<QLabel>(&dialog, "labelSharedAddress");
        QVERIFY(line->isHidden());
        dialog.SetListedAddresses({dialog.GetParams().ip});
        QVERIFY(!line->isHidden());
        QCOMPARE(line->text(),
                 QStringLiteral("Another device answers at 10.77.0.13 too: its web pages and video "
                                "may be the other device's"));
        QCOMPARE(line->palette().color(QPalette::WindowText), QColor(200, 0, 0));

        QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(&dialog, "pushButtonApply3")->isEnabled(),
                                 kReplyTimeoutMs);
        Child<QTabWidget>(&dialog, "tabWidget")->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
        auto* applyZones = Child<QPushButton>(&dialog, "pushButtonApplyZones");
        QTRY_VERIFY_WITH_TIMEOUT(applyZones->isEnabled(), kReplyTimeoutMs);
        Child<QTableWidget>(&dialog, "tableWidgetZones")->selectRow(0);
        QTest::mouseClick(Child<QPushButton>(&dialog, "pushButtonRemoveZone"), Qt::LeftButton);
        QTest::mouseClick(applyZones, Qt::LeftButton);
        QCOMPARE(boxes_->Texts(),
                 QStringList{QStringLiteral("Another device answers at 10.77.0.13 too: this "
                                            "change may reach that device instead of this one. "
                                            "Apply anyway?")});
        QCOMPARE(Status(), QStringLiteral("Not applied; nothing was sent"));
        QVERIFY(DeviceGet(kDeviceIp, QStringLiteral("getconfig.fcgi")).contains("zones"));

        boxes_->SetAnswer(QMessageBox::Yes);
        QTest::mouseClick(applyZones, Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Zones were applied"));
        QCOMPARE(boxes_->Texts().size(), 2);
        // Once confirmed, the other pages send without asking again.
        Child<QTabWidget>(&dialog, "tabWidget")->setCurrentWidget(Child<QWidget>(&dialog, "tabSource"));
        Child<QLineEdit>(&dialog, "lFps")->setText(QStringLiteral("12"));
        QTest::mouseClick(Child<QPushButton>(&dialog, "pushButtonApply3"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("Source settings were applied successfully."),
                                  kReplyTimeoutMs);
        QCOMPARE(boxes_->Texts().size(), 2);
    });
    QVERIFY(!DeviceGet(kDeviceIp, QStringLiteral("getconfig.fcgi")).contains("zones"));
}

void SettingsLanTest::OneOutcomePerRun_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::newRow("two replies") << QStringList{QStringLiteral("--settings-duplicate")};
    QTest::newRow("reply after 2 s") << QStringList{QStringLiteral("--settings-delay-ms"),
                                                    QStringLiteral("2000")};
}

void SettingsLanTest::OneOutcomePerRun()
{
    QFETCH(QStringList, faults);
    const int row = StartAndFind(faults);
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        log_->Clear();
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, kDeviceIp, kPassword);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
        // Past the transport's listening time nothing more is said.
        QTest::qWait(3500);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
        QVERIFY(boxes_->Texts().isEmpty());
        QCOMPARE(CountStartingWith(log_->Messages(), "NetworkSetting Response recognized"), 1);
        QCOMPARE(CountStartingWith(log_->Messages(), "NetworkSetting command done"), 1);
        // No stray progress window shows up while the dialog stays open.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            QVERIFY(qobject_cast<QProgressDialog*>(widget) == nullptr || !widget->isVisible());
        }
    });
}

void SettingsLanTest::PasswordChangeReplacesOldPassword()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);
    const QString next = QStringLiteral("s3cret ü");

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        ApplyPassword(dialog, kPassword, next);
        QCOMPARE(Status(), QStringLiteral("Password was changed successfully"));
        QVERIFY(boxes_->Texts().isEmpty());
        QCOMPARE(QString::fromStdString(dialog.GetParams().deviceName), QStringLiteral("Lobby"));
        // No typed password stays in the form.
        for (const char* name :
             {"lineEditCurPassword", "lineEditCurPassword2", "lineEditNewPassword", "lineEditNewPassword2"}) {
            QVERIFY2(Child<QLineEdit>(&dialog, name)->text().isEmpty(), name);
        }

        // The old password no longer works, the new one does.
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, kDeviceIp, kPassword);
        QCOMPARE(boxes_->Texts(),
                 QStringList{QStringLiteral("Failed to apply network parameters: invalid password")});
        ApplyPassword(dialog, kPassword, QStringLiteral("other"));
        QCOMPARE(boxes_->Texts().size(), 2);
        QCOMPARE(boxes_->Texts().at(1), QStringLiteral("Failed to change password: invalid password"));
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, kDeviceIp, next);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
        QCOMPARE(boxes_->Texts().size(), 2);
    });
}

// An empty administrator password is the device's to take, after one
// question.
void SettingsLanTest::EmptyNewPasswordIsAskedAboutFirst()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);
    const QString question = QStringLiteral("The device will have no administrator password. Continue?");

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        log_->Clear();
        ApplyPassword(dialog, kPassword, QString());
        QCOMPARE(boxes_->Texts(), QStringList{question});
        QCOMPARE(Status(), QStringLiteral("The password was not changed; nothing was sent"));
        QCOMPARE(CountStartingWith(log_->Messages(), kDatagramSent), 0);

        boxes_->SetAnswer(QMessageBox::Yes);
        ApplyPassword(dialog, kPassword, QString());
        QCOMPARE(Status(), QStringLiteral("Password was changed successfully"));
        // The device now takes the empty password and no longer the old one.
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, kDeviceIp, kPassword);
        QCOMPARE(boxes_->Texts().constLast(),
                 QStringLiteral("Failed to apply network parameters: invalid password"));
        ApplyNetwork(dialog, QStringLiteral("Lobby"), STATIC, kDeviceIp, QString());
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
        QCOMPARE(boxes_->Texts(),
                 (QStringList{question, question,
                              QStringLiteral("Failed to apply network parameters: invalid password")}));
    });
}

void SettingsLanTest::ClosingWhileWaitingSaysNothing()
{
    // The source load and a network change are both still out when the
    // dialog closes: neither may reach it afterwards.
    const int row = StartAndFind(
        {QStringLiteral("--http-delay-ms"), QStringLiteral("2000"), QStringLiteral("--settings-no-reply")});
    QVERIFY(row >= 0);

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        Child<QLineEdit>(&dialog, "lineEditCurPassword")->setText(kPassword);
        Child<QLineEdit>(&dialog, "lineEditDeviceName")->setText(QStringLiteral("Never applied"));
        QTest::mouseClick(Child<QPushButton>(&dialog, "pushButtonApply1"), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Applying network parameters..."));
    });
    QTest::qWait(3500);
    QVERIFY(boxes_->Texts().isEmpty());
    QCOMPARE(Status(), QStringLiteral("Applying network parameters..."));
    QCOMPARE(Table()->item(row, kColumnDeviceName)->text(), QStringLiteral("Lobby"));
}

// A workstation with a second wired port, as installers' laptops have: one
// search lists the devices behind both ports, and a change sent to a device
// behind the second port goes out there only: a device with the same MAC
// behind the first port keeps its settings.
void SettingsLanTest::SecondPortIsSearchedAndChangedAlone()
{
    const QString twinMac = QStringLiteral("02:51:45:4C:77:02");
    const QStringList arguments{QStringLiteral("--only"),     QStringLiteral("udp,http"),
                                QStringLiteral("--mac"),      twinMac,
                                QStringLiteral("--password"), kPassword};
    SimDevice first(QStringLiteral("dev4"),
                    arguments + QStringList{QStringLiteral("--name"), QStringLiteral("Gate A")});
    SimDevice second(QStringLiteral("s2dev1"),
                     arguments + QStringList{QStringLiteral("--name"), QStringLiteral("Gate B")});
    QVERIFY(first.IsReady() && second.IsReady());

    // Address and name of the twins' rows after a whole search (a few tries:
    // a reply may be lost now and then on a busy machine).
    QTableWidget* table = Table();
    const auto search = [&](int expected) {
        std::map<QString, QString> rows;
        auto* button = Child<QPushButton>(window_.get(), "pushButtonSearch");
        for (int attempt = 0; attempt < kSearchAttempts && static_cast<int>(rows.size()) < expected;
             ++attempt) {
            QTest::mouseClick(button, Qt::LeftButton);
            QElapsedTimer waited;
            waited.start();
            while (!button->isEnabled() && waited.elapsed() < kSearchTimeoutMs) {
                QTest::qWait(50);
            }
            rows.clear();
            for (int r = 0; r < table->rowCount(); ++r) {
                if (table->item(r, kColumnMac)->text() == QStringLiteral("02-51-45-4C-77-02")) {
                    rows[table->item(r, kColumnIp)->text()] = table->item(r, kColumnDeviceName)->text();
                }
            }
        }
        return rows;
    };
    const std::map<QString, QString> before = search(2);
    QCOMPARE(before, (std::map<QString, QString>{{QStringLiteral("10.77.0.14"), QStringLiteral("Gate A")},
                                                 {QStringLiteral("10.78.0.11"), QStringLiteral("Gate B")}}));

    const QList<QTableWidgetItem*> found = table->findItems(QStringLiteral("10.78.0.11"), Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    WithDialog(found.front()->row(), true, [&](SettingsDialog& dialog) {
        ApplyNetwork(dialog, QStringLiteral("Gate B2"), STATIC, QStringLiteral("10.78.0.50"), kPassword);
        QCOMPARE(Status(), QStringLiteral("Network parameters were applied successfully"));
    });
    QCOMPARE(search(2),
             (std::map<QString, QString>{{QStringLiteral("10.77.0.14"), QStringLiteral("Gate A")},
                                         {QStringLiteral("10.78.0.50"), QStringLiteral("Gate B2")}}));
}

void SettingsLanTest::ScreenshotOfEveryTab()
{
    const int row = StartAndFind();
    QVERIFY(row >= 0);
    const QString folder = QStringLiteral(QEL_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(folder));

    WithDialog(row, false, [&](SettingsDialog& dialog) {
        QVERIFY(SourceLoaded(dialog));
        auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QTRY_VERIFY_WITH_TIMEOUT(CountStartingWith(log_->Messages(), kHttpSent) ==
                                         CountDispatched(log_->Messages()),
                                     kReplyTimeoutMs);
            const QString file = QStringLiteral("%1/settings-tab%2-%3.png")
                                     .arg(folder)
                                     .arg(i)
                                     .arg(tabs->widget(i)->objectName());
            QVERIFY2(dialog.grab().save(file), qPrintable(file));
        }
        QVERIFY(boxes_->Texts().isEmpty());
    });
}

QTEST_MAIN(SettingsLanTest)
#include "SettingsLanTest.moc"
