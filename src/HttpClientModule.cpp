#include "HttpClientModule.h"

#include "AssignmentVerifier.h"
#include "HttpFailureText.h"
#include "UrlLogText.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QVariant>
#include <easylogging++.h>
#include <utility>

QNetworkAccessManager globalNetworkAccessManager1;

namespace {
static const AssignmentVerifier vf;
} // namespace

HttpClientModule::HttpClientModule(QObject* parent) : QObject(parent), answerTimer_(new QTimer(this))
{
    answerTimer_->setSingleShot(true);
    answerTimer_->setInterval(kHttpAnswerTimeLimitMs);
    vf = connect(answerTimer_, SIGNAL(timeout()), this, SLOT(OnAnswerTimeLimit()));
    vf =
        connect(&globalNetworkAccessManager1, SIGNAL(authenticationRequired(QNetworkReply*, QAuthenticator*)),
                this, SLOT(OnAuthenticationRequired(QNetworkReply*, QAuthenticator*)));
}

HttpClientModule::~HttpClientModule()
{
    if (reply_ != nullptr) {
        VLOG(1) << "Will call Abort() from destructor...";
        // The completion that Abort triggers must not send a queued URL from
        // an object that is going away.
        nextUrl_.clear();
        Abort();
    }
}

void HttpClientModule::Start(const std::string& url)
{
    if (reply_ != nullptr) {
        // A second reply would be connected to the same completion slot while
        // the first is still pending; send it after the current one instead.
        Queue(url);
        return;
    }
    url_ = QString::fromStdString(url);
    aborted_ = false;
    authenticationRequired_ = false;
    credentialsOffered_ = false;
    limitFailure_.clear();
    body_.clear();
    VLOG(1) << "Will send HTTP request to URL " << UrlLogText(url_.toString().toStdString());
    QNetworkRequest request(url_);
    SetHttpTransferTimeout(request);
    reply_ = globalNetworkAccessManager1.get(request);
    LimitHttpReplyBuffer(*reply_);
    vf = connect(reply_, SIGNAL(finished()), this, SLOT(OnHttpReplyGot()));
    vf = connect(reply_, SIGNAL(metaDataChanged()), this, SLOT(OnHttpDataGot()));
    vf = connect(reply_, SIGNAL(readyRead()), this, SLOT(OnHttpDataGot()));
    answerTimer_->start();
}

void HttpClientModule::StartLater(const std::string& url)
{
    if (reply_ != nullptr) {
        Queue(url);
    } else {
        Start(url);
    }
}

void HttpClientModule::Queue(const std::string& url)
{
    VLOG(1) << "HTTP request in flight, URL queued: " << UrlLogText(url);
    nextUrl_ = url;
}

void HttpClientModule::Abort()
{
    VLOG(1) << "Will abort HTTP session";
    if (reply_ == nullptr) {
        return; // nothing in flight: there is no reply to abort
    }
    aborted_ = true;
    reply_->abort();
}

void HttpClientModule::OnHttpDataGot()
{
    if (reply_ == nullptr || sender() != reply_ || !limitFailure_.isEmpty()) {
        return;
    }
    body_ += reply_->readAll();
    if (AnnouncesTooLargeAnswer(*reply_) || body_.size() > kHttpAnswerMaxBytes) {
        GiveUp(AnswerTooLargeText());
    }
}

void HttpClientModule::OnAnswerTimeLimit()
{
    if (reply_ != nullptr) {
        GiveUp(AnswerTooSlowText());
    }
}

void HttpClientModule::GiveUp(const QString& failure)
{
    VLOG(1) << "Will abort HTTP session: " << failure.toStdString();
    limitFailure_ = failure;
    reply_->abort();
}

void HttpClientModule::OnHttpReplyGot()
{
    QNetworkReply* reply = qobject_cast<QNetworkReply*>(sender());
    if (reply == nullptr || reply != reply_) {
        return;
    }
    answerTimer_->stop();
    const QVariant redirectionTarget = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (authenticationRequired_ && credentialsOffered_) {
        VLOG(1) << "The device refused the credentials";
        emit Failed(tr("The device refused the credentials"));
    } else if (authenticationRequired_) {
        VLOG(1) << "Authentication required, not implemented";
        emit Failed(tr("Authentication required, not implemented"));
    } else if (!limitFailure_.isEmpty()) {
        VLOG(1) << limitFailure_.toStdString();
        emit Failed(limitFailure_);
    } else if (aborted_) {
        VLOG(1) << "HTTP request is aborted by user";
        emit Failed(tr("HTTP request is aborted by user"));
    } else if (reply->error() != QNetworkReply::NoError) {
        const QString text = HttpFailureText(*reply);
        VLOG(1) << text.toStdString();
        emit Failed(text);
    } else if (redirectionTarget.isNull()) {
        const QByteArray content = std::exchange(body_, {}) + reply->readAll();
        VLOG(1) << "Got HTTP reply " << content.size() << " bytes: " << SecretFreeText(content.toStdString());
        emit Done(content);
    } else {
        const QUrl newUrl = url_.resolved(redirectionTarget.toUrl());
        const QString text = RedirectionFailureText(newUrl);
        VLOG(1) << text.toStdString();
        emit Failed(text);
    }

    reply->deleteLater();
    reply_ = nullptr;
    body_.clear();
    if (!nextUrl_.empty()) {
        const std::string next = std::move(nextUrl_);
        nextUrl_.clear();
        Start(next);
    }
}

void HttpClientModule::SetCredentials(const QString& user, const QString& password)
{
    user_ = user;
    password_ = password;
}

void HttpClientModule::OnAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator)
{
    // The manager is shared by every module: only the own request is answered.
    if (reply == nullptr || reply != reply_) {
        return;
    }
    // A second challenge means the credentials were refused: offering them
    // again would only repeat the request.
    if (!user_.isEmpty() && !credentialsOffered_) {
        credentialsOffered_ = true;
        authenticator->setUser(user_);
        authenticator->setPassword(password_);
        return;
    }
    VLOG(1) << "OnAuthenticationRequired, will abort...";
    authenticationRequired_ = true;
    Abort();
}
