#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <utility>

namespace Ui {
class SettingsDialog;
}
struct DeviceNetworkParams;
class HttpClientDialog;
class QWidget;
class ReplyRouter;
class VcaConfigReader;

// The "Source" page: where the device takes its video from, and its
// encoder's bitrate and frame rate. Load reads the source with getcam; Apply
// sends setcam (only for what the user changed) and then the encoder request,
// and reports both once. The page's controls are enabled only while its data
// is loaded, no apply is under way and no request of the dialog is out.
//
// setcam always carries a password. getcam does not give it, so a password
// field the user left alone stands for the one the device's configuration
// holds (taken from a configuration read whole): that one is sent, so that a
// new host does not empty the camera's password. It is held only in memory,
// never shown or logged, and goes with the page.
//
// Owned by the settings dialog (its Qt parent), whose form it works on and
// whose reply router its asynchronous requests go through; results and
// failures go out as signals. GUI thread only. Nothing of it outlives the
// dialog: its requests are answered, failed or dropped with it.
class SourcePage final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(SourcePage)
public:
    // `parent` owns the page and parents its questions; requests go to the
    // address `params` holds at the time.
    SourcePage(QWidget* parent, Ui::SettingsDialog* ui, HttpClientDialog* http, ReplyRouter* router,
               const DeviceNetworkParams& params);

    // Asked before an apply sends anything; false sends nothing.
    void SetApplyGate(std::function<bool()> gate) { applyGate_ = std::move(gate); }

    void Load();
    // getcam has answered; false also after a failed load.
    bool IsLoaded() const { return loaded_; }
    void Apply();
    // The page's enabling rule; `busy` keeps the controls disabled.
    void UpdateEnableControls(bool busy);
    // Bitrate and FPS from a configuration text read for any page: once, and
    // not over what the user has typed.
    void FillEncoderFields(const VcaConfigReader& reader);
    bool EncoderFieldsFilled() const { return encoderFieldsFilled_; }
    // Bitrate and FPS as the device holds them after a change made outside
    // this page (a template), over what the fields showed or the user typed.
    void ShowEncoderFields(const VcaConfigReader& reader);
    // The video source password of a configuration read whole: what setcam
    // carries while the user has not touched the password field.
    void TakeStoredPassword(const VcaConfigReader& reader);

signals:
    // The source settings were read; the page waits for any request asked
    // for from here before it enables its controls.
    void Loaded();
    void StatusChanged(const QString& text);
    void ErrorOccurred(const QString& message);
    // A change went to the device: what it was and how it ended.
    void ChangeSent(const QString& what, const QString& result);

private slots:
    // setcam only for what the user changed, then the encoder request, then
    // one report of both.
    void FinishApply();

private:
    struct Values {
        QString model;
        QString host;
        QString login;
    };

    // An encoder value that cannot be sent is named in an error and nothing
    // of the page is applied.
    bool CheckInput();
    // setcam writes the password as it is: an empty one only when the user
    // says so.
    bool ConfirmEmptyPassword();
    QString TakeSourceParams(const QByteArray& content);
    QString TakeSourceParamsFailure(const QString& message);
    QString TakeSetCamReply(const QString& error);
    // A failure of the page's own load, reported as the page's once the
    // router has handed the reply over (a box must not hold up its queue).
    void ReportLater(const QString& message);

    QString DeviceAddress() const;

    QWidget* parent_ = nullptr;
    Ui::SettingsDialog* ui = nullptr;  // the dialog's form
    HttpClientDialog* http_ = nullptr; // the dialog's modal client
    ReplyRouter* router_ = nullptr;    // the dialog's
    const DeviceNetworkParams& params_;
    std::function<bool()> applyGate_;
    bool loaded_ = false;
    Values loadedSource_;             // what getcam gave, or what the last setcam sent
    Values sentSource_;               // what the setcam under way carries
    bool sentSourcePassword_ = false; // and whether it carries a new password
    QString sentPassword_;            // the password it carries, until its reply
    QString storedPassword_;          // the device's, see TakeStoredPassword
    bool storedPasswordKnown_ = false;
    bool applying_ = false; // from Apply until its report
    std::string pendingEncoderPath_;
    bool setcamSent_ = false;
    QString setcamError_;
    bool encoderFieldsFilled_ = false;
};
