#include "HttpClientDialog.h"

#include "AssignmentVerifier.h"
#include "HttpFailureText.h"
#include "UrlLogText.h"

#include <QAuthenticator>
#include <QCloseEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <easylogging++.h>
#include <iostream>

namespace {
static const AssignmentVerifier vf;
} // namespace

HttpClientDialog::HttpClientDialog(const std::string& host, int port, const std::string& login,
                                   const std::string& password)
    : QProgressDialog(nullptr), host_(host), port_(port), user_(login), password_(password)
{
    // QProgressDialog arms a timer that shows the dialog on its own after a
    // few seconds; this one is shown only while a request is waiting.
    reset();
    setWindowTitle(tr("QEL IP Tool"));
    // No count of bytes is known beforehand: the bar shows that work goes on.
    setRange(0, 0);
    // Cancel asks before it stops anything.
    disconnect(this, SIGNAL(canceled()), this, SLOT(cancel()));
    vf = connect(this, SIGNAL(canceled()), this, SLOT(askToStop()));
    answerTimer_ = new QTimer(this);
    answerTimer_->setSingleShot(true);
    answerTimer_->setInterval(kHttpAnswerTimeLimitMs);
    vf = connect(answerTimer_, SIGNAL(timeout()), this, SLOT(onAnswerTimeLimit()));
    manager_ = new QNetworkAccessManager(this);
    vf = connect(manager_, SIGNAL(authenticationRequired(QNetworkReply*, QAuthenticator*)), this,
                 SLOT(onAuthenticationRequired(QNetworkReply*, QAuthenticator*)));
    setModal(true);
}

bool HttpClientDialog::request(const std::string& path)
{
    std::string urlText = "http://" + host_;
    if (port_ > 0) {
        urlText += ":" + std::to_string(port_);
    }
    urlText += path;
    const QUrl url(QString::fromStdString(urlText));
    VLOG(1) << "HttpClientDialog will send HTTP request to URL " << UrlLogText(url.toString().toStdString());

    replyFinished_ = false;
    cancelledByUser_ = false;
    stopRequested_ = false;
    lastError_.clear();
    limitFailure_.clear();
    receivedBytes_ = 0;
    QNetworkRequest httpRequest(url);
    SetHttpTransferTimeout(httpRequest);
    reply_ = manager_->get(httpRequest);
    LimitHttpReplyBuffer(*reply_);
    connect(reply_, SIGNAL(finished()), this, SLOT(onHttpFinished()));
    connect(reply_, SIGNAL(readyRead()), this, SLOT(onHttpReadyRead()));
    connect(reply_, SIGNAL(metaDataChanged()), this, SLOT(onHttpMetaDataChanged()));
    answerTimer_->start();
    // The host line on standard output is meant: it shows on the tool's
    // console which device each apply command goes to.
    std::cout << host_ << std::endl;
    content_.clear();
    showInPlace();
    QEventLoop loop;
    waitLoop_ = &loop;
    if (!replyFinished_ && !stopRequested_) {
        loop.exec();
    }
    waitLoop_ = nullptr;
    answerTimer_->stop();
    if (!inSequence_) {
        hideKeepingPlace();
    }

    if (!replyFinished_ && reply_ != nullptr) {
        // Closed by the user: the request ends here. Its completion must not
        // close the next request's dialog, so it is cut off first.
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        cancelledByUser_ = true;
        lastError_ = tr("The request was cancelled");
    }
    if (!lastError_.isEmpty()) {
        VLOG(1) << "HttpClientDialog request failed: " << lastError_.toStdString();
        return false;
    }
    return true;
}

void HttpClientDialog::showInPlace()
{
    if (isVisible()) {
        return;
    }
    if (placed_) {
        move(lastPosition_);
    }
    show();
}

void HttpClientDialog::hideKeepingPlace()
{
    if (isVisible()) {
        lastPosition_ = pos();
        placed_ = true;
        hide();
    }
}

void HttpClientDialog::BeginSequence(const QString& stopQuestion)
{
    inSequence_ = true;
    sequenceStopRequested_ = false;
    sequenceStopQuestion_ = stopQuestion;
}

void HttpClientDialog::EndSequence()
{
    inSequence_ = false;
    sequenceStopQuestion_.clear();
    hideKeepingPlace();
}

void HttpClientDialog::onHttpReadyRead()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (reply == nullptr || reply != reply_) {
        return; // a reply left behind by an earlier request
    }
    const QByteArray data = reply->readAll();
    receivedBytes_ += data.size();
    if (receivedBytes_ > kHttpAnswerMaxBytes) {
        giveUp(AnswerTooLargeText());
        return;
    }
    // The body up to its first NUL; what follows a NUL is not text.
    if (content_.size() == static_cast<size_t>(receivedBytes_ - data.size())) {
        content_.append(data.constData(), qstrnlen(data.constData(), static_cast<uint>(data.size())));
    }
}

void HttpClientDialog::onHttpMetaDataChanged()
{
    if (sender() == reply_ && reply_ != nullptr && AnnouncesTooLargeAnswer(*reply_)) {
        giveUp(AnswerTooLargeText());
    }
}

void HttpClientDialog::onAnswerTimeLimit()
{
    if (reply_ != nullptr && !replyFinished_) {
        giveUp(AnswerTooSlowText());
    }
}

void HttpClientDialog::giveUp(const QString& failure)
{
    VLOG(1) << "HttpClientDialog will abort its request: " << failure.toStdString();
    limitFailure_ = failure;
    reply_->abort();
}

void HttpClientDialog::setAction(const QString& action, int index, int count)
{
    action_ = action;
    setLabelText(tr("%1 to %2 (%3 of %4)\u2026").arg(action, deviceText()).arg(index).arg(count));
}

QString HttpClientDialog::deviceText() const
{
    return deviceName_.isEmpty() ? QString::fromStdString(host_) : deviceName_;
}

bool HttpClientDialog::inFlight() const
{
    return reply_ != nullptr && !replyFinished_ && !stopRequested_;
}

void HttpClientDialog::askToStop()
{
    if (stopQuestion_ != nullptr) {
        return;
    }
    QString text;
    if (inSequence_) {
        // A change under way is stopped by putting back what it changed.
        if (sequenceStopQuestion_.isEmpty() || sequenceStopRequested_) {
            return;
        }
        text = sequenceStopQuestion_;
    } else {
        if (!inFlight()) {
            return;
        }
        const QString action = action_.isEmpty() ? tr("Sending a command") : action_;
        text = tr("%1 to %2 is not finished. Stop it? The device may hold part of the change.")
                   .arg(action, deviceText());
    }
    QMessageBox question(QMessageBox::Question, windowTitle(), text, QMessageBox::Yes | QMessageBox::No,
                         this);
    question.setDefaultButton(QMessageBox::No);
    // The device's name is device text.
    question.setTextFormat(Qt::PlainText);
    stopQuestion_ = &question;
    // Only the user closes it: a request that ends meanwhile waits for the answer.
    const int answer = question.exec();
    stopQuestion_ = nullptr;
    if (answer != QMessageBox::Yes) {
        return;
    }
    if (inSequence_) {
        sequenceStopRequested_ = true;
        setLabelText(tr("Stopping: what was changed on %1 is put back\u2026").arg(deviceText()));
    } else if (inFlight()) {
        stopRequested_ = true;
        if (waitLoop_ != nullptr) {
            waitLoop_->quit();
        }
    }
}

void HttpClientDialog::reject()
{
    if (inFlight() || inSequence_) {
        askToStop();
    } else {
        QDialog::reject();
    }
}

void HttpClientDialog::closeEvent(QCloseEvent* event)
{
    if (inFlight() || inSequence_) {
        event->ignore();
        askToStop();
        return;
    }
    QProgressDialog::closeEvent(event);
}

void HttpClientDialog::onHttpFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (reply == nullptr) {
        return;
    }
    reply->deleteLater();
    if (reply != reply_) {
        // An earlier request whose dialog was closed early: it must not close
        // the dialog of the request that is waiting now.
        return;
    }
    reply_ = nullptr;
    replyFinished_ = true;
    answerTimer_->stop();
    const QVariant redirectionTarget = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (!limitFailure_.isEmpty()) {
        lastError_ = limitFailure_;
    } else if (reply->error() != QNetworkReply::NoError) {
        lastError_ = HttpFailureText(*reply);
    } else if (!redirectionTarget.isNull()) {
        lastError_ = RedirectionFailureText(reply->url().resolved(redirectionTarget.toUrl()));
    }
    // An open stop question stays until the user answers it; the wait ends
    // once it is closed.
    if (waitLoop_ != nullptr) {
        waitLoop_->quit();
    }
}

void HttpClientDialog::onAuthenticationRequired(QNetworkReply* /*reply*/, QAuthenticator* authenticator)
{
    authenticator->setUser(QString::fromStdString(user_));
    authenticator->setPassword(QString::fromStdString(password_));
}
