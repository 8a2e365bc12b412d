#include "PartWrite.h"

#include "DeviceRequests.h"
#include "UrlLogText.h"
#include "ConfigReadAside.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <easylogging++.h>
#include <utility>

namespace {

// Reads after a failure until two agree: a device that did not answer in
// time may still be carrying the request out.
constexpr int kSettleReadsMax = 4;
constexpr int kSettlePauseMs = 1000;

QString Tr(const char* text)
{
    return QCoreApplication::translate("PartWrite", text);
}

const QString kConfigPath = QStringLiteral("/qel-cgi/admin/getconfig.fcgi");

// "the device's zones were put back as they were (checked)" and its kin.
QString Subject(TemplatePart part)
{
    switch (part) {
    case TemplatePart::Zones:
        return Tr("the device's zones");
    case TemplatePart::Classifier:
        return Tr("the device's zone timeout and object classes");
    case TemplatePart::Encoder:
        return Tr("the device's encoder settings");
    case TemplatePart::Camera:
        return Tr("the device's camera position");
    }
    return {};
}

bool Singular(TemplatePart part)
{
    return part == TemplatePart::Camera;
}

} // namespace

PartWrite::PartWrite(DeviceRequests& requests, TemplatePart part, const QString& action)
    : requests_(requests), part_(part), action_(action)
{
}

bool PartWrite::Read(std::shared_ptr<const VcaConfigReader>& config, PartState& state, QString& error)
{
    requests_.ShowReading();
    QByteArray body;
    if (!requests_.Get(kConfigPath, body, error)) {
        return false;
    }
    auto read = configread::ReadWaiting(body);
    if (!read->IsWhole()) {
        error = read->NotWholeMessage();
        return false;
    }
    if (!ReadPartState(*read, part_, state, error)) {
        return false;
    }
    config = std::move(read);
    return true;
}

bool PartWrite::ReadSettled(std::shared_ptr<const VcaConfigReader>& config, PartState& state)
{
    QString error;
    if (!Read(config, state, error)) {
        return false;
    }
    for (int reads = 1; reads < kSettleReadsMax; ++reads) {
        requests_.Wait(kSettlePauseMs);
        PartState next;
        if (!Read(config, next, error)) {
            return false;
        }
        const bool settled = SamePartState(next, state);
        state = std::move(next);
        if (settled) {
            return true;
        }
    }
    // Still changing: what was read last is the best knowledge there is.
    return true;
}

QString PartWrite::PutBackText(bool changedBefore) const
{
    const QString text = Singular(part_) ? Tr("%1 was put back as it was (checked)")
                                         : Tr("%1 were put back as they were (checked)");
    return changedBefore ? text.arg(Subject(part_))
                         : (Singular(part_) ? Tr("%1 was left as it was (checked)")
                                            : Tr("%1 were left as they were (checked)"))
                               .arg(Subject(part_));
}

PartWriteResult PartWrite::Run(const PartState& asked, const PartState* expected)
{
    PartWriteResult result;
    result.action = action_;
    PartState before;
    QString error;
    if (!Read(result.device, before, error)) {
        result.message = Tr("%1: nothing was sent, as the device's configuration could not be read: %2")
                             .arg(action_, error);
        return result;
    }
    if (expected != nullptr && !SamePartState(*expected, before)) {
        result.state = PartWriteResult::State::ChangedElsewhere;
        result.message = DescribePartChange(*expected, before);
        return result;
    }
    if (SamePartState(before, asked)) {
        result.state = PartWriteResult::State::Unchanged;
        return result;
    }
    const QString notWritable = PartNotWritable(asked);
    if (!notWritable.isEmpty()) {
        result.message = Tr("%1: nothing was sent: %2").arg(action_, notWritable);
        return result;
    }
    if (requests_.StopRequested()) {
        result.stopped = true;
        result.message = Tr("%1 was stopped; nothing was sent").arg(action_);
        return result;
    }

    const std::vector<PartRequest> requests = PartRequests(&before, asked);
    const int count = static_cast<int>(requests.size());
    for (int i = 0; i < count; ++i) {
        const PartRequest& request = requests[static_cast<size_t>(i)];
        requests_.ShowStep(action_, i + 1, count);
        QByteArray body;
        result.sent = true;
        if (!requests_.Get(request.path, body, error)) {
            result.failedStep = request.step;
            result.cause = error;
            VLOG(1) << "Write request failed: " << UrlLogText(request.path.toStdString()) << ": "
                    << SecretFreeText(error.toStdString());
            break;
        }
        if (requests_.StopRequested()) {
            result.stopped = true;
            break;
        }
    }

    if (result.failedStep.isEmpty() && !result.stopped) {
        PartState after;
        if (!Read(result.device, after, error)) {
            result.state = PartWriteResult::State::NotPutBack;
            result.message = Tr("%1: every request went through, but the device's configuration could not be "
                                "read back, so "
                                "what it holds is not known: %2")
                                 .arg(action_, error);
            return result;
        }
        if (SamePartState(after, asked)) {
            result.state = PartWriteResult::State::Written;
        } else {
            result.state = PartWriteResult::State::Differs;
            result.message = Tr("%1: every request went through, yet the device now holds %2")
                                 .arg(action_, DescribePart(after));
        }
        return result;
    }

    requests_.ShowPuttingBack();
    std::shared_ptr<const VcaConfigReader> settledConfig;
    PartState current;
    const bool known = ReadSettled(settledConfig, current);
    if (known) {
        result.device = settledConfig;
    }
    if (known && SamePartState(current, before)) {
        SetOutcome(result, PartWriteResult::State::PutBack, PutBackText(false));
        return result;
    }
    if (known && !result.stopped && SamePartState(current, asked)) {
        // The device carried out what it did not answer in time.
        result.state = PartWriteResult::State::Written;
        return result;
    }
    PutBack(before, known ? &current : nullptr, result);
    return result;
}

void PartWrite::PutBack(const PartState& before, const PartState* current, PartWriteResult& result)
{
    // The add requests carry a zone's id, name, enable state and points.
    const PartState restore = AsWritten(before);
    for (const PartRequest& request : PartRequests(current, restore)) {
        QByteArray body;
        QString error;
        // Every request is tried: what goes through is put back.
        if (!requests_.Get(request.path, body, error)) {
            VLOG(1) << "Put-back request failed: " << UrlLogText(request.path.toStdString()) << ": "
                    << SecretFreeText(error.toStdString());
        }
    }
    std::shared_ptr<const VcaConfigReader> config;
    PartState after;
    QString error;
    if (!Read(config, after, error)) {
        SetOutcome(result, PartWriteResult::State::NotPutBack,
                   Tr("%1 could not be read back after they were put back, so what the device holds is not "
                      "known (%2)")
                       .arg(Subject(part_), error));
        return;
    }
    result.device = config;
    if (SamePartState(after, restore) || SamePartState(after, before)) {
        SetOutcome(result, PartWriteResult::State::PutBack, PutBackText(true));
        return;
    }
    SetOutcome(
        result, PartWriteResult::State::NotPutBack,
        Tr("%1 could not be put back: the device now holds %2").arg(Subject(part_), DescribePart(after)));
}

void PartWrite::SetOutcome(PartWriteResult& result, PartWriteResult::State state,
                           const QString& outcome) const
{
    result.state = state;
    result.outcome = outcome;
    result.message = result.Text();
}

QString PartWriteResult::Text(const QString& note) const
{
    if (outcome.isEmpty()) {
        return message;
    }
    QString text = stopped ? Tr("%1 was stopped: %2.").arg(action, outcome)
                           : Tr("%1 failed at %2: %3.").arg(action, failedStep, outcome);
    if (!note.isEmpty()) {
        text += QLatin1Char(' ') + note;
    }
    if (!cause.isEmpty()) {
        text += QLatin1Char(' ') + Tr("Cause: %1").arg(cause);
    }
    return text;
}
