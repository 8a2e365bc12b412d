#pragma once

#include <QProgressDialog>
#include <QString>
#include <string>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;

// Sends one HTTP GET to the device and blocks its caller behind a modal
// progress dialog until the reply has finished. Answers an authentication
// challenge (Basic or Digest) with the credentials it was given. Has its own
// network access manager; replies are released once they have finished.
// GUI thread only; the modal wait runs a nested event loop.
//
// The caller learns the outcome: request returns false when the reply failed
// (network or HTTP error, refused authentication, redirection, nothing
// transferred for the time-out) or when the user closed or cancelled the
// progress dialog, and lastError gives the reason as a user text. A closed
// dialog aborts its request, so that nothing the caller sends next can
// overtake it.
class HttpClientDialog final : public QProgressDialog {
    Q_OBJECT
    Q_DISABLE_COPY(HttpClientDialog)
public:
    HttpClientDialog(const std::string& host, int port, const std::string& login,
                     const std::string& password);

    // Sends GET http://host[:port]<path> and returns once the dialog has been
    // closed. True when the reply finished without error and without a
    // redirection; otherwise false, with the reason in lastError().
    bool request(const std::string& path);

    // Why the latest request failed; empty after a successful one.
    QString lastError() const { return lastError_; }
    // The latest request was ended by the user closing the progress dialog.
    bool wasCancelledByUser() const { return cancelledByUser_; }

    // The device's address for the requests that follow (after the device
    // was given a new one).
    void setHost(const std::string& host) { host_ = host; }

    // The data of the latest readyRead of the latest reply, up to its first NUL.
    const std::string& content() const { return content_; }

public slots:
    void onHttpFinished();
    void onHttpReadyRead();
    void onAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator);

private:
    QNetworkAccessManager* manager_ = nullptr; // child of the dialog
    QNetworkReply* reply_ = nullptr;           // latest request; null until the first
    std::string host_;
    int port_ = -1; // 0 or below: the URL carries no port
    std::string content_;
    std::string user_;
    std::string password_;
    bool replyFinished_ = false; // the latest reply has finished
    bool cancelledByUser_ = false;
    QString lastError_;
};
