#pragma once

#include "DeviceNetworkParams.h"
#include "FrameTypes.h"

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace Ui {
class SettingsDialog;
}
class CameraPositionTab;
class ClassifierTab;
class H264AvDecoder;
class HttpClientDialog;
class HttpClientModule;
class NetworkPage;
class QKeyEvent;
class QRect;
class RtspDevice;
class RtspFrameReceiver;
class SilentStreamWatch;
class VcaConfigReader;
class ZonesTab;

// The per-device settings dialog: a frame of five tab pages over one copy of
// the device's record. It loads a page's data from the device the first time
// the page is shown, routes each HTTP answer to its page by the reply type,
// and shows failures. The page objects do the rest. Created per use by the
// search window and run modally; GUI thread only.
//
// One request at a time runs on the asynchronous HTTP module. A first show
// that comes while another reply is outstanding is deferred and started as
// soon as that reply has been dispatched, so no reply is ever taken for
// another.
//
// Live view: Connect runs an RTSP client on a video thread of its own; its
// frames come back through the frame receiver's queued signal and are decoded
// and shown here, on the GUI thread. Every stop (Disconnect, an error the
// client reports, closing the dialog) ends with the video thread joined
// before the client and the decoder are released. One connection at a time.
class SettingsDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY(SettingsDialog)
public:
    // Reply type of the request in flight on httpClientModule_.
    enum WaitReplyType : int {
        WaitNone = 0,
        WaitSourceParams = 1,
        WaitSourceApply = 2,
        WaitZonesConfig = 3,
        WaitGridConfig = 6,
        WaitClassifierConfig = 7,
    };

    // `interfaceIndex`: the network interface the device's search reply came
    // in on, where its settings requests go; 0 sends them on every interface.
    SettingsDialog(const DeviceNetworkParams& params, QWidget* parent, int interfaceIndex = 0);
    ~SettingsDialog() override;

    // The dialog's own record; the network page updates it after a
    // successful apply.
    const DeviceNetworkParams& GetParams() const { return *params_; }

    // Log record, status text and a modal "Error" box.
    void DisplayError(const QString& message);
    // Emits StatusChanged with the text and no time-out.
    void ShowStatus(const QString& message);

    void UpdateEnableSourceParamsControls(bool busy);
    void UpdateEnableGridControls(bool busy);

    // The form, for the page objects that work on its widgets.
    Ui::SettingsDialog* Form() const { return ui; }

    // Makes the dialog no larger than `available` (a screen's free area) and
    // lets the tab pages scroll instead. Done by the first show for the
    // screen the dialog opens on, unless it was called before.
    void FitToScreen(const QRect& available);

    // The first show fits the dialog to its screen before the base class
    // centres it on the parent.
    void setVisible(bool visible) override;

public slots:
    // Close, Escape and the window's close button: unapplied zone edits are
    // not thrown away without a question.
    void reject() override;

protected:
    // Escape cancels the shape being drawn; with nothing being drawn it does
    // not close the dialog over unapplied zones or calibration.
    void keyPressEvent(QKeyEvent* event) override;

signals:
    void StatusChanged(const QString& text, int timeoutMs);
    void RtspDeviceStopped();

public slots:
    void OnCurrentTabChanged(int index);
    void OnHttpRequestDone(const QByteArray& content);
    void OnHttpRequestFailed(const QString& message);
    void OnTabSourceFirstShow();
    void OnApplySourceViaHttp();
    void OnConnectVideo();
    void OnDisconnectVideo();
    void OnRtspDeviceStopped();
    void OnFrameReceived(const kro::ImageDescr& descriptor, const QByteArray& bytes, bool isKeyFrame);
    void OnTabZonesFirstShow();
    void OnTabGridFirstShow();
    void OnTabClassifierFirstShow();
    // A network change gave the device a new address: later requests and
    // the video connection go there.
    void OnDeviceAddressChanged();

private:
    void Init();
    // The status line beside Close repeats every status text; errors show in
    // their own colour.
    void ShowStatusLine(const QString& text, bool error);
    // The device line at the top: name, addresses and serial number.
    void UpdateDeviceLine();
    bool CancelDrawing();
    bool HasUnappliedDrawing() const;
    void EnableRtspVideoControls(bool connected);
    bool IsVideoConnected() const;
    // The video thread's function: runs the client until its loop is stopped.
    void RunRtspDeviceHelper();

    // Starts the request at once when the module is free, otherwise defers it
    // until the outstanding reply has been dispatched.
    void StartHttpRequest(int replyType, const QString& url);
    void StartNextDeferredRequest();
    bool IsDeferred(int replyType) const;
    // "http://<device address><path>"
    QString DeviceUrl(const char* path) const;

    // An encoder value that cannot be sent is named in an error and nothing
    // of the page is applied.
    bool CheckSourceInput();

    // Each returns the error to show, empty when the reply was taken. The
    // error is shown only after the next queued load has been started, so a
    // message box never holds up the loads behind it.
    QString DispatchDone(int type, const QByteArray& content);
    QString DispatchFailed(int type, const QString& message);
    QString DispatchSourceParams(const QByteArray& content);
    QString DispatchZonesConfig(const QByteArray& content);
    QString DispatchGridConfig(const QByteArray& content);
    QString DispatchClassifierConfig(const QByteArray& content);
    // Every configuration read fills what other pages take from it: the
    // classifier (once, before its Apply is enabled) and the source page's
    // Bitrate and FPS (once, unless the user has typed into them).
    void FillFromConfig(const VcaConfigReader& reader);

    // The source page's apply: setcam only for what the user changed, then
    // the encoder request, then one report of both.
    void FinishSourceApply();

    Ui::SettingsDialog* ui = nullptr;
    int waitReplyType_ = WaitNone;
    std::unique_ptr<HttpClientDialog> httpClientDialog_; // top-level, released with the dialog
    HttpClientModule* httpClientModule_ = nullptr;       // child of the dialog
    std::unique_ptr<DeviceNetworkParams> params_;
    int interfaceIndex_ = 0;
    NetworkPage* networkPage_ = nullptr; // child; owns the UDP exchange
    bool sourceTabShown_ = false;
    // Live view. The client and the decoder exist exactly while connected;
    // the thread is joinable from Connect until its stop has been handled.
    std::unique_ptr<RtspDevice> rtspDevice_;
    RtspFrameReceiver* frameReceiver_ = nullptr;     // child of the dialog
    SilentStreamWatch* silentStreamWatch_ = nullptr; // child of the dialog
    std::unique_ptr<H264AvDecoder> decoder_;
    std::thread rtspThread_;
    // Guards the store of rtspThread_ against the video thread's first read
    // of it, which may come before std::thread's assignment has finished.
    std::mutex rtspThreadMutex_;
    bool stoppedByUser_ = false;
    bool gridTabShown_ = false;
    bool zonesTabShown_ = false;
    bool classifierTabShown_ = false;
    // The source page: the values getcam gave (an apply sends setcam only
    // when they were changed), and the state of an apply under way.
    struct SourceValues {
        QString model;
        QString host;
        QString login;
    };
    bool sourceLoaded_ = false;
    SourceValues loadedSource_;
    SourceValues sentSource_;     // what the setcam under way carries
    bool sourceApplying_ = false; // from Apply until its report
    std::string pendingEncoderPath_;
    bool setcamSent_ = false;
    QString setcamError_;
    bool encoderFieldsFilled_ = false;
    // The analytics pages, children of the dialog.
    CameraPositionTab* cameraPositionTab_ = nullptr;
    ZonesTab* zonesTab_ = nullptr;
    ClassifierTab* classifierTab_ = nullptr;
    // Requests waiting for httpClientModule_, in the order they were asked for.
    std::deque<std::pair<int, std::string>> deferredRequests_;
    bool fittedToScreen_ = false;
};
