#pragma once

#include "PartState.h"

#include <QString>
#include <memory>

class DeviceRequests;
class VcaConfigReader;

// How a write of one part of the configuration ended.
struct PartWriteResult {
    enum class State {
        Written,          // read back: the device holds what was asked
        Unchanged,        // the device already held it: nothing was sent
        NotSent,          // refused, not readable, or stopped before the first request: see message
        ChangedElsewhere, // the device's part is not what the caller last read: nothing was sent
        PutBack,          // failed or stopped part-way; read back, the device holds what it held
        NotPutBack,       // failed part-way; the device holds neither, or could not be read
        Differs,          // every request went through, yet the device reads back otherwise
    };

    State state = State::NotSent;
    bool stopped = false; // the user stopped it
    bool sent = false;    // a write request went to the device
    QString action;       // "Applying zones"
    // The step that failed, "zone 4 'Gate'", and why, as the client said;
    // empty unless a request failed.
    QString failedStep;
    QString cause;
    // What the device holds after a failure or a stop, "the device's zones
    // were put back as they were (checked)"; empty otherwise.
    QString outcome;
    // The result for the user; empty when written or unchanged.
    QString message;

    // After a failure or a stop: what failed, what the device holds, `note`,
    // then the cause (last, as it may be long); otherwise the message.
    QString Text(const QString& note = {}) const;
    // The device's configuration as last read whole; null when none was.
    std::shared_ptr<const VcaConfigReader> device;
};

// Writes one part of channel 0's configuration so that the device ends with
// what it held or with what was asked, never with a part of the change:
// - right before the first request, the configuration is read again (the
//   "before" picture); nothing is sent unless it reads whole, unless the part
//   is still what the caller last read (when it says what that was), and
//   unless the asked values can be written whole;
// - the requests go out one after another; a stop the user asks for is only
//   acted on between them;
// - after a failed request or a stop, the device is read until two reads
//   agree (a device may still carry out a request it did not answer in
//   time), and what the before picture held is put back and read back;
// - after the last request, the configuration is read back and compared.
// Every request is bounded by the client's own time limits.
class PartWrite final {
public:
    // `action` names the change in progress texts and results ("Applying zones").
    PartWrite(DeviceRequests& requests, TemplatePart part, const QString& action);

    // `expected`: the part as the caller last read it, or null when the
    // caller read it just now.
    PartWriteResult Run(const PartState& asked, const PartState* expected);

private:
    // The configuration read whole into `state`; false, with the reason.
    bool Read(std::shared_ptr<const VcaConfigReader>& config, PartState& state, QString& error);
    // Reads until two reads agree; false when the device could not be read.
    bool ReadSettled(std::shared_ptr<const VcaConfigReader>& config, PartState& state);
    // Puts `before` back over `current` (null: not known) and reads back.
    void PutBack(const PartState& before, const PartState* current, PartWriteResult& result);
    QString PutBackText(bool changedBefore) const;
    // Sets the outcome and the message.
    void SetOutcome(PartWriteResult& result, PartWriteResult::State state, const QString& outcome) const;

    DeviceRequests& requests_;
    TemplatePart part_;
    QString action_;
};
