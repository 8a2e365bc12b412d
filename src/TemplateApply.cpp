#include "TemplateApply.h"

#include "AssignmentVerifier.h"
#include "DeviceWebLogin.h"
#include "HttpClientModule.h"
#include "UrlLogText.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <easylogging++.h>
#include <utility>

namespace {

const AssignmentVerifier vf;

QString Tr(const char* text)
{
    return QCoreApplication::translate("TemplateApply", text);
}

} // namespace

QString TemplatePartResult::StatusText() const
{
    switch (state) {
    case State::Waiting:
        return {};
    case State::Matches:
        return Tr("matches");
    case State::Failed:
        return Tr("failed: %1").arg(reason);
    case State::Differs:
        return Tr("differs after apply");
    case State::Cancelled:
        return Tr("not sent (cancelled)");
    }
    return {};
}

TemplateApply::TemplateApply(const VcaConfigReader& tmpl, const TemplatePartChoice& choice,
                             const QString& host, QObject* parent)
    : QObject(parent), tmpl_(tmpl), host_(host), http_(new HttpClientModule(this))
{
    for (const TemplatePart part : choice.Chosen()) {
        TemplatePartResult result;
        result.part = part;
        results_.push_back(result);
    }
    http_->SetCredentials(QString::fromLatin1(kDeviceWebUser), QString::fromLatin1(kDeviceWebPassword));
    vf = connect(http_, SIGNAL(Done(const QByteArray&)), this, SLOT(OnDone(const QByteArray&)));
    vf = connect(http_, SIGNAL(Failed(const QString&)), this, SLOT(OnFailed(const QString&)));
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
    if (phase_ != Phase::Idle) {
        return;
    }
    phase_ = Phase::Reading;
    Get(QStringLiteral("/qel-cgi/admin/getconfig.fcgi"));
}

void TemplateApply::Get(const QString& path)
{
    http_->Start(QStringLiteral("http://%1%2").arg(host_, path).toStdString());
}

void TemplateApply::OnDone(const QByteArray& content)
{
    switch (phase_) {
    case Phase::Reading: {
        const VcaConfigReader device(content);
        QString error;
        if (!device.IsWhole()) {
            FailAll(device.NotWholeMessage());
            return;
        }
        ZonesMap zones;
        if (!device.ReadZones(zones, error)) {
            FailAll(error);
            return;
        }
        // Parts the device already holds are left alone; the read-back judges them.
        for (TemplatePartResult& result : results_) {
            if (TemplatePartMatches(tmpl_, device, result.part)) {
                result.state = TemplatePartResult::State::Matches;
            }
        }
        phase_ = Phase::Sending;
        part_ = 0;
        pending_.clear();
        nextRequest_ = 0;
        SendNext();
        return;
    }
    case Phase::Sending:
        ++nextRequest_;
        SendNext();
        return;
    case Phase::ReadingBack:
        Judge(content);
        return;
    case Phase::Idle:
    case Phase::Finished:
        return;
    }
}

void TemplateApply::OnFailed(const QString& text)
{
    switch (phase_) {
    case Phase::Reading:
        FailAll(Tr("the configuration could not be read: %1").arg(text));
        return;
    case Phase::Sending: {
        // The rest of this part is not sent: a zone or class added after a
        // removal that failed would stand beside the old ones.
        TemplatePartResult& result = results_[part_];
        result.state = TemplatePartResult::State::Failed;
        result.reason = text;
        VLOG(1) << "Template request failed: " << UrlLogText(pending_[nextRequest_].toStdString()) << ": "
                << SecretFreeText(text.toStdString());
        ++part_;
        pending_.clear();
        nextRequest_ = 0;
        SendNext();
        return;
    }
    case Phase::ReadingBack:
        for (TemplatePartResult& result : results_) {
            if (result.state != TemplatePartResult::State::Failed) {
                result.state = TemplatePartResult::State::Failed;
                result.reason = Tr("the configuration could not be read back: %1").arg(text);
            }
        }
        Finish();
        return;
    case Phase::Idle:
    case Phase::Finished:
        return;
    }
}

void TemplateApply::SendNext()
{
    while (part_ < results_.size()) {
        TemplatePartResult& result = results_[part_];
        if (pending_.empty() && nextRequest_ == 0) {
            if (result.state == TemplatePartResult::State::Matches) {
                ++part_;
                continue;
            }
            const QString problem = TemplatePartProblem(tmpl_, result.part);
            if (!problem.isEmpty()) {
                result.state = TemplatePartResult::State::Failed;
                result.reason = problem;
                emit Progress();
                ++part_;
                continue;
            }
            pending_ = TemplatePartCommands(tmpl_, result.part);
        }
        if (nextRequest_ < pending_.size()) {
            result.sent = true;
            anythingSent_ = true;
            Get(pending_[nextRequest_]);
            return;
        }
        ++part_;
        pending_.clear();
        nextRequest_ = 0;
    }
    phase_ = Phase::ReadingBack;
    Get(QStringLiteral("/qel-cgi/admin/getconfig.fcgi"));
}

void TemplateApply::Judge(const QByteArray& content)
{
    const VcaConfigReader device(content);
    for (TemplatePartResult& result : results_) {
        if (result.state == TemplatePartResult::State::Failed) {
            continue;
        }
        if (!device.IsWhole()) {
            result.state = TemplatePartResult::State::Failed;
            result.reason = Tr("the configuration read back was not whole: %1").arg(device.NotWholeMessage());
        } else {
            result.state = TemplatePartMatches(tmpl_, device, result.part)
                               ? TemplatePartResult::State::Matches
                               : TemplatePartResult::State::Differs;
        }
    }
    Finish();
}

void TemplateApply::FailAll(const QString& reason)
{
    for (TemplatePartResult& result : results_) {
        result.state = TemplatePartResult::State::Failed;
        result.reason = reason;
    }
    Finish();
}

void TemplateApply::Finish()
{
    phase_ = Phase::Finished;
    emit Progress();
    emit Finished();
}
