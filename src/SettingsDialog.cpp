#include "SettingsDialog.h"

#include "AssignmentVerifier.h"
#include "CameraPositionTab.h"
#include "ChangeRecord.h"
#include "ClassifierTab.h"
#include "ConfigTemplate.h"
#include "DrawableView.h"
#include "ErrorBox.h"
#include "HttpClientDialog.h"
#include "HttpFailureText.h"
#include "LiveView.h"
#include "NetworkPage.h"
#include "ReplyRouter.h"
#include "SnapshotFile.h"
#include "SourcePage.h"
#include "StringUtils.h"
#include "TemplatePartsDialog.h"
#include "VcaConfigReader.h"
#include "ZonesTab.h"
#include "ui_SettingsDialog.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QStringList>
#include <QTimer>
#include <cassert>
#include <easylogging++.h>
#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

const AssignmentVerifier vf;

// Credentials of the device's web interface for the commands that change its
// configuration.
const char* const kHttpUser = "root";
const char* const kHttpPassword = "kqzt";
// The URL carries no port: the HTTP default applies.
constexpr int kHttpPortNone = -1;

// The numbers the log gives the configuration loads of the analytics pages.
constexpr int kZonesConfigLogType = 3;
constexpr int kGridConfigLogType = 6;
constexpr int kClassifierConfigLogType = 7;
constexpr int kSourceConfigLogType = 8;
constexpr int kTemplateConfigLogType = 9;

// Room left on the screen for the window frame, which is not known before the
// dialog is first shown.
const QSize kFrameAllowance(16, 48);

// Failures in the dialog's status line.
const QColor kErrorTextColour(200, 0, 0);

// The tool's remembered choices (QSettings).
const char* const kSettingsOrganisation = "QEL";
const char* const kSettingsApplication = "QelIpTool";
const char* const kStreamInfoKey = "liveView/streamInfo";
const char* const kSnapshotFolderKey = "liveView/snapshotFolder";

// A page's results reach the dialog's status, error display and change record.
template <typename Page> void WirePage(SettingsDialog* dialog, Page* page)
{
    vf = QObject::connect(page, &Page::ErrorOccurred, dialog, &SettingsDialog::DisplayError);
    vf = QObject::connect(page, &Page::StatusChanged, dialog, &SettingsDialog::ShowStatus);
    vf = QObject::connect(page, &Page::ChangeSent, dialog, &SettingsDialog::RecordChange);
}

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

    // The modal client that the pages' apply commands go through.
    httpClientDialog_ = std::make_unique<HttpClientDialog>(IpTypeToString(params_->ip), kHttpPortNone,
                                                           kHttpUser, kHttpPassword);

    // The pages' loads and the source page's apply, one at a time.
    router_ = new ReplyRouter(this);
    vf = connect(router_, &ReplyRouter::ErrorOccurred, this, &SettingsDialog::DisplayError);

    networkPage_ = new NetworkPage(this, ui, *params_, listedAddresses_, interfaceIndex_);
    WirePage(this, networkPage_);
    vf = connect(ui->tabWidget, SIGNAL(currentChanged(int)), this, SLOT(OnCurrentTabChanged(int)));
    networkPage_->LoadFromParams();
    vf = connect(networkPage_, SIGNAL(AddressChanged()), this, SLOT(OnDeviceAddressChanged()));

    sourcePage_ = new SourcePage(this, ui, httpClientDialog_.get(), router_, *params_);
    WirePage(this, sourcePage_);
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
    vf = connect(ui->pushButtonSnapshot1, SIGNAL(clicked()), this, SLOT(OnSnapshot()));
    vf = connect(ui->pushButtonSnapshot2, SIGNAL(clicked()), this, SLOT(OnSnapshot()));
    vf = connect(liveView_, &LiveView::PicturesShown, this, [this] {
        ui->pushButtonSnapshot1->setEnabled(true);
        ui->pushButtonSnapshot2->setEnabled(true);
    });
    {
        const QSettings settings(QString::fromLatin1(kSettingsOrganisation),
                                 QString::fromLatin1(kSettingsApplication));
        OnStreamInfoToggled(settings.value(QString::fromLatin1(kStreamInfoKey), true).toBool());
    }
    vf = connect(ui->checkBoxStreamInfo1, SIGNAL(toggled(bool)), this, SLOT(OnStreamInfoToggled(bool)));
    vf = connect(ui->checkBoxStreamInfo2, SIGNAL(toggled(bool)), this, SLOT(OnStreamInfoToggled(bool)));
    // While the video reconnects no box interrupts: the reason is in the
    // status line, as over the picture.
    vf = connect(liveView_, &LiveView::Reconnecting, this,
                 [this](const QString& reason) { ShowStatus(tr("Reconnecting\u2026 (%1)").arg(reason)); });
    vf = connect(liveView_, &LiveView::Reconnected, this, [this] { ShowStatus(tr("Video reconnected")); });

    CreateAnalyticsPages();
    EnableRtspVideoControls(false);

    vf = connect(this, &SettingsDialog::StatusChanged, this,
                 [this](const QString& text) { ShowStatusLine(text, false); });
    vf = connect(networkPage_, &NetworkPage::RecordChanged, this, &SettingsDialog::UpdateDeviceLine);
    QPalette warning = ui->labelSharedAddress->palette();
    warning.setColor(QPalette::WindowText, kErrorTextColour);
    ui->labelSharedAddress->setPalette(warning);
    UpdateDeviceLine();

    vf = connect(ui->pushButtonSaveTemplate, SIGNAL(clicked()), this, SLOT(OnSaveTemplate()));
    vf = connect(ui->pushButtonApplyTemplate, SIGNAL(clicked()), this, SLOT(OnApplyTemplate()));

    // The page that is current from the start loads at once.
    OnCurrentTabChanged(ui->tabWidget->currentIndex());
}

void SettingsDialog::CreateAnalyticsPages()
{
    // Each page is handed the widgets it works on; their apply results reach
    // the status bar or the error display.
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
        WirePage(this, page);
        page->SetApplyGate([this] { return ConfirmAnalyticsApply(); });
    }
}

void SettingsDialog::SetListedAddresses(std::vector<uint32_t> others)
{
    listedAddresses_ = std::move(others);
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
    configTextHeld_ = false;
    LOG(INFO) << SecretFreeText(ChangeRecordText(*params_, what, result)).toStdString();
}

void SettingsDialog::DisplayError(const QString& message)
{
    const std::string logged = SecretFreeText(message).toStdString();
    LOG(ERROR) << logged;
    VLOG(1) << logged;
    emit StatusChanged(ShownText(message), 0);
    ShowStatusLine(ShownText(message), true);
    if (closeQuestionOpen_) {
        // Not a second box over the question; shown if the dialog stays.
        heldErrors_ << message;
        return;
    }
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
    ui->labelSharedAddress->setVisible(shared);
    ui->labelSharedAddress->setText(
        shared ? tr("Another device answers at %1 too: its web pages and video may be the other device's")
                     .arg(QString::fromStdString(IpTypeToString(p.ip)))
               : QString());
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
    sourcePage_->Load();
}

void SettingsDialog::StartSourceConfigRequest()
{
    router_->Start(
        sourcePage_, kSourceConfigLogType, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"),
        [this](const QByteArray& content) {
            configText_ = content;
            configTextHeld_ = true;
            const VcaConfigReader reader(content);
            FillFromConfig(reader);
            sourcePage_->UpdateEnableControls(false);
            return NotWholeErrorOnce(reader);
        },
        [this](const QString& message) {
            sourcePage_->UpdateEnableControls(false);
            // Only Bitrate and FPS wait for this read, and they stay empty;
            // a box is left to the pages that cannot work without it, so a
            // failing device does not greet the user with two.
            const QString text = ConfigLoadFailedText(message);
            LOG(ERROR) << SecretFreeText(text).toStdString();
            emit StatusChanged(ShownText(text), 0);
            ShowStatusLine(ShownText(text), true);
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
}

QString SettingsDialog::DeviceUrl(const char* path) const
{
    return QStringLiteral("http://%1%2")
        .arg(QString::fromStdString(IpTypeToString(params_->ip)), QString::fromLatin1(path));
}

void SettingsDialog::StartConfigRequest(DevicePage* page, int logType)
{
    const auto done = [this, page](const QByteArray& content) {
        configText_ = content;
        configTextHeld_ = true;
        const VcaConfigReader reader(content);
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
    };
    const auto failed = [this, page](const QString& message) {
        page->ConfigLoadFailed();
        if (page == cameraPositionTab_) {
            UpdateEnableGridControls(true);
        }
        return ConfigLoadFailedText(message);
    };
    router_->Start(page, logType, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"), done, failed);
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
    const bool pictures = connected && liveView_->IsShowingPictures();
    ui->pushButtonSnapshot1->setEnabled(pictures);
    ui->pushButtonSnapshot2->setEnabled(pictures);
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
        DisplayError(error);
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
        ShowStatus(tr("RtspDevice stopped by user"));
    } else {
        DisplayError(tr("RtspDevice stopped: %1").arg(error));
    }
}

namespace {
SettingsDialog::SnapshotFolderAsker& FolderAsker()
{
    static SettingsDialog::SnapshotFolderAsker asker;
    return asker;
}
} // namespace

void SettingsDialog::SetSnapshotFolderAsker(SnapshotFolderAsker asker)
{
    FolderAsker() = std::move(asker);
}

void SettingsDialog::OnSnapshot()
{
    // The picture of the moment of the click: the stream goes on while the
    // folder is asked for.
    const QImage picture = liveView_->CurrentPicture();
    const QDateTime now = QDateTime::currentDateTime();
    if (picture.isNull()) {
        DisplayError(tr("Snapshot not saved: no picture"));
        return;
    }
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    QString folder = settings.value(QString::fromLatin1(kSnapshotFolderKey)).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = FolderAsker()
                     ? FolderAsker()(this)
                     : QFileDialog::getExistingDirectory(this, tr("Folder for snapshots"), QDir::homePath());
        if (folder.isEmpty()) {
            return;
        }
        settings.setValue(QString::fromLatin1(kSnapshotFolderKey), folder);
    }
    const QString fileName = SnapshotFileName(QString::fromStdString(params_->deviceName),
                                              QString::fromStdString(IpTypeToString(params_->ip)), now);
    QString path;
    QString error;
    if (!SaveSnapshot(picture, folder, fileName, path, error)) {
        // The next snapshot asks again rather than failing the same way.
        settings.remove(QString::fromLatin1(kSnapshotFolderKey));
        DisplayError(tr("Snapshot not saved to %1: %2")
                         .arg(QDir::toNativeSeparators(QDir(folder).filePath(fileName)), error));
        return;
    }
    ShowStatus(tr("Snapshot saved: %1").arg(QDir::toNativeSeparators(path)));
}

void SettingsDialog::OnStreamInfoToggled(bool shown)
{
    // Both boxes show the one setting.
    {
        const QSignalBlocker blocker1(ui->checkBoxStreamInfo1);
        const QSignalBlocker blocker2(ui->checkBoxStreamInfo2);
        ui->checkBoxStreamInfo1->setChecked(shown);
        ui->checkBoxStreamInfo2->setChecked(shown);
    }
    liveView_->SetStreamInfoShown(shown);
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    if (settings.value(QString::fromLatin1(kStreamInfoKey), true).toBool() != shown) {
        settings.setValue(QString::fromLatin1(kStreamInfoKey), shown);
    }
}

QSize SettingsDialog::PictureSize() const
{
    for (QWidget* w : {ui->videoWidget1, ui->videoWidget2}) {
        const QImage& picture = qobject_cast<DrawableView*>(w)->image();
        if (!picture.isNull()) {
            return picture.size();
        }
    }
    return {};
}

void SettingsDialog::SetTemplateBusy(bool busy)
{
    ui->pushButtonSaveTemplate->setEnabled(!busy);
    ui->pushButtonApplyTemplate->setEnabled(!busy);
}

void SettingsDialog::WithDeviceConfig(bool fresh, const QString& failedText,
                                      const std::function<QString(const QByteArray&)>& then)
{
    if (!fresh && configTextHeld_) {
        const QString error = then(configText_);
        if (!error.isEmpty()) {
            DisplayError(error);
        }
        return;
    }
    router_->Start(
        this, kTemplateConfigLogType, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"),
        [this, then](const QByteArray& content) {
            configText_ = content;
            configTextHeld_ = true;
            // Out of the router's hand-over first: what follows opens modal
            // dialogs.
            QTimer::singleShot(0, this, [this, then, content] {
                const QString error = then(content);
                if (!error.isEmpty()) {
                    DisplayError(error);
                }
            });
            return QString();
        },
        [this, failedText](const QString& message) {
            SetTemplateBusy(false);
            return failedText.arg(message);
        });
}

void SettingsDialog::OnSaveTemplate()
{
    SetTemplateBusy(true);
    WithDeviceConfig(false,
                     tr("The template was not saved: the device's configuration could not be read: %1"),
                     [this](const QByteArray& config) { return SaveTemplate(config); });
}

QString SettingsDialog::SaveTemplate(const QByteArray& config)
{
    SetTemplateBusy(false);
    const DeviceNetworkParams& p = *params_;
    TemplateSource source;
    source.deviceName = QString::fromStdString(p.deviceName);
    source.mac = QString::fromStdString(utils::GetPrintedBufferInHex(p.mac, sizeof p.mac, sizeof p.mac, "-"));
    source.address = QString::fromStdString(IpTypeToString(p.ip));
    const QSize picture = PictureSize();
    source.videoWidth = picture.width();
    source.videoHeight = picture.height();
    QByteArray text;
    QString error;
    if (!MakeConfigTemplate(VcaConfigReader(config), source, text, error)) {
        return tr("The template was not saved: %1").arg(error);
    }
    const QString path = AskTemplateFile(this, true);
    if (path.isEmpty()) {
        return {};
    }
    // The file is replaced only once it has been written whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return tr("The template could not be written to %1: %2")
            .arg(QDir::toNativeSeparators(path), file.errorString());
    }
    ShowStatus(tr("Template saved to %1").arg(QDir::toNativeSeparators(path)));
    return {};
}

void SettingsDialog::OnApplyTemplate()
{
    QByteArray text;
    std::unique_ptr<VcaConfigReader> read;
    QString error;
    if (!OpenTemplateFile(this, text, read, error)) {
        if (!error.isEmpty()) {
            DisplayError(error);
        }
        return;
    }
    int width = 0;
    int height = 0;
    ReadTemplateVideoSize(text, width, height);
    TemplatePartsDialog choice(this, TemplateAspectWarning(QSize(width, height), PictureSize()));
    if (choice.exec() != QDialog::Accepted) {
        ShowStatus(tr("Template not applied; nothing was sent"));
        return;
    }
    const std::vector<TemplatePart> parts = choice.Choice().Chosen();
    if (std::find(parts.begin(), parts.end(), TemplatePart::Zones) != parts.end() &&
        zonesTab_->HasUnappliedChanges() &&
        !Ask(tr("The template's zones replace the zone changes not yet applied. Apply the template?"))) {
        ShowStatus(tr("Template not applied; nothing was sent"));
        return;
    }
    SetTemplateBusy(true);
    const std::shared_ptr<VcaConfigReader> tmpl(std::move(read));
    // Zones and classes are removed before the template's are added: only
    // after the device's configuration was read whole, just now.
    WithDeviceConfig(
        true, tr("The template was not applied: the device's configuration could not be read: %1"),
        [this, tmpl, parts](const QByteArray& config) { return ApplyTemplate(tmpl, parts, config); });
}

QString SettingsDialog::ApplyTemplate(const std::shared_ptr<VcaConfigReader>& tmpl,
                                      const std::vector<TemplatePart>& parts, const QByteArray& device)
{
    const VcaConfigReader current(device);
    if (!current.IsWhole() || !ConfirmAnalyticsApply()) {
        SetTemplateBusy(false);
        if (current.IsWhole()) {
            ShowStatus(tr("Template not applied; nothing was sent"));
            return {};
        }
        return tr("The template was not applied: %1").arg(current.NotWholeMessage());
    }
    for (const TemplatePart part : parts) {
        const QString problem = TemplatePartProblem(*tmpl, part);
        if (!problem.isEmpty()) {
            SetTemplateBusy(false);
            return tr("The template was not applied: %1: %2").arg(TemplatePartName(part), problem);
        }
    }
    QString firstFailure;
    bool cancelled = false;
    for (const TemplatePart part : parts) {
        // A part the device already holds is not sent again.
        if (TemplatePartMatches(*tmpl, current, part)) {
            continue;
        }
        const QString name = TemplatePartName(part);
        const std::vector<QString> paths = TemplatePartCommands(*tmpl, part);
        const int count = static_cast<int>(paths.size());
        QString failure;
        // A part stops at its first failed request: no zone or class is
        // added after a removal that did not go through.
        for (int i = 0; i < count && !cancelled && failure.isEmpty(); ++i) {
            httpClientDialog_->setAction(tr("Applying the template's %1").arg(name), i + 1, count);
            if (httpClientDialog_->request(paths[static_cast<size_t>(i)].toStdString())) {
                continue;
            }
            cancelled = httpClientDialog_->wasCancelledByUser();
            if (!cancelled) {
                failure = httpClientDialog_->lastError();
                if (failure.isEmpty()) {
                    failure = tr("The device did not accept a command");
                }
            }
        }
        const QString what = QStringLiteral("template: %1").arg(name);
        if (cancelled) {
            RecordChange(what, QStringLiteral("cancelled, the device may hold part of the change"));
            break;
        }
        RecordChange(what,
                     failure.isEmpty() ? QStringLiteral("changed") : QStringLiteral("failed: ") + failure);
        if (firstFailure.isEmpty() && !failure.isEmpty()) {
            firstFailure = tr("%1: %2").arg(name, failure);
        }
    }
    // Whatever was sent, the device tells what it now holds.
    router_->Start(
        this, kTemplateConfigLogType, DeviceUrl("/qel-cgi/admin/getconfig.fcgi"),
        [this, tmpl, parts, firstFailure, cancelled](const QByteArray& content) {
            return TakeTemplateReadBack(*tmpl, parts, firstFailure, cancelled, content);
        },
        [this](const QString& message) {
            SetTemplateBusy(false);
            return tr("The template was sent, but the device's configuration could not be read back, so "
                      "whether it applied is not known: %1")
                .arg(message);
        });
    return {};
}

QString SettingsDialog::TakeTemplateReadBack(const VcaConfigReader& tmpl,
                                             const std::vector<TemplatePart>& parts,
                                             const QString& sendFailure, bool cancelled,
                                             const QByteArray& content)
{
    SetTemplateBusy(false);
    configText_ = content;
    configTextHeld_ = true;
    const VcaConfigReader device(content);
    if (!device.IsWhole()) {
        return tr("The template was sent, but whether it applied is not known: %1")
            .arg(device.NotWholeMessage());
    }
    QStringList matching;
    QStringList differing;
    for (const TemplatePart part : parts) {
        (TemplatePartMatches(tmpl, device, part) ? matching : differing) << TemplatePartName(part);
        // The pages of the parts sent show what the device now holds; the
        // others keep what the user may be editing.
        QString unused;
        switch (part) {
        case TemplatePart::Zones:
            zonesTab_->TakeConfig(device);
            break;
        case TemplatePart::Classifier: {
            ClassifierValues values;
            if (device.ReadClassifier(values, unused)) {
                classifierTab_->SetClassifier(values);
            }
            break;
        }
        case TemplatePart::Encoder:
            sourcePage_->ShowEncoderFields(device);
            break;
        case TemplatePart::Camera:
            cameraPositionTab_->TakeConfig(device);
            UpdateEnableGridControls(false);
            break;
        }
    }
    const QString separator = QStringLiteral(", ");
    if (differing.isEmpty() && sendFailure.isEmpty() && !cancelled) {
        ShowStatus(tr("Template applied: %1 match the file").arg(matching.join(separator)));
        return {};
    }
    QString result;
    if (differing.isEmpty()) {
        result = tr("%1 match the file").arg(matching.join(separator));
    } else {
        result = differing.size() == 1 ? tr("%1 does not match the file").arg(differing.front())
                                       : tr("%1 do not match the file").arg(differing.join(separator));
        if (!matching.isEmpty()) {
            result += matching.size() == 1 ? tr("; %1 matches it").arg(matching.front())
                                           : tr("; %1 match it").arg(matching.join(separator));
        }
    }
    if (cancelled) {
        ShowStatus(tr("Applying the template was cancelled: %1").arg(result));
        return {};
    }
    return sendFailure.isEmpty() ? tr("Template not applied whole: %1").arg(result)
                                 : tr("Template not applied whole: %1 (%2)").arg(result, sendFailure);
}
