#include "HttpFailureText.h"

#include "UrlLogText.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QVariant>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("HttpClientModule", text);
}

} // namespace

void SetHttpTransferTimeout(QNetworkRequest& request)
{
    request.setTransferTimeout(kHttpTransferTimeoutMs);
}

void LimitHttpReplyBuffer(QNetworkReply& reply)
{
    // The clients take the data out at every readyRead; this only keeps the
    // network layer from reading far ahead of them.
    constexpr qint64 kReadAheadBytes = 256 * 1024;
    reply.setReadBufferSize(kReadAheadBytes);
}

bool AnnouncesTooLargeAnswer(const QNetworkReply& reply)
{
    bool ok = false;
    const qint64 length = reply.header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    return ok && length > kHttpAnswerMaxBytes;
}

QString AnswerTooLargeText()
{
    return Tr("HTTP request failed: %1")
        .arg(Tr("the answer is larger than %1 MiB").arg(kHttpAnswerMaxBytes / (1024 * 1024)));
}

QString AnswerTooSlowText()
{
    return Tr("HTTP request failed: %1")
        .arg(Tr("the device took more than %1 s to answer").arg(kHttpAnswerTimeLimitMs / 1000));
}

QString SecretFreeText(const QString& text)
{
    return QString::fromStdString(SecretFreeText(text.toStdString()));
}

QString HttpFailureText(const QNetworkReply& reply)
{
    // Only the transfer time-out cancels a reply that nobody aborted.
    if (reply.error() == QNetworkReply::OperationCanceledError) {
        return Tr("HTTP request failed: %1")
            .arg(Tr("the device sent nothing for %1 s, the request timed out")
                     .arg(kHttpTransferTimeoutMs / 1000));
    }
    QString text = reply.errorString();
    // The network layer may quote the URL decoded, where a password can hold
    // a blank or an "&": replace every form of it by its masked form first.
    const QUrl& url = reply.url();
    const QString masked = QString::fromStdString(UrlLogText(url.toString(QUrl::FullyEncoded).toStdString()));
    // QUrl refuses to give the whole URL fully decoded (it warns and gives
    // nothing), so that form is put together from its parts.
    QString decoded = url.scheme() + QStringLiteral("://") + url.host(QUrl::FullyDecoded);
    if (url.port() != -1) {
        decoded += QLatin1Char(':') + QString::number(url.port());
    }
    decoded += url.path(QUrl::FullyDecoded);
    if (url.hasQuery()) {
        decoded += QLatin1Char('?') + url.query(QUrl::FullyDecoded);
    }
    for (const QString& quoted :
         {url.toString(QUrl::PrettyDecoded), url.toString(QUrl::FullyEncoded), decoded}) {
        if (!quoted.isEmpty()) {
            text.replace(quoted, masked);
        }
    }
    return Tr("HTTP request failed: %1").arg(SecretFreeText(text));
}

QString RedirectionFailureText(const QUrl& newUrl)
{
    return Tr("Failed. Redirection is not supported. New URL: %1").arg(SecretFreeText(newUrl.toString()));
}
