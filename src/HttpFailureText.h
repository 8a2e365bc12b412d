#pragma once

#include <QString>
#include <QtGlobal>

class QNetworkReply;
class QNetworkRequest;
class QUrl;

// A request that transfers nothing for this long is given up: a device that
// accepts the connection and never answers must not hold a page or an apply
// for good.
constexpr int kHttpTransferTimeoutMs = 15000;

// Arms the transfer time-out on a request about to be sent.
void SetHttpTransferTimeout(QNetworkRequest& request);

// Every answer the tool reads (a configuration text, key=value lines) is a
// few kilobytes; a body past this size is given up as it arrives, so that a
// device that never ends its answer cannot fill the workstation's memory.
constexpr qint64 kHttpAnswerMaxBytes = 4 * 1024 * 1024;
// A request not finished this long after it was sent is given up, however
// the device trickles its answer: the silence time-out alone would let one
// byte every few seconds hold a page, and every load queued behind it, for
// good.
constexpr int kHttpAnswerTimeLimitMs = 60000;

// Keeps the network layer from buffering much of `reply` ahead of a reader
// that takes its data out as it arrives.
void LimitHttpReplyBuffer(QNetworkReply& reply);
// The reply's headers announce a body larger than the limit.
bool AnnouncesTooLargeAnswer(const QNetworkReply& reply);
// "HTTP request failed: the answer is larger than 4 MiB"
QString AnswerTooLargeText();
// "HTTP request failed: the device took more than 60 s to answer"
QString AnswerTooSlowText();

// "HTTP request failed: %1" for a reply that ended with an error. A reply cut
// by the transfer time-out says that it timed out. The network layer's text
// quotes the request URL: its passwords are masked.
QString HttpFailureText(const QNetworkReply& reply);

// "Failed. Redirection is not supported. New URL: %1", passwords masked.
QString RedirectionFailureText(const QUrl& newUrl);

// A text that may quote a request URL or a device's configuration, with
// every password masked.
QString SecretFreeText(const QString& text);
