#include "TemplateBatch.h"

#include "AssignmentVerifier.h"
#include "BatchRunner.h"
#include "ChangeRecord.h"
#include "UrlLogText.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <easylogging++.h>
#include <utility>

namespace {

const AssignmentVerifier vf;

QString Tr(const char* text)
{
    return QCoreApplication::translate("TemplateBatch", text);
}

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

} // namespace

bool TemplateEntry::Matches() const
{
    for (const TemplatePartResult& part : parts) {
        if (part.state != TemplatePartResult::State::Matches) {
            return false;
        }
    }
    return true;
}

QString TemplateEntry::Label() const
{
    const QString address = AddressText(device.ip);
    return device.deviceName.empty() ? address
                                     : Tr("%1 (%2)").arg(QString::fromStdString(device.deviceName), address);
}

TemplateBatch::TemplateBatch(std::shared_ptr<const VcaConfigReader> tmpl, const TemplatePartChoice& choice,
                             const std::vector<DeviceNetworkParams>& devices, QObject* parent)
    : QObject(parent), tmpl_(std::move(tmpl)), choice_(choice), parts_(choice.Chosen())
{
    for (const DeviceNetworkParams& device : devices) {
        TemplateEntry entry;
        entry.device = device;
        for (const TemplatePart part : parts_) {
            TemplatePartResult result;
            result.part = part;
            entry.parts.push_back(result);
        }
        entries_.push_back(entry);
    }
    runner_ = new BatchRunner(
        entries_.size(), [this](size_t index) { StartEntry(index); },
        [this](size_t index) { SkipEntry(index); }, this);
    vf = connect(runner_, SIGNAL(Finished()), this, SLOT(OnAllDone()));
}

TemplateBatch::~TemplateBatch() = default;

void TemplateBatch::Start()
{
    LOG(INFO) << "Template apply to " << entries_.size() << " devices started, parts "
              << PrintTemplateParts(choice_).toStdString();
    runner_->Start();
}

void TemplateBatch::Cancel()
{
    if (runner_->IsRunning() && !runner_->IsCancelled()) {
        LOG(INFO) << "Template apply cancelled by the user";
        runner_->Cancel();
    }
}

bool TemplateBatch::IsRunning() const
{
    return runner_->IsRunning();
}

bool TemplateBatch::IsFinished() const
{
    return runner_->IsFinished();
}

void TemplateBatch::StartEntry(size_t index)
{
    current_ = index;
    const QString host = index < static_cast<size_t>(hosts_.size()) ? hosts_.at(static_cast<int>(index))
                                                                    : AddressText(entries_[index].device.ip);
    apply_ = new TemplateApply(*tmpl_, choice_, host, this);
    vf = connect(apply_, SIGNAL(Progress()), this, SLOT(OnApplyProgress()));
    vf = connect(apply_, SIGNAL(Finished()), this, SLOT(OnApplyFinished()));
    entries_[index].started = true;
    emit EntryChanged(static_cast<int>(index));
    apply_->Start();
}

void TemplateBatch::OnApplyProgress()
{
    if (sender() != apply_) {
        return;
    }
    TemplateEntry& entry = entries_[current_];
    entry.parts = apply_->Results();
    entry.sent = apply_->AnythingSent();
    emit EntryChanged(static_cast<int>(current_));
}

void TemplateBatch::OnApplyFinished()
{
    if (sender() != apply_) {
        return;
    }
    TemplateEntry& entry = entries_[current_];
    entry.parts = apply_->Results();
    entry.sent = apply_->AnythingSent();
    entry.finished = true;
    apply_->deleteLater();
    apply_ = nullptr;
    LogResult(current_);
    emit EntryChanged(static_cast<int>(current_));
    runner_->EntryDone();
}

void TemplateBatch::SkipEntry(size_t index)
{
    TemplateEntry& entry = entries_[index];
    for (TemplatePartResult& part : entry.parts) {
        part.state = TemplatePartResult::State::Cancelled;
    }
    entry.finished = true;
    emit EntryChanged(static_cast<int>(index));
}

void TemplateBatch::OnAllDone()
{
    LOG(INFO) << "Template apply ended: " << SecretFreeText(Summary().toStdString());
    emit Finished();
}

void TemplateBatch::LogResult(size_t index) const
{
    const TemplateEntry& entry = entries_[index];
    QStringList parts;
    QStringList results;
    for (const TemplatePartResult& part : entry.parts) {
        parts << TemplatePartName(part.part);
        results << QStringLiteral("%1: %2").arg(TemplatePartName(part.part), part.StatusText());
    }
    const QString what = QStringLiteral("configuration template (%1)").arg(parts.join(QStringLiteral(", ")));
    const QString result = (entry.sent ? QStringLiteral("sent; ") : QStringLiteral("nothing sent; ")) +
                           results.join(QStringLiteral("; "));
    LOG(INFO) << SecretFreeText(ChangeRecordText(entry.device, what, result).toStdString());
}

QStringList TemplateBatch::ResultLines(size_t index) const
{
    const TemplateEntry& entry = entries_.at(index);
    QStringList lines;
    for (const TemplatePartResult& part : entry.parts) {
        lines << QStringLiteral("%1 %2: %3")
                     .arg(AddressText(entry.device.ip), TemplatePartName(part.part), part.StatusText());
    }
    return lines;
}

QString TemplateBatch::Summary() const
{
    int matching = 0;
    int notSent = 0;
    QStringList notMatching;
    QStringList changed;
    for (const TemplateEntry& entry : entries_) {
        if (entry.sent) {
            changed << entry.Label();
        }
        const bool cancelled =
            !entry.parts.empty() && entry.parts.front().state == TemplatePartResult::State::Cancelled;
        if (cancelled || !entry.finished) {
            ++notSent;
            continue;
        }
        if (entry.Matches()) {
            ++matching;
            continue;
        }
        for (const TemplatePartResult& part : entry.parts) {
            if (part.state != TemplatePartResult::State::Matches) {
                notMatching
                    << Tr("%1 (%2: %3)").arg(entry.Label(), TemplatePartName(part.part), part.StatusText());
                break;
            }
        }
    }
    QString text = Tr("%1 of %2 devices match the template").arg(matching).arg(entries_.size());
    if (!notMatching.isEmpty()) {
        text += Tr("; not matching: %1").arg(notMatching.join(QStringLiteral(", ")));
    }
    if (runner_->IsCancelled()) {
        text += Tr("; cancelled, %1 not sent; changed: %2")
                    .arg(notSent)
                    .arg(changed.isEmpty() ? Tr("none") : changed.join(QStringLiteral(", ")));
    }
    return text;
}
