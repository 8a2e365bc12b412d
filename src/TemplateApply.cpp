#include "TemplateApply.h"

#include "BlockingRequests.h"
#include "PartWrite.h"
#include "UrlLogText.h"
#include "ConfigReadAside.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <QTimer>
#include <easylogging++.h>
#include <utility>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("TemplateApply", text);
}

} // namespace

QString TemplatePartResult::StatusText(bool withCause) const
{
    switch (state) {
    case State::Waiting:
        return {};
    case State::Matches:
        return Tr("matches");
    case State::Failed:
        return withCause && !cause.isEmpty() ? Tr("failed: %1. Cause: %2").arg(reason, cause)
                                             : Tr("failed: %1").arg(reason);
    case State::Differs:
        return Tr("differs after apply");
    case State::Cancelled:
        return Tr("not sent (cancelled)");
    case State::Refused:
        return Tr("not sent: %1").arg(reason);
    case State::ChangedElsewhere:
        return Tr("changed by another client since it was read");
    case State::Unknown:
        return Tr("cannot be compared: the device holds settings this version does not know");
    }
    return {};
}

TemplateApply::TemplateApply(const VcaConfigReader& tmpl, const TemplatePartChoice& choice,
                             const QString& host, QObject* parent)
    : QObject(parent), tmpl_(tmpl), host_(host)
{
    for (const TemplatePart part : choice.Chosen()) {
        TemplatePartResult result;
        result.part = part;
        results_.push_back(result);
    }
}

TemplateApply::~TemplateApply() = default;

bool TemplateApply::AllMatch() const
{
    for (const TemplatePartResult& result : results_) {
        if (result.state != TemplatePartResult::State::Matches) {
            return false;
        }
    }
    return true;
}

void TemplateApply::Start()
{
    // From the event loop, so that a caller connected after Start still
    // hears every signal.
    QTimer::singleShot(0, this, [this] {
        BlockingRequests requests(host_);
        Run(requests);
    });
}

void TemplateApply::Run(DeviceRequests& requests)
{
    if (started_) {
        return;
    }
    started_ = true;
    requests.ShowReading();
    QByteArray content;
    QString error;
    if (!requests.Get(QStringLiteral("/qel-cgi/admin/getconfig.fcgi"), content, error)) {
        for (TemplatePartResult& result : results_) {
            result.state = TemplatePartResult::State::Failed;
            result.reason = Tr("the configuration could not be read: %1").arg(error);
        }
        refusal_ = Tr("the device's configuration could not be read: %1").arg(error);
        Finish();
        return;
    }
    const auto device = configread::ReadWaiting(content);
    ZonesMap unused;
    if (!device->IsWhole() || !device->ReadZones(unused, error)) {
        for (TemplatePartResult& result : results_) {
            result.state = TemplatePartResult::State::Refused;
            result.reason = device->IsWhole() ? error : device->NotWholeMessage();
        }
        refusal_ = results_.empty() ? QString() : results_.front().reason;
        Finish();
        return;
    }
    lastRead_ = device;
    if (!Check(*device)) {
        Finish();
        return;
    }
    emit Progress();
    for (TemplatePartResult& result : results_) {
        if (result.state == TemplatePartResult::State::Matches) {
            continue;
        }
        if (requests.StopRequested()) {
            stopped_ = true;
            result.state = TemplatePartResult::State::Cancelled;
            continue;
        }
        PartState asked;
        PartState expected;
        ReadPartState(tmpl_, result.part, asked, error);
        ReadPartState(*device, result.part, expected, error);
        PartWrite write(requests, result.part,
                        Tr("Applying the template's %1").arg(TemplatePartName(result.part)));
        const PartWriteResult written = write.Run(asked, &expected);
        result.sent = written.sent;
        stopped_ = stopped_ || written.stopped;
        anythingSent_ = anythingSent_ || written.sent;
        if (written.device) {
            lastRead_ = written.device;
        }
        switch (written.state) {
        case PartWriteResult::State::Written:
        case PartWriteResult::State::Unchanged:
            result.state = TemplatePartResult::State::Matches;
            break;
        case PartWriteResult::State::NotSent:
            result.state =
                written.stopped ? TemplatePartResult::State::Cancelled : TemplatePartResult::State::Failed;
            result.reason = written.message;
            break;
        case PartWriteResult::State::ChangedElsewhere:
            result.state = TemplatePartResult::State::ChangedElsewhere;
            result.reason = written.message;
            break;
        case PartWriteResult::State::PutBack:
        case PartWriteResult::State::NotPutBack:
            result.state = TemplatePartResult::State::Failed;
            result.reason = written.stopped ? Tr("stopped: %1").arg(written.outcome)
                                            : Tr("at %1: %2").arg(written.failedStep, written.outcome);
            result.cause = written.cause;
            break;
        case PartWriteResult::State::Differs:
            result.state = TemplatePartResult::State::Differs;
            result.reason = written.message;
            break;
        }
        VLOG(1) << "Template part " << TemplatePartWord(result.part).toStdString() << ": "
                << SecretFreeText(result.StatusText().toStdString());
        emit Progress();
    }
    Finish();
}

bool TemplateApply::Check(const VcaConfigReader& device)
{
    const TemplatePartResult* refused = nullptr;
    for (TemplatePartResult& result : results_) {
        const PartComparison comparison = CompareTemplatePart(tmpl_, device, result.part);
        if (comparison == PartComparison::Matches) {
            result.state = TemplatePartResult::State::Matches;
            continue;
        }
        const QString problem = TemplatePartProblem(tmpl_, result.part);
        PartState held;
        QString error;
        ReadPartState(device, result.part, held, error);
        if (!problem.isEmpty()) {
            result.state = TemplatePartResult::State::Refused;
            result.reason = problem;
        } else if (held.holdsUnknown) {
            result.state = TemplatePartResult::State::Unknown;
        } else if (result.part == TemplatePart::Zones && !PartNotWritable(held).isEmpty()) {
            // The zones are replaced whole: on a failure they must go back whole.
            result.state = TemplatePartResult::State::Refused;
            result.reason =
                Tr("the device's zones cannot be replaced without loss: %1").arg(PartNotWritable(held));
        } else {
            continue;
        }
        if (refused == nullptr) {
            refused = &result;
        }
    }
    if (refused == nullptr) {
        return true;
    }
    refusal_ = Tr("%1: %2").arg(TemplatePartName(refused->part), refused->StatusText());
    for (TemplatePartResult& result : results_) {
        if (result.state == TemplatePartResult::State::Waiting) {
            result.state = TemplatePartResult::State::Refused;
            result.reason = Tr("nothing is sent to this device, as its %1 cannot be written")
                                .arg(TemplatePartName(refused->part));
        }
    }
    return false;
}

void TemplateApply::Finish()
{
    finished_ = true;
    emit Progress();
    emit Finished();
}
