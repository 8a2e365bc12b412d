#include "TemplateActions.h"

#include "AssignmentVerifier.h"
#include "ConfigTemplate.h"
#include "DrawableView.h"
#include "ErrorBox.h"
#include "HttpClientDialog.h"
#include "ModalRequests.h"
#include "ReplyRouter.h"
#include "StringUtils.h"
#include "TemplateApply.h"
#include "TemplatePartsDialog.h"
#include "ConfigReadAside.h"
#include "VcaConfigReader.h"
#include "ZonesTab.h"
#include "ui_SettingsDialog.h"

#include <QBoxLayout>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <algorithm>

namespace {

const AssignmentVerifier vf;

// The number the log gives the configuration reads of a template.
constexpr int kTemplateConfigLogType = 9;

// The tool's remembered choices (QSettings); the main window's template
// apply opens from the same folder.
const char* const kSettingsOrganisation = "QEL";
const char* const kSettingsApplication = "QelIpTool";

QString FolderKey(bool save)
{
    return save ? QStringLiteral("templates/saveFolder") : QStringLiteral("templates/openFolder");
}

// The size of the device's live picture once one has been shown; invalid
// before.
QSize PictureSize(const Ui::SettingsDialog& form)
{
    for (QWidget* w : {form.videoWidget1, form.videoWidget2}) {
        const QImage& picture = qobject_cast<DrawableView*>(w)->image();
        if (!picture.isNull()) {
            return picture.size();
        }
    }
    return {};
}

} // namespace

QString TemplateFolder(bool save)
{
    const QSettings settings(QString::fromLatin1(kSettingsOrganisation),
                             QString::fromLatin1(kSettingsApplication));
    const QString folder = settings.value(FolderKey(save)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberTemplateFolder(bool save, const QString& path)
{
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    settings.setValue(FolderKey(save), QFileInfo(path).absolutePath());
}

void NameTemplate(QDialog& choice, const QString& label)
{
    choice.setWindowTitle(TemplateActions::tr("Apply template %1").arg(label));
    // The source device's name comes from the file: plain text.
    auto* named = new QLabel(TemplateActions::tr("Template: %1").arg(label), &choice);
    named->setObjectName(QStringLiteral("labelTemplate"));
    named->setTextFormat(Qt::PlainText);
    named->setWordWrap(true);
    if (auto* layout = qobject_cast<QBoxLayout*>(choice.layout())) {
        layout->insertWidget(0, named);
    }
}

TemplateActions::TemplateActions(QWidget* parent, Ui::SettingsDialog* form, HttpClientDialog* http,
                                 ReplyRouter* router, const DeviceNetworkParams& params,
                                 const ZonesTab* zones)
    : QObject(parent), dialog_(parent), form_(form), http_(http), router_(router), params_(params),
      zones_(zones)
{
    vf = connect(form_->pushButtonSaveTemplate, SIGNAL(clicked()), this, SLOT(Save()));
    vf = connect(form_->pushButtonApplyTemplate, SIGNAL(clicked()), this, SLOT(Apply()));
}

void TemplateActions::HoldConfig(const QByteArray& content)
{
    configText_ = content;
    configHeld_ = true;
}

QString TemplateActions::ConfigUrl() const
{
    return QStringLiteral("http://%1/qel-cgi/admin/getconfig.fcgi")
        .arg(QString::fromStdString(IpTypeToString(params_.ip)));
}

void TemplateActions::SetBusy(bool busy)
{
    form_->pushButtonSaveTemplate->setEnabled(!busy);
    form_->pushButtonApplyTemplate->setEnabled(!busy);
}

void TemplateActions::Save()
{
    SetBusy(true);
    const auto save = [this](const QByteArray& config) {
        const QString error = SaveTemplate(config);
        if (!error.isEmpty()) {
            emit ErrorOccurred(error);
        }
    };
    if (configHeld_) {
        save(configText_);
        return;
    }
    router_->Start(
        this, kTemplateConfigLogType, ConfigUrl(),
        [this, save](const QByteArray& content) {
            HoldConfig(content);
            // Out of the router's hand-over first: saving opens a file dialog.
            QTimer::singleShot(0, this, [save, content] { save(content); });
            return QString();
        },
        [this](const QString& message) {
            SetBusy(false);
            return tr("The template was not saved: the device's configuration could not be read: %1")
                .arg(message);
        });
}

QString TemplateActions::SaveTemplate(const QByteArray& config)
{
    SetBusy(false);
    const DeviceNetworkParams& p = params_;
    TemplateSource source;
    source.deviceName = QString::fromStdString(p.deviceName);
    source.mac = QString::fromStdString(utils::GetPrintedBufferInHex(p.mac, sizeof p.mac, sizeof p.mac, "-"));
    source.address = QString::fromStdString(IpTypeToString(p.ip));
    const QSize picture = PictureSize(*form_);
    source.videoWidth = picture.width();
    source.videoHeight = picture.height();
    QByteArray text;
    QString error;
    if (!MakeConfigTemplate(*configread::ReadWaiting(config), source, text, error)) {
        return tr("The template was not saved: %1").arg(error);
    }
    const QString path = AskTemplateFile(dialog_, true);
    if (path.isEmpty()) {
        return {};
    }
    RememberTemplateFolder(true, path);
    // The file is replaced only once it has been written whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return tr("The template could not be written to %1: %2")
            .arg(QDir::toNativeSeparators(path), file.errorString());
    }
    emit StatusChanged(tr("Template saved to %1").arg(QDir::toNativeSeparators(path)));
    return {};
}

void TemplateActions::Apply()
{
    const QString path = AskTemplateFile(dialog_, false);
    if (path.isEmpty()) {
        return;
    }
    RememberTemplateFolder(false, path);
    QByteArray text;
    std::unique_ptr<VcaConfigReader> read;
    QString error;
    if (!ReadTemplateFile(path, text, read, error)) {
        emit ErrorOccurred(error);
        return;
    }
    int width = 0;
    int height = 0;
    ReadTemplateVideoSize(text, width, height);
    TemplatePartsDialog choice(dialog_, TemplateAspectWarning(QSize(width, height), PictureSize(*form_)));
    NameTemplate(choice, TemplateLabel(path, text));
    if (choice.exec() != QDialog::Accepted) {
        emit StatusChanged(tr("Template not applied; nothing was sent"));
        return;
    }
    const std::vector<TemplatePart> parts = choice.Choice().Chosen();
    if (std::find(parts.begin(), parts.end(), TemplatePart::Zones) != parts.end() &&
        zones_->HasUnappliedChanges() &&
        !AskYesNo(dialog_,
                  tr("The template's zones replace the zone changes not yet applied. Apply the template?"))) {
        emit StatusChanged(tr("Template not applied; nothing was sent"));
        return;
    }
    if (applyGate_ && !applyGate_()) {
        emit StatusChanged(tr("Template not applied; nothing was sent"));
        return;
    }
    SetBusy(true);
    TemplateApply apply(*read, choice.Choice(), QString::fromStdString(IpTypeToString(params_.ip)), nullptr);
    {
        ModalRequests requests(
            *http_, tr("Applying the template to %1 is not finished. Stop it? What was already changed "
                       "of the part at work is put back, and the parts after it are not sent.")
                        .arg(http_->deviceText()));
        apply.Run(requests);
    }
    SetBusy(false);
    Report(apply);
}

void TemplateActions::Report(const TemplateApply& apply)
{
    QStringList matching;
    QStringList lines;
    QString cause;
    for (const TemplatePartResult& result : apply.Results()) {
        const QString name = TemplatePartName(result.part);
        if (result.sent) {
            emit ChangeSent(QStringLiteral("template: %1").arg(name), result.StatusText());
        }
        if (result.state == TemplatePartResult::State::Matches) {
            matching << name;
        }
        // Each part says what the device holds; the first cause comes last,
        // as it may be long.
        lines << tr("%1: %2").arg(name, result.StatusText(false));
        if (cause.isEmpty()) {
            cause = result.cause;
        }
    }
    // The pages of the chosen parts show what the device now holds; the
    // others keep what the user may be editing.
    // A refused apply sent nothing: the pages keep what the user may be editing.
    const std::shared_ptr<const VcaConfigReader> device = apply.LastRead();
    if (device && apply.RefusalText().isEmpty()) {
        DropConfig();
        for (const TemplatePartResult& result : apply.Results()) {
            emit PartReadBack(*device, result.part);
        }
    }
    QString text = lines.join(QStringLiteral("; "));
    if (!cause.isEmpty()) {
        text += QStringLiteral(". ") + tr("Cause: %1").arg(cause);
    }
    if (!apply.RefusalText().isEmpty()) {
        emit ErrorOccurred(tr("The template was not applied: %1").arg(apply.RefusalText()));
    } else if (apply.AllMatch()) {
        emit StatusChanged(
            tr("Template applied: %1 match the file").arg(matching.join(QStringLiteral(", "))));
    } else if (apply.Stopped()) {
        emit StatusChanged(tr("Applying the template was cancelled: %1").arg(text));
    } else {
        emit ErrorOccurred(tr("Template not applied whole: %1").arg(text));
    }
}
