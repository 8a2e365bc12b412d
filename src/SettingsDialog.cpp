#include "SettingsDialog.h"

#include "AssignmentVerifier.h"
#include "CameraPositionTab.h"
#include "ChangeRecord.h"
#include "ClassifierTab.h"
#include "ConfigReadAside.h"
#include "DeviceWebLogin.h"
#include "DrawableView.h"
#include "ErrorBox.h"
#include "HttpClientDialog.h"
#include "HttpFailureText.h"
#include "LiveView.h"
#include "LiveViewActions.h"
#include "NetworkPage.h"
#include "ReplyRouter.h"
#include "SourcePage.h"
#include "StringUtils.h"
#include "TemplateActions.h"
#include "VcaConfigReader.h"
#include "ZonesTab.h"
#include "ui_SettingsDialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <cassert>
#include <easylogging++.h>
#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

const AssignmentVerifier vf;

// The URL carries no port: the HTTP default applies.
constexpr int kHttpPortNone = -1;

// The numbers the log gives the configuration loads of the analytics pages.
constexpr int kZonesConfigLogType = 3;
constexpr int kGridConfigLogType = 6;
constexpr int kClassifierConfigLogType = 7;
constexpr int kSourceConfigLogType = 8;

// Room left on the screen for the window frame, which is not known before the
// dialog is first shown.
const QSize kFrameAllowance(16, 48);

// Failures in the dialog's status line.
const QColor kErrorTextColour(200, 0, 0);

} // namespace

template <typename Page> void SettingsDialog::WirePage(Page* page, const std::function<Tabs()>& tabs)
{
    vf = connect(page, &Page::ErrorOccurred, this,
                 [this, tabs](const QString& message) { DisplayErrorOn(tabs(), message); });
    vf = connect(page, &Page::StatusChanged, this,
                 [this, tabs](const QString& text) { ShowStatusOn(tabs(), text); });
    vf = connect(page, &Page::ChangeSent, this, &SettingsDialog::RecordChange);
}

SettingsDialog::SettingsDialog(const DeviceNetworkParams& params, QWidget* parent, int interfaceIndex)
    : QDialog(parent), ui(new Ui::SettingsDialog), params_(std::make_unique<DeviceNetworkParams>(params)),
      interfaceIndex_(interfaceIndex)
{
    ui->setupUi(this);
    Init();
}

SettingsDialog::~SettingsDialog()
{
    // The video thread uses the frame receiver and paints into the views:
    // it is stopped and joined before anything else goes.
    delete liveView_;
    liveView_ = nullptr;
    // The router's module aborts a request still out as it goes; the error
    // must not reach a half-destroyed dialog.
    disconnect(router_, nullptr, this, nullptr);
    delete ui;
}

void SettingsDialog::Init()
{
    auto* view1 = qobject_cast<DrawableView*>(ui->videoWidget1);
    auto* view2 = qobject_cast<DrawableView*>(ui->videoWidget2);
    assert(view1 != nullptr && view2 != nullptr);

    // Before any page connects to the buttons.
    ClearStatusOnActions();

    // The modal client that the pages' apply commands go through.
    httpClientDialog_ = std::make_unique<HttpClientDialog>(IpTypeToString(params_->ip), kHttpPortNone,
                                                           kDeviceWebUser, kDeviceWebPassword);

    // The pages' loads and the source page's apply, one at a time.
    router_ = new ReplyRouter(this);
    vf = connect(router_, &ReplyRouter::ErrorOccurred, this, [this](const QString& message) {
        QWidget* tab = std::exchange(replyErrorTab_, nullptr);
        DisplayErrorOn(tab != nullptr ? Tabs{tab} : CurrentTab(), message);
    });

    networkPage_ = new NetworkPage(this, ui, *params_, listedAddresses_, interfaceIndex_);
    WirePage(networkPage_, [this] { return Tabs{ui->tabSettings}; });
    vf = connect(ui->tabWidget, SIGNAL(currentChanged(int)), this, SLOT(OnCurrentTabChanged(int)));
    networkPage_->LoadFromParams();
    vf = connect(networkPage_, SIGNAL(AddressChanged()), this, SLOT(OnDeviceAddressChanged()));

    sourcePage_ = new SourcePage(this, ui, httpClientDialog_.get(), router_, *params_);
    WirePage(sourcePage_, [this] { return Tabs{ui->tabSource}; });
    sourcePage_->SetApplyGate([this] { return ConfirmAnalyticsApply(); });
    vf = connect(ui->pushButtonApply3, SIGNAL(clicked()), this, SLOT(OnApplySourceViaHttp()));
    // Bitrate and FPS come from the configuration, which no other page may
    // have read before the source is applied.
    vf = connect(sourcePage_, &SourcePage::Loaded, this, [this] {
        if (!sourcePage_->EncoderFieldsFilled()) {
            StartSourceConfigRequest();
        }
    });

    liveView_ = new LiveView(this, {view1, view2});
    vf = connect(ui->pushButtonConnect1, SIGNAL(clicked()), this, SLOT(OnConnectVideo()));
    vf = connect(ui->pushButtonConnect2, SIGNAL(clicked()), this, SLOT(OnConnectVideo()));
    vf = connect(ui->pushButtonDisconnect1, SIGNAL(clicked()), this, SLOT(OnDisconnectVideo()));
    vf = connect(ui->pushButtonDisconnect2, SIGNAL(clicked()), this, SLOT(OnDisconnectVideo()));
    vf = connect(liveView_, SIGNAL(Stopped(const QString&)), this, SLOT(OnRtspDeviceStopped(const QString&)));
    vf = connect(ui->pushButtonGridHintConnect, SIGNAL(clicked()), this, SLOT(OnConnectVideo()));
    liveViewActions_ = new LiveViewActions(this, ui, liveView_, *params_);
    vf = connect(liveViewActions_, &LiveViewActions::ErrorOccurred, this,
                 [this](const QString& message) { DisplayErrorOn(VideoTabs(), message); });
    vf = connect(liveViewActions_, &LiveViewActions::StatusChanged, this,
                 [this](const QString& text) { ShowStatusOn(VideoTabs(), text); });

    CreateAnalyticsPages();
    templateActions_ = new TemplateActions(this, ui, httpClientDialog_.get(), router_, *params_, zonesTab_);
    WirePage(templateActions_,
             [this] { return templateTab_ != nullptr ? Tabs{templateTab_} : CurrentTab(); });
    templateActions_->SetApplyGate([this] { return ConfirmAnalyticsApply(); });
    vf = connect(templateActions_, &TemplateActions::PartReadBack, this, &SettingsDialog::TakeTemplatePart);
    EnableRtspVideoControls(false);

    vf = connect(networkPage_, &NetworkPage::RecordChanged, this, &SettingsDialog::UpdateDeviceLine);
    QPalette warning = ui->labelSharedAddress->palette();
    warning.setColor(QPalette::WindowText, kErrorTextColour);
    ui->labelSharedAddress->setPalette(warning);
    UpdateDeviceLine();

    // The page that is current from the start loads at once.
    OnCurrentTabChanged(ui->tabWidget->currentIndex());
}

void SettingsDialog::CreateAnalyticsPages()
{
    // Each page is handed the widgets it works on; their apply results reach
    // the status bar or the error display.
    zonesTab_ = new ZonesTab(this, httpClientDialog_.get(),
                             {qobject_cast<DrawableView*>(ui->videoWidget1), ui->tableWidgetZones,
                              ui->pushButtonAddZone, ui->pushButtonRemoveZone, ui->pushButtonApplyZones,
                              ui->pushButtonReloadZones});
    vf = connect(zonesTab_, &ZonesTab::ReloadRequested, this,
                 [this] { StartConfigRequest(zonesTab_, kZonesConfigLogType); });
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
    vf = connect(ui->pushButtonReloadClassifier, &QPushButton::clicked, this, [this] {
        classifierTab_->AskReload();
        StartConfigRequest(classifierTab_, kClassifierConfigLogType);
    });
    const std::pair<DevicePage*, QWidget*> pages[] = {
        {zonesTab_, ui->tabZones}, {cameraPositionTab_, ui->tabGrid}, {classifierTab_, ui->tabClassifier}};
    for (const auto& [page, tab] : pages) {
        WirePage(page, [pageTab = tab] { return Tabs{pageTab}; });
        page->SetApplyGate([this] { return ConfirmAnalyticsApply(); });
    }
}

void SettingsDialog::ClearStatusOnActions()
{
    for (int i = 0; i < ui->tabWidget->count(); ++i) {
        QWidget* tab = ui->tabWidget->widget(i);
        for (QPushButton* button : tab->findChildren<QPushButton*>()) {
            vf =
                connect(button, &QPushButton::clicked, this, [this, tab] { SetTabStatus({tab}, {}, false); });
        }
    }
    for (QPushButton* button : {ui->pushButtonSaveTemplate, ui->pushButtonApplyTemplate}) {
        vf = connect(button, &QPushButton::clicked, this, [this] {
            templateTab_ = ui->tabWidget->currentWidget();
            SetTabStatus({templateTab_}, {}, false);
        });
    }
}

SettingsDialog::Tabs SettingsDialog::CurrentTab() const
{
    return {ui->tabWidget->currentWidget()};
}

SettingsDialog::Tabs SettingsDialog::VideoTabs() const
{
    return {ui->tabZones, ui->tabGrid};
}

void SettingsDialog::SetListedAddresses(std::vector<uint32_t> others)
{
    listedAddresses_ = std::move(others);
    UpdateDeviceLine();
}

void SettingsDialog::SetSharedMac(const QString& refusal)
{
    sharedMac_ = refusal;
    networkPage_->SetRefusal(refusal);
    UpdateDeviceLine();
}

bool SettingsDialog::Ask(const QString& question)
{
    return AskYesNo(this, question);
}

bool SettingsDialog::ConfirmAnalyticsApply()
{
    if (analyticsApplyConfirmed_ ||
        std::find(listedAddresses_.begin(), listedAddresses_.end(), params_->ip) == listedAddresses_.end()) {
        return true;
    }
    analyticsApplyConfirmed_ =
        Ask(tr("Another device answers at %1 too: this change may reach that device instead of this one. "
               "Apply anyway?")
                .arg(QString::fromStdString(IpTypeToString(params_->ip))));
    return analyticsApplyConfirmed_;
}

void SettingsDialog::RecordChange(const QString& what, const QString& result)
{
    templateActions_->DropConfig();
    LOG(INFO) << SecretFreeText(ChangeRecordText(*params_, what, result)).toStdString();
}

void SettingsDialog::DisplayError(const QString& message)
{
    DisplayErrorOn(CurrentTab(), message);
}

void SettingsDialog::DisplayErrorOn(const Tabs& tabs, const QString& message)
{
    const std::string logged = SecretFreeText(message).toStdString();
    LOG(ERROR) << logged;
    VLOG(1) << logged;
    emit StatusChanged(ShownText(message), 0);
    SetTabStatus(tabs, ShownText(message), true);
    if (closeQuestionOpen_) {
        // Not a second box over the question; shown if the dialog stays.
        heldErrors_ << message;
        return;
    }
    ShowErrorBox(this, message);
}

void SettingsDialog::ShowStatus(const QString& message)
{
    ShowStatusOn(CurrentTab(), message);
}

void SettingsDialog::ShowStatusOn(const Tabs& tabs, const QString& message)
{
    emit StatusChanged(message, 0);
    SetTabStatus(tabs, message, false);
}

void SettingsDialog::SetTabStatus(const Tabs& tabs, const QString& text, bool error)
{
    for (QWidget* tab : tabs) {
        tabStatus_[tab] = {text, error};
    }
    if (std::find(tabs.begin(), tabs.end(), ui->tabWidget->currentWidget()) != tabs.end()) {
        ShowStatusLine(text, error);
    }
}

void SettingsDialog::ShowCurrentTabStatus()
{
    const auto found = tabStatus_.find(ui->tabWidget->currentWidget());
    const TabStatus shown = found != tabStatus_.end() ? found->second : TabStatus{};
    ShowStatusLine(shown.text, shown.error);
}

QString SettingsDialog::ErrorOf(QWidget* tab, const QString& error)
{
    if (!error.isEmpty()) {
        replyErrorTab_ = tab;
    }
    return error;
}

void SettingsDialog::ShowStatusLine(const QString& text, bool error)
{
    QPalette palette = ui->labelStatus->palette();
    palette.setColor(QPalette::WindowText,
                     error ? kErrorTextColour : this->palette().color(QPalette::WindowText));
    ui->labelStatus->setPalette(palette);
    ui->labelStatus->setText(text);
    // A long text is cut at the label's width; the whole text stays at hand,
    // as plain text: it may quote what a device answered.
    ui->labelStatus->setToolTip(PlainToolTip(text));
}

void SettingsDialog::UpdateDeviceLine()
{
    const DeviceNetworkParams& p = *params_;
    httpClientDialog_->setDeviceName(QString::fromStdString(p.deviceName));
    ui->labelDevice->setText(
        tr("Device: %1    IP address: %2    MAC address: %3    Serial number: %4")
            .arg(QString::fromStdString(p.deviceName), QString::fromStdString(IpTypeToString(p.ip)),
                 QString::fromStdString(utils::GetPrintedBufferInHex(p.mac, sizeof p.mac, sizeof p.mac, "-")),
                 QString::fromStdString(p.serialNo)));
    const bool shared =
        std::find(listedAddresses_.begin(), listedAddresses_.end(), p.ip) != listedAddresses_.end();
    QStringList warnings;
    if (!sharedMac_.isEmpty()) {
        warnings << sharedMac_;
    }
    if (shared) {
        warnings << tr("Another device answers at %1 too: its web pages and video may be the other device's")
                        .arg(QString::fromStdString(IpTypeToString(p.ip)));
    }
    ui->labelSharedAddress->setVisible(!warnings.isEmpty());
    ui->labelSharedAddress->setText(warnings.join(QLatin1Char('\n')));
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
    // Unapplied zones go on to reject(), which asks as Close does. Close
    // does not ask about the calibration, so Escape leaves it alone.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
        (CancelDrawing() || (HasUnappliedDrawing() && !zonesTab_->HasUnappliedChanges()))) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SettingsDialog::reject()
{
    if (closeQuestionOpen_) {
        return;
    }
    if (zonesTab_->HasUnappliedChanges()) {
        // Requests still out may fail while the question is open.
        closeQuestionOpen_ = true;
        const bool discard =
            QMessageBox::question(this, windowTitle(), tr("Discard the unapplied zone changes?"),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
        closeQuestionOpen_ = false;
        const QStringList held = std::exchange(heldErrors_, {});
        if (!discard) {
            if (!held.isEmpty()) {
                ShowErrorBox(this, held.join(QLatin1Char('\n')));
            }
            return;
        }
    }
    QDialog::reject();
}

void SettingsDialog::OnCurrentTabChanged(int index)
{
    ShowCurrentTabStatus();
    // A page loads when first shown, and again when its load failed at an
    // address the device has left since.
    if (index == ui->tabWidget->indexOf(ui->tabSource) && (!sourceTabShown_ || SourceFailedBeforeMove())) {
        OnTabSourceFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabZones) &&
               (!zonesTabShown_ || FailedBeforeMove(zonesTab_))) {
        OnTabZonesFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabGrid) &&
               (!gridTabShown_ || FailedBeforeMove(cameraPositionTab_))) {
        OnTabGridFirstShow();
    } else if (index == ui->tabWidget->indexOf(ui->tabClassifier) &&
               (!classifierTabShown_ || FailedBeforeMove(classifierTab_))) {
        OnTabClassifierFirstShow();
    }
}

bool SettingsDialog::FailedBeforeMove(const DevicePage* page) const
{
    const auto failed = failedLoads_.find(page);
    return failed != failedLoads_.end() && failed->second < addressMoves_ && !router_->HasRequestOf(page);
}

bool SettingsDialog::SourceFailedBeforeMove() const
{
    return sourceLoadSentAt_ < addressMoves_ && !router_->HasRequestOf(sourcePage_) &&
           (!sourcePage_->IsLoaded() || sourceConfigFailed_);
}

void SettingsDialog::OnTabSourceFirstShow()
{
    sourceTabShown_ = true;
    sourceLoadSentAt_ = addressMoves_;
    // Shown again after an address change: only what failed is read again.
    if (!sourcePage_->IsLoaded()) {
        sourcePage_->Load();
    } else if (sourceConfigFailed_) {
        StartSourceConfigRequest();
    }
}

void SettingsDialog::StartSourceConfigRequest()
{
    sourceConfigFailed_ = false;
    sourceLoadSentAt_ = addressMoves_;
    router_->Start(
        sourcePage_, kSourceConfigLogType, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"),
        [this](const QByteArray& content) {
            templateActions_->HoldConfig(content);
            return ErrorOf(ui->tabSource,
                           TakeConfigText(content, ui->tabSource, [this](const VcaConfigReader& reader) {
                               FillFromConfig(reader);
                               sourcePage_->UpdateEnableControls(false);
                               return NotWholeErrorOnce(reader);
                           }));
        },
        [this](const QString& message) {
            sourceConfigFailed_ = true;
            sourcePage_->UpdateEnableControls(false);
            // Only Bitrate and FPS wait for this read, and they stay empty;
            // a box is left to the pages that cannot work without it, so a
            // failing device does not greet the user with two.
            const QString text = ConfigLoadFailedText(message);
            LOG(ERROR) << SecretFreeText(text).toStdString();
            emit StatusChanged(ShownText(text), 0);
            SetTabStatus({ui->tabSource}, ShownText(text), true);
            return QString();
        });
}

QString SettingsDialog::ConfigLoadFailedText(const QString& message)
{
    return tr("Loading the analytics configuration failed: %1").arg(message);
}

void SettingsDialog::OnTabZonesFirstShow()
{
    zonesTabShown_ = true;
    StartConfigRequest(zonesTab_, kZonesConfigLogType);
}

void SettingsDialog::OnTabGridFirstShow()
{
    gridTabShown_ = true;
    UpdateEnableGridControls(true);
    StartConfigRequest(cameraPositionTab_, kGridConfigLogType);
    UpdateEnableGridControls(false);
}

void SettingsDialog::OnTabClassifierFirstShow()
{
    classifierTabShown_ = true;
    // A configuration read for another page may have filled it already.
    if (!classifierTab_->IsLoaded()) {
        StartConfigRequest(classifierTab_, kClassifierConfigLogType);
    }
}

void SettingsDialog::OnDeviceAddressChanged()
{
    const std::string address = IpTypeToString(params_->ip);
    VLOG(1) << "Device address changed, later requests go to " << address;
    httpClientDialog_->setHost(address);
    liveView_->SetDeviceAddress(address);
    // A page whose load failed at the old address loads from the new one
    // the next time it is shown; the current one at once.
    ++addressMoves_;
    OnCurrentTabChanged(ui->tabWidget->currentIndex());
}

QString SettingsDialog::DeviceUrl(const char* path) const
{
    return QStringLiteral("http://%1%2")
        .arg(QString::fromStdString(IpTypeToString(params_->ip)), QString::fromLatin1(path));
}

void SettingsDialog::StartConfigRequest(DevicePage* page, int logType)
{
    QWidget* tab = page == zonesTab_            ? ui->tabZones
                   : page == cameraPositionTab_ ? ui->tabGrid
                                                : ui->tabClassifier;
    failedLoads_.erase(page);
    const int sentAt = addressMoves_;
    const auto done = [this, page, tab](const QByteArray& content) {
        templateActions_->HoldConfig(content);
        return ErrorOf(tab, TakeConfigText(content, tab, [this, page](const VcaConfigReader& reader) {
                           QString error = page->TakeConfig(reader);
                           if (page == cameraPositionTab_) {
                               // Without a camera position its controls stay disabled.
                               UpdateEnableGridControls(!error.isEmpty());
                           }
                           if (error.isEmpty()) {
                               FillFromConfig(reader);
                               error = NotWholeErrorOnce(reader);
                           }
                           return error;
                       }));
    };
    const auto failed = [this, page, tab, sentAt](const QString& message) {
        page->ConfigLoadFailed();
        failedLoads_[page] = sentAt;
        if (page == cameraPositionTab_) {
            UpdateEnableGridControls(true);
        }
        return ErrorOf(tab, ConfigLoadFailedText(message));
    };
    router_->Start(page, logType, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"), done, failed);
}

QString SettingsDialog::TakeConfigText(const QByteArray& content, QWidget* tab,
                                       const std::function<QString(const VcaConfigReader&)>& take)
{
    auto error = std::make_shared<QString>();
    auto later = std::make_shared<bool>(false);
    const bool now =
        configread::ReadThen(this, content, [this, tab, take, error, later](const VcaConfigReader& reader) {
            *error = take(reader);
            if (*later && !error->isEmpty()) {
                DisplayErrorOn({tab}, *error);
            }
        });
    *later = true;
    return now ? *error : QString();
}

QString SettingsDialog::NotWholeErrorOnce(const VcaConfigReader& reader)
{
    // Every page that reads the configuration keeps its own apply back; the
    // user is told once.
    if (reader.IsWhole() || notWholeShown_) {
        return {};
    }
    notWholeShown_ = true;
    return reader.NotWholeMessage();
}

void SettingsDialog::FillFromConfig(const VcaConfigReader& reader)
{
    classifierTab_->TakeConfig(reader);
    // The source page's Apply writes the encoder fields back.
    if (reader.IsWhole()) {
        sourcePage_->FillEncoderFields(reader);
        sourcePage_->TakeStoredPassword(reader);
    }
}

void SettingsDialog::UpdateEnableGridControls(bool busy)
{
    const bool connected = liveView_->IsConnected();
    // Only the camera position's own load holds the controls; another page's
    // request may end without this rule being applied again.
    cameraPositionTab_->EnableControls(connected,
                                       connected && !busy && !router_->HasRequestOf(cameraPositionTab_));
}

void SettingsDialog::EnableRtspVideoControls(bool connected)
{
    ui->pushButtonConnect1->setEnabled(!connected);
    ui->pushButtonConnect2->setEnabled(!connected);
    ui->pushButtonDisconnect1->setEnabled(connected);
    ui->pushButtonDisconnect2->setEnabled(connected);
    liveViewActions_->UpdateSnapshotButtons(connected);
    ui->widgetGridHint->setVisible(!connected);
    UpdateEnableGridControls(false);
}

void SettingsDialog::OnApplySourceViaHttp()
{
    sourcePage_->Apply();
}

void SettingsDialog::OnConnectVideo()
{
    QString error;
    if (!liveView_->Connect(IpTypeToString(params_->ip), error)) {
        DisplayErrorOn(VideoTabs(), error);
        return;
    }
    EnableRtspVideoControls(true);
}

void SettingsDialog::OnDisconnectVideo()
{
    // The Grid page's Disconnect stays enabled until the stop has been
    // handled.
    ui->pushButtonDisconnect1->setEnabled(false);
    liveView_->Disconnect();
}

void SettingsDialog::OnRtspDeviceStopped(const QString& error)
{
    EnableRtspVideoControls(false);
    if (error.isEmpty()) {
        ShowStatusOn(VideoTabs(), tr("RtspDevice stopped by user"));
    } else {
        DisplayErrorOn(VideoTabs(), tr("RtspDevice stopped: %1").arg(error));
    }
}

void SettingsDialog::TakeTemplatePart(const VcaConfigReader& device, TemplatePart part)
{
    switch (part) {
    case TemplatePart::Zones:
        zonesTab_->TakeConfig(device);
        break;
    case TemplatePart::Classifier:
        classifierTab_->AskReload();
        classifierTab_->TakeConfig(device);
        break;
    case TemplatePart::Encoder:
        sourcePage_->ShowEncoderFields(device);
        break;
    case TemplatePart::Camera:
        cameraPositionTab_->TakeConfig(device);
        UpdateEnableGridControls(false);
        break;
    }
}
