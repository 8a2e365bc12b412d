#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <string>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The process-wide manager through which every HttpClientModule sends its
// requests. Lives from static initialisation to program exit.
extern QNetworkAccessManager globalNetworkAccessManager1;

// Sends one HTTP GET at a time to a device's web interface and reports the
// outcome as Done (whole body) or Failed (a user text). Lives on the GUI
// thread, owned by its Qt parent; a request still in flight at destruction is
// aborted. No credentials are offered unless SetCredentials gave some: a
// server that asks for others, or asks again, fails the request.
//
// One request is carried at a time. Start while a request is in flight does
// not send at once: it queues the URL exactly as StartLater does (the latest
// queued URL wins), so one completion is never handled against another
// request.
//
// An answer is bounded in size and time: a body past kHttpAnswerMaxBytes, or
// a request not finished kHttpAnswerTimeLimitMs after it was sent, fails with
// its own text, and the next queued URL goes out as after any failure.
class HttpClientModule final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(HttpClientModule)
public:
    explicit HttpClientModule(QObject* parent);
    ~HttpClientModule() override;

    // Offered once per request when the device asks for authentication (the
    // write commands). Neither reaches a log record.
    void SetCredentials(const QString& user, const QString& password);

signals:
    void Done(const QByteArray& content);
    void Failed(const QString& errorMessage);

public slots:
    void Start(const std::string& url);
    void StartLater(const std::string& url);
    void Abort();
    void OnHttpReplyGot();
    void OnAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator);

private slots:
    // The reply's headers or data arrived: the data is taken into body_ at
    // once, and a body past the size limit ends the request.
    void OnHttpDataGot();
    void OnAnswerTimeLimit();

private:
    void Queue(const std::string& url);
    // Aborts the request in flight, to be reported with `failure`.
    void GiveUp(const QString& failure);

    QUrl url_;                       // request in flight, or the last one sent
    QNetworkReply* reply_ = nullptr; // owned by the manager; null when idle
    std::string nextUrl_;            // queued while in flight; empty when none
    bool aborted_ = false;
    bool authenticationRequired_ = false;
    bool credentialsOffered_ = false; // to the request in flight
    QString user_;
    QString password_;
    QTimer* answerTimer_ = nullptr; // child; runs while a request is in flight
    QString limitFailure_;          // why a limit ended the request; empty otherwise
    QByteArray body_;               // of the request in flight, as far as it came
};
