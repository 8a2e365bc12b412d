#include "NetworkPage.h"

#include "AddressProblems.h"
#include "AssignmentVerifier.h"
#include "ChangeRecord.h"
#include "ErrorBox.h"
#include "Ipv4Networks.h"
#include "Md5Hash.h"
#include "SettingsExchange.h"
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

bool FitsRequestField(const QString& text)
{
    return static_cast<size_t>(text.toUtf8().size()) <= kMaxRequestTextBytes;
}

// The device compares the digest of the current password with that of the
// one it holds, which never exceeds its field either.
const char kPasswordLengthMessage[] = QT_TRANSLATE_NOOP(
    "NetworkPage", "The password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
const char kCurrentPasswordLengthMessage[] = QT_TRANSLATE_NOOP(
    "NetworkPage", "The current password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");

} // namespace

NetworkPage::NetworkPage(QWidget* parent, Ui::SettingsDialog* ui, DeviceNetworkParams& params,
                         const std::vector<uint32_t>& listedAddresses, int interfaceIndex)
    : QObject(parent), parent_(parent), ui_(ui), params_(params), listedAddresses_(listedAddresses),
      exchange_(new SettingsExchange(this)), interfaceIndex_(interfaceIndex)
{
    vf = connect(ui_->pushButtonApply1, SIGNAL(clicked()), this, SLOT(OnApplyNetworkParams()));
    vf = connect(ui_->pushButtonApply2, SIGNAL(clicked()), this, SLOT(OnApplyAuthParams()));
    vf = connect(ui_->comboBoxIpType, SIGNAL(currentIndexChanged(int)), this,
                 SLOT(UpdateAddressFieldsEnabled()));
    vf = connect(exchange_, &SettingsExchange::Searching, this,
                 [this] { emit StatusChanged(tr("No response from the device; searching for it...")); });
    vf = connect(exchange_, &SettingsExchange::Finished, this, &NetworkPage::OnFinished);
}

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
        {ui_->lineEditIpAddress, &params.ip, QT_TRANSLATE_NOOP("NetworkPage", "Invalid IP-address")},
        {ui_->lineEditNetMask, &params.mask, QT_TRANSLATE_NOOP("NetworkPage", "Invalid network mask")},
        {ui_->lineEditGateway, &params.gateway, QT_TRANSLATE_NOOP("NetworkPage", "Invalid gateway")},
        {ui_->lineEditDns, &params.dns, QT_TRANSLATE_NOOP("NetworkPage", "Invalid DNS")},
    };
    // A longer name would reach the device cut, while the table kept it whole.
    if (!FitsRequestField(ui_->lineEditDeviceName->text())) {
        errorMessage = tr("The device name must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
        invalidField = ui_->lineEditDeviceName;
        return false;
    }
    for (const Field& field : fields) {
        if (!StringToIpType(field.edit->text().toStdString(), *field.value)) {
            errorMessage = tr(field.message);
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

void NetworkPage::ShowInputError(const QString& message, QLineEdit* field)
{
    ShowErrorBox(parent_, message);
    if (field != nullptr) {
        FocusField(field);
    }
}

void NetworkPage::SetRefusal(const QString& refusal)
{
    refusal_ = refusal;
}

void NetworkPage::OnApplyNetworkParams()
{
    if (!refusal_.isEmpty()) {
        ShowInputError(refusal_, nullptr);
        return;
    }
    DeviceNetworkParams params{};
    QString errorMessage;
    QLineEdit* invalidField = nullptr;
    if (!ReadControls(params, errorMessage, invalidField)) {
        ShowInputError(errorMessage, invalidField);
        return;
    }
    if (!FitsRequestField(ui_->lineEditCurPassword->text())) {
        ShowInputError(tr(kCurrentPasswordLengthMessage), ui_->lineEditCurPassword);
        return;
    }
    if (!AddressingAccepted(params)) {
        return;
    }
    sent_ = params;
    EnableGroup(Request::Network, false);
    emit StatusChanged(tr("Applying network parameters..."));
    Send(Request::Network, ui_->lineEditCurPassword->text());
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
        ShowInputError(refusal, field);
        return false;
    }
    const QString question = AddressChangeQuestion(params_.ip, params.ip, listedAddresses_,
                                                   NetworksOf(WorkstationInterfaces(), interfaceIndex_));
    if (!question.isEmpty() && !AskYesNo(parent_, question)) {
        emit StatusChanged(tr("Network parameters were not applied; nothing was sent"));
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
    if (!refusal_.isEmpty()) {
        ShowInputError(refusal_, nullptr);
        return;
    }
    if (ui_->lineEditNewPassword2->text() != ui_->lineEditNewPassword->text()) {
        ShowInputError(tr("Passwords are not equal"), nullptr);
        return;
    }
    // The wire would cut a longer password, also inside a letter, and the
    // device would take the cut one: the user would be locked out.
    if (!FitsRequestField(ui_->lineEditCurPassword2->text())) {
        ShowInputError(tr(kCurrentPasswordLengthMessage), ui_->lineEditCurPassword2);
        return;
    }
    const QString newPassword = ui_->lineEditNewPassword->text();
    if (!FitsRequestField(newPassword)) {
        ShowInputError(tr(kPasswordLengthMessage), ui_->lineEditNewPassword);
        return;
    }
    // Devices take an empty password (and some installations rely on one),
    // but it leaves the device open to anyone on its network.
    if (newPassword.isEmpty() &&
        !AskYesNo(parent_, tr("The device will have no administrator password. Continue?"))) {
        emit StatusChanged(tr("The password was not changed; nothing was sent"));
        return;
    }
    EnableGroup(Request::Auth, false);
    emit StatusChanged(tr("Applying auth parameters..."));
    Send(Request::Auth, ui_->lineEditCurPassword2->text());
}

void NetworkPage::Send(Request request, const QString& password)
{
    request_ = request;
    const QByteArray bytes = password.toUtf8();
    const auto digest = utils::GetMD5Hash(bytes.constData(), static_cast<size_t>(bytes.size()));
    const SettingsExchange::Texts texts =
        request == Request::Auth ? SettingsExchange::Texts{tr("Password was changed successfully"),
                                                           tr("Failed to change password: ")}
                                 : SettingsExchange::Texts{tr("Network parameters were applied successfully"),
                                                           tr("Failed to apply network parameters: ")};
    if (!digest) {
        Done(texts.Failure(tr("cannot compute the password digest")), false);
        return;
    }
    if (request == Request::Auth) {
        const std::string newPassword = ui_->lineEditNewPassword->text().toStdString();
        exchange_->Start(AuthSetting, params_, params_,
                         ComposeAuthSettingsRequest(params_.mac, digest.get(), newPassword), interfaceIndex_,
                         texts);
    } else {
        exchange_->Start(NetworkSetting, params_, sent_, ComposeNetworkSettingsRequest(sent_, digest.get()),
                         interfaceIndex_, texts);
    }
}

void NetworkPage::EnableGroup(Request group, bool enable)
{
    const std::initializer_list<QWidget*> network{
        ui_->lineEditDeviceName, ui_->lineEditIpAddress, ui_->lineEditNetMask,    ui_->lineEditGateway,
        ui_->lineEditDns,        ui_->comboBoxIpType,    ui_->lineEditCurPassword};
    const std::initializer_list<QWidget*> auth{ui_->lineEditCurPassword2, ui_->lineEditNewPassword,
                                               ui_->lineEditNewPassword2};
    // Either group's request holds both Apply buttons: one request is out at a time.
    for (QWidget* w : group == Request::Auth ? auth : network) {
        w->setEnabled(enable);
    }
    ui_->pushButtonApply1->setEnabled(enable);
    ui_->pushButtonApply2->setEnabled(enable);
    UpdateAddressFieldsEnabled();
}

void NetworkPage::OnFinished(const SettingsExchange::Result& result)
{
    if (!result.recordText.isEmpty()) {
        emit ChangeSent(request_ == Request::Auth ? QStringLiteral("password")
                                                  : NetworkChangeText(params_, sent_),
                        result.recordText);
    }
    if (result.applied) {
        // The device holds the change: the record takes it.
        const bool addressChanged = result.record.ip != params_.ip;
        params_ = result.record;
        emit RecordChanged();
        if (addressChanged) {
            emit AddressChanged();
        }
    }
    Done(result.message, result.success);
}

void NetworkPage::Done(const QString& message, bool success)
{
    const bool auth = request_ == Request::Auth;
    request_ = Request::None;
    exchange_->Stop();
    EnableGroup(auth ? Request::Auth : Request::Network, true);
    VLOG(1) << (auth ? "AuthSetting" : "NetworkSetting") << " command done, success: " << success << "; "
            << message.toStdString();
    if (!success) {
        emit ErrorOccurred(message);
        return;
    }
    if (auth) {
        // The old password is no longer the device's: none of the typed
        // passwords stays in the form, the network group's included.
        for (QLineEdit* field : {ui_->lineEditCurPassword, ui_->lineEditCurPassword2,
                                 ui_->lineEditNewPassword, ui_->lineEditNewPassword2}) {
            field->clear();
        }
    }
    emit StatusChanged(message);
}
