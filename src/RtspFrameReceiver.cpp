#include "RtspFrameReceiver.h"

#include <cstring>

RtspFrameReceiver::RtspFrameReceiver(QObject* parent) : QObject(parent) {}

void RtspFrameReceiver::NotifyDataReceived(const kro::IVideoFrame* frame, bool isKeyFrame)
{
    // The sink's frames stay far below 2 GiB (one NAL unit of at most 100000
    // bytes plus the parameter sets), so the size fits a QByteArray.
    const int size = static_cast<int>(frame->getSize());
    QByteArray bytes(size, Qt::Uninitialized);
    if (size > 0) {
        std::memcpy(bytes.data(), frame->getData(), static_cast<size_t>(size));
    }
    const kro::ImageDescr descriptor = frame->getDescriptor();
    emit FrameReceived(descriptor, bytes, isKeyFrame);
}
