#include "ReaddressDialog.h"

#include "AssignmentVerifier.h"
#include "ErrorBox.h"
#include "ReaddressBatch.h"
#include "StringUtils.h"
#include "UdpModule.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <easylogging++.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

// The ARP probe's answers for one dialog, so that no address is probed
// twice whatever plan asks for it again. Shared by the dialog and its
// planning thread. After Stop() a probe answers at once, every unprobed
// address counting as taken and nothing remembered, so that a plan still
// running ends soon.
class ReaddressProbeCache final {
public:
    explicit ReaddressProbeCache(std::vector<Ipv4Network> local) : local_(std::move(local)) {}

    std::vector<bool> Probe(const std::vector<uint32_t>& candidates);
    void Stop() { stopped_ = true; }

private:
    const std::vector<Ipv4Network> local_; // the workstation's own links
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;                           // guards answers_
    std::unordered_map<uint32_t, bool> answers_; // address -> something answered there
};

std::vector<bool> ReaddressProbeCache::Probe(const std::vector<uint32_t>& candidates)
{
    // Only an address on one of this workstation's own links can be asked
    // for its hardware address; one beyond a router counts as free.
    std::vector<uint32_t> unknown;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const uint32_t ip : candidates) {
            if (answers_.count(ip) == 0 && InAnyNetwork(local_, ip) &&
                std::find(unknown.begin(), unknown.end(), ip) == unknown.end()) {
                unknown.push_back(ip);
            }
        }
    }
    // Beyond the first kMaxProbesPerCall nothing was sent: their "answering"
    // is no answer to remember.
    std::vector<bool> fresh;
    if (!unknown.empty() && !stopped_) {
        fresh = ProbeByArpTable(unknown, kArpProbeWaitMs);
        fresh.resize(std::min(fresh.size(), kMaxProbesPerCall));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < fresh.size(); ++i) {
        answers_[unknown[i]] = fresh[i];
    }
    std::vector<bool> result;
    for (const uint32_t ip : candidates) {
        const auto found = answers_.find(ip);
        result.push_back(found != answers_.end() ? found->second : InAnyNetwork(local_, ip));
    }
    return result;
}

namespace {

const AssignmentVerifier vf;

enum Column {
    kNameColumn,
    kMacColumn,
    kCurrentColumn,
    kInterfaceColumn,
    kNewColumn,
    kStatusColumn,
    kColumnCount
};

// The longest password the request carries whole.
constexpr int kMaxPasswordBytes = 31;

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

// An empty field means none: 0.0.0.0 on the wire.
QString OptionalAddressText(uint32_t ip)
{
    return ip == 0 ? QString() : AddressText(ip);
}

QString MacText(const DeviceNetworkParams& params)
{
    return QString::fromStdString(
        utils::GetPrintedBufferInHex(params.mac, sizeof params.mac, sizeof params.mac, "-"));
}

QTableWidgetItem* Cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

QLineEdit* AddressField(const QString& name, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    return field;
}

// The object names of a group's widgets end with this; the devices heard on
// no current interface have no interface name.
QString NameSuffix(const ReaddressGroup& group)
{
    return group.interfaceIndex != 0 ? group.interfaceName : QStringLiteral("none");
}

bool SameValues(const std::vector<ReaddressGroup>& a, const std::vector<ReaddressGroup>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.first == y.first && x.mask == y.mask && x.gateway == y.gateway && x.dns == y.dns;
    });
}

void Wipe(QByteArray& secret)
{
    secret.fill('\0');
    secret.clear();
}

} // namespace

ReaddressDialog::ReaddressDialog(const std::vector<ListedDevice>& devices,
                                 const std::vector<ListedDevice>& listed, QWidget* parent)
    : QDialog(parent), devices_(devices), interfaces_(WorkstationInterfaces()),
      taken_(TakenAddresses(interfaces_, listed)),
      probes_(std::make_shared<ReaddressProbeCache>(NetworksOf(interfaces_, 0)))
{
    setObjectName(QStringLiteral("ReaddressDialog"));
    setWindowTitle(tr("Readdress devices"));
    auto* layout = new QVBoxLayout(this);

    // One group of fields per interface; the first keeps the plain names.
    for (ReaddressGroup& group : GroupByInterface(interfaces_, devices_)) {
        GroupForm form;
        const QString suffix = forms_.empty() ? QString() : QLatin1Char('_') + NameSuffix(group);
        form.box = new QGroupBox(GroupTitle(group), this);
        form.box->setObjectName(QStringLiteral("groupInterface_") + NameSuffix(group));
        form.first = AddressField(QStringLiteral("lineEditFirstAddress") + suffix, form.box);
        form.mask = AddressField(QStringLiteral("lineEditMask") + suffix, form.box);
        form.gateway = AddressField(QStringLiteral("lineEditGateway") + suffix, form.box);
        auto* fields = new QFormLayout(form.box);
        fields->addRow(tr("First IP address:"), form.first);
        fields->addRow(tr("Network mask:"), form.mask);
        fields->addRow(tr("Gateway:"), form.gateway);
        layout->addWidget(form.box);
        form.group = std::move(group);
        forms_.push_back(form);
    }

    dns_ = AddressField(QStringLiteral("lineEditDns"), this);
    dnsPlan_ = new QLabel(DnsPlanText(0), this);
    dnsPlan_->setObjectName(QStringLiteral("labelDnsPlan"));
    dnsPlan_->setTextFormat(Qt::PlainText);
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("lineEditPassword"));
    password_->setEchoMode(QLineEdit::Password);
    auto* common = new QFormLayout;
    common->addRow(tr("DNS (all devices):"), dns_);
    common->addRow(QString(), dnsPlan_);
    common->addRow(tr("Administrator password:"), password_);
    auto* confirming = new QLabel(tr("Each device is then confirmed at its new address by a search, "
                                     "confirming for up to %1 s after the last request")
                                      .arg(ReaddressBatch::kConfirmMs / 1000),
                                  this);
    confirming->setObjectName(QStringLiteral("labelConfirmPlan"));
    confirming->setWordWrap(true);
    common->addRow(QString(), confirming);
    layout->addLayout(common);

    table_ = new QTableWidget(0, kColumnCount, this);
    table_->setObjectName(QStringLiteral("tableWidgetPlan"));
    table_->setHorizontalHeaderLabels({tr("Device name"), tr("MAC address"), tr("Current IP address"),
                                       tr("Interface"), tr("New IP address"), tr("Status")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("labelSummary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);
    layout->addWidget(summary_);

    apply_ = new QPushButton(tr("Apply"), this);
    apply_->setObjectName(QStringLiteral("pushButtonApply"));
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("pushButtonCancel"));
    cancel_->setEnabled(false);
    close_ = new QPushButton(tr("Close"), this);
    close_->setObjectName(QStringLiteral("pushButtonClose"));
    apply_->setAutoDefault(false);
    cancel_->setAutoDefault(false);
    close_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(apply_);
    buttons->addWidget(cancel_);
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    FillTable();
    for (const GroupForm& form : forms_) {
        for (QLineEdit* field : {form.first, form.mask, form.gateway}) {
            vf = connect(field, SIGNAL(editingFinished()), this, SLOT(RequestPlan()));
        }
    }
    vf = connect(dns_, SIGNAL(editingFinished()), this, SLOT(RequestPlan()));
    vf = connect(apply_, SIGNAL(clicked()), this, SLOT(OnApply()));
    vf = connect(cancel_, SIGNAL(clicked()), this, SLOT(OnCancelBatch()));
    vf = connect(close_, SIGNAL(clicked()), this, SLOT(reject()));
    resize(840, 420 + 120 * static_cast<int>(forms_.size()));
    StartDefaults();
}

ReaddressDialog::~ReaddressDialog()
{
    // A plan still running ends after the probe that is out; what it posts
    // dies with this object.
    probes_->Stop();
    if (worker_.joinable()) {
        worker_.join();
    }
    password_->clear();
}

QString ReaddressDialog::GroupTitle(const ReaddressGroup& group) const
{
    return group.interfaceIndex != 0
               ? QStringLiteral("%1 (%2)").arg(group.interfaceName, NetworksText(group.networks))
               : tr("Heard on an interface this workstation no longer has");
}

void ReaddressDialog::FillTable()
{
    // Group after group, as the batch sends them: row i is the batch's entry i.
    for (const GroupForm& form : forms_) {
        for (const ListedDevice& device : form.group.devices) {
            const int row = table_->rowCount();
            table_->insertRow(row);
            table_->setItem(row, kNameColumn, Cell(QString::fromStdString(device.params.deviceName)));
            table_->setItem(row, kMacColumn, Cell(MacText(device.params)));
            table_->setItem(row, kCurrentColumn, Cell(AddressText(device.params.ip)));
            table_->setItem(row, kInterfaceColumn,
                            Cell(form.group.interfaceIndex != 0 ? form.group.interfaceName : tr("none")));
            table_->setItem(row, kNewColumn, Cell(QString()));
            table_->setItem(row, kStatusColumn, Cell(QString()));
        }
    }
    table_->resizeColumnsToContents();
}

void ReaddressDialog::RunOffThread(std::function<void()> work)
{
    if (worker_.joinable()) {
        worker_.join(); // it has posted its result already
    }
    working_ = true;
    apply_->setEnabled(false);
    ShowSummary(tr("Checking which addresses are free\u2026"), false);
    worker_ = std::thread(std::move(work));
}

void ReaddressDialog::StartDefaults()
{
    SetFieldsEnabled(false);
    std::vector<ReaddressGroup> groups;
    for (const GroupForm& form : forms_) {
        groups.push_back(form.group);
    }
    RunOffThread([this, groups, taken = taken_, probes = probes_] {
        const AddressProbe probe = [probes](const std::vector<uint32_t>& c) { return probes->Probe(c); };
        const std::vector<uint32_t> routes = WorkstationGateways();
        std::vector<ReaddressDefaults> defaults;
        for (const ReaddressGroup& group : groups) {
            // Devices heard on no current interface have no network to
            // start from: their fields start empty.
            const WorkstationInterface netif{group.interfaceIndex, group.interfaceName, group.networks};
            defaults.push_back(group.interfaceIndex != 0
                                   ? DefaultReaddress(netif, group.devices, taken, probe, routes)
                                   : ReaddressDefaults{});
        }
        QMetaObject::invokeMethod(
            this, [this, defaults] { OnDefaults(defaults); }, Qt::QueuedConnection);
    });
}

void ReaddressDialog::OnDefaults(const std::vector<ReaddressDefaults>& defaults)
{
    worker_.join();
    working_ = false;
    uint32_t dns = 0;
    for (size_t i = 0; i < forms_.size() && i < defaults.size(); ++i) {
        forms_[i].first->setText(OptionalAddressText(defaults[i].first));
        forms_[i].mask->setText(OptionalAddressText(defaults[i].mask));
        forms_[i].gateway->setText(OptionalAddressText(defaults[i].gateway));
        dns = dns != 0 ? dns : defaults[i].dns;
    }
    dns_->setText(OptionalAddressText(dns));
    defaultsDone_ = true;
    SetFieldsEnabled(true);
    RequestPlan();
}

void ReaddressDialog::RequestPlan()
{
    if (batch_ != nullptr) {
        return; // the plan that was applied stays shown
    }
    uint32_t dns = 0;
    const QString dnsText = dns_->text().trimmed();
    const bool dnsValid = dnsText.isEmpty() || StringToIpType(dnsText.toStdString(), dns);
    dnsPlan_->setText(dnsValid ? DnsPlanText(dns) : QString());
    std::vector<ReaddressGroup> typed;
    QString error;
    const bool valid = ReadFields(typed, error);
    // Leaving a field unchanged asks for no new plan: Apply right after
    // sends the plan shown.
    if (valid && !working_ && plannedGeneration_ == wanted_ && !planned_.empty() &&
        SameValues(typed, planned_)) {
        return;
    }
    ++wanted_;
    if (!working_ && defaultsDone_) {
        StartPlan();
    }
}

void ReaddressDialog::StartPlan()
{
    const int generation = wanted_;
    planned_.clear();
    ShowPlan();
    std::vector<ReaddressGroup> groups;
    QString error;
    if (!ReadFields(groups, error)) {
        plannedGeneration_ = generation;
        apply_->setEnabled(false);
        ShowSummary(error, true);
        return;
    }
    RunOffThread([this, generation, groups, taken = taken_, probes = probes_]() mutable {
        const AddressProbe probe = [probes](const std::vector<uint32_t>& c) { return probes->Probe(c); };
        QString planError;
        // In order: each group's addresses are taken for the next.
        for (ReaddressGroup& group : groups) {
            if (!PlanGroup(group, taken, probe, planError)) {
                break;
            }
        }
        QMetaObject::invokeMethod(
            this, [this, generation, groups, planError] { OnPlanned(generation, groups, planError); },
            Qt::QueuedConnection);
    });
}

void ReaddressDialog::OnPlanned(int generation, const std::vector<ReaddressGroup>& groups,
                                const QString& error)
{
    worker_.join();
    working_ = false;
    if (generation != wanted_) {
        StartPlan(); // the fields changed while this plan was worked out
        return;
    }
    plannedGeneration_ = generation;
    if (error.isEmpty()) {
        planned_ = groups;
    }
    ShowPlan();
    ShowSummary(error, !error.isEmpty());
    apply_->setEnabled(!planned_.empty());
}

bool ReaddressDialog::ReadFields(std::vector<ReaddressGroup>& groups, QString& error) const
{
    groups.clear();
    uint32_t dns = 0;
    const QString dnsText = dns_->text().trimmed();
    if (!dnsText.isEmpty() && !StringToIpType(dnsText.toStdString(), dns)) {
        error = tr("Invalid DNS");
        return false;
    }
    for (const GroupForm& form : forms_) {
        ReaddressGroup group = form.group;
        group.dns = dns;
        struct Field {
            QLineEdit* edit;
            uint32_t* value;
            bool optional;
            QString message;
        };
        const Field fields[] = {
            {form.first, &group.first, false, tr("Invalid first IP address")},
            {form.mask, &group.mask, false, tr("Invalid network mask")},
            {form.gateway, &group.gateway, true, tr("Invalid gateway")},
        };
        for (const Field& field : fields) {
            const QString text = field.edit->text().trimmed();
            if (field.optional && text.isEmpty()) {
                *field.value = 0;
            } else if (!StringToIpType(text.toStdString(), *field.value)) {
                error = field.message;
                break;
            }
        }
        if (error.isEmpty()) {
            error = CheckStaticAddressing(group.first, group.mask, group.gateway);
        }
        if (!error.isEmpty()) {
            // With several groups the reason says whose fields it is about.
            if (forms_.size() > 1) {
                error = QStringLiteral("%1: %2").arg(
                    group.interfaceIndex != 0 ? group.interfaceName : tr("No current interface"), error);
            }
            groups.clear();
            return false;
        }
        groups.push_back(std::move(group));
    }
    return true;
}

void ReaddressDialog::ShowPlan()
{
    int row = 0;
    for (size_t g = 0; g < forms_.size(); ++g) {
        for (size_t i = 0; i < forms_[g].group.devices.size(); ++i, ++row) {
            const bool planned = g < planned_.size() && i < planned_[g].addresses.size();
            table_->item(row, kNewColumn)
                ->setText(planned ? AddressText(planned_[g].addresses[i]) : QString());
        }
    }
    table_->resizeColumnsToContents();
}

void ReaddressDialog::SetFieldsEnabled(bool enabled)
{
    for (const GroupForm& form : forms_) {
        form.first->setEnabled(enabled);
        form.mask->setEnabled(enabled);
        form.gateway->setEnabled(enabled);
    }
    dns_->setEnabled(enabled);
}

void ReaddressDialog::ShowSummary(const QString& text, bool isError)
{
    summary_->setStyleSheet(isError ? QStringLiteral("color: red") : QString());
    summary_->setText(text);
}

void ReaddressDialog::OnApply()
{
    if (batch_ != nullptr || working_ || planned_.empty() || plannedGeneration_ != wanted_) {
        return;
    }
    std::vector<ReaddressGroup> typed;
    QString error;
    if (!ReadFields(typed, error) || !SameValues(typed, planned_)) {
        RequestPlan(); // never send a plan the table does not show
        return;
    }
    QByteArray password = password_->text().toUtf8();
    if (password.isEmpty()) {
        ShowSummary(tr("Type the devices' administrator password"), true);
        password_->setFocus();
        return;
    }
    if (password.size() > kMaxPasswordBytes) {
        Wipe(password);
        ShowErrorBox(this,
                     tr("The password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)"));
        return;
    }
    for (const ReaddressGroup& group : planned_) {
        if (!group.LeavesInterface()) {
            continue;
        }
        const std::vector<Ipv4Network> networks =
            group.interfaceIndex != 0 ? group.networks : NetworksOf(interfaces_, 0);
        QMessageBox question(QMessageBox::Question, windowTitle(),
                             tr("After this change the tool cannot reach the device from this workstation "
                                "(its networks: %1). Apply anyway?")
                                 .arg(NetworksText(networks)),
                             QMessageBox::Yes | QMessageBox::No, this);
        question.setTextFormat(Qt::PlainText);
        question.setDefaultButton(QMessageBox::No);
        if (question.exec() != QMessageBox::Yes) {
            Wipe(password);
            return;
        }
    }

    batch_ = new ReaddressBatch(PlannedEntries(planned_), password, this);
    Wipe(password);
    password_->clear();
    batch_->SetPasswordAsker([this](const ReaddressEntry& entry, QByteArray& answer, bool& forOthers) {
        return AskPassword(entry, answer, forOthers);
    });
    vf = connect(batch_, SIGNAL(EntryChanged(int)), this, SLOT(OnEntryChanged(int)));
    vf = connect(batch_, SIGNAL(PortWait(int)), this, SLOT(OnPortWait(int)));
    vf = connect(batch_, SIGNAL(Finished()), this, SLOT(OnBatchFinished()));
    SetFieldsEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{password_, apply_, close_}) {
        w->setEnabled(false);
    }
    cancel_->setEnabled(true);
    ShowSummary(tr("Readdressing %1 devices...").arg(batch_->Entries().size()), false);
    batch_->Start();
}

bool ReaddressDialog::AskPassword(const ReaddressEntry& entry, QByteArray& password, bool& forOthers)
{
    QDialog ask(this);
    ask.setObjectName(QStringLiteral("readdressPasswordDialog"));
    ask.setWindowTitle(tr("Password refused"));
    // The device names itself: never taken as markup.
    auto* label =
        new QLabel(tr("%1 (%2) refused the administrator password. Its own password:")
                       .arg(QString::fromStdString(entry.current.deviceName), MacText(entry.current)),
                   &ask);
    label->setObjectName(QStringLiteral("labelRefusedPassword"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    auto* field = new QLineEdit(&ask);
    field->setObjectName(QStringLiteral("lineEditRefusedPassword"));
    field->setEchoMode(QLineEdit::Password);
    auto* forOthersBox = new QCheckBox(tr("Use this password for the other devices that refuse"), &ask);
    forOthersBox->setObjectName(QStringLiteral("checkBoxPasswordForOthers"));
    forOthersBox->setChecked(true);
    auto* refusal = new QLabel(&ask);
    refusal->setTextFormat(Qt::PlainText);
    refusal->setStyleSheet(QStringLiteral("color: red"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    auto* layout = new QVBoxLayout(&ask);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(forOthersBox);
    layout->addWidget(refusal);
    layout->addWidget(buttons);

    vf = connect(field, &QLineEdit::textChanged, ok,
                 [ok](const QString& text) { ok->setEnabled(!text.isEmpty()); });
    vf = connect(buttons, &QDialogButtonBox::accepted, &ask, [&ask, field, refusal] {
        if (field->text().toUtf8().size() > kMaxPasswordBytes) {
            refusal->setText(
                tr("The password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)"));
            return;
        }
        ask.accept();
    });
    vf = connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    const bool answered = ask.exec() == QDialog::Accepted && !field->text().isEmpty();
    if (answered) {
        password = field->text().toUtf8();
        forOthers = forOthersBox->isChecked();
    }
    field->clear();
    return answered;
}

void ReaddressDialog::OnCancelBatch()
{
    if (batch_ != nullptr && batch_->IsRunning()) {
        cancel_->setEnabled(false);
        ShowSummary(tr("Cancelling after the device being readdressed..."), false);
        batch_->Cancel();
    }
}

void ReaddressDialog::OnEntryChanged(int index)
{
    const ReaddressEntry& entry = batch_->Entries().at(static_cast<size_t>(index));
    table_->item(index, kStatusColumn)->setText(entry.StatusText());
}

void ReaddressDialog::OnPortWait(int remainingMs)
{
    if (batch_ == nullptr || !batch_->IsRunning() || !cancel_->isEnabled()) {
        return; // finished, or the cancel's line stays
    }
    if (remainingMs > 0) {
        constexpr int kMsPerSecond = 1000;
        ShowSummary(tr("Waiting for UDP port %1: another program holds it (%2 s left)")
                        .arg(UdpModuleWithTimer::kListenPort)
                        .arg((remainingMs + kMsPerSecond - 1) / kMsPerSecond),
                    false);
    } else {
        ShowSummary(tr("Readdressing %1 devices...").arg(batch_->Entries().size()), false);
    }
}

void ReaddressDialog::OnBatchFinished()
{
    cancel_->setEnabled(false);
    close_->setEnabled(true);
    table_->resizeColumnsToContents();
    const QString stopLine = batch_->StopLine();
    ShowSummary(stopLine.isEmpty() ? batch_->Summary() : batch_->Summary() + QLatin1Char('\n') + stopLine,
                !stopLine.isEmpty());
}

void ReaddressDialog::reject()
{
    // Closing while the batch runs would hide how it ends: Escape or the
    // window's close button cancel it instead, and Close closes once it has
    // ended.
    if (batch_ != nullptr && batch_->IsRunning()) {
        OnCancelBatch();
        return;
    }
    QDialog::reject();
}

std::vector<DeviceNetworkParams> ReaddressDialog::NewRecords() const
{
    std::vector<DeviceNetworkParams> records;
    if (batch_ == nullptr) {
        return records;
    }
    for (size_t i = 0; i < batch_->Entries().size(); ++i) {
        DeviceNetworkParams record;
        if (batch_->NewRecord(i, record)) {
            records.push_back(record);
        }
    }
    return records;
}

QString ReaddressDialog::Summary() const
{
    return batch_ != nullptr && batch_->IsFinished() ? batch_->Summary() : QString();
}
