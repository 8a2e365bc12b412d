#include "SourcePage.h"

#include "ChangeRecord.h"
#include "DeviceNetworkParams.h"
#include "HttpClientDialog.h"
#include "ParseHttpRequest.h"
#include "ReplyRouter.h"
#include "SourceRequests.h"
#include "VCA.pb.h"
#include "VcaConfigReader.h"
#include "ui_SettingsDialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <initializer_list>
#include <map>
#include <utility>

namespace {

// The numbers the log gives the page's two requests.
constexpr int kGetCamLogType = 1;
constexpr int kSetCamLogType = 2;

} // namespace

SourcePage::SourcePage(QWidget* parent, Ui::SettingsDialog* form, HttpClientDialog* http, ReplyRouter* router,
                       const DeviceNetworkParams& params)
    : QObject(parent), parent_(parent), ui(form), http_(http), router_(router), params_(params)
{
}

QString SourcePage::DeviceAddress() const
{
    return QString::fromStdString(IpTypeToString(params_.ip));
}

void SourcePage::Load()
{
    UpdateEnableControls(true);
    router_->Start(
        this, kGetCamLogType, QStringLiteral("http://%1/qel-cgi/admin/getcam.fcgi").arg(DeviceAddress()),
        [this](const QByteArray& content) { return TakeSourceParams(content); },
        [this](const QString& message) { return TakeSourceParamsFailure(message); });
    UpdateEnableControls(false);
}

QString SourcePage::TakeSourceParams(const QByteArray& content)
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
    loaded_ = true;
    emit Loaded();
    UpdateEnableControls(false);

    std::string unusedHost;
    std::string unusedLogin;
    QString errorMessage;
    if (!FindSourceHostAndLogin(values, unusedHost, unusedLogin, errorMessage)) {
        ReportLater(errorMessage);
    }
    return {};
}

QString SourcePage::TakeSourceParamsFailure(const QString& message)
{
    // The page's data was never loaded: it stays disabled.
    UpdateEnableControls(true);
    ReportLater(tr("Loading the video source settings failed: %1").arg(message));
    return {};
}

void SourcePage::ReportLater(const QString& message)
{
    QTimer::singleShot(0, this, [this, message] { emit ErrorOccurred(message); });
}

void SourcePage::TakeStoredPassword(const VcaConfigReader& reader)
{
    if (!reader.IsWhole() || !reader.Config().has_videosource() ||
        !reader.Config().videosource().has_password()) {
        return;
    }
    storedPassword_ = QString::fromStdString(reader.Config().videosource().password());
    storedPasswordKnown_ = true;
}

void SourcePage::FillEncoderFields(const VcaConfigReader& reader)
{
    EncoderValues encoder;
    QString unusedError;
    if (!encoderFieldsFilled_ && !ui->lBitrate->isModified() && !ui->lFps->isModified() &&
        reader.ReadEncoder(encoder, unusedError)) {
        ui->lBitrate->setText(QString::number(encoder.bitrate));
        ui->lFps->setText(QString::number(encoder.fps));
        encoderFieldsFilled_ = true;
    }
}

void SourcePage::ShowEncoderFields(const VcaConfigReader& reader)
{
    encoderFieldsFilled_ = false;
    ui->lBitrate->setModified(false);
    ui->lFps->setModified(false);
    FillEncoderFields(reader);
}

void SourcePage::UpdateEnableControls(bool busy)
{
    const bool enable =
        !busy && loaded_ && !applying_ && !router_->IsRequestOut() && !router_->HasRequestOf(this);
    // The admin password field stays disabled: the modal client signs in to
    // the web interface by itself, so nothing would read it.
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->comboBoxModel, ui->lineEditSourceHost, ui->lineEditSourceLogin,
                                         ui->lineEditSourcePasswprd, ui->pushButtonApply3}) {
        w->setEnabled(enable);
    }
}

void SourcePage::Apply()
{
    if (applying_ || !CheckInput()) {
        return;
    }
    // setcam writes all four values: sent when the user changed one of the
    // three loaded ones or typed a password, never to write an empty password
    // over the device's unasked.
    const Values shown{ui->comboBoxModel->currentText(), ui->lineEditSourceHost->text(),
                       ui->lineEditSourceLogin->text()};
    const QString typed = ui->lineEditSourcePasswprd->text();
    setcamSent_ = shown.model != loadedSource_.model || shown.host != loadedSource_.host ||
                  shown.login != loadedSource_.login || !typed.isEmpty();
    pendingEncoderPath_.clear();
    ComposeEncoderPath(ui->lBitrate->text(), ui->lFps->text(), pendingEncoderPath_);
    if (!setcamSent_ && pendingEncoderPath_.empty()) {
        emit StatusChanged(tr("Nothing to apply: the source settings were not changed."));
        return;
    }
    QString password = typed;
    if (setcamSent_ && typed.isEmpty()) {
        // An empty field the user did not edit keeps the device's password;
        // one the user emptied, or a password not known, is asked about.
        const bool emptiedByUser = ui->lineEditSourcePasswprd->isModified();
        if (!emptiedByUser && storedPasswordKnown_) {
            password = storedPassword_;
        } else if (!ConfirmEmptyPassword()) {
            emit StatusChanged(tr("Nothing was applied: the video source password is empty."));
            return;
        }
    }

    if (applyGate_ && !applyGate_()) {
        emit StatusChanged(tr("Not applied; nothing was sent"));
        return;
    }

    applying_ = true;
    UpdateEnableControls(true);
    setcamError_.clear();
    if (!setcamSent_) {
        FinishApply();
        return;
    }
    sentSource_ = shown;
    sentSourcePassword_ = !typed.isEmpty();
    sentPassword_ = password;
    router_->Start(
        this, kSetCamLogType,
        ComposeSetCamUrl(DeviceAddress(), shown.model, shown.host, shown.login, password),
        [this](const QByteArray&) { return TakeSetCamReply(QString()); },
        [this](const QString& message) { return TakeSetCamReply(message); });
}

bool SourcePage::ConfirmEmptyPassword()
{
    QMessageBox question(QMessageBox::Question, parent_->windowTitle(),
                         tr("The device will store an empty password for its video source. Send it anyway?"),
                         QMessageBox::Yes | QMessageBox::No, parent_);
    question.setDefaultButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

bool SourcePage::CheckInput()
{
    QString message;
    const EncoderField invalid = FindInvalidEncoderField(ui->lBitrate->text(), ui->lFps->text(), message);
    if (invalid == EncoderField::None) {
        return true;
    }
    emit ErrorOccurred(message);
    QLineEdit* field = invalid == EncoderField::Bitrate ? ui->lBitrate : ui->lFps;
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
    return false;
}

QString SourcePage::TakeSetCamReply(const QString& error)
{
    if (error.isEmpty()) {
        loadedSource_ = sentSource_;
        // The device holds what was sent: an untouched field stands for it.
        storedPassword_ = sentPassword_;
        storedPasswordKnown_ = true;
        ui->lineEditSourcePasswprd->setModified(false);
    }
    sentPassword_.clear();
    setcamError_ = error;
    emit ChangeSent(QStringLiteral("video source (model %1, host %2, login %3%4)")
                        .arg(RecordQuoted(sentSource_.model), RecordQuoted(sentSource_.host),
                             RecordQuoted(sentSource_.login),
                             sentSourcePassword_ ? QStringLiteral(", new password") : QString()),
                    error.isEmpty() ? QStringLiteral("changed") : QStringLiteral("failed: ") + error);
    // The encoder request is modal: it is sent from the event loop, not from
    // inside the HTTP module's completion.
    QTimer::singleShot(0, this, &SourcePage::FinishApply);
    return {};
}

void SourcePage::FinishApply()
{
    QString encoderError;
    bool encoderCancelled = false;
    if (!pendingEncoderPath_.empty()) {
        const std::string path = std::move(pendingEncoderPath_);
        pendingEncoderPath_.clear();
        http_->setAction(tr("Applying the video source settings"), 1, 1);
        const bool applied = http_->request(path);
        if (!applied) {
            encoderCancelled = http_->wasCancelledByUser();
            encoderError = http_->lastError();
        }
        const QString what =
            QStringLiteral("encoder (%1)").arg(QString::fromStdString(path).section(QLatin1Char('?'), 1));
        emit ChangeSent(what, applied            ? QStringLiteral("changed")
                              : encoderCancelled ? QStringLiteral("cancelled")
                                                 : QStringLiteral("failed: ") + encoderError);
    }
    applying_ = false;
    UpdateEnableControls(false);

    QStringList failures;
    if (setcamSent_ && !setcamError_.isEmpty()) {
        failures << tr("The video source request (setcam) failed: %1").arg(setcamError_);
    }
    const QString cancelled =
        tr("Applying the encoder settings was cancelled; the device may hold part of the change");
    if (encoderCancelled) {
        failures << cancelled;
    } else if (!encoderError.isEmpty()) {
        failures << tr("The encoder request failed: %1").arg(encoderError);
    }
    if (failures.isEmpty()) {
        emit StatusChanged(tr("Source settings were applied successfully."));
    } else if (failures == QStringList{cancelled}) {
        // The user chose to stop, after a question that said what it means.
        emit StatusChanged(cancelled);
    } else {
        emit ErrorOccurred(failures.join(QLatin1Char('\n')));
    }
}
