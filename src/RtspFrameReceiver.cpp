#include "RtspFrameReceiver.h"

#include <QMetaObject>

RtspFrameReceiver::RtspFrameReceiver(QObject* parent) : QObject(parent) {}

void RtspFrameReceiver::NotifyDataReceived(const kro::IVideoFrame* frame, bool isKeyFrame)
{
    if (handOver_.Push(frame->getDescriptor(), frame->getData(), static_cast<size_t>(frame->getSize()),
                       isKeyFrame)) {
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
        emit FrameReceived(unit.descriptor, unit.bytes, unit.isKeyFrame);
    }
    if (more) {
        // One picture per turn: the events that came meanwhile go first.
        QMetaObject::invokeMethod(this, "OnFramesWaiting", Qt::QueuedConnection);
    }
}
