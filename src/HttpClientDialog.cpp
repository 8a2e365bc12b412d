#include "HttpClientDialog.h"

#include "AssignmentVerifier.h"
#include "HttpFailureText.h"
#include "UrlLogText.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
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
    lastError_.clear();
    QNetworkRequest httpRequest(url);
    SetHttpTransferTimeout(httpRequest);
    reply_ = manager_->get(httpRequest);
    connect(reply_, SIGNAL(finished()), this, SLOT(onHttpFinished()));
    connect(reply_, SIGNAL(readyRead()), this, SLOT(onHttpReadyRead()));
    // The host line on standard output is meant: it shows on the tool's
    // console which device each apply command goes to.
    std::cout << host_ << std::endl;
    exec();

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

void HttpClientDialog::onHttpReadyRead()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (reply == nullptr || reply != reply_) {
        return; // a reply left behind by an earlier request
    }
    content_ = std::string(reply->readAll().constData());
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
    const QVariant redirectionTarget = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (reply->error() != QNetworkReply::NoError) {
        lastError_ = HttpFailureText(*reply);
    } else if (!redirectionTarget.isNull()) {
        lastError_ = RedirectionFailureText(reply->url().resolved(redirectionTarget.toUrl()));
    }
    close();
}

void HttpClientDialog::onAuthenticationRequired(QNetworkReply* /*reply*/, QAuthenticator* authenticator)
{
    authenticator->setUser(QString::fromStdString(user_));
    authenticator->setPassword(QString::fromStdString(password_));
}
