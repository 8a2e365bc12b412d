#include "ReplyRouter.h"

#include "AssignmentVerifier.h"
#include "HttpClientModule.h"

#include <QCoreApplication>
#include <algorithm>
#include <easylogging++.h>
#include <utility>

namespace {

const AssignmentVerifier vf;

QString DialogText(const char* text)
{
    return QCoreApplication::translate("SettingsDialog", text);
}

} // namespace

ReplyRouter::ReplyRouter(QObject* parent) : QObject(parent), module_(new HttpClientModule(this))
{
    // Replies are handed over once the module's completion has ended, so the
    // next request can go out at once.
    vf = connect(module_, SIGNAL(Done(const QByteArray&)), this, SLOT(OnHttpRequestDone(const QByteArray&)),
                 Qt::QueuedConnection);
    vf = connect(module_, SIGNAL(Failed(const QString&)), this, SLOT(OnHttpRequestFailed(const QString&)),
                 Qt::QueuedConnection);
}

ReplyRouter::~ReplyRouter()
{
    // The module aborts a request still out as it goes; no page hears of it.
    disconnect(module_, nullptr, this, nullptr);
}

void ReplyRouter::Start(const QObject* page, int logType, const QString& url, ReplyHandler done,
                        FailureHandler failed)
{
    if (requestOut_) {
        VLOG(1) << "HTTP request deferred, waitReplyType: " << OutLogType() << ", deferred type: " << logType;
    }
    requests_.push_back({page, logType, url.toStdString(), std::move(done), std::move(failed)});
    StartNext();
}

void ReplyRouter::StartNext()
{
    if (requestOut_ || requests_.empty()) {
        return;
    }
    requestOut_ = true;
    module_->Start(requests_.front().url);
}

bool ReplyRouter::HasRequestOf(const QObject* page) const
{
    return std::any_of(requests_.begin(), requests_.end(),
                       [page](const PageRequest& request) { return request.page == page; });
}

int ReplyRouter::OutLogType() const
{
    return requestOut_ ? requests_.front().logType : 0;
}

void ReplyRouter::HandOver(const std::function<QString(const PageRequest&)>& handle)
{
    const PageRequest answered = std::move(requests_.front());
    requests_.pop_front();
    requestOut_ = false;
    const QString error = handle(answered);
    StartNext();
    if (!error.isEmpty()) {
        emit ErrorOccurred(error);
    }
}

void ReplyRouter::OnHttpRequestDone(const QByteArray& content)
{
    VLOG(1) << "Got HTTP reply " << content.size() << " bytes, waitReplyType: " << OutLogType();
    if (!requestOut_) {
        emit ErrorOccurred(DialogText("Internal error, unexpected waitReplyType: %1").arg(0));
        return;
    }
    HandOver([&content](const PageRequest& answered) { return answered.done(content); });
}

void ReplyRouter::OnHttpRequestFailed(const QString& message)
{
    VLOG(1) << "HTTP request failed, waitReplyType: " << OutLogType()
            << ", message: " << message.toStdString();
    if (!requestOut_) {
        emit ErrorOccurred(DialogText("Internal error, unexpected waitReplyType: %1, error message: %2")
                               .arg(0)
                               .arg(message));
        return;
    }
    HandOver([&message](const PageRequest& answered) { return answered.failed(message); });
}
