#include "ReaddressDialog.h"

#include "AssignmentVerifier.h"
#include "ErrorBox.h"
#include "ReaddressBatch.h"
#include "StringUtils.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <easylogging++.h>

namespace {

const AssignmentVerifier vf;

enum Column { kNameColumn, kMacColumn, kCurrentColumn, kNewColumn, kStatusColumn, kColumnCount };

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

QLineEdit* AddressField(const char* name, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

} // namespace

ReaddressDialog::ReaddressDialog(const std::vector<ListedDevice>& devices,
                                 const std::vector<ListedDevice>& listed, QWidget* parent)
    : QDialog(parent), devices_(devices), interfaces_(WorkstationInterfaces()), listed_(listed),
      taken_(TakenAddresses(interfaces_, listed))
{
    setObjectName(QStringLiteral("ReaddressDialog"));
    setWindowTitle(tr("Readdress devices"));

    interface_ = new QComboBox(this);
    interface_->setObjectName(QStringLiteral("comboBoxInterface"));
    for (const WorkstationInterface& netif : interfaces_) {
        interface_->addItem(QStringLiteral("%1 (%2)").arg(netif.name, NetworksText(netif.networks)),
                            netif.index);
    }
    first_ = AddressField("lineEditFirstAddress", this);
    mask_ = AddressField("lineEditMask", this);
    gateway_ = AddressField("lineEditGateway", this);
    dns_ = AddressField("lineEditDns", this);
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("lineEditPassword"));
    password_->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow(tr("Interface:"), interface_);
    form->addRow(tr("First IP address:"), first_);
    form->addRow(tr("Network mask:"), mask_);
    form->addRow(tr("Gateway:"), gateway_);
    form->addRow(tr("DNS:"), dns_);
    form->addRow(tr("Administrator password:"), password_);

    table_ = new QTableWidget(0, kColumnCount, this);
    table_->setObjectName(QStringLiteral("tableWidgetPlan"));
    table_->setHorizontalHeaderLabels(
        {tr("Device name"), tr("MAC address"), tr("Current IP address"), tr("New IP address"), tr("Status")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("labelSummary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);

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

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(table_);
    layout->addWidget(summary_);
    layout->addLayout(buttons);

    FillTable();
    const std::vector<ReaddressGroup> groups = GroupByInterface(interfaces_, devices_);
    if (!groups.empty()) {
        interface_->setCurrentIndex(std::max(0, interface_->findData(groups.front().interfaceIndex)));
    }
    OnInterfaceChanged();

    vf = connect(interface_, SIGNAL(activated(int)), this, SLOT(OnInterfaceChanged()));
    for (QLineEdit* field : {first_, mask_, gateway_, dns_}) {
        vf = connect(field, SIGNAL(editingFinished()), this, SLOT(UpdatePlan()));
    }
    vf = connect(apply_, SIGNAL(clicked()), this, SLOT(OnApply()));
    vf = connect(cancel_, SIGNAL(clicked()), this, SLOT(OnCancelBatch()));
    vf = connect(close_, SIGNAL(clicked()), this, SLOT(reject()));
    resize(840, 480);
}

ReaddressDialog::~ReaddressDialog()
{
    password_->clear();
}

void ReaddressDialog::FillTable()
{
    table_->setRowCount(static_cast<int>(devices_.size()));
    for (int row = 0; row < table_->rowCount(); ++row) {
        const DeviceNetworkParams& params = devices_[static_cast<size_t>(row)].params;
        table_->setItem(row, kNameColumn, Cell(QString::fromStdString(params.deviceName)));
        table_->setItem(row, kMacColumn, Cell(MacText(params)));
        table_->setItem(row, kCurrentColumn, Cell(AddressText(params.ip)));
        table_->setItem(row, kNewColumn, Cell(QString()));
        table_->setItem(row, kStatusColumn, Cell(QString()));
    }
    table_->resizeColumnsToContents();
}

std::vector<bool> ReaddressDialog::Probe(const std::vector<uint32_t>& candidates)
{
    std::vector<Ipv4Network> local;
    for (const WorkstationInterface& netif : interfaces_) {
        local.insert(local.end(), netif.networks.begin(), netif.networks.end());
    }
    // Only an address on one of this workstation's own links can be asked
    // for its hardware address; one beyond a router counts as free.
    std::vector<uint32_t> unknown;
    for (const uint32_t ip : candidates) {
        if (probed_.count(ip) == 0 && InAnyNetwork(local, ip)) {
            unknown.push_back(ip);
        }
    }
    if (!unknown.empty()) {
        const std::vector<bool> answers = ProbeByArpTable(unknown, kArpProbeWaitMs);
        for (size_t i = 0; i < unknown.size(); ++i) {
            probed_[unknown[i]] = answers[i];
        }
    }
    std::vector<bool> result;
    for (const uint32_t ip : candidates) {
        const auto found = probed_.find(ip);
        result.push_back(found != probed_.end() && found->second);
    }
    return result;
}

void ReaddressDialog::OnInterfaceChanged()
{
    const int index = interface_->currentData().toInt();
    ReaddressDefaults defaults;
    for (const WorkstationInterface& netif : interfaces_) {
        if (netif.index == index) {
            defaults = DefaultReaddress(
                netif, devices_, taken_, [this](const std::vector<uint32_t>& c) { return Probe(c); },
                WorkstationGateways());
        }
    }
    first_->setText(OptionalAddressText(defaults.first));
    mask_->setText(OptionalAddressText(defaults.mask));
    gateway_->setText(OptionalAddressText(defaults.gateway));
    dns_->setText(OptionalAddressText(defaults.dns));
    UpdatePlan();
}

bool ReaddressDialog::ReadFields(uint32_t& first, uint32_t& mask, uint32_t& gateway, uint32_t& dns,
                                 QString& error) const
{
    struct Field {
        QLineEdit* edit;
        uint32_t* value;
        bool optional;
        QString message;
    };
    const Field fields[] = {
        {first_, &first, false, tr("Invalid first IP address")},
        {mask_, &mask, false, tr("Invalid network mask")},
        {gateway_, &gateway, true, tr("Invalid gateway")},
        {dns_, &dns, true, tr("Invalid DNS")},
    };
    for (const Field& field : fields) {
        const QString text = field.edit->text().trimmed();
        if (field.optional && text.isEmpty()) {
            *field.value = 0;
            continue;
        }
        if (!StringToIpType(text.toStdString(), *field.value)) {
            error = field.message;
            return false;
        }
    }
    error = CheckStaticAddressing(first, mask, gateway);
    return error.isEmpty();
}

void ReaddressDialog::ShowSummary(const QString& text, bool isError)
{
    summary_->setStyleSheet(isError ? QStringLiteral("color: red") : QString());
    summary_->setText(text);
}

void ReaddressDialog::UpdatePlan()
{
    if (batch_ != nullptr) {
        return; // the plan that was applied stays shown
    }
    planned_.clear();
    uint32_t first = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
    QString error;
    if (ReadFields(first, mask, gateway, dns, error)) {
        planned_ = FreeAddresses(
            first, mask, devices_.size(), taken_, [this](const std::vector<uint32_t>& c) { return Probe(c); },
            error);
        if (!error.isEmpty()) {
            planned_.clear();
        }
    }
    for (int row = 0; row < table_->rowCount(); ++row) {
        const size_t i = static_cast<size_t>(row);
        table_->item(row, kNewColumn)->setText(i < planned_.size() ? AddressText(planned_[i]) : QString());
    }
    table_->resizeColumnsToContents();
    ShowSummary(error, !error.isEmpty());
    apply_->setEnabled(!planned_.empty());
}

void ReaddressDialog::OnApply()
{
    UpdatePlan();
    if (batch_ != nullptr || planned_.empty()) {
        return;
    }
    uint32_t first = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
    QString error;
    if (!ReadFields(first, mask, gateway, dns, error)) {
        return;
    }
    QByteArray password = password_->text().toUtf8();
    if (password.size() > kMaxPasswordBytes) {
        ShowErrorBox(this,
                     tr("The password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)"));
        return;
    }
    const std::vector<Ipv4Network> networks = NetworksOf(interfaces_, 0);
    if (!InAnyNetwork(networks, first)) {
        QMessageBox question(QMessageBox::Question, windowTitle(),
                             tr("After this change the tool cannot reach the device from this workstation "
                                "(its networks: %1). Apply anyway?")
                                 .arg(NetworksText(networks)),
                             QMessageBox::Yes | QMessageBox::No, this);
        question.setTextFormat(Qt::PlainText);
        question.setDefaultButton(QMessageBox::No);
        if (question.exec() != QMessageBox::Yes) {
            return;
        }
    }

    ReaddressGroup group;
    group.devices = devices_;
    group.first = first;
    group.mask = mask;
    group.gateway = gateway;
    group.dns = dns;
    group.addresses = planned_;
    batch_ = new ReaddressBatch(PlannedEntries({group}), password, this);
    password.fill('\0');
    password_->clear();
    batch_->SetPasswordAsker([this](const ReaddressEntry& entry, QByteArray& answer, bool& /*forOthers*/) {
        return AskPassword(entry, answer);
    });
    vf = connect(batch_, SIGNAL(EntryChanged(int)), this, SLOT(OnEntryChanged(int)));
    vf = connect(batch_, SIGNAL(Finished()), this, SLOT(OnBatchFinished()));
    for (QWidget* w : std::initializer_list<QWidget*>{interface_, first_, mask_, gateway_, dns_, password_,
                                                      apply_, close_}) {
        w->setEnabled(false);
    }
    cancel_->setEnabled(true);
    ShowSummary(tr("Readdressing %1 devices...").arg(devices_.size()), false);
    batch_->Start();
}

bool ReaddressDialog::AskPassword(const ReaddressEntry& entry, QByteArray& password)
{
    QInputDialog ask(this);
    ask.setObjectName(QStringLiteral("readdressPasswordDialog"));
    ask.setWindowTitle(tr("Password refused"));
    ask.setInputMode(QInputDialog::TextInput);
    ask.setTextEchoMode(QLineEdit::Password);
    ask.setLabelText(tr("%1 (%2) refused the administrator password. Its own password:")
                         .arg(QString::fromStdString(entry.current.deviceName), MacText(entry.current)));
    // The device names itself: never taken as markup.
    for (QLabel* label : ask.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    if (ask.exec() != QDialog::Accepted) {
        return false;
    }
    password = ask.textValue().toUtf8();
    ask.setTextValue(QString());
    return password.size() <= kMaxPasswordBytes;
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

void ReaddressDialog::OnBatchFinished()
{
    cancel_->setEnabled(false);
    close_->setEnabled(true);
    table_->resizeColumnsToContents();
    ShowSummary(batch_->Summary(), false);
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
