#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class HttpClientDialog;
class VcaConfigReader;

// Common ground of the analytics pages that write to the device: each apply
// is a fixed list of CGI commands sent one after another through the modal
// HTTP client, each only after the previous one has ended. Every command of
// the list is sent whatever became of the earlier ones (the device expects
// the whole sequence), unless the user cancels one: then none of the rest is
// sent. Afterwards the page says once how it went, so that a failure is never
// taken for a success.
// Owned by the settings dialog (its Qt parent); GUI thread only.
class DevicePage : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(DevicePage)
public:
    ~DevicePage() override;

    // Takes the page's part of the configuration text read from the device;
    // returns the error to show, empty when it was taken. A configuration
    // read only in part (reader.IsWhole() false) is shown, but nothing is
    // written back from it; the dialog names it to the user.
    virtual QString TakeConfig(const VcaConfigReader& reader) = 0;
    // The configuration could not be read from the device.
    virtual void ConfigLoadFailed() {}

    // Asked before an apply sends anything; false sends nothing.
    void SetApplyGate(std::function<bool()> gate) { applyGate_ = std::move(gate); }

signals:
    // A command of the latest apply failed; the text names the first failure.
    void ErrorOccurred(const QString& message);
    // A short result text for the status bar.
    void StatusChanged(const QString& text);
    // An apply has ended: what it changed ("zones") and how it ended.
    void ChangeSent(const QString& what, const QString& result);

protected:
    DevicePage(QObject* parent, HttpClientDialog* http);

    // The apply gate's answer; when it refuses, the status says that
    // nothing was sent.
    bool MayApply();

    // Sends the paths in order, the progress text naming `action` ("Applying
    // zones"), the device and the command's place in the list. Ends with one
    // ErrorOccurred naming the first failed command, with
    // StatusChanged(cancelText) when the user chose to stop (the question
    // that offered it said what that means), or with
    // StatusChanged(successText) when none failed; and with one ChangeSent
    // for `what`. Returns whether all succeeded.
    bool SendCommands(const QString& action, const QString& what, const std::vector<QString>& paths,
                      const QString& successText, const QString& cancelText);

    HttpClientDialog* httpClientDialog_ = nullptr; // the dialog's, not owned

private:
    std::function<bool()> applyGate_;
};
