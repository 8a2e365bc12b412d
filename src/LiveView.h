#pragma once

#include "FrameTypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DrawableView;
class LiveDecoder;
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
// of its loop with the queued RtspDeviceStopped. The GUI thread hands the
// frames on to the connection's decoding thread and paints the pictures
// that come back.
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

signals:
    // The connection has ended and is released; `error` is empty when the
    // user stopped it.
    void Stopped(const QString& error);
    // Video thread, as its loop has ended.
    void RtspDeviceStopped();

private slots:
    void OnRtspDeviceStopped();
    void OnFrameReceived(const kro::ImageDescr& descriptor, const QByteArray& bytes, bool isKeyFrame);
    void OnPictureReady();

private:
    void RunRtspDevice();

    std::vector<DrawableView*> views_;               // the dialog's widgets
    RtspFrameReceiver* frameReceiver_ = nullptr;     // child, kept for every connection
    SilentStreamWatch* silentStreamWatch_ = nullptr; // child: says so over the views when no picture comes
    // One connection: the client, its error handler and the decoder exist
    // exactly while connected; the thread is joinable from Connect until its
    // stop has been handled.
    std::unique_ptr<RtspDevice> rtspDevice_;
    std::unique_ptr<RtspDeviceStopOnErrorHandler> stopper_;
    std::unique_ptr<LiveDecoder> decoder_;
    std::thread rtspThread_;
    // Guards the store of rtspThread_ against the video thread's first read
    // of it, which may come before std::thread's assignment has finished.
    std::mutex rtspThreadMutex_;
    bool stoppedByUser_ = false;
};
