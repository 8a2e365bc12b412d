#include "LiveView.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"
#include "LiveDecoder.h"
#include "RtspDevice.h"
#include "RtspDeviceStopOnErrorHandler.h"
#include "RtspFrameReceiver.h"
#include "SilentStreamWatch.h"

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

} // namespace

LiveView::LiveView(QObject* parent, std::vector<DrawableView*> views)
    : QObject(parent), views_(std::move(views))
{
    assert(!views_.empty());
    // Frames are queued across threads with their descriptor.
    qRegisterMetaType<kro::ImageDescr>("kro::ImageDescr");
    frameReceiver_ = new RtspFrameReceiver(this);
    silentStreamWatch_ = new SilentStreamWatch(views_, this);
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

bool LiveView::Connect(const std::string& deviceAddress, QString& errorMessage)
{
    assert(!rtspDevice_);
    assert(!rtspThread_.joinable());
    stoppedByUser_ = false;
    const std::string url = "rtsp://" + deviceAddress + kRtspPath;

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
    {
        const std::lock_guard<std::mutex> lock(rtspThreadMutex_);
        rtspThread_ = std::thread(&LiveView::RunRtspDevice, this);
    }
    silentStreamWatch_->Start();
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

    emit Stopped(stoppedByUser_ ? QString() : error);
}

void LiveView::OnFrameReceived(const kro::ImageDescr& descriptor, const QByteArray& bytes, bool isKeyFrame)
{
    if (descriptor.format != kro::MediaFormat::VideoH264) {
        VLOG(1) << "Unexpected type: " << static_cast<int>(descriptor.format)
                << "; must be MediaFormat::VideoH264";
        assert(descriptor.format == kro::MediaFormat::VideoH264);
        return;
    }
    if (!decoder_) {
        return; // a frame of a connection whose stop has been handled
    }
    decoder_->Push(descriptor, bytes, isKeyFrame);
}

void LiveView::OnPictureReady()
{
    if (!decoder_) {
        return; // a picture of a connection whose stop has been handled
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
    VLOG(8) << "Received one more frame " << image.width() << "x" << image.height();
}
