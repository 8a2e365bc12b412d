#include "NetworkPage.h"

#include "AddressProblems.h"
#include "AssignmentVerifier.h"
#include "ChangeRecord.h"
#include "DiscoveryProtocol.h"
#include "ErrorBox.h"
#include "Ipv4Networks.h"
#include "Md5Hash.h"
#include "SettingsDialog.h"
#include "UdpModule.h"
#include "ui_SettingsDialog.h"

#include <easylogging++.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace {

const AssignmentVerifier vf;

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

QByteArray ToDatagram(const std::vector<char>& bytes)
{
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}

bool FitsRequestField(const QString& text)
{
    return static_cast<size_t>(text.toUtf8().size()) <= kMaxRequestTextBytes;
}

// The device compares the digest of the current password with that of the
// one it holds, which never exceeds its field either.
const char kPasswordLengthMessage[] = QT_TRANSLATE_NOOP(
    "SettingsDialog", "The password must be 1 to 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
const char kCurrentPasswordLengthMessage[] = QT_TRANSLATE_NOOP(
    "SettingsDialog",
    "The current password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");

// What a search shows of a network change: the name and addressing mode,
// and with static addressing the address, mask and gateway (a DHCP server
// gives its own; the reply carries no DNS).
bool SameSettings(const DeviceNetworkParams& shown, const DeviceNetworkParams& expected)
{
    if (shown.deviceName != expected.deviceName || shown.connectionType != expected.connectionType) {
        return false;
    }
    return expected.connectionType != STATIC ||
           (shown.ip == expected.ip && shown.mask == expected.mask && shown.gateway == expected.gateway);
}

// The outcome of a settings reply for the change record.
QString ResultText(ResponseCode code)
{
    switch (code) {
    case Success:
        return QStringLiteral("changed");
    case InvalidPassword:
        return QStringLiteral("failed: invalid password");
    case Error:
        return QStringLiteral("failed: error occured");
    default:
        return QStringLiteral("failed: unknown response code %1").arg(static_cast<int>(code));
    }
}

const char kPasswordChange[] = "password";

} // namespace

NetworkPage::NetworkPage(SettingsDialog* dialog, Ui::SettingsDialog* ui, DeviceNetworkParams& params,
                         int interfaceIndex)
    : QObject(dialog), dialog_(dialog), ui_(ui), params_(params), interfaceIndex_(interfaceIndex)
{
    udpModule_ = new UdpModuleWithTimer(dialog);
    vf = connect(ui_->comboBoxIpType, SIGNAL(currentIndexChanged(int)), this,
                 SLOT(UpdateAddressFieldsEnabled()));
}

// Closing the dialog while a request waits ends the exchange silently: the
// transport emits nothing as it is destroyed.
NetworkPage::~NetworkPage() = default;

void NetworkPage::LoadFromParams()
{
    ui_->lineEditDeviceName->setText(QString::fromStdString(params_.deviceName));
    ui_->comboBoxIpType->setCurrentIndex(static_cast<int>(params_.connectionType));
    ui_->lineEditIpAddress->setText(AddressText(params_.ip));
    ui_->lineEditNetMask->setText(AddressText(params_.mask));
    ui_->lineEditGateway->setText(AddressText(params_.gateway));
    ui_->lineEditDns->setText(AddressText(params_.dns));
    UpdateAddressFieldsEnabled();
}

void NetworkPage::UpdateAddressFieldsEnabled()
{
    // While a request waits the whole group is disabled and stays so.
    const bool enable = ui_->comboBoxIpType->isEnabled() && ui_->comboBoxIpType->currentIndex() == STATIC;
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->lineEditIpAddress, ui_->lineEditNetMask,
                                                      ui_->lineEditGateway}) {
        w->setEnabled(enable);
    }
}

bool NetworkPage::FromGuiControls(DeviceNetworkParams& params, QString& errorMessage) const
{
    QLineEdit* unused = nullptr;
    return ReadControls(params, errorMessage, unused);
}

bool NetworkPage::ReadControls(DeviceNetworkParams& params, QString& errorMessage,
                               QLineEdit*& invalidField) const
{
    // Only the form of each address is checked, in the order of the fields;
    // the first bad one names the error.
    struct Field {
        QLineEdit* edit;
        uint32_t* value;
        const char* message;
    };
    const Field fields[] = {
        {ui_->lineEditIpAddress, &params.ip, QT_TRANSLATE_NOOP("SettingsDialog", "Invalid IP-address")},
        {ui_->lineEditNetMask, &params.mask, QT_TRANSLATE_NOOP("SettingsDialog", "Invalid network mask")},
        {ui_->lineEditGateway, &params.gateway, QT_TRANSLATE_NOOP("SettingsDialog", "Invalid gateway")},
        {ui_->lineEditDns, &params.dns, QT_TRANSLATE_NOOP("SettingsDialog", "Invalid DNS")},
    };
    // A longer name would reach the device cut, while the table kept it whole.
    if (!FitsRequestField(ui_->lineEditDeviceName->text())) {
        errorMessage = SettingsDialog::tr(
            "The device name must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
        invalidField = ui_->lineEditDeviceName;
        return false;
    }
    for (const Field& field : fields) {
        if (!StringToIpType(field.edit->text().toStdString(), *field.value)) {
            errorMessage = SettingsDialog::tr(field.message);
            invalidField = field.edit;
            return false;
        }
    }

    params.productName = params_.productName;
    std::copy(std::begin(params_.mac), std::end(params_.mac), std::begin(params.mac));
    params.firmWare = params_.firmWare;
    params.serialNo = params_.serialNo;
    params.deviceName = ui_->lineEditDeviceName->text().toStdString();
    params.connectionType = static_cast<ConnectionType>(ui_->comboBoxIpType->currentIndex());

    VLOG(1) << "FromGuiControls without errors";
    return true;
}

void NetworkPage::ShowInputError(const QString& message)
{
    ShowErrorBox(dialog_, message);
}

void NetworkPage::OnApplyNetworkParams()
{
    DeviceNetworkParams params{};
    QString errorMessage;
    QLineEdit* invalidField = nullptr;
    if (!ReadControls(params, errorMessage, invalidField)) {
        ShowInputError(errorMessage);
        FocusField(invalidField);
        return;
    }
    if (!FitsRequestField(ui_->lineEditCurPassword->text())) {
        ShowInputError(SettingsDialog::tr(kCurrentPasswordLengthMessage));
        FocusField(ui_->lineEditCurPassword);
        return;
    }
    if (!AddressingAccepted(params)) {
        return;
    }
    sent_ = params;
    request_ = Request::Network;

    EnableNetworkParamsControls(false);
    waitingResponse_ = true;
    dialog_->ShowStatus(SettingsDialog::tr("Applying network parameters..."));

    udpModule_->Start();
    vf = connect(udpModule_, SIGNAL(DatagramReceived(const QByteArray&)), this,
                 SLOT(ProcessNetworkParamsReply(const QByteArray&)));
    vf = connect(udpModule_, SIGNAL(Stopped()), this, SLOT(ProcessNetworkParamsNoResponse()));

    QString transportError;
    if (!CanListen(transportError)) {
        ApplyNetworkParamsDone(transportError, false);
        return;
    }
    const QByteArray password = ui_->lineEditCurPassword->text().toUtf8();
    const auto digest = utils::GetMD5Hash(password.constData(), static_cast<size_t>(password.size()));
    if (!digest) {
        ApplyNetworkParamsDone(
            SettingsDialog::tr("Failed to apply network parameters: cannot compute the password digest"),
            false);
        return;
    }
    if (!Send(ComposeNetworkSettingsRequest(params, digest.get()), transportError)) {
        ApplyNetworkParamsDone(transportError, false);
        return;
    }
    VLOG(1) << "NetworkSetting Request is sent";
}

bool NetworkPage::AddressingAccepted(const DeviceNetworkParams& params)
{
    // With DHCP the device takes its addresses from the server: there is
    // nothing to check.
    if (params.connectionType != STATIC) {
        return true;
    }
    const QString refusal = CheckStaticAddressing(params.ip, params.mask, params.gateway);
    if (!refusal.isEmpty()) {
        const Ipv4Network network{params.ip, params.mask};
        QLineEdit* field = ui_->lineEditGateway;
        if (!IsContiguousMask(params.mask)) {
            field = ui_->lineEditNetMask;
        } else if (params.ip == network.Base() || params.ip == (network.Base() | ~params.mask)) {
            field = ui_->lineEditIpAddress;
        }
        ShowInputError(refusal);
        FocusField(field);
        return false;
    }
    const QString question = AddressChangeQuestion(params_.ip, params.ip, dialog_->ListedAddresses(),
                                                   NetworksOf(WorkstationInterfaces(), interfaceIndex_));
    if (!question.isEmpty() && !dialog_->Ask(question)) {
        dialog_->ShowStatus(SettingsDialog::tr("Network parameters were not applied; nothing was sent"));
        FocusField(ui_->lineEditIpAddress);
        return false;
    }
    return true;
}

void NetworkPage::FocusField(QLineEdit* field)
{
    // With DHCP the address fields are disabled: the IP type unlocks them.
    QWidget* target = field->isEnabled() ? static_cast<QWidget*>(field) : ui_->comboBoxIpType;
    target->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void NetworkPage::OnApplyAuthParams()
{
    if (ui_->lineEditNewPassword2->text() != ui_->lineEditNewPassword->text()) {
        ShowInputError(SettingsDialog::tr("Passwords are not equal"));
        return;
    }
    // The wire would cut a longer password, also inside a letter, and the
    // device would take the cut one: the user would be locked out.
    if (!FitsRequestField(ui_->lineEditCurPassword2->text())) {
        ShowInputError(SettingsDialog::tr(kCurrentPasswordLengthMessage));
        FocusField(ui_->lineEditCurPassword2);
        return;
    }
    const QString newPassword = ui_->lineEditNewPassword->text();
    if (newPassword.isEmpty() || !FitsRequestField(newPassword)) {
        ShowInputError(SettingsDialog::tr(kPasswordLengthMessage));
        FocusField(ui_->lineEditNewPassword);
        return;
    }

    EnableAuthParamsControls(false);
    waitingResponse_ = true;
    request_ = Request::Auth;
    dialog_->ShowStatus(SettingsDialog::tr("Applying auth parameters..."));

    udpModule_->Start();
    vf = connect(udpModule_, SIGNAL(DatagramReceived(const QByteArray&)), this,
                 SLOT(ProcessAuthParamsReply(const QByteArray&)));
    vf = connect(udpModule_, SIGNAL(Stopped()), this, SLOT(ProcessAuthParamsNoResponse()));

    QString transportError;
    if (!CanListen(transportError)) {
        ApplyAuthParamsDone(transportError, false);
        return;
    }
    const QByteArray password = ui_->lineEditCurPassword2->text().toUtf8();
    const auto digest = utils::GetMD5Hash(password.constData(), static_cast<size_t>(password.size()));
    if (!digest) {
        ApplyAuthParamsDone(
            SettingsDialog::tr("Failed to change password: cannot compute the password digest"), false);
        return;
    }
    if (!Send(ComposeAuthSettingsRequest(params_.mac, digest.get(), newPassword.toStdString()),
              transportError)) {
        ApplyAuthParamsDone(transportError, false);
        return;
    }
    VLOG(1) << "AuthSetting Request is sent";
}

bool NetworkPage::CanListen(QString& errorMessage) const
{
    // A request whose reply cannot be heard would change the device without
    // the tool ever learning the outcome: it is not sent at all.
    const QString error = udpModule_->ListenError();
    if (error.isEmpty()) {
        return true;
    }
    errorMessage =
        SettingsDialog::tr("Cannot listen on UDP port %1: ").arg(UdpModuleWithTimer::kListenPort) + error;
    return false;
}

bool NetworkPage::Send(const std::vector<char>& request, QString& errorMessage)
{
    udpModule_->SendBroadcast(ToDatagram(request), SettingsRequestLogDump(request), interfaceIndex_);
    const QString error = udpModule_->SendError();
    if (error.isEmpty()) {
        return true;
    }
    errorMessage = SettingsDialog::tr("Cannot send the settings request: ") + error;
    return false;
}

void NetworkPage::EnableNetworkParamsControls(bool enable)
{
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui_->lineEditDeviceName, ui_->comboBoxIpType, ui_->lineEditIpAddress, ui_->lineEditNetMask,
             ui_->lineEditGateway, ui_->lineEditDns, ui_->lineEditCurPassword, ui_->pushButtonApply1,
             ui_->pushButtonApply2}) {
        w->setEnabled(enable);
    }
    UpdateAddressFieldsEnabled();
}

void NetworkPage::EnableAuthParamsControls(bool enable)
{
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->lineEditCurPassword2, ui_->lineEditNewPassword,
                                                      ui_->lineEditNewPassword2, ui_->pushButtonApply1,
                                                      ui_->pushButtonApply2}) {
        w->setEnabled(enable);
    }
}

void NetworkPage::ProcessNetworkParamsReply(const QByteArray& rawContent)
{
    ResponseCode code = Success;
    if (!ParseNetworkAuthSettingsResponse(rawContent.constData(), static_cast<size_t>(rawContent.size()),
                                          NetworkSetting, params_.mac, code)) {
        VLOG(1) << "Response not recognized";
        return;
    }

    QString message;
    bool success = false;
    switch (code) {
    case Success:
        message = SettingsDialog::tr("Network parameters were applied successfully");
        success = true;
        break;
    case InvalidPassword:
        message = SettingsDialog::tr("Failed to apply network parameters: invalid password");
        break;
    case Error:
        message = SettingsDialog::tr("Failed to apply network parameters: error occured");
        break;
    default:
        // A code the protocol gives no meaning ends the exchange as a failure
        // rather than leaving the user to wait for the time-out.
        message = SettingsDialog::tr("Failed to apply network parameters: unknown response code %1")
                      .arg(static_cast<int>(code));
        break;
    }

    dialog_->RecordChange(NetworkChangeText(params_, sent_), ResultText(code));
    if (success) {
        // The controls are disabled and still hold what was sent.
        DeviceNetworkParams applied{};
        QString unused;
        vf = FromGuiControls(applied, unused);
        const bool addressChanged = applied.ip != params_.ip;
        params_ = applied;
        emit RecordChanged();
        if (addressChanged) {
            emit AddressChanged();
        }
    }
    VLOG(1) << "NetworkSetting Response recognized; code: " << static_cast<int>(code) << ": "
            << message.toStdString();
    ApplyNetworkParamsDone(message, success);
}

void NetworkPage::ProcessAuthParamsReply(const QByteArray& rawContent)
{
    ResponseCode code = Success;
    if (!ParseNetworkAuthSettingsResponse(rawContent.constData(), static_cast<size_t>(rawContent.size()),
                                          AuthSetting, params_.mac, code)) {
        VLOG(1) << "Response not recognized";
        return;
    }

    QString message;
    bool success = false;
    switch (code) {
    case Success:
        message = SettingsDialog::tr("Password was changed successfully");
        success = true;
        break;
    case InvalidPassword:
        message = SettingsDialog::tr("Failed to change password: invalid password");
        break;
    case Error:
        message = SettingsDialog::tr("Failed to change password: error occured");
        break;
    default:
        message = SettingsDialog::tr("Failed to change password: unknown response code %1")
                      .arg(static_cast<int>(code));
        break;
    }
    dialog_->RecordChange(QLatin1String(kPasswordChange), ResultText(code));
    VLOG(1) << "AuthSetting Response recognized; code: " << static_cast<int>(code) << ": "
            << message.toStdString();
    ApplyAuthParamsDone(message, success);
}

void NetworkPage::ClearPasswordFields()
{
    // The old password is no longer the device's: none of the typed
    // passwords stays in the form, the network group's included.
    for (QLineEdit* field : {ui_->lineEditCurPassword, ui_->lineEditCurPassword2, ui_->lineEditNewPassword,
                             ui_->lineEditNewPassword2}) {
        field->clear();
    }
}

void NetworkPage::ProcessNetworkParamsNoResponse()
{
    VLOG(6) << "waitingResponse_: " << waitingResponse_;
    if (!waitingResponse_) {
        return;
    }
    StartCheck();
}

void NetworkPage::ProcessAuthParamsNoResponse()
{
    VLOG(6) << "waitingResponse_: " << waitingResponse_;
    if (!waitingResponse_) {
        return;
    }
    StartCheck();
}

void NetworkPage::StartCheck()
{
    // Called as the request's run ends: the search is the transport's next
    // run, with the same listening time.
    disconnect(udpModule_, nullptr, this, nullptr);
    dialog_->ShowStatus(SettingsDialog::tr("No response from the device; searching for it..."));
    udpModule_->Start();
    vf = connect(udpModule_, &UdpModuleWithTimer::DatagramsReceived, this, &NetworkPage::ProcessCheckReplies);
    vf = connect(udpModule_, &UdpModuleWithTimer::Stopped, this, &NetworkPage::ProcessCheckEnd);
    if (!udpModule_->ListenError().isEmpty()) {
        FinishCheck(nullptr);
        return;
    }
    udpModule_->SendBroadcast(ToDatagram(ComposeDiscoverRequest()), interfaceIndex_);
    if (!udpModule_->SendError().isEmpty()) {
        FinishCheck(nullptr);
    }
}

void NetworkPage::ProcessCheckReplies(const DatagramBatch& batch)
{
    for (const ReceivedDatagram& datagram : batch) {
        // Only the device behind the interface the request went out on: a
        // device with the same MAC elsewhere is another one.
        if (interfaceIndex_ != 0 && datagram.interfaceIndex != 0 &&
            datagram.interfaceIndex != interfaceIndex_) {
            continue;
        }
        DeviceNetworkParams found{};
        if (ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                  found) &&
            std::equal(std::begin(found.mac), std::end(found.mac), std::begin(params_.mac))) {
            FinishCheck(&found);
            return;
        }
    }
}

void NetworkPage::ProcessCheckEnd()
{
    FinishCheck(nullptr);
}

void NetworkPage::FinishCheck(const DeviceNetworkParams* found)
{
    const Request request = request_;
    QString outcome;
    bool applied = false;
    if (found == nullptr) {
        outcome = SettingsDialog::tr("the device did not answer the search either");
    } else if (request == Request::Auth) {
        outcome = SettingsDialog::tr("a new search shows the device, but not whether its password changed");
    } else if (SameSettings(*found, sent_)) {
        outcome = SettingsDialog::tr("a new search shows the device with the new settings");
        applied = true;
    } else if (SameSettings(*found, params_)) {
        outcome = SettingsDialog::tr("a new search shows the device unchanged");
    } else {
        outcome = SettingsDialog::tr("a new search shows the device with settings that are neither the old "
                                     "nor the new ones");
    }
    VLOG(1) << "Search after no response: " << outcome.toStdString();

    if (request == Request::Auth) {
        dialog_->RecordChange(QLatin1String(kPasswordChange), QStringLiteral("no response; ") + outcome);
        ApplyAuthParamsDone(SettingsDialog::tr("Failed to change password: no response from device") +
                                QStringLiteral("; ") + outcome,
                            false);
        return;
    }
    dialog_->RecordChange(NetworkChangeText(params_, sent_), QStringLiteral("no response; ") + outcome);
    if (applied) {
        // The device shows the change: the record takes what was sent, as
        // after a reply.
        DeviceNetworkParams taken = sent_;
        if (taken.connectionType != STATIC) {
            // The addresses are the ones the server gave.
            taken.ip = found->ip;
            taken.mask = found->mask;
            taken.gateway = found->gateway;
        }
        const bool addressChanged = taken.ip != params_.ip;
        params_ = taken;
        emit RecordChanged();
        if (addressChanged) {
            emit AddressChanged();
        }
    }
    ApplyNetworkParamsDone(SettingsDialog::tr("Failed to apply network parameters: no response from device") +
                               QStringLiteral("; ") + outcome,
                           false);
}

void NetworkPage::StopExchange()
{
    // Disconnected first, so the run's Stopped() does not reach the
    // no-response slot and later datagrams are dropped.
    disconnect(udpModule_, nullptr, this, nullptr);
    udpModule_->Stop();
}

void NetworkPage::ApplyNetworkParamsDone(const QString& message, bool success)
{
    EnableNetworkParamsControls(true);
    waitingResponse_ = false;
    request_ = Request::None;
    StopExchange();
    VLOG(1) << "NetworkSetting command done, success: " << success << "; " << message.toStdString();
    if (success) {
        dialog_->ShowStatus(message);
    } else {
        dialog_->DisplayError(message);
    }
}

void NetworkPage::ApplyAuthParamsDone(const QString& message, bool success)
{
    EnableAuthParamsControls(true);
    waitingResponse_ = false;
    request_ = Request::None;
    StopExchange();
    VLOG(1) << "AuthSetting command done, success: " << success << "; " << message.toStdString();
    if (success) {
        ClearPasswordFields();
        dialog_->ShowStatus(message);
    } else {
        dialog_->DisplayError(message);
    }
}
