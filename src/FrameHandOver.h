#pragma once

#include "FrameTypes.h"

#include <QByteArray>

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

// The bounded queue between the video thread, which receives the stream's
// units, and the GUI thread, which decodes and shows them. At most a few
// pictures' worth of units waits. When the GUI thread falls behind, whole
// pictures are dropped until the next key frame, so that what is decoded
// never references a picture that was left out; a key frame that arrives
// while the queue is full replaces everything that waits but the parameter
// sets just before it. Units that belong to no picture (parameter sets, SEI)
// are dropped only by the byte and unit bounds.
//
// Units are Annex B pieces as the sink delivers them (one NAL unit, key
// frames with the parameter sets in front), each with the kind the sink gave
// it. Push on the video thread, Take and Clear on the GUI thread.
class FrameHandOver final {
public:
    struct Unit {
        QByteArray bytes;
        kro::UnitKind kind = kro::UnitKind::Other;
    };

    // Pictures and bytes that may wait at most.
    static constexpr size_t kMaxPictures = 3;
    static constexpr size_t kMaxBytes = 24 * 1024 * 1024;
    // Units that may wait at most (a flood of tiny ones costs more than its bytes).
    static constexpr size_t kMaxUnits = 4096;

    // Queues a copy of the unit or drops it. True when the consumer must be
    // woken: the queue was empty and no wake-up is outstanding.
    bool Push(const void* data, size_t size, kro::UnitKind kind);

    // Takes the oldest waiting picture: its units up to the start of the next
    // picture. `more` tells whether units are left; when it is false the next
    // Push wakes the consumer again.
    std::vector<Unit> TakePicture(bool& more);

    // Drops everything waiting and starts over (a new connection).
    void Clear();

    // For the figures and the tests: the most bytes that ever waited, and the
    // pictures dropped so far.
    size_t PeakBytes() const;
    size_t DroppedPictures() const;

private:
    enum class Kind { PictureStart, PictureContinuation, Other };
    struct Entry {
        Unit unit;
        Kind kind = Kind::Other;
    };
    static Kind PictureRole(kro::UnitKind kind);

    mutable std::mutex mutex_;
    std::deque<Entry> queue_;
    size_t bytes_ = 0;
    size_t pictures_ = 0;   // picture starts in queue_
    bool dropping_ = false; // until the next key frame
    bool wakePending_ = false;
    size_t peakBytes_ = 0;
    size_t droppedPictures_ = 0;
};
