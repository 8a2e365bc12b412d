#include "RtspFrameReceiver.h"

#include <QMetaObject>
#include <easylogging++.h>

RtspFrameReceiver::RtspFrameReceiver(QObject* parent) : QObject(parent) {}

void RtspFrameReceiver::NotifyDataReceived(const kro::IVideoFrame* frame, kro::UnitKind kind)
{
    const kro::MediaFormat format = frame->getDescriptor().format;
    if (format != kro::MediaFormat::VideoH264) {
        VLOG(1) << "Unexpected type: " << static_cast<int>(format) << "; must be MediaFormat::VideoH264";
        return;
    }
    if (handOver_.Push(frame->getData(), static_cast<size_t>(frame->getSize()), kind)) {
        QMetaObject::invokeMethod(this, "OnFramesWaiting", Qt::QueuedConnection);
    }
}

void RtspFrameReceiver::ClearWaitingFrames()
{
    handOver_.Clear();
}

void RtspFrameReceiver::OnFramesWaiting()
{
    bool more = false;
    for (const FrameHandOver::Unit& unit : handOver_.TakePicture(more)) {
        emit FrameReceived(unit.bytes, unit.kind);
    }
    if (more) {
        // One picture per turn: the events that came meanwhile go first.
        QMetaObject::invokeMethod(this, "OnFramesWaiting", Qt::QueuedConnection);
    }
}
