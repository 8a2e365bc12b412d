// The video source page and the live view of the real settings dialog
// against a simulated device: the page loads from getcam and applies with
// setcam and the encoder request; Connect shows the device's video in both
// views; every stop ends in its message with the controls back. Streams
// larger than the views, from clips made with the ffmpeg command-line tool,
// show the same pictures as that tool decodes, also while other hosts send
// packets to the video ports, under a locale that writes numbers with a comma,
// and with memory flat while the GUI thread is stalled. The views' caption
// names what the stream delivers; Snapshot saves the picture at the stream's
// own size; the Grid page's hint connects.
//
// Built twice: inside the virtual LAN (device in its own namespace), and on a
// loopback address of this machine, so that the sanitizer build runs it too.
#include "ui_SettingsDialog.h"

#include "DialogProbe.h"
#include "DrawableView.h"
#include "LogCapture.h"
#include "MessageBoxWatcher.h"
#include "FrameHandOver.h"
#include "LiveView.h"
#include "LiveViewActions.h"
#include "RtspFrameReceiver.h"
#include "SettingsDialog.h"
#include "SimDevice.h"
#include "VCA.pb.h"
#include "YUVToRgb.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include <google/protobuf/text_format.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

#ifdef QEL_LIVEVIEW_LOOPBACK
const QString kDeviceNamespace;
const QString kDeviceIp = QStringLiteral("127.0.0.88");
#else
const QString kDeviceNamespace = QStringLiteral("dev2");
const QString kDeviceIp = QStringLiteral("10.77.0.12");
#endif

const std::string kRtspUrl = "rtsp://" + kDeviceIp.toStdString() + "/ch0_unicast_firststream";

constexpr int kReplyTimeoutMs = 8000;
// From Connect to the first pictures: RTSP set-up and the first key frame.
constexpr int kFirstFramesTimeoutMs = 20000;
constexpr int kStopTimeoutMs = 10000;
// Frames the receiver hands on (the simulated stream has about two NAL units
// per picture at 25 pictures/s): a second or more of video.
constexpr int kFramesToSee = 50;

const std::string kModalHttpSent = "HttpClientDialog will send HTTP request to URL ";

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> StartingWith(const std::vector<std::string>& messages, const std::string& prefix)
{
    std::vector<std::string> found;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                 [&prefix](const std::string& m) { return StartsWith(m, prefix); });
    return found;
}

int IndexOf(const std::vector<std::string>& messages, const std::string& prefix)
{
    const auto it = std::find_if(messages.begin(), messages.end(),
                                 [&prefix](const std::string& m) { return StartsWith(m, prefix); });
    return it == messages.end() ? -1 : static_cast<int>(it - messages.begin());
}

// The device's configuration as its web interface reports it now.
bool ReadDeviceConfig(VCA& config)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(
        QNetworkRequest(QUrl(QStringLiteral("http://%1/qel-cgi/admin/getconfig.fcgi").arg(kDeviceIp))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kReplyTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    const bool ok = reply->isFinished() && reply->error() == QNetworkReply::NoError &&
                    google::protobuf::TextFormat::ParseFromString(reply->readAll().toStdString(), &config);
    reply->deleteLater();
    return ok;
}

// Share of pixels in which two pictures of the same size agree.
double SameShare(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull()) {
        return 0.0;
    }
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 same = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            same += p[col] == q[col] ? 1 : 0;
        }
    }
    return static_cast<double>(same) / (static_cast<double>(x.width()) * x.height());
}

// The views' size: every picture is shown stretched to it.
const QSize kViewSize(720, 576);

// The UDP ports of this process's sockets bound to any address: while
// connected, its RTP and RTCP ports.
std::vector<quint16> OwnUdpPorts()
{
    std::set<std::string> inodes;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System)) {
        const QString target = fd.symLinkTarget().section(QLatin1Char('/'), -1);
        if (target.startsWith(QLatin1String("socket:["))) {
            inodes.insert(target.mid(8, target.size() - 9).toStdString());
        }
    }
    std::vector<quint16> ports;
    std::ifstream table("/proc/self/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
            inode;
        if (inodes.count(inode) != 0 && local.compare(0, 9, "00000000:") == 0) {
            ports.push_back(static_cast<quint16>(std::stoul(local.substr(9), nullptr, 16)));
        }
    }
    return ports;
}

// What another host of the LAN might send to the video ports: RTP with a key
// frame slice of junk, and RTCP BYE.
void SendForeignPackets(const std::vector<quint16>& ports)
{
    QUdpSocket socket;
    QByteArray rtp = QByteArray::fromHex("8060000100000000000012340000000165888400");
    rtp += QByteArray(1000, '\x5a');
    const QByteArray bye = QByteArray::fromHex("81cb000100001234");
    for (int round = 0; round < 50; ++round) {
        for (const quint16 port : ports) {
            rtp[3] = static_cast<char>(round);
            socket.writeDatagram(rtp, QHostAddress::LocalHost, port);
            socket.writeDatagram(bye, QHostAddress::LocalHost, port);
        }
        QTest::qWait(10);
    }
}

// Answers the snapshot folder question with a set folder, counting the asks.
class FolderChooser final {
public:
    explicit FolderChooser(const QString& folder) : folder_(folder)
    {
        LiveViewActions::SetSnapshotFolderAsker([this](QWidget*) {
            ++asked_;
            return folder_;
        });
    }
    ~FolderChooser() { LiveViewActions::SetSnapshotFolderAsker(nullptr); }
    FolderChooser(const FolderChooser&) = delete;
    FolderChooser& operator=(const FolderChooser&) = delete;
    void SetFolder(const QString& folder) { folder_ = folder; }
    int Asked() const { return asked_; }

private:
    QString folder_;
    int asked_ = 0;
};

// "1920x1080 · 25.0 fps · 4096 kbit/s · UDP" with both rates above 0.
bool IsLiveCaption(const QString& caption, const QString& size)
{
    const QRegularExpression pattern(
        QStringLiteral("^%1 \u00b7 (\\d+\\.\\d) fps \u00b7 (\\d+) kbit/s \u00b7 UDP$")
            .arg(QRegularExpression::escape(size)));
    const QRegularExpressionMatch match = pattern.match(caption);
    return match.hasMatch() && match.captured(1).toDouble() > 0 && match.captured(2).toLongLong() > 0;
}

qint64 ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    qint64 pages = 0;
    qint64 resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace

class LiveViewDialogTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void SourcePageIsLoadedFromTheDevice();
    void ApplySendsSetcamThenEncoderWithEveryValueWhole();
    void InvalidEncoderValueIsNamedAndNothingSent_data();
    void InvalidEncoderValueIsNamedAndNothingSent();
    void ConnectShowsTheVideoInBothViewsAndDisconnectStops();
    void WrongRtspPasswordIsShownWithTheUrl();
    void StalledStreamIsShownOverThePicture();
    void VideoDroppedOverUdpComesOverTcp();
    void DisconnectAfterTheLoopEndedOnAnErrorIsHarmless();
    void ClosingWhileConnectedJoinsTheVideoThread();
    void LargeStreamsShowWholePictures_data();
    void LargeStreamsShowWholePictures();
    void ConnectsUnderACommaLocale();
    void CaptionAndSnapshotOfA1920x1080Stream();
    void GridHintConnectsAndStreamInfoIsRemembered();

private:
    // A clip of one still, camera-like picture of `size`, made once per run:
    // key frames far above 100 KB (about 200 KB at 1920x1080), and at a
    // constant quantiser every later picture equal to the first. Empty when
    // ffmpeg cannot make it.
    QString Clip(const QString& size);
    // The clip's first picture (of `size`) as the ffmpeg command-line tool
    // decodes it, turned into what the view shows (or, with `shown` = `size`,
    // the picture at its own size).
    static QImage ReferencePicture(const QString& clip, const QSize& size, const QSize& shown = kViewSize);
    QImage Shown() const;
    bool StartDevice(const QStringList& arguments = {});
    void OpenDialog();
    // Waits for the source page's load, so no reply is outstanding.
    bool WaitSourceLoaded();
    void ApplySource(const QString& bitrate, const QString& fps);

    std::unique_ptr<SimDevice> device_;
    std::unique_ptr<LogCapture> log_;
    std::unique_ptr<MessageBoxWatcher> boxes_;
    std::unique_ptr<SettingsDialog> dialog_;
    std::unique_ptr<DialogProbe> probe_;
    QTemporaryDir clips_;
    QTemporaryDir settings_; // the tool's remembered choices during the run
};

void LiveViewDialogTest::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("QEL_SIM") || qEnvironmentVariableIsEmpty("QEL_SOURCE_DIR")) {
        QSKIP("needs the device simulator (run through ctest)");
    }
#ifdef QEL_LIVEVIEW_LOOPBACK
    if (geteuid() != 0) {
        QSKIP("the simulated device serves the ports 80 and 554 of a loopback address: needs root");
    }
#endif
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
}

void LiveViewDialogTest::init()
{
    log_ = std::make_unique<LogCapture>();
    // Records of the tool's own steps; the sink's per-frame dumps stay off.
    el::Loggers::setVerboseLevel(1);
    boxes_ = std::make_unique<MessageBoxWatcher>();
}

void LiveViewDialogTest::cleanup()
{
    probe_.reset();
    dialog_.reset();
    device_.reset();
    boxes_.reset();
    log_.reset();
}

bool LiveViewDialogTest::StartDevice(const QStringList& arguments)
{
    device_ = std::make_unique<SimDevice>(
        kDeviceNamespace,
        (kDeviceNamespace.isEmpty() ? SimDevice::OnAddress(kDeviceIp) : QStringList()) + arguments,
        QStringLiteral("http,rtsp"));
    if (!device_->IsReady()) {
        qWarning("simulator: %s", qPrintable(device_->Output()));
    }
    return device_->IsReady();
}

void LiveViewDialogTest::OpenDialog()
{
    DeviceNetworkParams params;
    params.deviceName = "Gate";
    QVERIFY(StringToIpType(kDeviceIp.toStdString(), params.ip));
    dialog_ = std::make_unique<SettingsDialog>(params, nullptr);
    probe_ = std::make_unique<DialogProbe>(dialog_.get());
    QVERIFY(probe_->CountsFrames());
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
}

bool LiveViewDialogTest::WaitSourceLoaded()
{
    QPushButton* apply = Child<QPushButton>(dialog_.get(), "pushButtonApply3");
    return QTest::qWaitFor([apply] { return apply->isEnabled(); }, kReplyTimeoutMs);
}

void LiveViewDialogTest::ApplySource(const QString& bitrate, const QString& fps)
{
    Child<QLineEdit>(dialog_.get(), "lBitrate")->setText(bitrate);
    Child<QLineEdit>(dialog_.get(), "lFps")->setText(fps);
    probe_->ClearStatuses();
    log_->Clear();
    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonApply3"), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor(
        [this] {
            return probe_->Statuses().contains(QStringLiteral("Source settings were applied successfully."));
        },
        kReplyTimeoutMs));
}

void LiveViewDialogTest::SourcePageIsLoadedFromTheDevice()
{
    QVERIFY(StartDevice());
    OpenDialog();
    auto* host = Child<QLineEdit>(dialog_.get(), "lineEditSourceHost");
    auto* login = Child<QLineEdit>(dialog_.get(), "lineEditSourceLogin");
    QVERIFY(WaitSourceLoaded());
    // The simulator's default video source.
    QCOMPARE(host->text(), QStringLiteral("192.168.0.90"));
    QCOMPARE(login->text(), QStringLiteral("admin"));
    QVERIFY(Child<QLineEdit>(dialog_.get(), "lineEditSourcePasswprd")->text().isEmpty());
    QCOMPARE(Child<QComboBox>(dialog_.get(), "comboBoxModel")->currentText(), QStringLiteral("axis"));
    QVERIFY(host->isEnabled() && login->isEnabled());
    QVERIFY(boxes_->Texts().isEmpty());
}

void LiveViewDialogTest::ApplySendsSetcamThenEncoderWithEveryValueWhole()
{
    QVERIFY(StartDevice());
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    const QString password = QStringLiteral("p&w=1#2%3 4+5");
    const QString host = QStringLiteral("cam.local&port=99");
    Child<QComboBox>(dialog_.get(), "comboBoxModel")->setCurrentText(QStringLiteral("v4l2"));
    Child<QLineEdit>(dialog_.get(), "lineEditSourceHost")->setText(host);
    Child<QLineEdit>(dialog_.get(), "lineEditSourceLogin")->setText(QStringLiteral("operator"));
    Child<QLineEdit>(dialog_.get(), "lineEditSourcePasswprd")->setText(password);
    ApplySource(QStringLiteral("2048"), QStringLiteral("25"));
    QVERIFY(boxes_->Texts().isEmpty());

    const std::vector<std::string> messages = log_->Messages();
    const std::string setcam =
        kHttpSent + "http://" + kDeviceIp.toStdString() + "/qel-cgi/admin/setcam.fcgi?";
    const std::string encoder = kModalHttpSent + "http://" + kDeviceIp.toStdString() +
                                "/qel-cgi/admin/encoder.fcgi?bitrate=2048&fps=25";
    const int setcamAt = IndexOf(messages, setcam);
    QVERIFY2(setcamAt >= 0, "setcam was not sent");
    QCOMPARE(StartingWith(messages, kModalHttpSent), std::vector<std::string>{encoder});
    QVERIFY2(setcamAt < IndexOf(messages, encoder), "the encoder request went before setcam");

    // The log shows the request without its password.
    const std::string& logged = messages[static_cast<size_t>(setcamAt)];
    QVERIFY2(logged.size() > 13 && logged.compare(logged.size() - 13, 13, "&password=***") == 0,
             logged.c_str());
    for (const std::string& message : messages) {
        QVERIFY2(message.find("p%26w") == std::string::npos && message.find("p&w=1") == std::string::npos,
                 message.c_str());
    }

    VCA config;
    QVERIFY(ReadDeviceConfig(config));
    QCOMPARE(QString::fromStdString(config.videosource().model()), QStringLiteral("v4l2"));
    QCOMPARE(QString::fromStdString(config.videosource().host()), host);
    QCOMPARE(QString::fromStdString(config.videosource().login()), QStringLiteral("operator"));
    QCOMPARE(QString::fromStdString(config.videosource().password()), password);
    QVERIFY(config.ch_size() > 0);
    QCOMPARE(config.ch(0).encoder().bitrate(), 2048u);
    QCOMPARE(config.ch(0).encoder().fps(), 25u);
}

void LiveViewDialogTest::InvalidEncoderValueIsNamedAndNothingSent_data()
{
    QTest::addColumn<QString>("fps");
    QTest::newRow("above 30") << QStringLiteral("31");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("not a number") << QStringLiteral("abc");
}

void LiveViewDialogTest::InvalidEncoderValueIsNamedAndNothingSent()
{
    QFETCH(QString, fps);
    QVERIFY(StartDevice());
    VCA before;
    QVERIFY(ReadDeviceConfig(before));
    QVERIFY(before.ch_size() > 0);
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    Child<QLineEdit>(dialog_.get(), "lineEditSourcePasswprd")->setText(QStringLiteral("secret"));
    Child<QLineEdit>(dialog_.get(), "lBitrate")->setText(QStringLiteral("2048"));
    Child<QLineEdit>(dialog_.get(), "lFps")->setText(fps);
    probe_->ClearStatuses();
    log_->Clear();
    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonApply3"), Qt::LeftButton);
    QTest::qWait(500);

    // One message names the field and its range; nothing is sent and no
    // success is claimed.
    QCOMPARE(boxes_->Texts(), QStringList{QStringLiteral("FPS must be a whole number from 1 to 30")});
    QCOMPARE(dialog_->focusWidget(), Child<QWidget>(dialog_.get(), "lFps"));
    QVERIFY(StartingWith(log_->Messages(), kHttpSent).empty());
    QVERIFY(StartingWith(log_->Messages(), kModalHttpSent).empty());
    QVERIFY(!probe_->Statuses().contains(QStringLiteral("Source settings were applied successfully.")));
    VCA after;
    QVERIFY(ReadDeviceConfig(after));
    QCOMPARE(after.videosource().password(), before.videosource().password());
    QCOMPARE(after.ch(0).encoder().bitrate(), before.ch(0).encoder().bitrate());
    QCOMPARE(after.ch(0).encoder().fps(), before.ch(0).encoder().fps());
}

void LiveViewDialogTest::ConnectShowsTheVideoInBothViewsAndDisconnectStops()
{
    QVERIFY(StartDevice());
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* tabs = Child<QTabWidget>(dialog_.get(), "tabWidget");
    auto* view1 = Child<DrawableView>(dialog_.get(), "videoWidget1");
    auto* view2 = Child<DrawableView>(dialog_.get(), "videoWidget2");
    auto* connect1 = Child<QPushButton>(dialog_.get(), "pushButtonConnect1");
    auto* connect2 = Child<QPushButton>(dialog_.get(), "pushButtonConnect2");
    auto* disconnect1 = Child<QPushButton>(dialog_.get(), "pushButtonDisconnect1");
    auto* disconnect2 = Child<QPushButton>(dialog_.get(), "pushButtonDisconnect2");
    auto* applyGrid = Child<QPushButton>(dialog_.get(), "pushButtonApplyGrid");
    // Grid's Apply follows the video once the device's camera position is in.
    tabs->setCurrentWidget(Child<QWidget>(dialog_.get(), "tabGrid"));
    QTRY_COMPARE(dialog_->Form()->spinBoxFieldOfView->value(), 60);
    tabs->setCurrentWidget(Child<QWidget>(dialog_.get(), "tabZones"));
    QVERIFY(connect1->isEnabled() && connect2->isEnabled());
    QVERIFY(!disconnect1->isEnabled() && !disconnect2->isEnabled());
    QVERIFY(!applyGrid->isEnabled());
    const QImage blank1 = view1->grab().toImage();
    const QImage blank2 = view2->grab().toImage();

    for (int connection = 0; connection < 2; ++connection) {
        // The second connection starts right after the first one's stop.
        QTest::mouseClick(connection == 0 ? connect1 : connect2, Qt::LeftButton);
        QVERIFY(!connect1->isEnabled() && !connect2->isEnabled());
        QVERIFY(disconnect1->isEnabled() && disconnect2->isEnabled());
        QVERIFY(applyGrid->isEnabled());
        QVERIFY2(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs),
                 qPrintable(QString::number(probe_->Frames())));

        // Both views show the same live picture: taken in one turn of the
        // event loop, they hold the same one (the pages lay the views out
        // in sizes of their own).
        const QImage shown1 = view1->grab().toImage();
        const QImage shown2 = view2->grab().toImage();
        QVERIFY2(SameShare(shown1, blank1) < 0.5, "the Zones view shows no picture");
        QVERIFY2(SameShare(shown2, blank2) < 0.5, "the Grid view shows no picture");
        QVERIFY2(SameShare(view1->image(), view2->image()) > 0.5, "the two views show different pictures");
        // And it is live. The rates are figures for the reader, not checks:
        // units as the receiver hands them on, pictures as the views get them.
        el::Loggers::setVerboseLevel(8);
        log_->Clear();
        QElapsedTimer live;
        live.start();
        const int unitsBefore = probe_->Frames();
        QVERIFY(probe_->WaitFrames(75, kFirstFramesTimeoutMs));
        const double seconds = static_cast<double>(std::max<qint64>(1, live.elapsed())) / 1000.0;
        el::Loggers::setVerboseLevel(1);
        const auto pictures = StartingWith(log_->Messages(), "Received one more frame ");
        QVERIFY(!pictures.empty());
        qInfo("live view: %.1f pictures/s (%s), %.1f NAL units/s, over %.2f s", pictures.size() / seconds,
              pictures.back().c_str() + std::strlen("Received one more frame "),
              (probe_->Frames() - unitsBefore) / seconds, seconds);
        QVERIFY(SameShare(view1->grab().toImage(), shown1) < 1.0);
        tabs->setCurrentWidget(Child<QWidget>(dialog_.get(), "tabGrid"));

        probe_->ClearStatuses();
        log_->Clear();
        QTest::mouseClick(disconnect1, Qt::LeftButton);
        QVERIFY(!disconnect1->isEnabled());
        if (connection == 1) {
            // The Grid page's Disconnect is still enabled while the stop runs;
            // pressing it again changes nothing.
            QVERIFY(disconnect2->isEnabled());
            QTest::mouseClick(disconnect2, Qt::LeftButton);
        }
        QVERIFY(QTest::qWaitFor([connect1] { return connect1->isEnabled(); }, kStopTimeoutMs));
        QVERIFY(connect2->isEnabled());
        QVERIFY(!disconnect1->isEnabled() && !disconnect2->isEnabled());
        QVERIFY(!applyGrid->isEnabled());
        QCOMPARE(probe_->Statuses(), QStringList{QStringLiteral("RtspDevice stopped by user")});
        QVERIFY(boxes_->Texts().isEmpty());
        QVERIFY(log_->Contains("rtspThread exited normally"));
        QVERIFY(log_->Contains("RtspDevice is deleted"));
        // After the stop the views keep the last picture.
        QVERIFY(SameShare(view1->grab().toImage(), blank1) < 0.5);
    }
}

void LiveViewDialogTest::StalledStreamIsShownOverThePicture()
{
    // The device keeps the session open but stops its video after 2 s.
    QVERIFY(StartDevice({QStringLiteral("--rtsp-stop-video-after"), QStringLiteral("2")}));
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* view1 = Child<DrawableView>(dialog_.get(), "videoWidget1");
    auto* view2 = Child<DrawableView>(dialog_.get(), "videoWidget2");
    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonConnect1"), Qt::LeftButton);
    QVERIFY(probe_->WaitFrames(5, kFirstFramesTimeoutMs));
    QVERIFY(view1->overlayText().isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(view1->overlayText().startsWith(QStringLiteral("No video for ")),
                             kStopTimeoutMs);
    QCOMPARE(view2->overlayText(), view1->overlayText());
    QVERIFY(boxes_->Texts().isEmpty()); // the connection itself goes on

    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonDisconnect1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(probe_->Statuses().contains(QStringLiteral("RtspDevice stopped by user")),
                             kStopTimeoutMs);
    QVERIFY(view1->overlayText().isEmpty() && view2->overlayText().isEmpty());
}

void LiveViewDialogTest::VideoDroppedOverUdpComesOverTcp()
{
    // The device's UDP video never arrives, as behind a firewall.
    QVERIFY(StartDevice({QStringLiteral("--rtsp-drop-udp")}));
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* liveView = dialog_->findChild<LiveView*>();
    QVERIFY(liveView != nullptr);
    QVERIFY(liveView->TransportText().isEmpty());
    auto* view1 = Child<DrawableView>(dialog_.get(), "videoWidget1");
    const QImage blank = view1->grab().toImage();
    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonConnect1"), Qt::LeftButton);
    QCOMPARE(liveView->TransportText(), QStringLiteral("UDP"));
    QVERIFY2(probe_->WaitFrames(kFramesToSee, 5000), qPrintable(QString::number(probe_->Frames())));
    QCOMPARE(liveView->TransportText(), QStringLiteral("TCP"));
    QVERIFY2(SameShare(view1->grab().toImage(), blank) < 0.5, "the view shows no picture");
    QVERIFY(boxes_->Texts().isEmpty());

    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonDisconnect1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(probe_->Statuses().contains(QStringLiteral("RtspDevice stopped by user")),
                             kStopTimeoutMs);
    QVERIFY(liveView->TransportText().isEmpty());
}

void LiveViewDialogTest::WrongRtspPasswordIsShownWithTheUrl()
{
    QVERIFY(StartDevice({QStringLiteral("--rtsp-password"), QStringLiteral("not-vbnq")}));
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* connect1 = Child<QPushButton>(dialog_.get(), "pushButtonConnect1");
    probe_->ClearStatuses();
    QTest::mouseClick(connect1, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return !boxes_->Texts().isEmpty(); }, kFirstFramesTimeoutMs));
    const QString expected = QString::fromStdString("RtspDevice stopped: " + kRtspUrl +
                                                    " Failed to get a SDP description: 401 Unauthorized");
    QCOMPARE(boxes_->Texts(), QStringList{expected});
    QCOMPARE(boxes_->Titles(), QStringList{QStringLiteral("Error")});
    QCOMPARE(probe_->Statuses(), QStringList{expected});
    QVERIFY(connect1->isEnabled() && Child<QPushButton>(dialog_.get(), "pushButtonConnect2")->isEnabled());
    QVERIFY(!Child<QPushButton>(dialog_.get(), "pushButtonDisconnect2")->isEnabled());
    QCOMPARE(probe_->Frames(), 0);
}

void LiveViewDialogTest::DisconnectAfterTheLoopEndedOnAnErrorIsHarmless()
{
    QVERIFY(StartDevice({QStringLiteral("--rtsp-password"), QStringLiteral("not-vbnq")}));
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* connect1 = Child<QPushButton>(dialog_.get(), "pushButtonConnect1");
    auto* disconnect2 = Child<QPushButton>(dialog_.get(), "pushButtonDisconnect2");
    log_->Clear();
    probe_->ClearStatuses();
    QTest::mouseClick(connect1, Qt::LeftButton);
    // Keep the GUI thread from handling the end until the video thread has
    // reported it: the loop has ended, its stop notice waits in the queue.
    for (int waited = 0; waited < kFirstFramesTimeoutMs && !log_->Contains("Will emit RtspDeviceStopped...");
         waited += 10) {
        QThread::msleep(10);
    }
    QVERIFY(log_->Contains("Will emit RtspDeviceStopped..."));
    QVERIFY(disconnect2->isEnabled());
    disconnect2->click();
    disconnect2->click();
    QVERIFY(QTest::qWaitFor([connect1] { return connect1->isEnabled(); }, kStopTimeoutMs));
    QVERIFY(!disconnect2->isEnabled());
    // The user asked for the stop last: it counts as theirs.
    QCOMPARE(probe_->Statuses(), QStringList{QStringLiteral("RtspDevice stopped by user")});
    QVERIFY(boxes_->Texts().isEmpty());
}

void LiveViewDialogTest::ClosingWhileConnectedJoinsTheVideoThread()
{
    QVERIFY(StartDevice());
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonConnect2"), Qt::LeftButton);
    QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
    log_->Clear();
    probe_.reset();
    dialog_->close();
    dialog_.reset();
    // The loop had ended before the dialog was gone; its queued stop notice
    // went with the dialog.
    QVERIFY(log_->Contains("Run completed"));
    QVERIFY(!log_->Contains("RtspDevice is deleted"));
    QTest::qWait(200);
    QVERIFY(!log_->Contains("RtspDevice is deleted"));
    QVERIFY(boxes_->Texts().isEmpty());
}

QString LiveViewDialogTest::Clip(const QString& size)
{
    const QString path = clips_.filePath(size + QStringLiteral(".h264"));
    if (QFileInfo::exists(path)) {
        return path;
    }
    const QStringList arguments{QStringLiteral("-v"),
                                QStringLiteral("error"),
                                QStringLiteral("-y"),
                                QStringLiteral("-f"),
                                QStringLiteral("lavfi"),
                                QStringLiteral("-i"),
                                QStringLiteral("testsrc2=size=%1:rate=25").arg(size),
                                QStringLiteral("-vf"),
                                QStringLiteral("noise=alls=16:allf=u,loop=loop=-1:size=1:start=0"),
                                QStringLiteral("-frames:v"),
                                QStringLiteral("25"),
                                QStringLiteral("-c:v"),
                                QStringLiteral("libx264"),
                                QStringLiteral("-profile:v"),
                                QStringLiteral("main"),
                                QStringLiteral("-bf"),
                                QStringLiteral("0"),
                                QStringLiteral("-g"),
                                QStringLiteral("25"),
                                QStringLiteral("-preset"),
                                QStringLiteral("ultrafast"),
                                QStringLiteral("-qp"),
                                QStringLiteral("30"),
                                QStringLiteral("-pix_fmt"),
                                QStringLiteral("yuv420p"),
                                QStringLiteral("-f"),
                                QStringLiteral("h264"),
                                path};
    return QProcess::execute(QStringLiteral("ffmpeg"), arguments) == 0 ? path : QString();
}

QImage LiveViewDialogTest::ReferencePicture(const QString& clip, const QSize& size, const QSize& shown)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), clip,
                  QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-pix_fmt"),
                  QStringLiteral("yuv420p"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
                  QStringLiteral("-")});
    ffmpeg.waitForFinished(60000);
    const QByteArray yuv = ffmpeg.readAllStandardOutput();
    const int width = size.width();
    const int height = size.height();
    if (yuv.size() != width * height * 3 / 2) {
        return QImage();
    }
    const auto* luma = reinterpret_cast<const uchar*>(yuv.constData());
    const uchar* blue = luma + width * height;
    const uchar* red = blue + width * height / 4;
    // The view shows the decoded sample under the centre of each of its
    // pixels, a pair of pixels with the chroma of its first, in the colours
    // of the conversion formula.
    QImage picture(shown, QImage::Format_RGB888);
    for (int y = 0; y < shown.height(); ++y) {
        const int row = (2 * y + 1) * height / (2 * shown.height());
        for (int x = 0; x < shown.width(); ++x) {
            const int column = (2 * x + 1) * width / (2 * shown.width());
            const int pairColumn = (2 * (x - x % 2) + 1) * width / (2 * shown.width());
            const int chroma = (row / 2) * (width / 2) + pairColumn / 2;
            uchar* pixel = picture.scanLine(y) + 3 * x;
            kro_v4l2::YUVToRgb(luma[row * width + column], blue[chroma], red[chroma], pixel[2], pixel[1],
                               pixel[0]);
        }
    }
    return picture;
}

QImage LiveViewDialogTest::Shown() const
{
    return Child<DrawableView>(dialog_.get(), "videoWidget1")->image();
}

void LiveViewDialogTest::LargeStreamsShowWholePictures_data()
{
    QTest::addColumn<QString>("size");
    QTest::newRow("1920x1080, foreign packets") << QStringLiteral("1920x1080");
    QTest::newRow("3840x2160, stalled GUI thread") << QStringLiteral("3840x2160");
}

void LiveViewDialogTest::LargeStreamsShowWholePictures()
{
    QFETCH(QString, size);
    const QString clip = Clip(size);
    if (clip.isEmpty()) {
        QSKIP("the ffmpeg command-line tool with libx264 is needed to make the clip");
    }
    const QStringList sides = size.split(QLatin1Char('x'));
    const QImage reference = ReferencePicture(clip, QSize(sides[0].toInt(), sides[1].toInt()));
    QVERIFY(!reference.isNull());
    QVERIFY(StartDevice({QStringLiteral("--rtsp-clip"), clip}));
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* connect1 = Child<QPushButton>(dialog_.get(), "pushButtonConnect1");
    QTest::mouseClick(connect1, Qt::LeftButton);
    QVERIFY2(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs),
             qPrintable(QString::number(probe_->Frames())));
    QCOMPARE(Shown().size(), kViewSize);
    // Exactly the reference decoder's picture: whole, and in the formula's colours.
    QVERIFY(Shown().convertToFormat(QImage::Format_RGB888) == reference);

    if (size == QStringLiteral("1920x1080")) {
        // Another host sends to the video ports: nothing changes.
        const std::vector<quint16> ports = OwnUdpPorts();
        QVERIFY(ports.size() >= 2);
        SendForeignPackets(ports);
        QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
        QVERIFY(Shown().convertToFormat(QImage::Format_RGB888) == reference);
    } else {
        // The GUI thread stalls for 5 s while the stream goes on: what waits
        // for it stays bounded, and whole pictures follow.
        auto* receiver = dialog_->findChild<RtspFrameReceiver*>();
        const qint64 residentBefore = ResidentBytes();
        QThread::sleep(5);
        const qint64 residentStalled = ResidentBytes();
        QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
        qInfo("resident memory %+.1f MB over the stall, %.1f MB waited at most, %zu pictures dropped",
              (residentStalled - residentBefore) / 1048576.0, receiver->HandOver().PeakBytes() / 1048576.0,
              receiver->HandOver().DroppedPictures());
        QVERIFY(receiver->HandOver().PeakBytes() <= FrameHandOver::kMaxBytes);
        QVERIFY(residentStalled - residentBefore < 64 * 1048576);
        QVERIFY(Shown().convertToFormat(QImage::Format_RGB888) == reference);
    }
    QVERIFY(boxes_->Texts().isEmpty());

    // Disconnect ends the session on the device too.
    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonDisconnect1"), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([connect1] { return connect1->isEnabled(); }, kStopTimeoutMs));
    QVERIFY(device_->WaitForOutput(QStringLiteral("rtsp TEARDOWN received"), kStopTimeoutMs));
    QCOMPARE(probe_->Statuses().last(), QStringLiteral("RtspDevice stopped by user"));
}

void LiveViewDialogTest::ConnectsUnderACommaLocale()
{
    // A German locale of our own making, so none need be installed.
    const QString locales = clips_.filePath(QStringLiteral("locales"));
    QDir().mkpath(locales);
    if (QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                           QStringLiteral("UTF-8"), locales + QStringLiteral("/de_DE.UTF-8")}) > 1) {
        QSKIP("localedef cannot make de_DE.UTF-8");
    }
    qputenv("LOCPATH", locales.toLocal8Bit());
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        QSKIP("the de_DE.UTF-8 locale cannot be used");
    }
    char number[16] = {};
    std::snprintf(number, sizeof(number), "%.1f", 0.5);
    const bool comma = std::string(number) == "0,5";
    QVERIFY(StartDevice());
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonConnect2"), Qt::LeftButton);
    const bool shown = probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs);
    std::setlocale(LC_ALL, previous.c_str());
    QVERIFY2(comma, number);
    QVERIFY2(shown, qPrintable(boxes_->Texts().join(QLatin1Char('\n'))));
    QVERIFY(boxes_->Texts().isEmpty());
}

void LiveViewDialogTest::CaptionAndSnapshotOfA1920x1080Stream()
{
    const QString clip = Clip(QStringLiteral("1920x1080"));
    if (clip.isEmpty()) {
        QSKIP("the ffmpeg command-line tool with libx264 is needed to make the clip");
    }
    const QSize size(1920, 1080);
    const QImage reference = ReferencePicture(clip, size, size);
    QVERIFY(!reference.isNull());
    QVERIFY(StartDevice({QStringLiteral("--rtsp-clip"), clip}));
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* view1 = Child<DrawableView>(dialog_.get(), "videoWidget1");
    auto* view2 = Child<DrawableView>(dialog_.get(), "videoWidget2");
    auto* info1 = Child<QCheckBox>(dialog_.get(), "checkBoxStreamInfo1");
    auto* info2 = Child<QCheckBox>(dialog_.get(), "checkBoxStreamInfo2");
    auto* snapshot1 = Child<QPushButton>(dialog_.get(), "pushButtonSnapshot1");
    auto* snapshot2 = Child<QPushButton>(dialog_.get(), "pushButtonSnapshot2");
    info1->setChecked(true);
    QVERIFY(info2->isChecked());
    QVERIFY(!snapshot1->isEnabled() && !snapshot2->isEnabled());

    auto* connect1 = Child<QPushButton>(dialog_.get(), "pushButtonConnect1");
    QTest::mouseClick(connect1, Qt::LeftButton);
    QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
    QVERIFY(snapshot1->isEnabled() && snapshot2->isEnabled());
    // The stream's own size, not the views'; both rates counted.
    QTRY_VERIFY2_WITH_TIMEOUT(IsLiveCaption(view1->caption(), QStringLiteral("1920x1080")),
                              qPrintable(view1->caption()), kStopTimeoutMs);
    QCOMPARE(view2->caption(), view1->caption());
    qInfo("caption: %s", qPrintable(view1->caption()));
    // Drawn over the picture, not into it.
    QVERIFY(Shown().convertToFormat(QImage::Format_RGB888) ==
            ReferencePicture(clip, size).convertToFormat(QImage::Format_RGB888));
    const QImage withCaption = view1->grab().toImage();

    QTest::mouseClick(info1, Qt::LeftButton);
    QVERIFY(!info1->isChecked() && !info2->isChecked());
    QVERIFY(view1->caption().isEmpty() && view2->caption().isEmpty());
    QTest::qWait(1200); // the caption's refreshes bring nothing back
    QVERIFY(view1->caption().isEmpty() && view2->caption().isEmpty());
    const QImage withoutCaption = view1->grab().toImage();
    const double same = SameShare(withCaption, withoutCaption);
    QVERIFY2(same > 0.9 && same < 1.0, qPrintable(QString::number(same)));

    // The first snapshot asks for the folder, later ones do not, and none
    // replaces another.
    QTemporaryDir folder;
    FolderChooser chooser(folder.path());
    probe_->ClearStatuses();
    snapshot1->click();
    QCOMPARE(chooser.Asked(), 1);
    QVERIFY2(boxes_->Texts().isEmpty(), qPrintable(boxes_->Texts().join(QLatin1Char('\n'))));
    QStringList saved = QDir(folder.path()).entryList(QDir::Files);
    QCOMPARE(saved.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^Gate-\\d{8}-\\d{6}\\.png$")).match(saved[0]).hasMatch(),
             qPrintable(saved[0]));
    QCOMPARE(probe_->Statuses(), QStringList{QStringLiteral("Snapshot saved: ") + folder.filePath(saved[0])});
    const QImage snapshot(folder.filePath(saved[0]));
    QCOMPARE(snapshot.size(), size);
    QVERIFY(snapshot.convertToFormat(QImage::Format_RGB888) == reference);

    snapshot2->click();
    QCOMPARE(chooser.Asked(), 1);
    saved = QDir(folder.path()).entryList(QDir::Files);
    QCOMPARE(saved.size(), 2);
    QVERIFY(QImage(folder.filePath(saved[1])).convertToFormat(QImage::Format_RGB888) == reference);

    // The folder is gone: asked again; one nobody may write into: the
    // failure is said, never a success.
    QVERIFY(folder.remove());
    chooser.SetFolder(QStringLiteral("/sys/kernel"));
    probe_->ClearStatuses();
    snapshot1->click();
    QCOMPARE(chooser.Asked(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(boxes_->Texts().size(), 1, kReplyTimeoutMs);
    QVERIFY2(boxes_->Texts()[0].startsWith(QStringLiteral("Snapshot not saved to /sys/kernel/Gate-")),
             qPrintable(boxes_->Texts()[0]));
    QCOMPARE(probe_->Statuses(), boxes_->Texts());
    QVERIFY(QDir(QStringLiteral("/sys/kernel")).entryList({QStringLiteral("Gate-*")}).isEmpty());
    // A folder that failed is asked for again.
    QTemporaryDir other;
    chooser.SetFolder(other.path());
    boxes_->Clear();
    snapshot1->click();
    QCOMPARE(chooser.Asked(), 3);
    QCOMPARE(QDir(other.path()).entryList(QDir::Files).size(), 1);
    QVERIFY(boxes_->Texts().isEmpty());

    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonDisconnect1"), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([connect1] { return connect1->isEnabled(); }, kStopTimeoutMs));
    QVERIFY(!snapshot1->isEnabled() && !snapshot2->isEnabled());
}

void LiveViewDialogTest::GridHintConnectsAndStreamInfoIsRemembered()
{
    QVERIFY(StartDevice());
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    Child<QCheckBox>(dialog_.get(), "checkBoxStreamInfo2")->setChecked(false);
    dialog_.reset();
    OpenDialog();
    QVERIFY(WaitSourceLoaded());
    auto* info1 = Child<QCheckBox>(dialog_.get(), "checkBoxStreamInfo1");
    auto* info2 = Child<QCheckBox>(dialog_.get(), "checkBoxStreamInfo2");
    QVERIFY(!info1->isChecked() && !info2->isChecked());

    auto* tabs = Child<QTabWidget>(dialog_.get(), "tabWidget");
    tabs->setCurrentWidget(Child<QWidget>(dialog_.get(), "tabGrid"));
    auto* hint = Child<QWidget>(dialog_.get(), "widgetGridHint");
    QVERIFY(hint->isVisible());
    QCOMPARE(Child<QLabel>(dialog_.get(), "labelGridHint")->text(),
             QStringLiteral("Connect the video to calibrate the camera"));
    QCOMPARE(Child<QLabel>(dialog_.get(), "labelGridHint")->textFormat(), Qt::PlainText);
    // Above the page's scrolling part: in sight on a small screen.
    QVERIFY(hint->mapTo(dialog_.get(), QPoint(0, 0)).y() <
            Child<QWidget>(dialog_.get(), "scrollAreaGrid")->mapTo(dialog_.get(), QPoint(0, 0)).y());

    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonGridHintConnect"), Qt::LeftButton);
    QVERIFY(!hint->isVisible());
    QVERIFY(!Child<QPushButton>(dialog_.get(), "pushButtonConnect2")->isEnabled());
    QVERIFY(probe_->WaitFrames(kFramesToSee, kFirstFramesTimeoutMs));
    auto* view2 = Child<DrawableView>(dialog_.get(), "videoWidget2");
    QTest::qWait(1200);
    QVERIFY(view2->caption().isEmpty());
    QTest::mouseClick(info2, Qt::LeftButton);
    QVERIFY(info1->isChecked());
    QVERIFY2(IsLiveCaption(view2->caption(), QStringLiteral("720x576")), qPrintable(view2->caption()));

    QTest::mouseClick(Child<QPushButton>(dialog_.get(), "pushButtonDisconnect2"), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([hint] { return hint->isVisible(); }, kStopTimeoutMs));
    QVERIFY(view2->caption().isEmpty());
    QVERIFY(boxes_->Texts().isEmpty());
}

QTEST_MAIN(LiveViewDialogTest)
#include "LiveViewDialogTest.moc"
