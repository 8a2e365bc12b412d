// The live view of the real settings dialog comes back by itself when the
// simulated device restarts, ends its stream or goes silent, without a message
// box, and stops at once when the user disconnects meanwhile; a failure that
// another connection cannot mend still ends it with its error. Inside the
// virtual LAN.
#include "DialogProbe.h"
#include "DrawableView.h"
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "SimDevice.h"
#include "TestHelpers.h"

#include <QElapsedTimer>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

const QString kDeviceNamespace = QStringLiteral("dev2");
const QString kDeviceIp = QStringLiteral("10.77.0.12");
// 10.77.0.12:554 as the kernel's TCP table writes it.
const QString kRtspPeerInTcpTable = QStringLiteral("0C004D0A:022A");
const QString kRtspUrl = QStringLiteral("rtsp://10.77.0.12/ch0_unicast_firststream");

constexpr int kFirstFramesTimeoutMs = 20000;
// The device is back this long after its restart at the latest: one retry
// period, the RTSP set-up and the first key frame.
constexpr int kBackAfterRestartMs = 8000;
constexpr int kRestartAfterMs = 4000;
// Noticed at once for a closed connection; after 10 s for a silent stream.
constexpr int kEndNoticedMs = 15000;
// Nothing waits for a device when the user stops.
constexpr int kStopAtOnceMs = 2000;
constexpr int kFramesToSee = 20;
// Two retry periods: a view that still tried would have tried by then.
constexpr int kRetryPeriodsMs = 2 * 3000;
// Reads what the simulator has said so far.
constexpr int kOutputReadMs = 200;

const QString kReconnecting = QStringLiteral("Reconnecting\u2026 (");

// Whether this process holds an established TCP connection to the device's
// RTSP port.
bool RtspConnectionOpen()
{
    QFile table(QStringLiteral("/proc/self/net/tcp"));
    if (!table.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && QString::fromLatin1(fields[2]) == kRtspPeerInTcpTable && fields[3] == "01") {
            return true;
        }
    }
    return false;
}

// One of the dialog's two live views and its buttons.
struct LiveViewControls {
    DrawableView* view = nullptr;
    QPushButton* connect = nullptr;
    QPushButton* disconnect = nullptr;
};

} // namespace

class LiveViewReconnectTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void RestartedDeviceShowsPicturesAgainWithoutABox();
    void StreamThatEndsIsReconnected_data();
    void StreamThatEndsIsReconnected();
    void DisconnectWhileReconnectingStopsAtOnce();
    void FinalFailureWhileReconnectingEndsWithItsError();
    void ReconnectFollowsANetworkChange();

private:
    bool StartDevice(const QStringList& arguments = {});
    void OpenDialog(const DeviceNetworkParams& params);
    void OpenDialog();
    // Connect, then pictures.
    void ConnectAndSeePictures();

    std::unique_ptr<SimDevice> device_;
    std::unique_ptr<MessageBoxWatcher> boxes_;
    std::unique_ptr<SettingsDialog> dialog_;
    std::unique_ptr<DialogProbe> probe_;
    LiveViewControls first_;
    LiveViewControls second_;
};

void LiveViewReconnectTest::initTestCase()
{
    if (!SimDevice::Available()) {
        QSKIP("needs the virtual LAN and the simulator (run through ctest)");
    }
}

void LiveViewReconnectTest::init()
{
    boxes_ = std::make_unique<MessageBoxWatcher>();
}

void LiveViewReconnectTest::cleanup()
{
    probe_.reset();
    dialog_.reset();
    device_.reset();
    boxes_.reset();
}

bool LiveViewReconnectTest::StartDevice(const QStringList& arguments)
{
    device_.reset();
    device_ = std::make_unique<SimDevice>(kDeviceNamespace, arguments, QStringLiteral("http,rtsp"));
    if (!device_->IsReady()) {
        qWarning("simulator: %s", qPrintable(device_->Output()));
    }
    return device_->IsReady();
}

void LiveViewReconnectTest::OpenDialog()
{
    DeviceNetworkParams params;
    QVERIFY(StringToIpType(kDeviceIp.toStdString(), params.ip));
    OpenDialog(params);
}

void LiveViewReconnectTest::OpenDialog(const DeviceNetworkParams& params)
{
    dialog_ = std::make_unique<SettingsDialog>(params, nullptr);
    probe_ = std::make_unique<DialogProbe>(dialog_.get());
    QVERIFY(probe_->CountsFrames());
    first_ = {Child<DrawableView>(dialog_.get(), "videoWidget1"),
              Child<QPushButton>(dialog_.get(), "pushButtonConnect1"),
              Child<QPushButton>(dialog_.get(), "pushButtonDisconnect1")};
    second_ = {Child<DrawableView>(dialog_.get(), "videoWidget2"),
               Child<QPushButton>(dialog_.get(), "pushButtonConnect2"),
               Child<QPushButton>(dialog_.get(), "pushButtonDisconnect2")};
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
}

void LiveViewReconnectTest::ConnectAndSeePictures()
{
    QTRY_VERIFY_WITH_TIMEOUT(first_.connect->isEnabled(), kFirstFramesTimeoutMs);
    QTest::mouseClick(first_.connect, Qt::LeftButton);
    QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
}

void LiveViewReconnectTest::RestartedDeviceShowsPicturesAgainWithoutABox()
{
    QVERIFY(StartDevice());
    OpenDialog();
    ConnectAndSeePictures();
    const QImage lastPicture = first_.view->image();
    probe_->ClearStatuses();

    // Killed: the device closes nothing in an orderly way, its kernel resets
    // the connection.
    device_->Kill();
    QTRY_VERIFY_WITH_TIMEOUT(first_.view->overlayText().startsWith(kReconnecting), kEndNoticedMs);
    QCOMPARE(second_.view->overlayText(), first_.view->overlayText());
    QVERIFY(probe_->Statuses().contains(ToolTipShows(first_.view->toolTip())));
    // Over the last picture, with the controls as while connected.
    QCOMPARE(first_.view->image(), lastPicture);
    QVERIFY(!first_.connect->isEnabled() && !second_.connect->isEnabled());
    QVERIFY(first_.disconnect->isEnabled() && second_.disconnect->isEnabled());

    Idle(kRestartAfterMs);
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    QVERIFY(StartDevice());
    QVERIFY2(probe_->WaitFrames(
                 1, std::max<int>(0, kBackAfterRestartMs - static_cast<int>(sinceRestart.elapsed()))),
             qPrintable(probe_->Statuses().join(QLatin1Char('\n'))));
    qInfo("pictures again %.1f s after the restart began (%s)",
          static_cast<double>(sinceRestart.elapsed()) / 1000.0, qPrintable(probe_->Statuses().first()));
    QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
    QTRY_VERIFY(first_.view->overlayText().isEmpty() && second_.view->overlayText().isEmpty());
    QVERIFY(first_.view->toolTip().isEmpty() && second_.view->toolTip().isEmpty());
    QCOMPARE(probe_->Statuses().last(), QStringLiteral("Video reconnected"));
    QVERIFY2(boxes_->Texts().isEmpty(), qPrintable(boxes_->Texts().join(QLatin1Char('\n'))));
    QVERIFY(first_.disconnect->isEnabled() && !first_.connect->isEnabled());

    QTest::mouseClick(first_.disconnect, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(first_.connect->isEnabled(), kStopAtOnceMs);
    QCOMPARE(probe_->Statuses().last(), QStringLiteral("RtspDevice stopped by user"));
}

void LiveViewReconnectTest::StreamThatEndsIsReconnected_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    // Every session stops its video after 2 s and keeps the connection open,
    // as a device whose encoder hangs.
    QTest::newRow("silent") << QStringList{QStringLiteral("--rtsp-stop-video-after"), QStringLiteral("2")}
                            << QStringLiteral("No picture for 10 s");
    // Every session ends after 2 s with RTCP BYE, as a device that restarts
    // in an orderly way.
    QTest::newRow("bye") << QStringList{QStringLiteral("--rtsp-end-stream-after"), QStringLiteral("2")}
                         << QStringLiteral(
                                "The device ended the stream (RTCP BYE on the \"video/H264\" subsession)");
}

void LiveViewReconnectTest::StreamThatEndsIsReconnected()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    QVERIFY(StartDevice(arguments));
    OpenDialog();
    ConnectAndSeePictures();
    const QString expected = kReconnecting + reason + QLatin1Char(')');
    QTRY_VERIFY_WITH_TIMEOUT(first_.view->overlayText().startsWith(kReconnecting), kEndNoticedMs);
    QVERIFY(probe_->Statuses().contains(expected));
    // The line over the picture fits the view, cut in its middle where it
    // is too long; the tool tip gives it whole.
    const QString shown = first_.view->overlayText();
    QCOMPARE(ToolTipShows(first_.view->toolTip()), expected);
    QFont font = first_.view->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    QVERIFY2(QFontMetrics(font).horizontalAdvance(shown) < first_.view->width(), qPrintable(shown));
    QVERIFY2(shown == expected || (shown.size() < expected.size() && shown.endsWith(expected.right(3)) &&
                                   shown.count(QChar(0x2026)) == 2),
             qPrintable(shown));
    QCOMPARE(boxes_->Texts(), QStringList());
    // A new connection gets a new session with pictures.
    QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
    QVERIFY(probe_->Statuses().contains(QStringLiteral("Video reconnected")));
    QVERIFY(device_->WaitForOutput(QStringLiteral("rtsp request DESCRIBE"), kOutputReadMs));
    QVERIFY(device_->Output().count(QStringLiteral("rtsp request DESCRIBE")) >= 2);
    if (arguments.first() == QStringLiteral("--rtsp-stop-video-after")) {
        // The silent session was ended on the device too.
        QVERIFY(device_->Output().contains(QStringLiteral("rtsp TEARDOWN received")));
    }
    QVERIFY(boxes_->Texts().isEmpty());
}

void LiveViewReconnectTest::DisconnectWhileReconnectingStopsAtOnce()
{
    QVERIFY(StartDevice());
    OpenDialog();

    // During a connection attempt that hangs: the restarted device takes the
    // connection and never answers DESCRIBE.
    ConnectAndSeePictures();
    device_->Kill();
    QTRY_VERIFY_WITH_TIMEOUT(first_.view->overlayText().startsWith(kReconnecting), kEndNoticedMs);
    QVERIFY(StartDevice({QStringLiteral("--rtsp-never-answer-describe")}));
    QTRY_VERIFY_WITH_TIMEOUT(RtspConnectionOpen(), kEndNoticedMs);
    probe_->ClearStatuses();
    QTest::mouseClick(second_.disconnect, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(first_.connect->isEnabled(), kStopAtOnceMs);
    QVERIFY(second_.connect->isEnabled() && !first_.disconnect->isEnabled() &&
            !second_.disconnect->isEnabled());
    QCOMPARE(probe_->Statuses(), QStringList{QStringLiteral("RtspDevice stopped by user")});
    QVERIFY(first_.view->overlayText().isEmpty() && second_.view->overlayText().isEmpty());
    QVERIFY(!RtspConnectionOpen());

    // During the wait between attempts: stopped before the click returns, and
    // the restarted device hears nothing more from this view.
    QVERIFY(StartDevice());
    ConnectAndSeePictures();
    device_->Kill();
    QTRY_VERIFY_WITH_TIMEOUT(first_.view->overlayText().startsWith(kReconnecting), kEndNoticedMs);
    probe_->ClearStatuses();
    QTest::mouseClick(first_.disconnect, Qt::LeftButton);
    QVERIFY(first_.connect->isEnabled() && second_.connect->isEnabled());
    QCOMPARE(probe_->Statuses(), QStringList{QStringLiteral("RtspDevice stopped by user")});
    QVERIFY(StartDevice());
    Idle(kRetryPeriodsMs);
    QVERIFY(!device_->WaitForOutput(QStringLiteral("rtsp request"), kOutputReadMs));
    QVERIFY(boxes_->Texts().isEmpty());

    // Closing the dialog while reconnecting leaves nothing running.
    ConnectAndSeePictures();
    device_->Kill();
    QTRY_VERIFY_WITH_TIMEOUT(first_.view->overlayText().startsWith(kReconnecting), kEndNoticedMs);
    probe_.reset();
    dialog_.reset();
    QVERIFY(StartDevice());
    Idle(kRetryPeriodsMs);
    QVERIFY(!device_->WaitForOutput(QStringLiteral("rtsp request"), kOutputReadMs));
    QVERIFY(boxes_->Texts().isEmpty());
}

void LiveViewReconnectTest::FinalFailureWhileReconnectingEndsWithItsError()
{
    QVERIFY(StartDevice());
    OpenDialog();
    ConnectAndSeePictures();
    device_->Kill();
    QTRY_VERIFY_WITH_TIMEOUT(first_.view->overlayText().startsWith(kReconnecting), kEndNoticedMs);
    // Back with other credentials: no further attempt can succeed.
    QVERIFY(StartDevice({QStringLiteral("--rtsp-password"), QStringLiteral("not-vbnq")}));
    QTRY_VERIFY_WITH_TIMEOUT(!boxes_->Texts().isEmpty(), kBackAfterRestartMs);
    QCOMPARE(boxes_->Texts(),
             QStringList{QStringLiteral("RtspDevice stopped: ") + kRtspUrl +
                         QStringLiteral(" Failed to get a SDP description: 401 Unauthorized")});
    QVERIFY(first_.connect->isEnabled() && !second_.disconnect->isEnabled());
    QVERIFY(first_.view->overlayText().isEmpty());
    device_->WaitForOutput(QStringLiteral("never said"), kOutputReadMs);
    const int describes = device_->Output().count(QStringLiteral("rtsp request DESCRIBE"));
    QVERIFY(describes > 0);
    Idle(kRetryPeriodsMs);
    device_->WaitForOutput(QStringLiteral("never said"), kOutputReadMs);
    QCOMPARE(device_->Output().count(QStringLiteral("rtsp request DESCRIBE")), describes);
}

void LiveViewReconnectTest::ReconnectFollowsANetworkChange()
{
    // The installer gives the device a new address on the Settings tab while
    // watching its video; the device restarts there.
    const QString oldIp = QStringLiteral("10.77.0.13");
    const QString newIp = QStringLiteral("10.77.0.14");
    const QString mac = QStringLiteral("02:51:45:4C:66:21");
    const QString password = QStringLiteral("admin");
    device_ = std::make_unique<SimDevice>(
        QStringLiteral("dev3"),
        QStringList{QStringLiteral("--mac"), mac, QStringLiteral("--password"), password,
                    QStringLiteral("--addressing"), QStringLiteral("static")},
        QStringLiteral("udp,http,rtsp"));
    QVERIFY2(device_->IsReady(), qPrintable(device_->Output()));
    DeviceNetworkParams params;
    params.deviceName = "Lobby";
    params.connectionType = STATIC;
    QVERIFY(StringToIpType(oldIp.toStdString(), params.ip));
    QVERIFY(StringToIpType("255.255.255.0", params.mask));
    QVERIFY(StringToIpType("10.77.0.1", params.gateway));
    const QByteArray macBytes = QByteArray::fromHex(mac.toLatin1().replace(':', ""));
    std::copy(macBytes.begin(), macBytes.end(), params.mac);
    OpenDialog(params);
    ConnectAndSeePictures();

    Child<QTabWidget>(dialog_.get(), "tabWidget")
        ->setCurrentWidget(Child<QWidget>(dialog_.get(), "tabSettings"));
    Child<QLineEdit>(dialog_.get(), "lineEditIpAddress")->setText(newIp);
    Child<QLineEdit>(dialog_.get(), "lineEditCurPassword")->setText(password);
    auto* apply = Child<QPushButton>(dialog_.get(), "pushButtonApply1");
    probe_->ClearStatuses();
    QTest::mouseClick(apply, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kEndNoticedMs);
    QCOMPARE(probe_->Statuses().last(), QStringLiteral("Network parameters were applied successfully"));

    device_->Kill();
    SimDevice moved(QStringLiteral("dev4"), {}, QStringLiteral("http,rtsp"));
    QVERIFY(moved.IsReady());
    QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
    QVERIFY(moved.WaitForOutput(QStringLiteral("rtsp request DESCRIBE rtsp://") + newIp, kOutputReadMs));
    QVERIFY(probe_->Statuses().contains(QStringLiteral("Video reconnected")));
    QVERIFY2(boxes_->Texts().isEmpty(), qPrintable(boxes_->Texts().join(QLatin1Char('\n'))));
    probe_.reset();
    dialog_.reset();
}

QTEST_MAIN(LiveViewReconnectTest)
#include "LiveViewReconnectTest.moc"
