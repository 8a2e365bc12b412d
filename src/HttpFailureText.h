#pragma once

#include <QString>

class QNetworkReply;
class QNetworkRequest;
class QUrl;

// A request that transfers nothing for this long is given up: a device that
// accepts the connection and never answers must not hold a page or an apply
// for good.
constexpr int kHttpTransferTimeoutMs = 15000;

// Arms the transfer time-out on a request about to be sent.
void SetHttpTransferTimeout(QNetworkRequest& request);

// "HTTP request failed: %1" for a reply that ended with an error. A reply cut
// by the transfer time-out says that it timed out. The network layer's text
// quotes the request URL: its passwords are masked.
QString HttpFailureText(const QNetworkReply& reply);

// "Failed. Redirection is not supported. New URL: %1", passwords masked.
QString RedirectionFailureText(const QUrl& newUrl);

// A text that may quote a request URL or a device's configuration, with
// every password masked.
QString SecretFreeText(const QString& text);
