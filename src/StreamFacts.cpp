#include "StreamFacts.h"

#include <QChar>
#include <QtGlobal>
#include <algorithm>

void StreamFacts::Reset()
{
    started_ = false;
    firstMs_ = 0;
    pictures_.clear();
    bytes_.clear();
}

void StreamFacts::AddBytes(int64_t atMs, int64_t count)
{
    if (!started_) {
        started_ = true;
        firstMs_ = atMs;
    }
    bytes_.emplace_back(atMs, count);
    Forget(atMs);
}

void StreamFacts::AddPicture(int64_t atMs)
{
    if (!started_) {
        started_ = true;
        firstMs_ = atMs;
    }
    pictures_.push_back(atMs);
    Forget(atMs);
}

int64_t StreamFacts::SpanMs(int64_t nowMs) const
{
    if (!started_) {
        return 0;
    }
    return std::min(kWindowMs, nowMs - firstMs_);
}

void StreamFacts::Forget(int64_t nowMs)
{
    const int64_t from = nowMs - kWindowMs;
    while (!pictures_.empty() && pictures_.front() <= from) {
        pictures_.pop_front();
    }
    while (!bytes_.empty() && bytes_.front().first <= from) {
        bytes_.pop_front();
    }
}

double StreamFacts::PicturesPerSecond(int64_t nowMs) const
{
    const int64_t span = SpanMs(nowMs);
    if (span <= 0) {
        return 0.0;
    }
    const int64_t from = nowMs - span;
    const auto count = std::count_if(pictures_.begin(), pictures_.end(),
                                     [from, nowMs](int64_t at) { return at > from && at <= nowMs; });
    return static_cast<double>(count) * 1000.0 / static_cast<double>(span);
}

double StreamFacts::KilobitsPerSecond(int64_t nowMs) const
{
    const int64_t span = SpanMs(nowMs);
    if (span <= 0) {
        return 0.0;
    }
    const int64_t from = nowMs - span;
    int64_t total = 0;
    for (const auto& [at, count] : bytes_) {
        if (at > from && at <= nowMs) {
            total += count;
        }
    }
    // bits per millisecond are kilobits per second
    return static_cast<double>(total) * 8.0 / static_cast<double>(span);
}

QString StreamFacts::CaptionText(int width, int height, double picturesPerSecond, double kilobitsPerSecond,
                                 const QString& transport)
{
    const QString separator = QStringLiteral(" ") + QChar(0x00B7) + QStringLiteral(" ");
    return QString::number(width) + QLatin1Char('x') + QString::number(height) + separator +
           QString::number(picturesPerSecond, 'f', 1) + QStringLiteral(" fps") + separator +
           QString::number(qRound64(kilobitsPerSecond)) + QStringLiteral(" kbit/s") + separator + transport;
}
