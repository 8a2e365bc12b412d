#pragma once

#include "FrameTypes.h"
#include "StreamFacts.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DrawableView;
class H264AvDecoder;
class RtspDevice;
class RtspDeviceStopOnErrorHandler;
class RtspFrameReceiver;
class SilentStreamWatch;

// The live video of a settings dialog: one RTSP connection at a time to the
// device's stream, shown in every view it was given.
//
// Owner: the settings dialog (its Qt parent), which deletes it before its
// own widgets go. Threads: everything here runs on the GUI thread except
// RunRtspDevice, the video thread's function. The video thread hands frames
// to the frame receiver (which never waits for the GUI) and reports the end
// of its loop with the queued RtspDeviceStopped; decoding and painting happen
// on the GUI thread.
//
// Stop contract: Disconnect only asks the loop to stop; an error the client
// reports stops it from the video thread through the connection's own error
// handler. Either way OnRtspDeviceStopped joins the thread, releases the
// client, the decoder and the handler, and then emits Stopped. Destruction
// stops and joins the thread itself, without Stopped.
class LiveView final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(LiveView)
public:
    LiveView(QObject* parent, std::vector<DrawableView*> views);
    ~LiveView() override;

    // Starts the connection to the device at `deviceAddress` (dotted
    // decimal). False, with the text to show, when there is no H.264 decoder;
    // nothing is connected then.
    bool Connect(const std::string& deviceAddress, QString& errorMessage);
    void Disconnect();
    // From Connect until the stop has been handled.
    bool IsConnected() const;
    // How the video arrives, "UDP" or "TCP"; empty when not connected.
    QString TransportText() const;

    // A caption of what the stream delivers, in a corner of every view:
    // picture size, pictures per second and kbit/s over the last 2 s, and
    // the transport. Shown while pictures come, unless switched off here.
    void SetStreamInfoShown(bool shown);
    bool StreamInfoShown() const { return streamInfoShown_; }

    // From the first picture of a connection until its stop.
    bool IsShowingPictures() const { return pictureShown_; }
    // The picture being shown, at the stream's own size rather than the
    // views', without anything drawn over it (QImage::Format_RGB888); null
    // when no picture of this connection has been shown.
    QImage CurrentPicture() const;

signals:
    // The connection has ended and is released; `error` is empty when the
    // user stopped it.
    void Stopped(const QString& error);
    // Video thread, as its loop has ended.
    void RtspDeviceStopped();
    // The first picture of a connection has been shown.
    void PicturesShown();

private slots:
    void OnRtspDeviceStopped();
    void OnFrameReceived(const kro::ImageDescr& descriptor, const QByteArray& bytes, bool isKeyFrame);
    void UpdateCaption();

private:
    void RunRtspDevice();
    void SetCaption(const QString& text);

    std::vector<DrawableView*> views_;               // the dialog's widgets
    RtspFrameReceiver* frameReceiver_ = nullptr;     // child, kept for every connection
    SilentStreamWatch* silentStreamWatch_ = nullptr; // child: says so over the views when no picture comes
    // One connection: the client, its error handler and the decoder exist
    // exactly while connected; the thread is joinable from Connect until its
    // stop has been handled.
    std::unique_ptr<RtspDevice> rtspDevice_;
    std::unique_ptr<RtspDeviceStopOnErrorHandler> stopper_;
    std::unique_ptr<H264AvDecoder> decoder_;
    std::thread rtspThread_;
    // Guards the store of rtspThread_ against the video thread's first read
    // of it, which may come before std::thread's assignment has finished.
    std::mutex rtspThreadMutex_;
    bool stoppedByUser_ = false;

    // The stream facts caption: counted from the bytes and pictures that
    // reach the GUI thread, refreshed by its own tick so that the rates fall
    // when the stream stalls.
    StreamFacts streamFacts_;
    QElapsedTimer streamClock_;
    QTimer captionTick_;
    bool streamInfoShown_ = true;
    bool pictureShown_ = false;
};
