#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <string>

class HttpClientModule;

// The settings dialog's requests to the device's web interface, one at a
// time: each page's request waits in one queue with the page that asked for
// it, goes out over the router's HttpClientModule when the previous reply has
// been handed over, and its reply or failure goes to that page's handler, so
// no reply is ever taken for another.
//
// Owned by the settings dialog (its Qt parent); GUI thread only. Requests
// still waiting when it is destroyed are dropped; the one out is aborted by
// the module, without reaching any page.
class ReplyRouter final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(ReplyRouter)
public:
    // A page's handling of its reply: returns the error to show, empty when
    // the reply was taken.
    using ReplyHandler = std::function<QString(const QByteArray& content)>;
    using FailureHandler = std::function<QString(const QString& message)>;

    explicit ReplyRouter(QObject* parent);
    ~ReplyRouter() override;

    // Queues a GET of `url` for `page`; `logType` names it in the log.
    void Start(const QObject* page, int logType, const QString& url, ReplyHandler done,
               FailureHandler failed);
    // A request is out on the module, its reply not yet handed over.
    bool IsRequestOut() const { return requestOut_; }
    // `page` has a request out or waiting.
    bool HasRequestOf(const QObject* page) const;

signals:
    // An error a handler returned, or a reply nobody asked for; emitted after
    // the next request has gone out, so that showing it holds up nothing.
    void ErrorOccurred(const QString& message);

private slots:
    void OnHttpRequestDone(const QByteArray& content);
    void OnHttpRequestFailed(const QString& message);

private:
    struct PageRequest {
        const QObject* page = nullptr;
        int logType = 0;
        std::string url;
        ReplyHandler done;
        FailureHandler failed;
    };

    void StartNext();
    // Takes the answered request out of the queue, gives it to `handle`,
    // sends the next one and then reports the error `handle` returned.
    void HandOver(const std::function<QString(const PageRequest&)>& handle);
    int OutLogType() const;

    HttpClientModule* module_ = nullptr; // child
    // In the order they were asked for; while requestOut_, the first is on
    // the module.
    std::deque<PageRequest> requests_;
    bool requestOut_ = false;
};
