#pragma once

#include "DeviceNetworkParams.h"
#include "TemplateParts.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace Ui {
class SettingsDialog;
}
class CameraPositionTab;
class ClassifierTab;
class DevicePage;
class HttpClientDialog;
class LiveView;
class LiveViewActions;
class NetworkPage;
class QKeyEvent;
class QRect;
class ReplyRouter;
class SourcePage;
class TemplateActions;
class VcaConfigReader;
class ZonesTab;

// The per-device settings dialog: the frame of five tab pages over one copy
// of the device's record. It builds the page objects, the live view with its
// snapshot and stream info controls, the template actions and the reply
// router (the one queue of the pages' requests to the device's web
// interface), starts a page's load the first time the page is shown, and
// shows status and failures; the objects it built do the rest.
//
// Status: every status text belongs to the tabs it came from (a page's to its
// tab, the live view's to both video tabs, a template's to the tab it was
// started on), and the status line beside Close shows the current tab's
// latest one. A button of a tab clears that tab's status as its action
// starts. StatusChanged carries every text, whatever the tab.
// Created per use by the search window and run modally; GUI thread only. Its
// destruction stops and joins the live view's video thread first.
class SettingsDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY(SettingsDialog)
public:
    // `interfaceIndex`: the network interface the device's search reply came
    // in on, where its settings requests go; 0 sends them on every interface.
    SettingsDialog(const DeviceNetworkParams& params, QWidget* parent, int interfaceIndex = 0);
    ~SettingsDialog() override;

    // The dialog's own record; the network page updates it after a
    // successful apply.
    const DeviceNetworkParams& GetParams() const { return *params_; }

    // The addresses of the other devices the search window lists (network
    // byte order): a new address held by one of them is asked about first,
    // and one that this device shares is named on the device line.
    void SetListedAddresses(std::vector<uint32_t> others);
    // Another device answers with this one's MAC: the device line says so,
    // and the network and password requests, which go by MAC, are refused
    // with `refusal`.
    void SetSharedMac(const QString& refusal);
    const std::vector<uint32_t>& ListedAddresses() const { return listedAddresses_; }

    // A modal Yes/No question with No as default; true for Yes.
    bool Ask(const QString& question);
    // Before an analytics page sends its first change: while another listed
    // device answers at this device's address, the change may reach that
    // one, so the user is asked until the first Yes.
    bool ConfirmAnalyticsApply();
    // One INFO log record of a change sent to the device (see
    // ChangeRecordText); `what` and `result` hold no secret.
    // A change sent also makes the configuration text held for "Save
    // template…" out of date.
    void RecordChange(const QString& what, const QString& result);

    // Log record, status text and a modal "Error" box; the status belongs
    // to the current tab.
    void DisplayError(const QString& message);
    // Emits StatusChanged with the text and no time-out; the status belongs
    // to the current tab.
    void ShowStatus(const QString& message);

    void UpdateEnableGridControls(bool busy);

    // The form, for the page objects that work on its widgets.
    Ui::SettingsDialog* Form() const { return ui; }

    // The queue of the pages' requests to the device's web interface.
    ReplyRouter* Requests() const { return router_; }
    // "http://<device address><path>"
    QString DeviceUrl(const char* path) const;

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
    // Escape cancels the shape being drawn; with nothing being drawn it asks
    // as Close does before it closes over unapplied zones, and does not close
    // over an unapplied calibration.
    void keyPressEvent(QKeyEvent* event) override;

signals:
    void StatusChanged(const QString& text, int timeoutMs);

public slots:
    void OnCurrentTabChanged(int index);
    void OnTabSourceFirstShow();
    void OnApplySourceViaHttp();
    void OnConnectVideo();
    void OnDisconnectVideo();
    // The live view's connection has ended; `error` is empty when the user
    // stopped it.
    void OnRtspDeviceStopped(const QString& error);
    void OnTabZonesFirstShow();
    void OnTabGridFirstShow();
    void OnTabClassifierFirstShow();
    // A network change gave the device a new address: later requests and
    // the video connection go there.
    void OnDeviceAddressChanged();

private:
    using Tabs = std::vector<QWidget*>;
    struct TabStatus {
        QString text;
        bool error = false;
    };

    void Init();
    void CreateAnalyticsPages();
    // A page's results reach the status of `tabs()`, the error display and
    // the change record.
    template <typename Page> void WirePage(Page* page, const std::function<Tabs()>& tabs);
    // Every push button of a tab clears the tab's status as it is clicked,
    // before the action it starts can say anything; the template buttons
    // clear the current tab's, where their results then go.
    void ClearStatusOnActions();
    Tabs CurrentTab() const;
    Tabs VideoTabs() const;
    void ShowStatusOn(const Tabs& tabs, const QString& message);
    void DisplayErrorOn(const Tabs& tabs, const QString& message);
    // Keeps the text as the status of `tabs` and shows it when one of them
    // is current.
    void SetTabStatus(const Tabs& tabs, const QString& text, bool error);
    void ShowCurrentTabStatus();
    // The status line; errors show in their own colour.
    void ShowStatusLine(const QString& text, bool error);
    // A reply handler's error, noted as `tab`'s for the router's report of
    // it that follows.
    QString ErrorOf(QWidget* tab, const QString& error);
    // The page's load failed, and was sent before the latest address change.
    bool FailedBeforeMove(const DevicePage* page) const;
    bool SourceFailedBeforeMove() const;
    // The device line at the top: name, addresses and serial number, and in
    // red when another listed device answers at the same address.
    void UpdateDeviceLine();
    bool CancelDrawing();
    bool HasUnappliedDrawing() const;
    void EnableRtspVideoControls(bool connected);

    // getconfig for an analytics page. A configuration read only in part is
    // still given to the pages, which show it and write nothing back from it;
    // the first one of the dialog is named in an error.
    void StartConfigRequest(DevicePage* page, int logType);
    // getconfig for the source page's Bitrate and FPS.
    void StartSourceConfigRequest();
    static QString ConfigLoadFailedText(const QString& message);
    // Reads a configuration text for `take`, a large one off the GUI thread;
    // returns take's error when it ran at once, and shows it itself when it
    // ran later.
    QString TakeConfigText(const QByteArray& content, QWidget* tab,
                           const std::function<QString(const VcaConfigReader&)>& take);
    // Every configuration read fills what other pages take from it: the
    // classifier (once, before its Apply is enabled) and the source page's
    // Bitrate and FPS (once, unless the user has typed into them, and only
    // from a configuration read whole) and the password setcam keeps.
    void FillFromConfig(const VcaConfigReader& reader);
    // The error for a configuration read only in part, the first time one is
    // read; empty otherwise.
    QString NotWholeErrorOnce(const VcaConfigReader& reader);
    // A part of a template, as the device holds it after the apply, shown
    // on its page; the other pages keep what the user may be editing.
    void TakeTemplatePart(const VcaConfigReader& device, TemplatePart part);

    Ui::SettingsDialog* ui = nullptr;
    std::unique_ptr<HttpClientDialog> httpClientDialog_; // top-level, released with the dialog
    ReplyRouter* router_ = nullptr;                      // child of the dialog
    std::unique_ptr<DeviceNetworkParams> params_;
    int interfaceIndex_ = 0;
    // The pages and the live view, children of the dialog.
    NetworkPage* networkPage_ = nullptr; // owns the UDP exchange
    SourcePage* sourcePage_ = nullptr;
    LiveView* liveView_ = nullptr;
    CameraPositionTab* cameraPositionTab_ = nullptr;
    ZonesTab* zonesTab_ = nullptr;
    ClassifierTab* classifierTab_ = nullptr;
    LiveViewActions* liveViewActions_ = nullptr;
    TemplateActions* templateActions_ = nullptr;
    bool sourceTabShown_ = false;
    bool gridTabShown_ = false;
    bool zonesTabShown_ = false;
    bool classifierTabShown_ = false;
    bool fittedToScreen_ = false;
    QString sharedMac_; // the refusal of SetSharedMac; empty: the MAC is this device's alone
    std::vector<uint32_t> listedAddresses_; // the other listed devices'
    bool analyticsApplyConfirmed_ = false;
    // A configuration read only in part has been named in an error.
    bool notWholeShown_ = false;
    bool closeQuestionOpen_ = false;                // Close asks whether to discard unapplied zones
    QStringList heldErrors_;                        // failures that came while it asked
    std::map<const QWidget*, TabStatus> tabStatus_; // by tab page; none: empty
    QWidget* templateTab_ = nullptr;                // current when a template button was clicked
    QWidget* replyErrorTab_ = nullptr;              // see ErrorOf; null: the current tab
    // Address changes so far, and for each page whose configuration load
    // failed, how many there had been when it was sent; likewise the
    // source page's last load (its getcam, or the configuration read for
    // its encoder fields).
    int addressMoves_ = 0;
    std::map<const DevicePage*, int> failedLoads_;
    int sourceLoadSentAt_ = 0;
    bool sourceConfigFailed_ = false;
};
