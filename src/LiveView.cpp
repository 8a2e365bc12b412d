#include "LiveView.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"
#include "PictureToImage.h"
#include "RtspDevice.h"
#include "RtspDeviceStopOnErrorHandler.h"
#include "RtspFrameReceiver.h"
#include "SilentStreamWatch.h"
#include "X264Decoder.h"

#include <QImage>
#include <QSize>
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

} // namespace

LiveView::LiveView(QObject* parent, std::vector<DrawableView*> views)
    : QObject(parent), views_(std::move(views))
{
    assert(!views_.empty());
    // Frames are queued across threads with their descriptor.
    qRegisterMetaType<kro::ImageDescr>("kro::ImageDescr");
    frameReceiver_ = new RtspFrameReceiver(this);
    silentStreamWatch_ = new SilentStreamWatch(views_, this);
    captionTick_.setInterval(kCaptionTickMs);
    vf = connect(&captionTick_, SIGNAL(timeout()), this, SLOT(UpdateCaption()));
    vf = connect(this, SIGNAL(RtspDeviceStopped()), this, SLOT(OnRtspDeviceStopped()));
    vf = connect(frameReceiver_, SIGNAL(FrameReceived(const kro::ImageDescr&, const QByteArray&, bool)), this,
                 SLOT(OnFrameReceived(const kro::ImageDescr&, const QByteArray&, bool)));
}

LiveView::~LiveView()
{
    // The video thread still uses the client and the frame receiver: stop it
    // and wait for it before anything goes. Its last queued stop notice is
    // dropped with this object.
    if (rtspDevice_) {
        Disconnect();
    }
    if (rtspThread_.joinable()) {
        rtspThread_.join();
    }
    rtspDevice_.reset();
    decoder_.reset();
}

bool LiveView::IsConnected() const
{
    return rtspDevice_ != nullptr;
}

QString LiveView::TransportText() const
{
    return rtspDevice_ ? QString::fromStdString(rtspDevice_->TransportName()) : QString();
}

bool LiveView::Connect(const std::string& deviceAddress, QString& errorMessage)
{
    assert(!rtspDevice_);
    assert(!rtspThread_.joinable());
    stoppedByUser_ = false;
    const std::string url = "rtsp://" + deviceAddress + kRtspPath;

    // Without an H.264 decoder there is nothing to show.
    auto decoder = std::make_unique<H264AvDecoder>();
    try {
        decoder->initilalize();
    } catch (const char* text) {
        errorMessage = QString::fromUtf8(text);
        return false;
    }

    // The handler belongs to this connection alone: a later connection never
    // reports an earlier one's error.
    stopper_ = std::make_unique<RtspDeviceStopOnErrorHandler>();
    rtspDevice_ =
        std::make_unique<RtspDevice>(url.c_str(), kRtspUser, kRtspPassword, kRtspVerbose, nullptr, 0);
    rtspDevice_->AddFrameObserver(frameReceiver_);
    rtspDevice_->SetErrorHandler(stopper_.get());
    // The views stretch every picture to their own size: larger pictures are
    // scaled down to it while they are converted, so no pixel is converted
    // that is not shown.
    const QSize viewSize = views_.front()->maximumSize();
    decoder->SetMaxOutputSize(static_cast<uint32_t>(viewSize.width()),
                              static_cast<uint32_t>(viewSize.height()));
    decoder_ = std::move(decoder);

    VLOG(1) << "Will run RtspDevice " << rtspDevice_.get() << " in rtspThread for url " << url
            << " rtspVerbose: " << kRtspVerbose;
    {
        const std::lock_guard<std::mutex> lock(rtspThreadMutex_);
        rtspThread_ = std::thread(&LiveView::RunRtspDevice, this);
    }
    silentStreamWatch_->Start();
    streamFacts_.Reset();
    streamClock_.start();
    pictureShown_ = false;
    captionTick_.start();
    return true;
}

void LiveView::RunRtspDevice()
{
    std::thread::id stored;
    {
        const std::lock_guard<std::mutex> lock(rtspThreadMutex_);
        stored = rtspThread_.get_id();
    }
    const std::thread::id self = std::this_thread::get_id();
    if (self == stored) {
        VLOG(0) << "This thread ID: " << self << ", rtspThread: " << stored;
    } else {
        VLOG(1) << "This thread ID: " << self << ", rtspThread: " << stored;
    }
    assert(std::this_thread::get_id() == stored);

    rtspDevice_->Run();

    VLOG(1) << "Will emit RtspDeviceStopped...";
    emit RtspDeviceStopped();
}

void LiveView::Disconnect()
{
    assert(rtspDevice_);
    assert(rtspThread_.joinable());
    // A second Disconnect before the stop has been handled asks the ended
    // loop to stop once more, which changes nothing.
    stoppedByUser_ = true;
    rtspDevice_->SetStopFlag();
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
    const QString error = QString::fromStdString(stopper_->GetLastError());

    rtspDevice_.reset();
    stopper_.reset();
    decoder_.reset();
    VLOG(1) << "RtspDevice is deleted";
    silentStreamWatch_->Stop();
    captionTick_.stop();
    pictureShown_ = false;
    streamFacts_.Reset();
    SetCaption(QString());

    emit Stopped(stoppedByUser_ ? QString() : error);
}

void LiveView::OnFrameReceived(const kro::ImageDescr& descriptor, const QByteArray& bytes, bool isKeyFrame)
{
    (void)isKeyFrame;
    if (descriptor.format != kro::MediaFormat::VideoH264) {
        VLOG(1) << "Unexpected type: " << static_cast<int>(descriptor.format)
                << "; must be MediaFormat::VideoH264";
        assert(descriptor.format == kro::MediaFormat::VideoH264);
        return;
    }
    if (!decoder_) {
        return; // a frame of a connection whose stop has been handled
    }
    streamFacts_.AddBytes(streamClock_.elapsed(), bytes.size());
    // The picture belongs to the decoder and may be replaced by the next
    // decode: convert it at once.
    const UYVYFrame* picture = decoder_->decode(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                                static_cast<uint32_t>(bytes.size()));
    if (picture == nullptr) {
        VLOG(1) << "H264AvDecoder::decode returned NULL";
        return;
    }
    const QImage image = PictureToImage(*picture, QImage::Format_RGB32);
    for (DrawableView* view : views_) {
        view->setImage(image);
    }
    for (DrawableView* view : views_) {
        view->update();
    }
    silentStreamWatch_->PictureShown();
    streamFacts_.AddPicture(streamClock_.elapsed());
    if (!pictureShown_) {
        pictureShown_ = true;
        UpdateCaption();
        emit PicturesShown();
    }
    VLOG(8) << "Received one more frame " << image.width() << "x" << image.height();
}

void LiveView::SetStreamInfoShown(bool shown)
{
    streamInfoShown_ = shown;
    UpdateCaption();
}

QImage LiveView::CurrentPicture() const
{
    if (!decoder_ || !pictureShown_) {
        return QImage();
    }
    const std::unique_ptr<UYVYFrame> picture = decoder_->LastPictureAtOwnSize();
    return picture ? PictureToImage(*picture, QImage::Format_RGB888) : QImage();
}

void LiveView::UpdateCaption()
{
    uint32_t width = 0;
    uint32_t height = 0;
    if (!streamInfoShown_ || !pictureShown_ || !decoder_ || !decoder_->LastPictureSize(width, height)) {
        SetCaption(QString());
        return;
    }
    const qint64 now = streamClock_.elapsed();
    SetCaption(StreamFacts::CaptionText(static_cast<int>(width), static_cast<int>(height),
                                        streamFacts_.PicturesPerSecond(now),
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
