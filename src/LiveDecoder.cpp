#include "LiveDecoder.h"

#include "PictureToImage.h"
#include "X264Decoder.h"

#include <easylogging++.h>

#include <cstdint>
#include <vector>

LiveDecoder::LiveDecoder(QSize maxPictureSize) : maxPictureSize_(maxPictureSize) {}

LiveDecoder::~LiveDecoder()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool LiveDecoder::Start(QString& errorMessage)
{
    auto decoder = std::make_unique<H264AvDecoder>();
    try {
        decoder->initilalize();
    } catch (const char* text) {
        errorMessage = QString::fromUtf8(text);
        return false;
    }
    decoder->SetMaxOutputSize(static_cast<uint32_t>(maxPictureSize_.width()),
                              static_cast<uint32_t>(maxPictureSize_.height()));
    decoder_ = std::move(decoder);
    thread_ = std::thread(&LiveDecoder::Run, this);
    return true;
}

void LiveDecoder::Push(const QByteArray& bytes, kro::UnitKind kind)
{
    if (!units_.Push(bytes.constData(), static_cast<size_t>(bytes.size()), kind)) {
        return; // dropped, or the thread has been woken already
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        unitsWaiting_ = true;
    }
    wake_.notify_one();
}

QImage LiveDecoder::TakePicture()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    pictureSignalled_ = false;
    QImage picture;
    picture.swap(picture_);
    if (!picture.isNull()) {
        shownSize_ = pictureSize_;
        shownKept_ = std::move(pictureKept_);
    }
    return picture;
}

QSize LiveDecoder::ShownPictureSize() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return shownSize_;
}

QImage LiveDecoder::ShownPictureAtOwnSize() const
{
    std::shared_ptr<const DecodedPicture> kept;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        kept = shownKept_;
    }
    const std::unique_ptr<UYVYFrame> picture = kept ? kept->ToUYVY() : nullptr;
    return picture ? PictureToImage(*picture, QImage::Format_RGB888) : QImage();
}

bool LiveDecoder::Stopping()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
}

void LiveDecoder::Run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || unitsWaiting_; });
            if (stop_) {
                return;
            }
            unitsWaiting_ = false;
        }
        // A push after the last take finds the hand-over empty and wakes
        // this thread again.
        bool more = true;
        while (more && !Stopping()) {
            bool completed = false;
            for (const FrameHandOver::Unit& unit : units_.TakePicture(more)) {
                if (decoder_->DecodePicture(reinterpret_cast<const uint8_t*>(unit.bytes.constData()),
                                            static_cast<uint32_t>(unit.bytes.size()))) {
                    completed = true;
                } else {
                    VLOG(1) << "H264AvDecoder::decode returned NULL";
                }
            }
            if (!completed) {
                continue;
            }
            QImage picture = DecodedPictureToImage(*decoder_);
            if (picture.isNull()) {
                VLOG(1) << "H264AvDecoder::decode returned NULL";
                continue;
            }
            // The planes are shared, not copied: a snapshot of this picture,
            // should it be shown, needs them at their own size.
            std::shared_ptr<const DecodedPicture> kept = decoder_->KeepLastPicture();
            uint32_t width = 0;
            uint32_t height = 0;
            decoder_->LastPictureSize(width, height);
            bool signal = false;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (stop_) {
                    return;
                }
                picture_ = std::move(picture);
                pictureSize_ = QSize(static_cast<int>(width), static_cast<int>(height));
                pictureKept_ = std::move(kept);
                signal = !pictureSignalled_;
                pictureSignalled_ = true;
            }
            if (signal) {
                emit PictureReady();
            }
        }
    }
}
