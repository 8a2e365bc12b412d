#include "RtpSource.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

// Largest UDP payload; datagrams are read whole.
constexpr size_t kMaxDatagram = 65536;
// Units waiting for a reader; more means the reader has stopped keeping up.
constexpr size_t kMaxQueuedUnits = 4096;
// How long a gap may hold packets in the reorder window when no more arrive.
constexpr int64_t kReorderFlushUs = 100000;
// Seconds between the NTP (1900) and Unix (1970) epochs.
constexpr int64_t kNtpToUnixSeconds = 2208988800LL;

int64_t WallClockMicroseconds()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_usec;
}

} // namespace

RtpSource* RtpSource::createNew(UsageEnvironment& env, int rtpSocket, unsigned payloadFormat,
                                unsigned timestampFrequency, RtpDepacketizer::Mode mode)
{
    return new RtpSource(env, rtpSocket, payloadFormat, timestampFrequency, mode);
}

RtpSource::RtpSource(UsageEnvironment& env, int rtpSocket, unsigned payloadFormat,
                     unsigned timestampFrequency, RtpDepacketizer::Mode mode)
    : FramedSource(env), socket_(rtpSocket), frequency_(timestampFrequency == 0 ? 90000 : timestampFrequency),
      depacketizer_(mode, payloadFormat), datagram_(kMaxDatagram)
{
}

RtpSource::~RtpSource()
{
    envir().taskScheduler().unscheduleDelayedTask(flushTask_);
    if (reading_ && socket_ >= 0) {
        envir().taskScheduler().disableBackgroundHandling(socket_);
    }
}

void RtpSource::doGetNextFrame()
{
    if (!reading_) {
        reading_ = true;
        if (socket_ >= 0) {
            envir().taskScheduler().turnOnBackgroundReadHandling(socket_, IncomingHandler, this);
        }
    }
    if (!ready_.empty() && !delivering_) {
        DeliverReady();
    }
}

void RtpSource::doStopGettingFrames()
{
    if (reading_) {
        reading_ = false;
        if (socket_ >= 0) {
            envir().taskScheduler().disableBackgroundHandling(socket_);
        }
    }
    envir().taskScheduler().unscheduleDelayedTask(flushTask_);
}

void RtpSource::IncomingHandler(void* clientData, int /*mask*/)
{
    static_cast<RtpSource*>(clientData)->ReadDatagrams();
}

void RtpSource::FlushTask(void* clientData)
{
    auto* self = static_cast<RtpSource*>(clientData);
    self->flushTask_ = nullptr;
    self->scratch_.clear();
    self->depacketizer_.Flush(self->scratch_);
    self->Enqueue();
    self->DeliverReady();
}

void RtpSource::Enqueue()
{
    for (auto& unit : scratch_) {
        if (ready_.size() >= kMaxQueuedUnits) {
            ready_.pop_front(); // a reader this far behind has lost these anyway
        }
        ready_.push_back(std::move(unit));
    }
    scratch_.clear();
}

void RtpSource::ReadDatagrams()
{
    // Bounded per call so one busy stream cannot starve the rest of the loop.
    for (int i = 0; i < 256 && reading_; ++i) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t got = recvfrom(socket_, datagram_.data(), datagram_.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            break;
        }
        if (!senderFilter_.Accepts(from)) {
            continue;
        }
        ProcessPacket(datagram_.data(), static_cast<size_t>(got));
    }
    ScheduleFlush();
    DeliverReady();
}

void RtpSource::HandlePacket(const uint8_t* data, size_t size)
{
    if (!reading_) {
        return;
    }
    ProcessPacket(data, size);
    ScheduleFlush();
    DeliverReady();
}

void RtpSource::ProcessPacket(const uint8_t* data, size_t size)
{
    RtpHeader header;
    if (!ParseRtpHeader(data, size, header)) {
        return;
    }
    ++packetsArrived_;
    UpdateJitter(header.timestamp, WallClockMicroseconds());
    scratch_.clear();
    depacketizer_.Push(data, size, scratch_);
    Enqueue();
    // Handed on per packet: one aggregate packet can hold thousands of tiny
    // units, and the queue should never hold more than one packet's worth.
    DeliverReady();
}

void RtpSource::ScheduleFlush()
{
    auto& scheduler = envir().taskScheduler();
    scheduler.unscheduleDelayedTask(flushTask_);
    if (reading_ && depacketizer_.HasPending()) {
        flushTask_ = scheduler.scheduleDelayedTask(kReorderFlushUs, FlushTask, this);
    }
}

void RtpSource::DeliverReady()
{
    // The reader usually asks for the next unit from inside afterGetting; the loop
    // serves that request here instead of recursing.
    delivering_ = true;
    while (isCurrentlyAwaitingData() && !ready_.empty()) {
        RtpUnit unit = std::move(ready_.front());
        ready_.pop_front();
        const size_t size = unit.data.size();
        fFrameSize = static_cast<unsigned>(std::min<size_t>(size, fMaxSize));
        fNumTruncatedBytes = static_cast<unsigned>(size - fFrameSize);
        if (fFrameSize > 0) {
            std::memcpy(fTo, unit.data.data(), fFrameSize);
        }
        fPresentationTime = PresentationTime(unit.rtpTimestamp);
        afterGetting(this);
    }
    delivering_ = false;
}

timeval RtpSource::PresentationTime(uint32_t rtpTimestamp)
{
    if (!haveWallReference_) {
        haveWallReference_ = true;
        referenceRtp_ = rtpTimestamp;
        referenceUs_ = WallClockMicroseconds();
    }
    const auto ticks = static_cast<int32_t>(rtpTimestamp - referenceRtp_);
    const int64_t us =
        referenceUs_ + static_cast<int64_t>(ticks) * 1000000 / static_cast<int64_t>(frequency_);
    timeval result{};
    result.tv_sec = static_cast<time_t>(us / 1000000);
    result.tv_usec = static_cast<suseconds_t>(us % 1000000);
    if (result.tv_usec < 0) {
        result.tv_usec += 1000000;
        result.tv_sec -= 1;
    }
    return result;
}

void RtpSource::NoteSenderReport(uint32_t ntpSeconds, uint32_t ntpFraction, uint32_t rtpTimestamp)
{
    const int64_t seconds = static_cast<int64_t>(ntpSeconds) - kNtpToUnixSeconds;
    const int64_t micros = (static_cast<int64_t>(ntpFraction) * 1000000) >> 32;
    referenceUs_ = seconds * 1000000 + micros;
    referenceRtp_ = rtpTimestamp;
    haveWallReference_ = true;
    lastSrMiddle_ = (ntpSeconds << 16) | (ntpFraction >> 16);
    lastSrArrivalUs_ = MonotonicMicroseconds();
}

void RtpSource::UpdateJitter(uint32_t rtpTimestamp, int64_t arrivalUs)
{
    // Relative to the first arrival, so the product stays far from overflowing.
    if (firstArrivalUs_ < 0) {
        firstArrivalUs_ = arrivalUs;
    }
    const int64_t arrivalTicks = (arrivalUs - firstArrivalUs_) * static_cast<int64_t>(frequency_) / 1000000;
    const int64_t transit = arrivalTicks - static_cast<int64_t>(rtpTimestamp);
    if (haveTransit_) {
        int64_t d = transit - lastTransit_;
        if (d < 0) {
            d = -d;
        }
        if (d < (1LL << 31)) {
            jitter_ += (static_cast<double>(d) - jitter_) / 16.0;
        }
    }
    haveTransit_ = true;
    lastTransit_ = transit;
}
