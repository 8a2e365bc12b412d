#include "LiveView.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"
#include "LiveDecoder.h"
#include "RtspDevice.h"
#include "RtspDeviceStopOnErrorHandler.h"
#include "RtspFrameReceiver.h"
#include "SilentStreamWatch.h"

#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QSize>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cassert>
#include <easylogging++.h>
#include <utility>

namespace {

const AssignmentVerifier vf;

// The device's live stream: its own path on the RTSP default port, with
// fixed credentials that the URL does not carry.
const char* const kRtspPath = "/ch0_unicast_firststream";
const char* const kRtspUser = "root";
const char* const kRtspPassword = "vbnq";
constexpr int kRtspVerbose = 1;

// Often enough for the rates to follow the stream, seldom enough to be read.
constexpr int kCaptionTickMs = 500;

// DrawableView draws its overlay line in a box 8 px in from the picture's
// left edge with 8 px of padding on either side; 8 px more keep the box off
// the right edge.
constexpr int kBannerFramePx = 32;

// The font DrawableView draws its overlay line in.
QFont BannerFont(const QWidget& view)
{
    QFont font = view.font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * 1.5);
    } else {
        font.setPixelSize(font.pixelSize() * 3 / 2);
    }
    font.setBold(true);
    return font;
}

// The client's error texts begin with the stream's URL; the reason shown
// over the picture and in the status line goes without it.
QString ReasonOf(const std::string& error, const std::string& url)
{
    std::string reason = error;
    if (reason.compare(0, url.size() + 1, url + " ") == 0) {
        reason.erase(0, url.size() + 1);
    }
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) {
        reason.pop_back();
    }
    return QString::fromStdString(reason);
}

} // namespace

LiveView::LiveView(QObject* parent, std::vector<DrawableView*> views)
    : QObject(parent), views_(std::move(views))
{
    assert(!views_.empty());
    frameReceiver_ = new RtspFrameReceiver(this);
    silentStreamWatch_ = new SilentStreamWatch(views_, this);
    for (DrawableView* view : views_) {
        view->installEventFilter(this);
    }
    captionTick_.setInterval(kCaptionTickMs);
    vf = connect(&captionTick_, SIGNAL(timeout()), this, SLOT(UpdateCaption()));
    retryTimer_ = new QTimer(this);
    retryTimer_->setSingleShot(true);
    vf = connect(this, SIGNAL(RtspDeviceStopped()), this, SLOT(OnRtspDeviceStopped()));
    vf = connect(frameReceiver_, SIGNAL(FrameReceived(const QByteArray&, kro::UnitKind)), this,
                 SLOT(OnFrameReceived(const QByteArray&, kro::UnitKind)));
    vf = connect(silentStreamWatch_, SIGNAL(SilenceLimitReached()), this, SLOT(OnSilenceLimitReached()));
    vf = connect(retryTimer_, SIGNAL(timeout()), this, SLOT(OnRetryTimer()));
}

LiveView::~LiveView()
{
    // The video thread still uses the client and the frame receiver: stop it
    // and wait for it before anything goes. Its last queued stop notice is
    // dropped with this object.
    retryTimer_->stop();
    if (rtspDevice_) {
        rtspDevice_->SetStopFlag();
    }
    if (rtspThread_.joinable()) {
        rtspThread_.join();
    }
    rtspDevice_.reset();
    decoder_.reset();
}

bool LiveView::IsConnected() const
{
    return active_;
}

void LiveView::SetDeviceAddress(const std::string& deviceAddress)
{
    deviceAddress_ = deviceAddress;
}

QString LiveView::TransportText() const
{
    return rtspDevice_ ? QString::fromStdString(rtspDevice_->TransportName()) : QString();
}

bool LiveView::Connect(const std::string& deviceAddress, QString& errorMessage)
{
    assert(!active_);
    deviceAddress_ = deviceAddress;
    pictureShown_ = false;
    reconnecting_ = false;
    if (!StartConnection(errorMessage)) {
        return false;
    }
    active_ = true;
    return true;
}

bool LiveView::StartConnection(QString& errorMessage)
{
    assert(!rtspDevice_);
    assert(!rtspThread_.joinable());
    stoppedByUser_ = false;
    endedBySilence_ = false;
    const std::string url = "rtsp://" + deviceAddress_ + kRtspPath;

    // Without an H.264 decoder there is nothing to show. The views stretch
    // every picture to their own size: larger pictures are scaled down to it
    // while they are converted, so no pixel is converted that is not shown.
    auto decoder = std::make_unique<LiveDecoder>(views_.front()->maximumSize());
    if (!decoder->Start(errorMessage)) {
        return false;
    }
    vf = connect(decoder.get(), SIGNAL(PictureReady()), this, SLOT(OnPictureReady()));

    // The handler belongs to this connection alone: a later connection never
    // reports an earlier one's error.
    stopper_ = std::make_unique<RtspDeviceStopOnErrorHandler>();
    rtspDevice_ =
        std::make_unique<RtspDevice>(url.c_str(), kRtspUser, kRtspPassword, kRtspVerbose, nullptr, 0);
    rtspDevice_->AddFrameObserver(frameReceiver_);
    rtspDevice_->SetErrorHandler(stopper_.get());
    decoder_ = std::move(decoder);

    VLOG(1) << "Will run RtspDevice " << rtspDevice_.get() << " in rtspThread for url " << url
            << " rtspVerbose: " << kRtspVerbose;
    rtspThread_ = std::thread(&LiveView::RunRtspDevice, this);
    silentStreamWatch_->Start();
    streamFacts_.Reset();
    streamClock_.start();
    connectionPictures_ = false;
    captionTick_.start();
    return true;
}

void LiveView::RunRtspDevice()
{
    rtspDevice_->Run();

    VLOG(1) << "Will emit RtspDeviceStopped...";
    emit RtspDeviceStopped();
}

void LiveView::Disconnect()
{
    if (!active_) {
        return; // the stop has been handled already
    }
    stoppedByUser_ = true;
    if (rtspDevice_) {
        // A second Disconnect before the stop has been handled asks the
        // ended loop to stop once more, which changes nothing.
        rtspDevice_->SetStopFlag();
        return;
    }
    // Waiting to reconnect: nothing runs that must be waited for.
    Finish(QString());
}

void LiveView::OnRtspDeviceStopped()
{
    assert(rtspDevice_);
    assert(rtspThread_.joinable());
    VLOG(1) << "RtspDevice stopped, attempting to join rtspThread " << rtspThread_.get_id() << "...";
    rtspThread_.join();
    VLOG(1) << "rtspThread exited normally";
    // Frames of this connection still waiting are not shown any more.
    frameReceiver_->ClearWaitingFrames();
    const std::string error = stopper_->GetLastError();
    const bool final = rtspDevice_->EndIsFinal();
    const std::string url = rtspDevice_->Url();

    rtspDevice_.reset();
    stopper_.reset();
    decoder_.reset();
    VLOG(1) << "RtspDevice is deleted";
    captionTick_.stop();
    connectionPictures_ = false;
    streamFacts_.Reset();
    SetCaption(QString());

    if (stoppedByUser_) {
        Finish(QString());
        return;
    }
    if (!pictureShown_ || final) {
        Finish(QString::fromStdString(error));
        return;
    }
    QString reason = endedBySilence_ ? tr("No picture for %1 s").arg(SilentStreamWatch::kEndAfterMs / 1000)
                                     : ReasonOf(error, url);
    if (reason.isEmpty()) {
        reason = tr("The stream ended");
    }
    LOG(INFO) << "Live video of " << deviceAddress_ << " ended (" << reason.toStdString()
              << "), reconnecting";
    // The first retry comes soon: a closed connection may be a short hitch.
    retryTimer_->start(reconnecting_ ? kRetryMs : kFirstRetryMs);
    reconnecting_ = true;
    silentStreamWatch_->ShowReconnecting(reason);
    // The line the watch wrote is fitted to the views.
    reconnectBanner_ = views_.front()->overlayText();
    FitReconnectBanner();
    emit Reconnecting(reason);
}

void LiveView::OnRetryTimer()
{
    if (!active_ || rtspDevice_) {
        return;
    }
    QString error;
    if (!StartConnection(error)) {
        Finish(error);
    }
}

void LiveView::OnSilenceLimitReached()
{
    // Before the first picture the client's own rules decide, as for any
    // connection that never worked.
    if (!rtspDevice_ || !pictureShown_ || stoppedByUser_) {
        return;
    }
    endedBySilence_ = true;
    rtspDevice_->SetStopFlag();
}

void LiveView::FitReconnectBanner()
{
    for (DrawableView* view : views_) {
        const int width = std::max(0, view->width() - kBannerFramePx);
        view->setOverlayText(
            QFontMetrics(BannerFont(*view)).elidedText(reconnectBanner_, Qt::ElideMiddle, width));
        // As plain text: the reason may quote what the device sent.
        view->setToolTip(Qt::convertFromPlainText(reconnectBanner_));
        view->update();
    }
}

void LiveView::ClearReconnectBanner()
{
    reconnectBanner_.clear();
    for (DrawableView* view : views_) {
        view->setToolTip(QString());
    }
}

bool LiveView::eventFilter(QObject* watched, QEvent* event)
{
    if (!reconnectBanner_.isEmpty() &&
        (event->type() == QEvent::Resize || event->type() == QEvent::FontChange)) {
        FitReconnectBanner();
    }
    return QObject::eventFilter(watched, event);
}

void LiveView::Finish(const QString& error)
{
    retryTimer_->stop();
    silentStreamWatch_->Stop();
    ClearReconnectBanner();
    active_ = false;
    reconnecting_ = false;
    emit Stopped(error);
}

void LiveView::OnFrameReceived(const QByteArray& bytes, kro::UnitKind kind)
{
    if (!decoder_) {
        return; // a frame of a connection whose stop has been handled
    }
    streamFacts_.AddBytes(streamClock_.elapsed(), bytes.size());
    decoder_->Push(bytes, kind);
}

void LiveView::OnPictureReady()
{
    // A picture of a connection whose stop has been handled went with its
    // decoder; once the user or the silence watch has asked the connection
    // to stop, nothing more of it is shown.
    if (!decoder_ || stoppedByUser_ || endedBySilence_) {
        return;
    }
    const QImage image = decoder_->TakePicture();
    if (image.isNull()) {
        return;
    }
    for (DrawableView* view : views_) {
        view->setImage(image);
    }
    for (DrawableView* view : views_) {
        view->update();
    }
    silentStreamWatch_->PictureShown();
    if (!reconnectBanner_.isEmpty()) {
        ClearReconnectBanner();
    }
    streamFacts_.AddPicture(streamClock_.elapsed());
    pictureShown_ = true;
    if (!connectionPictures_) {
        connectionPictures_ = true;
        UpdateCaption();
        emit PicturesShown();
    }
    if (reconnecting_) {
        reconnecting_ = false;
        LOG(INFO) << "Live video of " << deviceAddress_ << " is back";
        emit Reconnected();
    }
    const QSize ownSize = decoder_->ShownPictureSize();
    VLOG(8) << "Received one more frame " << ownSize.width() << "x" << ownSize.height();
}

void LiveView::SetStreamInfoShown(bool shown)
{
    streamInfoShown_ = shown;
    UpdateCaption();
}

QImage LiveView::CurrentPicture() const
{
    if (!decoder_ || !connectionPictures_) {
        return QImage();
    }
    return decoder_->ShownPictureAtOwnSize();
}

void LiveView::UpdateCaption()
{
    const QSize size =
        streamInfoShown_ && connectionPictures_ && decoder_ ? decoder_->ShownPictureSize() : QSize();
    if (size.isEmpty()) {
        SetCaption(QString());
        return;
    }
    const qint64 now = streamClock_.elapsed();
    SetCaption(StreamFacts::CaptionText(size.width(), size.height(), streamFacts_.PicturesPerSecond(now),
                                        streamFacts_.KilobitsPerSecond(now), TransportText()));
}

void LiveView::SetCaption(const QString& text)
{
    for (DrawableView* view : views_) {
        if (view->caption() != text) {
            view->setCaption(text);
            view->update();
        }
    }
}
