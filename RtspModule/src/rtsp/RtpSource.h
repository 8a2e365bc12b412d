#pragma once

#include "FramedSource.h"
#include "RtpDepacketizer.h"
#include "SenderFilter.h"
#include "TaskScheduler.h"

#include <cstdint>
#include <deque>
#include <memory>

// Reads the RTP datagrams of one subsession from its UDP socket, or takes the
// packets that arrive interleaved on the RTSP connection (socket -1), and hands
// out one unit per getNextFrame (an H.264 NAL unit, or a raw payload) with its
// presentation time. Times follow the RTP clock from the first packet's arrival
// until an RTCP sender report ties the clock to the sender's wall clock. The
// stream is taken only while a reader waits, so an unread stream costs nothing.
class RtpSource final : public FramedSource {
public:
    static RtpSource* createNew(UsageEnvironment& env, int rtpSocket, unsigned payloadFormat,
                                unsigned timestampFrequency, RtpDepacketizer::Mode mode);

    // From RTCP: the sender's NTP time (seconds since 1900, 32.32) at `rtpTimestamp`.
    void NoteSenderReport(uint32_t ntpSeconds, uint32_t ntpFraction, uint32_t rtpTimestamp);

    // Datagrams from any other peer are dropped unread by the depacketizer.
    void SetSenderFilter(const SenderFilter& filter) { senderFilter_ = filter; }

    // One RTP packet that arrived on the RTSP connection; dropped while no
    // reader is started.
    void HandlePacket(const uint8_t* data, size_t size);
    // RTP packets that arrived from the sender, whatever their payload.
    uint64_t PacketsArrived() const { return packetsArrived_; }

    const RtpDepacketizer& Depacketizer() const { return depacketizer_; }
    // Interarrival jitter in timestamp units (RFC 3550 6.4.1).
    uint32_t Jitter() const { return static_cast<uint32_t>(jitter_); }
    // Middle 32 bits of the last sender report's NTP time and when it arrived (monotonic µs).
    uint32_t LastSenderReportMiddle() const { return lastSrMiddle_; }
    int64_t LastSenderReportArrivalUs() const { return lastSrArrivalUs_; }

private:
    RtpSource(UsageEnvironment& env, int rtpSocket, unsigned payloadFormat, unsigned timestampFrequency,
              RtpDepacketizer::Mode mode);
    ~RtpSource() override;

    void doGetNextFrame() override;
    void doStopGettingFrames() override;

    static void IncomingHandler(void* clientData, int mask);
    static void FlushTask(void* clientData);
    void ReadDatagrams();
    void ProcessPacket(const uint8_t* data, size_t size);
    void ScheduleFlush();
    void Enqueue(); // moves scratch_ into ready_, bounded
    void DeliverReady();
    timeval PresentationTime(uint32_t rtpTimestamp);
    void UpdateJitter(uint32_t rtpTimestamp, int64_t arrivalUs);

    int socket_ = -1;
    SenderFilter senderFilter_;
    unsigned frequency_ = 90000;
    RtpDepacketizer depacketizer_;
    std::deque<RtpUnit> ready_;
    std::vector<RtpUnit> scratch_;
    std::vector<uint8_t> datagram_;
    bool reading_ = false;    // the socket handler is installed
    bool delivering_ = false; // inside DeliverReady: readers asking again are served by its loop
    TaskToken flushTask_ = nullptr;

    bool haveWallReference_ = false;
    uint32_t referenceRtp_ = 0;
    int64_t referenceUs_ = 0; // wall clock µs at referenceRtp_

    int64_t firstArrivalUs_ = -1;
    bool haveTransit_ = false;
    int64_t lastTransit_ = 0;
    double jitter_ = 0.0;
    uint64_t packetsArrived_ = 0;
    uint32_t lastSrMiddle_ = 0;
    int64_t lastSrArrivalUs_ = 0;
};
