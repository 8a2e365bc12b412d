#pragma once

#include "FrameHandOver.h"
#include "IFrameObserver.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>

// Carries the H.264 units of an RTSP device from its video thread to the GUI
// thread. The video thread copies each frame into a bounded hand-over queue
// and never waits; the GUI thread takes one picture's frames per turn of its
// event loop and emits FrameReceived for each, so a slow GUI drops whole
// pictures instead of piling them up, and user input is handled between
// pictures. Lives on the GUI thread as a child of the settings dialog.
class RtspFrameReceiver final : public QObject, public IFrameObserver {
    Q_OBJECT
    Q_DISABLE_COPY(RtspFrameReceiver)
public:
    explicit RtspFrameReceiver(QObject* parent);

    // Video thread.
    void NotifyDataReceived(const kro::IVideoFrame* frame, kro::UnitKind kind) override;

    // GUI thread: forgets the frames still waiting (after a connection has
    // stopped, so none reaches the next one).
    void ClearWaitingFrames();

    const FrameHandOver& HandOver() const { return handOver_; }

signals:
    // GUI thread.
    void FrameReceived(const QByteArray& bytes, kro::UnitKind kind);

private slots:
    void OnFramesWaiting();

private:
    FrameHandOver handOver_;
};

Q_DECLARE_METATYPE(kro::UnitKind)
