#pragma once

#include "TemplateParts.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class DeviceRequests;
class VcaConfigReader;

// How one part of a template fared on one device.
struct TemplatePartResult {
    enum class State {
        Waiting,          // not judged yet
        Matches,          // the device holds the template's values (read back after a write)
        Failed,           // see reason, which says what the device now holds
        Differs,          // every request went through, yet the device reads back otherwise
        Cancelled,        // not sent: the apply was cancelled before the part
        Refused,          // nothing was sent to the device: see reason
        ChangedElsewhere, // the part changed on the device since it was read: nothing was sent
        Unknown,          // settings this version does not know: not compared, not sent
    };

    TemplatePart part = TemplatePart::Zones;
    State state = State::Waiting;
    QString reason;    // with Failed and Refused
    QString cause;     // with Failed: why the request failed, as the client said
    bool sent = false; // a request of this part went to the device

    // "matches", "failed: <reason>. Cause: <cause>", "differs after apply",
    // "not sent (cancelled)", "not sent: <reason>", "changed by another
    // client since it was read", "cannot be compared: the device holds
    // settings this version does not know"; empty while waiting. The cause
    // (which may be long) only when asked for.
    QString StatusText(bool withCause = true) const;
};

// Applies the chosen parts of a template to one device: reads the device's
// configuration and sends nothing to it unless it reads whole and every part
// that differs can be written whole on both sides (a template made by a newer
// version, a zone the add request cannot carry, a device holding settings this
// version does not know are refused); then writes each part that differs as a
// PartWrite (read just before, put back on failure or stop, read back after).
// A part changed on the device since the first read is not written. Over the
// asynchronous HTTP client (Start) for the batch and the command line, or
// over the caller's requests (Run). GUI thread only; one run per object.
class TemplateApply final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(TemplateApply)
public:
    // `tmpl` must outlive the object. `host` is the device's address, with
    // ":port" when not 80.
    TemplateApply(const VcaConfigReader& tmpl, const TemplatePartChoice& choice, const QString& host,
                  QObject* parent);
    ~TemplateApply() override;

    // Runs from the event loop over the asynchronous client; Finished follows.
    void Start();
    // Runs at once over `requests`; Finished is emitted before it returns.
    void Run(DeviceRequests& requests);
    bool IsFinished() const { return finished_; }

    const std::vector<TemplatePartResult>& Results() const { return results_; }
    // A write request went to the device (whatever its answer).
    bool AnythingSent() const { return anythingSent_; }
    // Every chosen part matches.
    bool AllMatch() const;
    // The device's configuration as last read whole; null when none was.
    std::shared_ptr<const VcaConfigReader> LastRead() const { return lastRead_; }
    // The user stopped the apply.
    bool Stopped() const { return stopped_; }
    // Why nothing was sent to the device (its configuration could not be
    // read whole, or a part was refused); empty otherwise.
    QString RefusalText() const { return refusal_; }

signals:
    // A part's result changed.
    void Progress();
    void Finished();

private:
    // Judges every part against the first read; false when one is refused
    // (then nothing may be sent).
    bool Check(const VcaConfigReader& device);
    void Finish();

    const VcaConfigReader& tmpl_;
    QString host_;
    std::vector<TemplatePartResult> results_;
    bool started_ = false;
    bool finished_ = false;
    bool anythingSent_ = false;
    std::shared_ptr<const VcaConfigReader> lastRead_;
    QString refusal_;
    bool stopped_ = false;
};
