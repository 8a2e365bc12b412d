#include "SettingsDialog.h"

#include "AssignmentVerifier.h"
#include "CameraPositionTab.h"
#include "ClassifierTab.h"
#include "DrawableView.h"
#include "HttpClientDialog.h"
#include "HttpClientModule.h"
#include "NetworkPage.h"
#include "ParseHttpRequest.h"
#include "VcaConfigReader.h"
#include "ZonesTab.h"
#include "ui_SettingsDialog.h"

#include <QMessageBox>

#include <easylogging++.h>

#include <algorithm>
#include <cassert>
#include <map>

namespace {

const AssignmentVerifier vf;

// Credentials of the device's web interface for the commands that change its
// configuration.
const char* const kHttpUser = "root";
const char* const kHttpPassword = "kqzt";
// The URL carries no port: the HTTP default applies.
constexpr int kHttpPortNone = -1;

}  // namespace

SettingsDialog::SettingsDialog(const DeviceNetworkParams& params, QWidget* parent)
    : QDialog(parent), ui(new Ui::SettingsDialog), params_(std::make_unique<DeviceNetworkParams>(params))
{
    ui->setupUi(this);
    Init();
}

SettingsDialog::~SettingsDialog()
{
    // The HTTP module is destroyed with the dialog's children and aborts a
    // request still in flight; its Failed must not reach a half-destroyed
    // dialog.
    disconnect(httpClientModule_, nullptr, this, nullptr);
    delete ui;
}

void SettingsDialog::Init()
{
    // 1. The form always makes both video views drawable views.
    assert(qobject_cast<DrawableView*>(ui->videoWidget1) != nullptr);
    assert(qobject_cast<DrawableView*>(ui->videoWidget2) != nullptr);

    // 2. The modal client that the pages' apply commands go through.
    httpClientDialog_ = std::make_unique<HttpClientDialog>(IpTypeToString(params_->ip), kHttpPortNone,
                                                           kHttpUser, kHttpPassword);

    // 3. The asynchronous client that loads the pages.
    httpClientModule_ = new HttpClientModule(this);
    vf = connect(httpClientModule_, SIGNAL(Done(const QByteArray&)), this,
                 SLOT(OnHttpRequestDone(const QByteArray&)));
    vf = connect(httpClientModule_, SIGNAL(Failed(const QString&)), this,
                 SLOT(OnHttpRequestFailed(const QString&)));

    // 4. The network and password page with its UDP transport.
    networkPage_ = new NetworkPage(this, ui, *params_);

    // 5.
    vf = connect(ui->pushButtonApply1, SIGNAL(clicked()), networkPage_, SLOT(OnApplyNetworkParams()));
    vf = connect(ui->pushButtonApply2, SIGNAL(clicked()), networkPage_, SLOT(OnApplyAuthParams()));
    vf = connect(ui->tabWidget, SIGNAL(currentChanged(int)), this, SLOT(OnCurrentTabChanged(int)));

    // 6.
    networkPage_->LoadFromParams();

    // 7-9. The source page's Apply and the live-video objects connect here.

    // 10. No video is connected yet.
    EnableRtspVideoControls(false);

    // 11. The page objects, each handed the widgets it works on. Their apply
    //     results reach the status bar or the error display.
    zonesTab_ = new ZonesTab(this, httpClientDialog_.get(),
                             {qobject_cast<DrawableView*>(ui->videoWidget1), ui->tableWidgetZones,
                              ui->pushButtonAddZone, ui->pushButtonRemoveZone, ui->pushButtonApplyZones});
    CameraPositionTab::Widgets grid;
    grid.view = qobject_cast<DrawableView*>(ui->videoWidget2);
    grid.fov = ui->spinBoxFieldOfView;
    grid.fovSlider = ui->horizontalSliderFieldOfView;
    grid.angle = ui->spinBoxCameraAngle;
    grid.angleSlider = ui->horizontalSliderCameraAngle;
    grid.height = ui->doubleSpinBoxCameraHeight;
    grid.heightSlider = ui->horizontalSliderCameraHeight;
    grid.mimics = {{{ui->doubleSpinBoxMimic1, ui->pushButtonAddMimic1, ui->pushButtonRemoveMimic1},
                    {ui->doubleSpinBoxMimic2, ui->pushButtonAddMimic2, ui->pushButtonRemoveMimic2}}};
    grid.rulers = {{{ui->lbRuler1, ui->pushButtonAddLine1, ui->pushButtonRemoveLine1, ui->lbRulerSize1},
                    {ui->lbRuler2, ui->pushButtonAddLine2, ui->pushButtonRemoveLine2, ui->lbRulerSize2},
                    {ui->lbRuler3, ui->pushButtonAddLine3, ui->pushButtonRemoveLine3, ui->lbRulerSize3}}};
    grid.apply = ui->pushButtonApplyGrid;
    cameraPositionTab_ = new CameraPositionTab(this, httpClientDialog_.get(), grid);
    classifierTab_ = new ClassifierTab(
        this, httpClientDialog_.get(),
        {ui->tTimeout,
         {{ui->tObject1MinArea, ui->tObject1MaxArea, ui->tObject1MinHeight, ui->tObject1MaxHeight},
          {ui->tObject2MinArea, ui->tObject2MaxArea, ui->tObject2MinHeight, ui->tObject2MaxHeight},
          {ui->tObject3MinArea, ui->tObject3MaxArea, ui->tObject3MinHeight, ui->tObject3MaxHeight},
          {ui->tObject4MinArea, ui->tObject4MaxArea, ui->tObject4MinHeight, ui->tObject4MaxHeight}},
         ui->bApplyClassifierAndTimeout});
    for (DevicePage* page : std::initializer_list<DevicePage*>{zonesTab_, cameraPositionTab_, classifierTab_}) {
        vf = connect(page, &DevicePage::ErrorOccurred, this, &SettingsDialog::DisplayError);
        vf = connect(page, &DevicePage::StatusChanged, this, &SettingsDialog::ShowStatus);
    }

    // 12. The page that is current from the start loads at once.
    OnCurrentTabChanged(ui->tabWidget->currentIndex());
}

void SettingsDialog::DisplayError(const QString& message)
{
    LOG(ERROR) << message.toStdString();
    VLOG(1) << message.toStdString();
    emit StatusChanged(message, 0);
    QMessageBox::critical(this, tr("Error"), message, QMessageBox::Ok);
}

void SettingsDialog::ShowStatus(const QString& message)
{
    emit StatusChanged(message, 0);
}

void SettingsDialog::OnCurrentTabChanged(int index)
{
    if (index == ui->tabWidget->indexOf(ui->tabSource) && !sourceTabShown_) {
        OnTabSourceFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabZones) && !zonesTabShown_) {
        OnTabZonesFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabGrid) && !gridTabShown_) {
        OnTabGridFirstShow();
    }
}

void SettingsDialog::OnTabSourceFirstShow()
{
    sourceTabShown_ = true;
    UpdateEnableSourceParamsControls(true);
    StartHttpRequest(WaitSourceParams, DeviceUrl("/qel-cgi/admin/getcam.fcgi"));
    UpdateEnableSourceParamsControls(false);
}

void SettingsDialog::OnTabZonesFirstShow()
{
    zonesTabShown_ = true;
    StartHttpRequest(WaitZonesConfig, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"));
}

void SettingsDialog::OnTabGridFirstShow()
{
    gridTabShown_ = true;
    UpdateEnableGridControls(true);
    StartHttpRequest(WaitGridConfig, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"));
    UpdateEnableGridControls(false);
}

QString SettingsDialog::DeviceUrl(const char* path) const
{
    return QStringLiteral("http://%1%2")
        .arg(QString::fromStdString(IpTypeToString(params_->ip)), QString::fromLatin1(path));
}

void SettingsDialog::StartHttpRequest(int replyType, const QString& url)
{
    if (waitReplyType_ != WaitNone) {
        VLOG(1) << "HTTP request deferred, waitReplyType: " << waitReplyType_ << ", deferred type: " << replyType;
        deferredRequests_.emplace_back(replyType, url.toStdString());
        return;
    }
    waitReplyType_ = replyType;
    // StartLater, because this may run from inside the module's Done or
    // Failed, when the module still holds the finished reply.
    httpClientModule_->StartLater(url.toStdString());
}

void SettingsDialog::StartNextDeferredRequest()
{
    if (waitReplyType_ != WaitNone || deferredRequests_.empty()) {
        return;
    }
    const auto next = deferredRequests_.front();
    deferredRequests_.pop_front();
    StartHttpRequest(next.first, QString::fromStdString(next.second));
}

bool SettingsDialog::IsDeferred(int replyType) const
{
    return std::any_of(deferredRequests_.begin(), deferredRequests_.end(),
                       [replyType](const auto& request) { return request.first == replyType; });
}

void SettingsDialog::OnHttpRequestDone(const QByteArray& content)
{
    VLOG(1) << "Got HTTP reply " << content.size() << " bytes, waitReplyType: " << waitReplyType_;
    const int type = waitReplyType_;
    waitReplyType_ = WaitNone;

    switch (type) {
    case WaitSourceParams:
        DispatchSourceParams(content);
        break;
    case WaitSourceApply:
        ShowStatus(tr("Source settings were applied successfully."));
        UpdateEnableSourceParamsControls(false);
        break;
    case WaitZonesConfig:
        DispatchZonesConfig(content);
        break;
    case WaitGridConfig:
        DispatchGridConfig(content);
        break;
    case WaitNone:
        DisplayError(tr("Internal error, unexpected waitReplyType: %1").arg(type));
        break;
    default:
        break;
    }
    StartNextDeferredRequest();
}

void SettingsDialog::OnHttpRequestFailed(const QString& message)
{
    VLOG(1) << "HTTP request failed, waitReplyType: " << waitReplyType_ << ", message: " << message.toStdString();
    const int type = waitReplyType_;
    waitReplyType_ = WaitNone;

    switch (type) {
    case WaitSourceParams:
        // The page's data was never loaded: it stays disabled.
        UpdateEnableSourceParamsControls(true);
        DisplayError(message);
        break;
    case WaitSourceApply:
        UpdateEnableSourceParamsControls(false);
        DisplayError(message);
        break;
    case WaitZonesConfig:
        DisplayError(message);
        break;
    case WaitGridConfig:
        DisplayError(message);
        // The camera position was never loaded: its controls stay disabled.
        UpdateEnableGridControls(true);
        break;
    case WaitNone:
        DisplayError(tr("Internal error, unexpected waitReplyType: %1, error message: %2").arg(type).arg(message));
        break;
    default:
        break;
    }
    StartNextDeferredRequest();
}

void SettingsDialog::DispatchSourceParams(const QByteArray& content)
{
    const std::map<std::string, std::string> values = ParseHttpRequest(content.toStdString());
    // A value the answer lacks leaves its field as it is; the page is usable
    // all the same, so the installer can set what is missing.
    const auto host = values.find("host");
    if (host != values.end()) {
        ui->lineEditSourceHost->setText(QString::fromStdString(host->second));
    }
    const auto login = values.find("login");
    if (login != values.end()) {
        ui->lineEditSourceLogin->setText(QString::fromStdString(login->second));
    }
    UpdateEnableSourceParamsControls(false);

    std::string unusedHost;
    std::string unusedLogin;
    QString errorMessage;
    if (!FindSourceHostAndLogin(values, unusedHost, unusedLogin, errorMessage)) {
        DisplayError(errorMessage);
    }
}

void SettingsDialog::DispatchZonesConfig(const QByteArray& content)
{
    const VcaConfigReader reader(content);
    ZonesMap zones;
    QString errorMessage;
    if (!reader.ReadZones(zones, errorMessage)) {
        DisplayError(errorMessage);
        return;
    }
    VLOG(1) << "Zones of channel 0 loaded: " << zones.size();
    zonesTab_->setZones(zones);
}

void SettingsDialog::DispatchGridConfig(const QByteArray& content)
{
    const VcaConfigReader reader(content);
    CamposValues campos;
    QString errorMessage;
    if (!reader.ReadCampos(campos, errorMessage)) {
        DisplayError(errorMessage);
        UpdateEnableGridControls(true);
        return;
    }
    VLOG(1) << "Camera position loaded: FOV " << campos.fov << ", camangle " << campos.camangle << ", height "
            << campos.heightMetres;
    cameraPositionTab_->setCampos(campos.fov, campos.camangle, campos.heightMetres);
    UpdateEnableGridControls(false);
}

void SettingsDialog::UpdateEnableSourceParamsControls(bool busy)
{
    const bool enable = !busy && waitReplyType_ == WaitNone && !IsDeferred(WaitSourceParams) &&
                        !IsDeferred(WaitSourceApply);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->comboBoxModel, ui->lineEditSourceHost,
                                                      ui->lineEditSourceLogin, ui->lineEditSourcePasswprd,
                                                      ui->lineEditCurPassword3, ui->pushButtonApply3}) {
        w->setEnabled(enable);
    }
}

void SettingsDialog::UpdateEnableGridControls(bool busy)
{
    const bool connected = IsVideoConnected();
    const bool enableCamera = connected && !busy && waitReplyType_ == WaitNone && !IsDeferred(WaitGridConfig);
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->spinBoxFieldOfView, ui->horizontalSliderFieldOfView, ui->spinBoxCameraAngle,
             ui->horizontalSliderCameraAngle, ui->doubleSpinBoxCameraHeight, ui->horizontalSliderCameraHeight}) {
        w->setEnabled(enableCamera);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->doubleSpinBoxMimic1, ui->doubleSpinBoxMimic2, ui->pushButtonAddMimic1, ui->pushButtonAddMimic2,
             ui->pushButtonRemoveMimic1, ui->pushButtonRemoveMimic2, ui->pushButtonApplyGrid}) {
        w->setEnabled(connected);
    }
}

void SettingsDialog::EnableRtspVideoControls(bool connected)
{
    ui->pushButtonConnect1->setEnabled(!connected);
    ui->pushButtonConnect2->setEnabled(!connected);
    ui->pushButtonDisconnect1->setEnabled(connected);
    ui->pushButtonDisconnect2->setEnabled(connected);
    UpdateEnableGridControls(false);
}

bool SettingsDialog::IsVideoConnected() const
{
    // True while an RTSP client exists; none does until the live view is
    // wired in.
    return false;
}
