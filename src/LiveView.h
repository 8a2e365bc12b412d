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
#include <string>
#include <thread>
#include <vector>

class DrawableView;
class LiveDecoder;
class RtspDevice;
class RtspDeviceStopOnErrorHandler;
class RtspFrameReceiver;
class SilentStreamWatch;
class QTimer;

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
// handler. Either way OnRtspDeviceStopped joins the thread and releases the
// client, the decoder (with the pictures it has not handed over) and the
// handler; from the moment a stop is asked for, no picture is shown. Destruction
// stops and joins the thread itself, without Stopped.
//
// Reconnecting: once the stream has shown a picture, an end that the user
// did not ask for and that another connection may mend (the device closed
// the connection or ended the stream, a keep-alive failed, no picture for
// SilentStreamWatch::kEndAfterMs) does not end the live view: the views
// keep the last picture under "Reconnecting… (<reason>)" and a new client
// is tried after kFirstRetryMs, then every kRetryMs, each on a thread of its
// own, until a picture comes, the user disconnects or a final error
// (refused credentials, no such stream, a picture too large, the end of a
// stream of a given length) ends it. A
// connection that never showed a picture ends as before, with its error:
// there the client's own rule for a silent device ("Device is dead" after a
// minute) still applies, since nothing shows yet that the address and the
// stream are right. Once pictures were shown, the 10 s rule ends a silent
// stream long before that minute. The "Reconnecting…" line is cut in its
// middle to fit each view (a reason may be long) and given whole in the
// views' tool tip.
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
    // Stops at once: also while waiting to reconnect, and while a new
    // connection is being made.
    void Disconnect();
    // From Connect until the stop has been handled, reconnecting included.
    bool IsConnected() const;
    // How the video arrives, "UDP" or "TCP"; empty when not connected.
    QString TransportText() const;

    // A caption of what the stream delivers, in a corner of every view:
    // picture size, pictures per second and kbit/s over the last 2 s, and
    // the transport. Shown while pictures come, unless switched off here.
    void SetStreamInfoShown(bool shown);
    bool StreamInfoShown() const { return streamInfoShown_; }

    // From the first picture of a connection until its stop.
    bool IsShowingPictures() const { return connectionPictures_; }
    // The picture being shown, at the stream's own size rather than the
    // views', without anything drawn over it (QImage::Format_RGB888); null
    // when no picture of this connection has been shown.
    QImage CurrentPicture() const;

    // Where the next connection goes (the device's address changed).
    void SetDeviceAddress(const std::string& deviceAddress);

    static constexpr int kFirstRetryMs = 1000;
    // Long enough for a device to finish answering a refused attempt, short
    // enough that a restarted device is back within seconds.
    static constexpr int kRetryMs = 3000;

signals:
    // The live view has ended and everything is released; `error` is empty
    // when the user stopped it.
    void Stopped(const QString& error);
    // The stream ended for `reason` and is being reconnected (again).
    void Reconnecting(const QString& reason);
    // A reconnected stream shows pictures again.
    void Reconnected();
    // Video thread, as its loop has ended.
    void RtspDeviceStopped();
    // The first picture of a connection has been shown.
    void PicturesShown();

private slots:
    void OnRtspDeviceStopped();
    void OnFrameReceived(const QByteArray& bytes, kro::UnitKind kind);
    void OnPictureReady();
    void UpdateCaption();
    void OnSilenceLimitReached();
    void OnRetryTimer();

private:
    // A new client, decoder and thread for the current address.
    bool StartConnection(QString& errorMessage);
    void RunRtspDevice();
    void SetCaption(const QString& text);
    // Ends the live view: nothing more is tried.
    void Finish(const QString& error);
    // The reconnect line, cut to each view's width, and whole in the tool tip.
    void FitReconnectBanner();
    void ClearReconnectBanner();
    // A view's new size or font cuts the reconnect line anew.
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    bool stoppedByUser_ = false;

    // The stream facts caption: counted from the bytes that reach the GUI
    // thread and the pictures shown, refreshed by its own tick so that the
    // rates fall when the stream stalls.
    StreamFacts streamFacts_;
    QElapsedTimer streamClock_;
    QTimer captionTick_;
    bool streamInfoShown_ = true;
    bool connectionPictures_ = false; // the current connection has shown a picture
    std::string deviceAddress_;
    QTimer* retryTimer_ = nullptr; // child; runs while waiting to reconnect
    bool active_ = false;          // from Connect until Stopped
    bool pictureShown_ = false;    // since Connect: from then on, ends are reconnected
    bool reconnecting_ = false;    // from an end until the next picture
    bool endedBySilence_ = false;  // the current connection was stopped for its silence
    QString reconnectBanner_;      // the whole reconnect line while it is shown; empty otherwise
};
