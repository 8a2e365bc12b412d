#include "HttpFailureText.h"

#include "UrlLogText.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

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
    for (const QUrl::FormattingOptions form :
         {QUrl::FormattingOptions(QUrl::PrettyDecoded), QUrl::FormattingOptions(QUrl::FullyEncoded),
          QUrl::FormattingOptions(QUrl::FullyDecoded)}) {
        const QString quoted = url.toString(form);
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
