#include "FrameHandOver.h"

#include <algorithm>
#include <cstring>

FrameHandOver::Kind FrameHandOver::PictureRole(kro::UnitKind kind)
{
    switch (kind) {
    case kro::UnitKind::KeyFrame:
    case kro::UnitKind::Picture:
        return Kind::PictureStart;
    case kro::UnitKind::KeyFrameSlice:
    case kro::UnitKind::PictureSlice:
        return Kind::PictureContinuation;
    case kro::UnitKind::Other:
    case kro::UnitKind::ParameterSet:
        break;
    }
    return Kind::Other;
}

bool FrameHandOver::Push(const void* data, size_t size, kro::UnitKind unitKind)
{
    const Kind kind = PictureRole(unitKind);

    const std::lock_guard<std::mutex> lock(mutex_);
    const bool overBytes = bytes_ + size > kMaxBytes || queue_.size() >= kMaxUnits;
    const bool full = pictures_ >= kMaxPictures || overBytes;
    if (kind == Kind::PictureStart) {
        if (unitKind == kro::UnitKind::KeyFrame && (dropping_ || full)) {
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
    entry.unit.kind = unitKind;
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
