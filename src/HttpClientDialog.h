#pragma once

#include <QPoint>
#include <QProgressDialog>
#include <QString>
#include <string>

class QAuthenticator;
class QCloseEvent;
class QEventLoop;
class QMessageBox;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

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
// overtake it. Closing it (Cancel, Escape, the window's close button) while
// the request is in flight first asks whether to stop; the request keeps
// going while the question is open, and only the user closes the question.
//
// A sequence of requests that must end whole (BeginSequence to EndSequence)
// keeps the progress window shown, in its place, from the first request to
// the last. There, stopping aborts nothing: the request at work finishes
// and StopRequested() tells the caller, who puts back what was changed.
//
// An answer is bounded like HttpClientModule's: a body past
// kHttpAnswerMaxBytes or a request not finished kHttpAnswerTimeLimitMs after
// it was sent fails with its own text.
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

    // The device as the progress text and the stop question name it; its
    // address until a name is given.
    void setDeviceName(const QString& name) { deviceName_ = name; }
    // The device's name, or its address until a name is given.
    QString deviceText() const;
    // The progress text of the requests that follow:
    // "<action> to <device name> (<index> of <count>)…".
    void setAction(const QString& action, int index, int count);

    // The body of the latest reply, up to its first NUL.
    const std::string& content() const { return content_; }

    // The requests up to EndSequence are one change: the window stays shown
    // between them, and a stop the user asks for is only noted (see
    // StopRequested). `stopQuestion` is asked when the user closes the
    // window; empty: stopping is not offered (while a change is put back).
    void BeginSequence(const QString& stopQuestion);
    void SetStopQuestion(const QString& stopQuestion) { sequenceStopQuestion_ = stopQuestion; }
    void EndSequence();
    // The user chose to stop the sequence.
    bool StopRequested() const { return sequenceStopRequested_; }

public slots:
    void onHttpFinished();
    void onHttpReadyRead();
    void onAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator);
    // Cancel, Escape and the window's close button while a request is in
    // flight: asks whether to stop it.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onHttpMetaDataChanged();
    void onAnswerTimeLimit();
    void askToStop();

private:
    bool inFlight() const;
    // Aborts the request in flight, to be reported with `failure`.
    void giveUp(const QString& failure);
    // Shown where it was last time, so that a button under the pointer stays there.
    void showInPlace();
    void hideKeepingPlace();

    QNetworkAccessManager* manager_ = nullptr; // child of the dialog
    QNetworkReply* reply_ = nullptr;           // latest request; null until the first
    std::string host_;
    int port_ = -1; // 0 or below: the URL carries no port
    std::string content_;
    std::string user_;
    std::string password_;
    bool replyFinished_ = false; // the latest reply has finished
    bool cancelledByUser_ = false;
    bool stopRequested_ = false; // the user chose to stop the latest request
    QString lastError_;
    QString deviceName_;
    QString action_;
    QTimer* answerTimer_ = nullptr;       // child; runs while a request is in flight
    qint64 receivedBytes_ = 0;            // of the latest reply's body
    QString limitFailure_;                // why a limit ended the latest request
    QMessageBox* stopQuestion_ = nullptr; // the stop question while it is open
    QEventLoop* waitLoop_ = nullptr;      // runs while a request waits
    bool inSequence_ = false;
    bool sequenceStopRequested_ = false;
    QString sequenceStopQuestion_;
    QPoint lastPosition_;
    bool placed_ = false; // lastPosition_ holds where the window was
};
