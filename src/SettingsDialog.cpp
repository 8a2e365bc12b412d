#include "SettingsDialog.h"

#include "AssignmentVerifier.h"
#include "CameraPositionTab.h"
#include "ClassifierTab.h"
#include "DrawableView.h"
#include "ErrorBox.h"
#include "HttpClientDialog.h"
#include "HttpClientModule.h"
#include "HttpFailureText.h"
#include "NetworkPage.h"
#include "ParseHttpRequest.h"
#include "PictureToImage.h"
#include "RtspDevice.h"
#include "RtspDeviceStopOnErrorHandler.h"
#include "RtspFrameReceiver.h"
#include "SilentStreamWatch.h"
#include "SourceRequests.h"
#include "StringUtils.h"
#include "VcaConfigReader.h"
#include "X264Decoder.h"
#include "ZonesTab.h"
#include "ui_SettingsDialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QStringList>
#include <QTimer>

#include <easylogging++.h>

#include <algorithm>
#include <cassert>
#include <initializer_list>
#include <map>

namespace {

const AssignmentVerifier vf;

// Credentials of the device's web interface for the commands that change its
// configuration.
const char* const kHttpUser = "root";
const char* const kHttpPassword = "kqzt";
// The URL carries no port: the HTTP default applies.
constexpr int kHttpPortNone = -1;

// The device's live stream: its own path on the RTSP default port, with
// fixed credentials that the URL does not carry.
const char* const kRtspPath = "/ch0_unicast_firststream";
const char* const kRtspUser = "root";
const char* const kRtspPassword = "vbnq";
constexpr int kRtspVerbose = 1;

// Room left on the screen for the window frame, which is not known before the
// dialog is first shown.
const QSize kFrameAllowance(16, 48);

// Failures in the dialog's status line.
const QColor kErrorTextColour(200, 0, 0);

} // namespace

SettingsDialog::SettingsDialog(const DeviceNetworkParams& params, QWidget* parent, int interfaceIndex)
    : QDialog(parent), ui(new Ui::SettingsDialog), params_(std::make_unique<DeviceNetworkParams>(params)),
      interfaceIndex_(interfaceIndex)
{
    ui->setupUi(this);
    Init();
}

SettingsDialog::~SettingsDialog()
{
    // The video thread still uses the client and the frame receiver: stop it
    // and wait for it before anything goes. Its last queued stop notice is
    // dropped with the dialog.
    if (rtspDevice_) {
        OnDisconnectVideo();
    }
    if (rtspThread_.joinable()) {
        rtspThread_.join();
    }
    rtspDevice_.reset();
    decoder_.reset();
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
    networkPage_ = new NetworkPage(this, ui, *params_, interfaceIndex_);

    // 5.
    vf = connect(ui->pushButtonApply1, SIGNAL(clicked()), networkPage_, SLOT(OnApplyNetworkParams()));
    vf = connect(ui->pushButtonApply2, SIGNAL(clicked()), networkPage_, SLOT(OnApplyAuthParams()));
    vf = connect(ui->tabWidget, SIGNAL(currentChanged(int)), this, SLOT(OnCurrentTabChanged(int)));

    // 6.
    networkPage_->LoadFromParams();
    vf = connect(networkPage_, SIGNAL(AddressChanged()), this, SLOT(OnDeviceAddressChanged()));

    // 7.
    vf = connect(ui->pushButtonApply3, SIGNAL(clicked()), this, SLOT(OnApplySourceViaHttp()));

    // 8. Frames are queued across threads with their descriptor.
    qRegisterMetaType<kro::ImageDescr>("kro::ImageDescr");
    frameReceiver_ = new RtspFrameReceiver(this);
    silentStreamWatch_ = new SilentStreamWatch(
        {qobject_cast<DrawableView*>(ui->videoWidget1), qobject_cast<DrawableView*>(ui->videoWidget2)}, this);

    // 9.
    vf = connect(ui->pushButtonConnect1, SIGNAL(clicked()), this, SLOT(OnConnectVideo()));
    vf = connect(ui->pushButtonConnect2, SIGNAL(clicked()), this, SLOT(OnConnectVideo()));
    vf = connect(ui->pushButtonDisconnect1, SIGNAL(clicked()), this, SLOT(OnDisconnectVideo()));
    vf = connect(ui->pushButtonDisconnect2, SIGNAL(clicked()), this, SLOT(OnDisconnectVideo()));
    vf = connect(this, SIGNAL(RtspDeviceStopped()), this, SLOT(OnRtspDeviceStopped()));
    vf = connect(frameReceiver_, SIGNAL(FrameReceived(const kro::ImageDescr&, const QByteArray&, bool)), this,
                 SLOT(OnFrameReceived(const kro::ImageDescr&, const QByteArray&, bool)));

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
    for (DevicePage* page :
         std::initializer_list<DevicePage*>{zonesTab_, cameraPositionTab_, classifierTab_}) {
        vf = connect(page, &DevicePage::ErrorOccurred, this, &SettingsDialog::DisplayError);
        vf = connect(page, &DevicePage::StatusChanged, this, &SettingsDialog::ShowStatus);
    }

    vf = connect(this, &SettingsDialog::StatusChanged, this,
                 [this](const QString& text) { ShowStatusLine(text, false); });
    vf = connect(networkPage_, &NetworkPage::RecordChanged, this, &SettingsDialog::UpdateDeviceLine);
    UpdateDeviceLine();

    // 12. The page that is current from the start loads at once.
    OnCurrentTabChanged(ui->tabWidget->currentIndex());
}

void SettingsDialog::DisplayError(const QString& message)
{
    const std::string logged = SecretFreeText(message).toStdString();
    LOG(ERROR) << logged;
    VLOG(1) << logged;
    emit StatusChanged(ShownText(message), 0);
    ShowStatusLine(ShownText(message), true);
    ShowErrorBox(this, message);
}

void SettingsDialog::ShowStatus(const QString& message)
{
    emit StatusChanged(message, 0);
}

void SettingsDialog::ShowStatusLine(const QString& text, bool error)
{
    QPalette palette = ui->labelStatus->palette();
    palette.setColor(QPalette::WindowText,
                     error ? kErrorTextColour : this->palette().color(QPalette::WindowText));
    ui->labelStatus->setPalette(palette);
    ui->labelStatus->setText(text);
    // A long text is cut at the label's width; the whole text stays at hand.
    ui->labelStatus->setToolTip(text);
}

void SettingsDialog::UpdateDeviceLine()
{
    const DeviceNetworkParams& p = *params_;
    ui->labelDevice->setText(
        tr("Device: %1    IP address: %2    MAC address: %3    Serial number: %4")
            .arg(QString::fromStdString(p.deviceName), QString::fromStdString(IpTypeToString(p.ip)),
                 QString::fromStdString(utils::GetPrintedBufferInHex(p.mac, sizeof p.mac, sizeof p.mac, "-")),
                 QString::fromStdString(p.serialNo)));
}

void SettingsDialog::FitToScreen(const QRect& available)
{
    fittedToScreen_ = true;
    if (available.isEmpty()) {
        return;
    }
    resize(size().boundedTo(available.size() - kFrameAllowance));
}

void SettingsDialog::setVisible(bool visible)
{
    if (visible && !fittedToScreen_) {
        const QScreen* screen =
            parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
        FitToScreen(screen != nullptr ? screen->availableGeometry() : QRect());
    }
    QDialog::setVisible(visible);
}

bool SettingsDialog::CancelDrawing()
{
    bool cancelled = false;
    for (QWidget* w : {ui->videoWidget1, ui->videoWidget2}) {
        cancelled = qobject_cast<DrawableView*>(w)->cancelCreation() || cancelled;
    }
    return cancelled;
}

bool SettingsDialog::HasUnappliedDrawing() const
{
    return zonesTab_->HasUnappliedChanges() || cameraPositionTab_->HasUnappliedChanges();
}

void SettingsDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
        (CancelDrawing() || HasUnappliedDrawing())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SettingsDialog::reject()
{
    if (zonesTab_->HasUnappliedChanges() &&
        QMessageBox::question(this, windowTitle(), tr("Discard the unapplied zone changes?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    QDialog::reject();
}

void SettingsDialog::OnCurrentTabChanged(int index)
{
    if (index == ui->tabWidget->indexOf(ui->tabSource) && !sourceTabShown_) {
        OnTabSourceFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabZones) && !zonesTabShown_) {
        OnTabZonesFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabGrid) && !gridTabShown_) {
        OnTabGridFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabClassifier) && !classifierTabShown_) {
        OnTabClassifierFirstShow();
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

void SettingsDialog::OnTabClassifierFirstShow()
{
    classifierTabShown_ = true;
    // A configuration read for another page may have filled it already.
    if (!classifierTab_->IsLoaded()) {
        StartHttpRequest(WaitClassifierConfig, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"));
    }
}

void SettingsDialog::OnDeviceAddressChanged()
{
    const std::string address = IpTypeToString(params_->ip);
    VLOG(1) << "Device address changed, later requests go to " << address;
    httpClientDialog_->setHost(address);
}

QString SettingsDialog::DeviceUrl(const char* path) const
{
    return QStringLiteral("http://%1%2")
        .arg(QString::fromStdString(IpTypeToString(params_->ip)), QString::fromLatin1(path));
}

void SettingsDialog::StartHttpRequest(int replyType, const QString& url)
{
    if (waitReplyType_ != WaitNone) {
        VLOG(1) << "HTTP request deferred, waitReplyType: " << waitReplyType_
                << ", deferred type: " << replyType;
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
    const QString error = DispatchDone(type, content);
    StartNextDeferredRequest();
    if (!error.isEmpty()) {
        DisplayError(error);
    }
}

void SettingsDialog::OnHttpRequestFailed(const QString& message)
{
    VLOG(1) << "HTTP request failed, waitReplyType: " << waitReplyType_
            << ", message: " << message.toStdString();
    const int type = waitReplyType_;
    waitReplyType_ = WaitNone;
    const QString error = DispatchFailed(type, message);
    StartNextDeferredRequest();
    if (!error.isEmpty()) {
        DisplayError(error);
    }
}

QString SettingsDialog::DispatchDone(int type, const QByteArray& content)
{
    switch (type) {
    case WaitSourceParams:
        return DispatchSourceParams(content);
    case WaitSourceApply:
        loadedSource_ = sentSource_;
        setcamError_.clear();
        // The encoder request is modal: it is sent from the event loop, not
        // from inside the HTTP module's completion.
        QTimer::singleShot(0, this, &SettingsDialog::FinishSourceApply);
        return {};
    case WaitZonesConfig:
        return DispatchZonesConfig(content);
    case WaitGridConfig:
        return DispatchGridConfig(content);
    case WaitClassifierConfig:
        return DispatchClassifierConfig(content);
    case WaitNone:
        return tr("Internal error, unexpected waitReplyType: %1").arg(type);
    default:
        return {};
    }
}

QString SettingsDialog::DispatchFailed(int type, const QString& message)
{
    switch (type) {
    case WaitSourceParams:
        // The page's data was never loaded: it stays disabled.
        UpdateEnableSourceParamsControls(true);
        return message;
    case WaitSourceApply:
        setcamError_ = message;
        QTimer::singleShot(0, this, &SettingsDialog::FinishSourceApply);
        return {};
    case WaitZonesConfig:
        zonesTab_->SetLoadFailed();
        return message;
    case WaitGridConfig:
        // The camera position was never loaded: its controls stay disabled.
        UpdateEnableGridControls(true);
        return message;
    case WaitClassifierConfig:
        return message;
    case WaitNone:
        return tr("Internal error, unexpected waitReplyType: %1, error message: %2").arg(type).arg(message);
    default:
        return {};
    }
}

QString SettingsDialog::DispatchSourceParams(const QByteArray& content)
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
    // The model is shown as the device has it, so that an apply of other
    // fields does not change it; a model the list lacks is added to it.
    const auto model = values.find("model");
    if (model != values.end() && !model->second.empty()) {
        const QString text = QString::fromStdString(model->second);
        if (ui->comboBoxModel->findText(text) < 0) {
            ui->comboBoxModel->addItem(text);
        }
        ui->comboBoxModel->setCurrentText(text);
    }
    loadedSource_ = {ui->comboBoxModel->currentText(), ui->lineEditSourceHost->text(),
                     ui->lineEditSourceLogin->text()};
    sourceLoaded_ = true;
    UpdateEnableSourceParamsControls(false);

    std::string unusedHost;
    std::string unusedLogin;
    QString errorMessage;
    if (!FindSourceHostAndLogin(values, unusedHost, unusedLogin, errorMessage)) {
        return errorMessage;
    }
    return {};
}

QString SettingsDialog::DispatchZonesConfig(const QByteArray& content)
{
    const VcaConfigReader reader(content);
    ZonesMap zones;
    QString errorMessage;
    if (!reader.ReadZones(zones, errorMessage)) {
        zonesTab_->SetLoadFailed();
        return errorMessage;
    }
    VLOG(1) << "Zones of channel 0 loaded: " << zones.size();
    zonesTab_->setZones(zones);
    FillFromConfig(reader);
    return {};
}

QString SettingsDialog::DispatchGridConfig(const QByteArray& content)
{
    const VcaConfigReader reader(content);
    CamposValues campos;
    QString errorMessage;
    if (!reader.ReadCampos(campos, errorMessage)) {
        UpdateEnableGridControls(true);
        return errorMessage;
    }
    VLOG(1) << "Camera position loaded: FOV " << campos.fov << ", camangle " << campos.camangle << ", height "
            << campos.heightMetres;
    cameraPositionTab_->setCampos(campos.fov, campos.camangle, campos.heightMetres);
    UpdateEnableGridControls(false);
    FillFromConfig(reader);
    return {};
}

QString SettingsDialog::DispatchClassifierConfig(const QByteArray& content)
{
    const VcaConfigReader reader(content);
    ClassifierValues unused;
    QString errorMessage;
    if (!reader.ReadClassifier(unused, errorMessage)) {
        return errorMessage;
    }
    FillFromConfig(reader);
    return {};
}

void SettingsDialog::FillFromConfig(const VcaConfigReader& reader)
{
    QString unusedError;
    ClassifierValues classifier;
    if (!classifierTab_->IsLoaded() && reader.ReadClassifier(classifier, unusedError)) {
        VLOG(1) << "Classifier loaded: timeout " << classifier.timeoutSeconds << ", classes "
                << classifier.classes.size();
        classifierTab_->SetClassifier(classifier);
    }
    EncoderValues encoder;
    if (!encoderFieldsFilled_ && !ui->lBitrate->isModified() && !ui->lFps->isModified() &&
        reader.ReadEncoder(encoder, unusedError)) {
        ui->lBitrate->setText(QString::number(encoder.bitrate));
        ui->lFps->setText(QString::number(encoder.fps));
        encoderFieldsFilled_ = true;
    }
}

void SettingsDialog::UpdateEnableSourceParamsControls(bool busy)
{
    const bool enable = !busy && sourceLoaded_ && !sourceApplying_ && waitReplyType_ == WaitNone &&
                        !IsDeferred(WaitSourceParams) && !IsDeferred(WaitSourceApply);
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
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->spinBoxFieldOfView, ui->horizontalSliderFieldOfView,
                                         ui->spinBoxCameraAngle, ui->horizontalSliderCameraAngle,
                                         ui->doubleSpinBoxCameraHeight, ui->horizontalSliderCameraHeight}) {
        w->setEnabled(enableCamera);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{ui->doubleSpinBoxMimic1, ui->doubleSpinBoxMimic2,
                                                      ui->pushButtonAddMimic1, ui->pushButtonAddMimic2,
                                                      ui->pushButtonRemoveMimic1, ui->pushButtonRemoveMimic2,
                                                      ui->pushButtonApplyGrid}) {
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
    return rtspDevice_ != nullptr;
}

bool SettingsDialog::CheckSourceInput()
{
    QString message;
    const EncoderField invalid = FindInvalidEncoderField(ui->lBitrate->text(), ui->lFps->text(), message);
    if (invalid == EncoderField::None) {
        return true;
    }
    DisplayError(message);
    QLineEdit* field = invalid == EncoderField::Bitrate ? ui->lBitrate : ui->lFps;
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
    return false;
}

void SettingsDialog::OnApplySourceViaHttp()
{
    if (sourceApplying_) {
        return;
    }
    if (!CheckSourceInput()) {
        return;
    }
    // setcam writes all four values: sent when the user changed one of the
    // three loaded ones or typed a password, never to write an empty password
    // over the device's.
    const SourceValues shown{ui->comboBoxModel->currentText(), ui->lineEditSourceHost->text(),
                             ui->lineEditSourceLogin->text()};
    const QString password = ui->lineEditSourcePasswprd->text();
    setcamSent_ = shown.model != loadedSource_.model || shown.host != loadedSource_.host ||
                  shown.login != loadedSource_.login || !password.isEmpty();
    pendingEncoderPath_.clear();
    ComposeEncoderPath(ui->lBitrate->text(), ui->lFps->text(), pendingEncoderPath_);
    if (!setcamSent_ && pendingEncoderPath_.empty()) {
        ShowStatus(tr("Nothing to apply: the source settings were not changed."));
        return;
    }

    sourceApplying_ = true;
    UpdateEnableSourceParamsControls(true);
    setcamError_.clear();
    if (!setcamSent_) {
        FinishSourceApply();
        return;
    }
    sentSource_ = shown;
    const QString deviceIp = QString::fromStdString(IpTypeToString(params_->ip));
    StartHttpRequest(WaitSourceApply,
                     ComposeSetCamUrl(deviceIp, shown.model, shown.host, shown.login, password));
}

void SettingsDialog::FinishSourceApply()
{
    QString encoderError;
    bool encoderCancelled = false;
    if (!pendingEncoderPath_.empty()) {
        const std::string path = std::move(pendingEncoderPath_);
        pendingEncoderPath_.clear();
        if (!httpClientDialog_->request(path)) {
            encoderCancelled = httpClientDialog_->wasCancelledByUser();
            encoderError = httpClientDialog_->lastError();
        }
    }
    sourceApplying_ = false;
    UpdateEnableSourceParamsControls(false);

    QStringList failures;
    if (setcamSent_ && !setcamError_.isEmpty()) {
        failures << tr("The video source request (setcam) failed: %1").arg(setcamError_);
    }
    if (encoderCancelled) {
        failures << tr("Applying the encoder settings was cancelled; the device may hold part of the change");
    } else if (!encoderError.isEmpty()) {
        failures << tr("The encoder request failed: %1").arg(encoderError);
    }
    if (failures.isEmpty()) {
        ShowStatus(tr("Source settings were applied successfully."));
    } else {
        DisplayError(failures.join(QLatin1Char('\n')));
    }
}

void SettingsDialog::OnConnectVideo()
{
    assert(!rtspDevice_);
    assert(!rtspThread_.joinable());
    stoppedByUser_ = false;
    const std::string deviceIp = IpTypeToString(params_->ip);
    const std::string url = "rtsp://" + deviceIp + kRtspPath;

    // Without an H.264 decoder there is nothing to show: say so and connect
    // nothing.
    auto decoder = std::make_unique<H264AvDecoder>();
    try {
        decoder->initilalize();
    } catch (const char* text) {
        DisplayError(QString::fromUtf8(text));
        return;
    }

    // One handler for every connection of the process; it keeps the last
    // error text until a later error replaces it.
    static RtspDeviceStopOnErrorHandler stopper;

    rtspDevice_ =
        std::make_unique<RtspDevice>(url.c_str(), kRtspUser, kRtspPassword, kRtspVerbose, nullptr, 0);
    rtspDevice_->AddFrameObserver(frameReceiver_);
    rtspDevice_->SetErrorHandler(&stopper);
    // The views stretch every picture to their own size: larger pictures are
    // scaled down to it while they are converted, so no pixel is converted
    // that is not shown.
    const QSize viewSize = ui->videoWidget1->maximumSize();
    decoder->SetMaxOutputSize(static_cast<uint32_t>(viewSize.width()),
                              static_cast<uint32_t>(viewSize.height()));
    decoder_ = std::move(decoder);

    VLOG(1) << "Will run RtspDevice " << rtspDevice_.get() << " in rtspThread for url " << url
            << " rtspVerbose: " << kRtspVerbose;
    {
        const std::lock_guard<std::mutex> lock(rtspThreadMutex_);
        rtspThread_ = std::thread(&SettingsDialog::RunRtspDeviceHelper, this);
    }
    EnableRtspVideoControls(true);
    silentStreamWatch_->Start();
}

void SettingsDialog::RunRtspDeviceHelper()
{
    std::thread::id stored;
    {
        const std::lock_guard<std::mutex> lock(rtspThreadMutex_);
        stored = rtspThread_.get_id();
    }
    const std::thread::id self = std::this_thread::get_id();
    if (self == stored) {
        VLOG(0) << "This thread ID: " << self << ", rtspThread: " << stored;
    } else {
        VLOG(1) << "This thread ID: " << self << ", rtspThread: " << stored;
    }
    assert(std::this_thread::get_id() == stored);

    rtspDevice_->Run();

    VLOG(1) << "Will emit RtspDeviceStopped...";
    emit RtspDeviceStopped();
}

void SettingsDialog::OnDisconnectVideo()
{
    assert(rtspDevice_);
    assert(rtspThread_.joinable());
    // The Grid page's Disconnect stays enabled until the stop has been
    // handled; pressing it again asks the ended loop to stop once more, which
    // changes nothing.
    ui->pushButtonDisconnect1->setEnabled(false);
    stoppedByUser_ = true;
    rtspDevice_->SetStopFlag();
}

void SettingsDialog::OnRtspDeviceStopped()
{
    assert(rtspDevice_);
    assert(rtspThread_.joinable());
    VLOG(1) << "RtspDevice stopped, attempting to join rtspThread " << rtspThread_.get_id() << "...";
    rtspThread_.join();
    VLOG(1) << "rtspThread exited normally";
    // Frames of this connection still waiting are not shown any more.
    frameReceiver_->ClearWaitingFrames();

    IErrorHandler* handler = rtspDevice_->GetErrorHandler();
    const QString error = handler != nullptr ? QString::fromStdString(handler->GetLastError()) : QString();

    rtspDevice_.reset();
    decoder_.reset();
    VLOG(1) << "RtspDevice is deleted";

    EnableRtspVideoControls(false);
    silentStreamWatch_->Stop();

    if (stoppedByUser_) {
        ShowStatus(tr("RtspDevice stopped by user"));
    } else {
        DisplayError(tr("RtspDevice stopped: %1").arg(error));
    }
}

void SettingsDialog::OnFrameReceived(const kro::ImageDescr& descriptor, const QByteArray& bytes,
                                     bool isKeyFrame)
{
    (void)isKeyFrame;
    auto* view1 = qobject_cast<DrawableView*>(ui->videoWidget1);
    auto* view2 = qobject_cast<DrawableView*>(ui->videoWidget2);
    assert(view1 != nullptr && view2 != nullptr);

    if (descriptor.format != kro::MediaFormat::VideoH264) {
        VLOG(1) << "Unexpected type: " << static_cast<int>(descriptor.format)
                << "; must be MediaFormat::VideoH264";
        assert(descriptor.format == kro::MediaFormat::VideoH264);
        return;
    }
    if (!decoder_) {
        return; // a frame of a connection whose stop has been handled
    }
    // The picture belongs to the decoder and may be replaced by the next
    // decode: convert it at once.
    const UYVYFrame* picture = decoder_->decode(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                                static_cast<uint32_t>(bytes.size()));
    if (picture == nullptr) {
        VLOG(1) << "H264AvDecoder::decode returned NULL";
        return;
    }
    const QImage image = PictureToImage(*picture, QImage::Format_RGB32);
    view1->setImage(image);
    view2->setImage(image);
    view1->update();
    view2->update();
    silentStreamWatch_->PictureShown();
    VLOG(8) << "Received one more frame " << image.width() << "x" << image.height();
}
