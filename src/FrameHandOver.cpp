#include "FrameHandOver.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kNalTypeSlice = 1;
constexpr uint8_t kNalTypeIdr = 5;

// The header byte of the first NAL unit after a start code at or behind
// `from`, or -1. Key frames carry their parameter sets in front, so the slice
// is found by skipping the (short) units before it.
int NextNalHeader(const uint8_t* data, size_t size, size_t& from)
{
    for (size_t i = from; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            from = i + 3;
            return data[i + 3];
        }
    }
    return -1;
}

} // namespace

FrameHandOver::Kind FrameHandOver::Classify(const uint8_t* data, size_t size, bool isKeyFrame)
{
    size_t position = 0;
    int header = NextNalHeader(data, size, position);
    while (isKeyFrame && header >= 0 && (header & 0x1F) != kNalTypeIdr) {
        header = NextNalHeader(data, size, position);
    }
    if (header < 0) {
        return Kind::Other;
    }
    const int type = header & 0x1F;
    if (type != kNalTypeSlice && type != kNalTypeIdr) {
        return Kind::Other;
    }
    // first_mb_in_slice is the slice header's first field; it is 0 (the
    // exp-Golomb code "1") exactly in a picture's first slice.
    const size_t firstField = position + 1;
    return firstField < size && (data[firstField] & 0x80) != 0 ? Kind::PictureStart
                                                               : Kind::PictureContinuation;
}

bool FrameHandOver::Push(const kro::ImageDescr& descriptor, const void* data, size_t size, bool isKeyFrame)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    const Kind kind = Classify(bytes, size, isKeyFrame);

    const std::lock_guard<std::mutex> lock(mutex_);
    const bool overBytes = bytes_ + size > kMaxBytes || queue_.size() >= kMaxUnits;
    const bool full = pictures_ >= kMaxPictures || overBytes;
    if (kind == Kind::PictureStart) {
        if (isKeyFrame && (dropping_ || full)) {
            // Nothing after a key frame refers to what came before it, but
            // the parameter sets right in front of it belong to it.
            std::deque<Entry> kept;
            size_t keptBytes = 0;
            while (!queue_.empty() && queue_.back().kind == Kind::Other) {
                keptBytes += static_cast<size_t>(queue_.back().unit.bytes.size());
                kept.push_front(std::move(queue_.back()));
                queue_.pop_back();
            }
            droppedPictures_ += pictures_;
            queue_ = std::move(kept);
            bytes_ = keptBytes;
            pictures_ = 0;
            dropping_ = false;
        } else if (dropping_ || full) {
            dropping_ = true;
            ++droppedPictures_;
            return false;
        }
    } else if (dropping_ && kind == Kind::PictureContinuation) {
        return false;
    } else if (overBytes) {
        // Only the byte or unit bound can cut a picture: leave out the rest of it and
        // what refers to it.
        dropping_ = true;
        return false;
    }

    Entry entry;
    entry.kind = kind;
    entry.unit.descriptor = descriptor;
    entry.unit.isKeyFrame = isKeyFrame;
    entry.unit.bytes = QByteArray(static_cast<int>(size), Qt::Uninitialized);
    if (size > 0) {
        std::memcpy(entry.unit.bytes.data(), data, size);
    }
    queue_.push_back(std::move(entry));
    bytes_ += size;
    pictures_ += kind == Kind::PictureStart ? 1 : 0;
    peakBytes_ = std::max(peakBytes_, bytes_);
    if (wakePending_) {
        return false;
    }
    wakePending_ = true;
    return true;
}

std::vector<FrameHandOver::Unit> FrameHandOver::TakePicture(bool& more)
{
    std::vector<Unit> taken;
    const std::lock_guard<std::mutex> lock(mutex_);
    bool haveSlice = false;
    while (!queue_.empty()) {
        Entry& front = queue_.front();
        // Units behind a picture's slices (parameter sets, the next picture's
        // first slice) begin the next picture.
        if (haveSlice && front.kind != Kind::PictureContinuation) {
            break;
        }
        haveSlice = haveSlice || front.kind != Kind::Other;
        bytes_ -= static_cast<size_t>(front.unit.bytes.size());
        pictures_ -= front.kind == Kind::PictureStart ? 1 : 0;
        taken.push_back(std::move(front.unit));
        queue_.pop_front();
    }
    more = !queue_.empty();
    wakePending_ = more;
    return taken;
}

void FrameHandOver::Clear()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    bytes_ = 0;
    pictures_ = 0;
    dropping_ = false;
    wakePending_ = false;
}

size_t FrameHandOver::PeakBytes() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return peakBytes_;
}

size_t FrameHandOver::DroppedPictures() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return droppedPictures_;
}
