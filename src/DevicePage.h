#pragma once

#include "TemplateParts.h"

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class HttpClientDialog;
class QWidget;
class VcaConfigReader;
struct PartState;

// Common ground of the analytics pages that write to the device. A part that
// is written by removing everything and adding each item (zones, object
// classes with the zone timeout) goes through WriteAndReport and ends whole;
// a single request (the camera position) through SendCommands. Afterwards the
// page says once how it went, so that a failure is never taken for a success.
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

    // Sends the paths in order, each whatever became of the earlier ones
    // unless the user cancels one, the progress text naming `action`
    // ("Applying the camera position"), the device and the command's place in
    // the list. Ends with one
    // ErrorOccurred naming the first failed command, with
    // StatusChanged(cancelText) when the user chose to stop (the question
    // that offered it said what that means), or with
    // StatusChanged(successText) when none failed; and with one ChangeSent
    // for `what`. Returns whether all succeeded.
    bool SendCommands(const QString& action, const QString& what, const std::vector<QString>& paths,
                      const QString& successText, const QString& cancelText);

    // The texts of one page's write of its part.
    struct WriteTexts {
        QString action;     // "Applying zones": progress, stop question and results
        QString what;       // the change record's "zones (3 zone(s))"
        QString applied;    // the status after a write read back whole
        QString noun;       // "zones", in "The device's zones changed since …"
        QString notApplied; // the status when the user keeps the page's values
        QString reloaded;   // the status when the user loads the device's anew
        QString pageNote;   // after a failure: the page shows the device's values
    };
    // Writes `asked` as a PartWrite through the modal client (one progress
    // window, a stop puts back), then says how it went and hands the
    // configuration read to `show` whenever the page should show what the
    // device holds: after a write, after a failure or a stop, and when the
    // device's part changed since `expected` (null: not known) and the user
    // chose to load it again. False when what the device holds is not known.
    bool WriteAndReport(TemplatePart part, const WriteTexts& texts, const PartState& asked,
                        const PartState* expected, QWidget* window,
                        const std::function<void(const VcaConfigReader&)>& show);

    HttpClientDialog* httpClientDialog_ = nullptr; // the dialog's, not owned

private:
    std::function<bool()> applyGate_;
};
