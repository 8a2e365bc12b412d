#pragma once

#include "IFrameObserver.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>

// Carries the frames of an RTSP device from its video thread to the GUI
// thread: each frame is copied into a QByteArray and emitted with its
// descriptor, so a queued connection delivers it after the device's buffer
// has been reused. The video thread never waits for the receiver of the
// signal. Lives on the GUI thread as a child of the settings dialog.
class RtspFrameReceiver final : public QObject, public IFrameObserver {
    Q_OBJECT
    Q_DISABLE_COPY(RtspFrameReceiver)
public:
    explicit RtspFrameReceiver(QObject* parent);

    // Video thread.
    void NotifyDataReceived(const kro::IVideoFrame* frame, bool isKeyFrame) override;

signals:
    void FrameReceived(const kro::ImageDescr& descriptor, const QByteArray& bytes, bool isKeyFrame);
};

Q_DECLARE_METATYPE(kro::ImageDescr)
