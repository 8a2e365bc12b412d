#include "TemplateActions.h"

#include "AssignmentVerifier.h"
#include "ConfigTemplate.h"
#include "DrawableView.h"
#include "ErrorBox.h"
#include "HttpClientDialog.h"
#include "ReplyRouter.h"
#include "StringUtils.h"
#include "TemplatePartsDialog.h"
#include "VcaConfigReader.h"
#include "ZonesTab.h"
#include "ui_SettingsDialog.h"

#include <QDir>
#include <QSaveFile>
#include <QStringList>
#include <QTimer>
#include <algorithm>

namespace {

const AssignmentVerifier vf;

// The number the log gives the configuration reads of a template.
constexpr int kTemplateConfigLogType = 9;

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

void TemplateActions::WithDeviceConfig(bool fresh, const QString& failedText,
                                       const std::function<QString(const QByteArray&)>& then)
{
    if (!fresh && configHeld_) {
        const QString error = then(configText_);
        if (!error.isEmpty()) {
            emit ErrorOccurred(error);
        }
        return;
    }
    router_->Start(
        this, kTemplateConfigLogType, ConfigUrl(),
        [this, then](const QByteArray& content) {
            HoldConfig(content);
            // Out of the router's hand-over first: what follows opens modal
            // dialogs.
            QTimer::singleShot(0, this, [this, then, content] {
                const QString error = then(content);
                if (!error.isEmpty()) {
                    emit ErrorOccurred(error);
                }
            });
            return QString();
        },
        [this, failedText](const QString& message) {
            SetBusy(false);
            return failedText.arg(message);
        });
}

void TemplateActions::Save()
{
    SetBusy(true);
    WithDeviceConfig(false,
                     tr("The template was not saved: the device's configuration could not be read: %1"),
                     [this](const QByteArray& config) { return SaveTemplate(config); });
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
    if (!MakeConfigTemplate(VcaConfigReader(config), source, text, error)) {
        return tr("The template was not saved: %1").arg(error);
    }
    const QString path = AskTemplateFile(dialog_, true);
    if (path.isEmpty()) {
        return {};
    }
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
    QByteArray text;
    std::unique_ptr<VcaConfigReader> read;
    QString error;
    if (!OpenTemplateFile(dialog_, text, read, error)) {
        if (!error.isEmpty()) {
            emit ErrorOccurred(error);
        }
        return;
    }
    int width = 0;
    int height = 0;
    ReadTemplateVideoSize(text, width, height);
    TemplatePartsDialog choice(dialog_, TemplateAspectWarning(QSize(width, height), PictureSize(*form_)));
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
    SetBusy(true);
    const std::shared_ptr<VcaConfigReader> tmpl(std::move(read));
    // Zones and classes are removed before the template's are added: only
    // after the device's configuration was read whole, just now.
    WithDeviceConfig(
        true, tr("The template was not applied: the device's configuration could not be read: %1"),
        [this, tmpl, parts](const QByteArray& config) { return ApplyTemplate(tmpl, parts, config); });
}

QString TemplateActions::ApplyTemplate(const std::shared_ptr<VcaConfigReader>& tmpl,
                                       const std::vector<TemplatePart>& parts, const QByteArray& device)
{
    const VcaConfigReader current(device);
    if (!current.IsWhole() || (applyGate_ && !applyGate_())) {
        SetBusy(false);
        if (current.IsWhole()) {
            emit StatusChanged(tr("Template not applied; nothing was sent"));
            return {};
        }
        return tr("The template was not applied: %1").arg(current.NotWholeMessage());
    }
    for (const TemplatePart part : parts) {
        const QString problem = TemplatePartProblem(*tmpl, part);
        if (!problem.isEmpty()) {
            SetBusy(false);
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
            http_->setAction(tr("Applying the template's %1").arg(name), i + 1, count);
            if (http_->request(paths[static_cast<size_t>(i)].toStdString())) {
                continue;
            }
            cancelled = http_->wasCancelledByUser();
            if (!cancelled) {
                failure = http_->lastError();
                if (failure.isEmpty()) {
                    failure = tr("The device did not accept a command");
                }
            }
        }
        const QString what = QStringLiteral("template: %1").arg(name);
        if (cancelled) {
            emit ChangeSent(what, QStringLiteral("cancelled, the device may hold part of the change"));
            break;
        }
        emit ChangeSent(what,
                        failure.isEmpty() ? QStringLiteral("changed") : QStringLiteral("failed: ") + failure);
        if (firstFailure.isEmpty() && !failure.isEmpty()) {
            firstFailure = tr("%1: %2").arg(name, failure);
        }
    }
    // Whatever was sent, the device tells what it now holds.
    router_->Start(
        this, kTemplateConfigLogType, ConfigUrl(),
        [this, tmpl, parts, firstFailure, cancelled](const QByteArray& content) {
            return TakeReadBack(*tmpl, parts, firstFailure, cancelled, content);
        },
        [this](const QString& message) {
            SetBusy(false);
            return tr("The template was sent, but the device's configuration could not be read back, so "
                      "whether it applied is not known: %1")
                .arg(message);
        });
    return {};
}

QString TemplateActions::TakeReadBack(const VcaConfigReader& tmpl, const std::vector<TemplatePart>& parts,
                                      const QString& sendFailure, bool cancelled, const QByteArray& content)
{
    SetBusy(false);
    HoldConfig(content);
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
        emit PartReadBack(device, part);
    }
    const QString separator = QStringLiteral(", ");
    if (differing.isEmpty() && sendFailure.isEmpty() && !cancelled) {
        emit StatusChanged(tr("Template applied: %1 match the file").arg(matching.join(separator)));
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
        emit StatusChanged(tr("Applying the template was cancelled: %1").arg(result));
        return {};
    }
    return sendFailure.isEmpty() ? tr("Template not applied whole: %1").arg(result)
                                 : tr("Template not applied whole: %1 (%2)").arg(result, sendFailure);
}
