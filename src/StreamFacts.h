#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <utility>

// What a live stream delivers, counted over a sliding window: pictures per
// second and kilobits per second of the encoded bytes. Times are
// milliseconds of one monotonic clock, given in non-decreasing order.
//
// The rates count the events in the window (now - span, now], where span is
// the window's length, or the time since the first event while the stream is
// younger than that: a stream that has run for one second at 25 pictures/s
// shows 25, not half of it. Events older than the window are forgotten as
// new ones come, so memory stays bounded by what arrives within one window.
// GUI thread only.
class StreamFacts final {
public:
    static constexpr int64_t kWindowMs = 2000;

    // Forgets everything: a new connection counts from its own first event.
    void Reset();
    // Encoded bytes as they arrive, whether or not they complete a picture.
    void AddBytes(int64_t atMs, int64_t count);
    // A picture was shown.
    void AddPicture(int64_t atMs);

    double PicturesPerSecond(int64_t nowMs) const;
    double KilobitsPerSecond(int64_t nowMs) const;

    // "1920x1080 · 25.0 fps · 4096 kbit/s · UDP": the frame rate with one
    // decimal, the bit rate in whole kilobits (1000 bits), whatever the locale.
    static QString CaptionText(int width, int height, double picturesPerSecond, double kilobitsPerSecond,
                               const QString& transport);

private:
    // Length of the window that ends at nowMs; 0 before any event.
    int64_t SpanMs(int64_t nowMs) const;
    void Forget(int64_t nowMs);

    bool started_ = false;
    int64_t firstMs_ = 0;
    std::deque<int64_t> pictures_;
    std::deque<std::pair<int64_t, int64_t>> bytes_; // time, count
};
