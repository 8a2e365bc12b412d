#include "RtcpInstance.h"

#include "RtpSource.h"

#include <random>
#include <sys/socket.h>

namespace {

constexpr uint8_t kSenderReport = 200;
constexpr uint8_t kReceiverReport = 201;
constexpr uint8_t kSourceDescription = 202;
constexpr uint8_t kBye = 203;
constexpr int64_t kReportIntervalUs = 5000000;

uint32_t Read32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void Append32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

uint32_t RandomSsrc()
{
    static thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<uint32_t>(generator());
}

} // namespace

bool ParseRtcpCompound(const uint8_t* data, size_t size, RtcpPacketInfo& info)
{
    info = RtcpPacketInfo();
    size_t offset = 0;
    bool first = true;
    while (offset + 4 <= size) {
        const uint8_t* p = data + offset;
        const unsigned version = p[0] >> 6;
        const unsigned count = p[0] & 0x1F;
        const uint8_t type = p[1];
        const size_t length = (static_cast<size_t>((p[2] << 8) | p[3]) + 1) * 4;
        if (version != 2 || type < 192 || type > 223 || length > size - offset) {
            return !first;
        }
        first = false;
        if (type == kSenderReport && length >= 28) {
            info.hasSenderReport = true;
            info.senderSsrc = Read32(p + 4);
            info.ntpSeconds = Read32(p + 8);
            info.ntpFraction = Read32(p + 12);
            info.rtpTimestamp = Read32(p + 16);
        } else if (type == kBye) {
            for (unsigned i = 0; i < count && 4 + 4 * (i + 1) <= length; ++i) {
                info.byeSsrcs.push_back(Read32(p + 4 + 4 * i));
            }
        }
        offset += length;
    }
    return !first;
}

RTCPInstance* RTCPInstance::createNew(UsageEnvironment& env, int rtcpSocket, RtpSource* source,
                                      const std::string& cname)
{
    return new RTCPInstance(env, rtcpSocket, source, cname);
}

RTCPInstance::RTCPInstance(UsageEnvironment& env, int rtcpSocket, RtpSource* source, const std::string& cname)
    : Medium(env), socket_(rtcpSocket), source_(source), cname_(cname.substr(0, 255)), ownSsrc_(RandomSsrc())
{
    if (socket_ >= 0) {
        envir().taskScheduler().turnOnBackgroundReadHandling(socket_, IncomingHandler, this);
    }
    ScheduleReport();
}

RTCPInstance::~RTCPInstance()
{
    auto& scheduler = envir().taskScheduler();
    scheduler.unscheduleDelayedTask(reportTask_);
    if (socket_ >= 0) {
        scheduler.disableBackgroundHandling(socket_);
    }
    if (haveDestination_) {
        std::vector<uint8_t> packet = ComposeReceiverReport();
        packet.push_back(0x81);
        packet.push_back(kBye);
        packet.push_back(0);
        packet.push_back(1);
        Append32(packet, ownSsrc_);
        SendPacket(packet);
    }
}

void RTCPInstance::SetDestination(const sockaddr_in& address)
{
    destination_ = address;
    haveDestination_ = address.sin_port != 0;
}

void RTCPInstance::SetPacketSender(PacketSender send)
{
    packetSender_ = std::move(send);
    haveDestination_ = static_cast<bool>(packetSender_);
}

void RTCPInstance::setByeHandler(TaskFunc* handler, void* clientData, bool handleActiveParticipantsOnly)
{
    byeHandler_ = handler;
    byeClientData_ = clientData;
    byeActiveOnly_ = handleActiveParticipantsOnly;
}

void RTCPInstance::ScheduleReport()
{
    // Randomised between 0.5 and 1.5 intervals so receivers do not synchronise.
    static thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int64_t> spread(kReportIntervalUs / 2, kReportIntervalUs * 3 / 2);
    reportTask_ = envir().taskScheduler().scheduleDelayedTask(spread(generator), ReportTask, this);
}

void RTCPInstance::ReportTask(void* clientData)
{
    auto* self = static_cast<RTCPInstance*>(clientData);
    self->reportTask_ = nullptr;
    if (self->haveDestination_) {
        self->SendPacket(self->ComposeReceiverReport());
    }
    self->ScheduleReport();
}

void RTCPInstance::AppendSdes(std::vector<uint8_t>& packet) const
{
    const size_t start = packet.size();
    packet.push_back(0x81);
    packet.push_back(kSourceDescription);
    packet.push_back(0);
    packet.push_back(0);
    Append32(packet, ownSsrc_);
    packet.push_back(1); // CNAME
    packet.push_back(static_cast<uint8_t>(cname_.size()));
    packet.insert(packet.end(), cname_.begin(), cname_.end());
    packet.push_back(0); // end of items
    while ((packet.size() - start) % 4 != 0) {
        packet.push_back(0);
    }
    const size_t words = (packet.size() - start) / 4 - 1;
    packet[start + 2] = static_cast<uint8_t>(words >> 8);
    packet[start + 3] = static_cast<uint8_t>(words);
}

std::vector<uint8_t> RTCPInstance::ComposeReceiverReport() const
{
    std::vector<uint8_t> packet;
    const bool haveBlock = source_ != nullptr && source_->Depacketizer().HasSsrc();
    packet.push_back(haveBlock ? 0x81 : 0x80);
    packet.push_back(kReceiverReport);
    packet.push_back(0);
    packet.push_back(haveBlock ? 7 : 1);
    Append32(packet, ownSsrc_);
    if (haveBlock) {
        const RtpDepacketizer& stats = source_->Depacketizer();
        const uint32_t extendedHighest = stats.ExtendedHighestSequence();
        const uint32_t expected = extendedHighest - stats.BaseSequence() + 1;
        const uint64_t received = stats.PacketsReceived();
        const int64_t lost =
            std::max<int64_t>(0, static_cast<int64_t>(expected) - static_cast<int64_t>(received));
        const int64_t expectedInterval = static_cast<int64_t>(expected) - priorExpected_;
        const int64_t receivedInterval =
            static_cast<int64_t>(received) - static_cast<int64_t>(priorReceived_);
        const int64_t lostInterval = expectedInterval - receivedInterval;
        const uint8_t fraction = (expectedInterval <= 0 || lostInterval <= 0)
                                     ? 0
                                     : static_cast<uint8_t>((lostInterval << 8) / expectedInterval);
        Append32(packet, stats.Ssrc());
        const uint32_t cumulative = static_cast<uint32_t>(std::min<int64_t>(lost, 0x7FFFFF));
        Append32(packet, (static_cast<uint32_t>(fraction) << 24) | cumulative);
        Append32(packet, extendedHighest);
        Append32(packet, source_->Jitter());
        Append32(packet, source_->LastSenderReportMiddle());
        uint32_t delay = 0;
        if (source_->LastSenderReportArrivalUs() != 0) {
            const int64_t elapsedUs = MonotonicMicroseconds() - source_->LastSenderReportArrivalUs();
            delay = static_cast<uint32_t>(elapsedUs * 65536 / 1000000);
        }
        Append32(packet, delay);
    }
    AppendSdes(packet);
    return packet;
}

void RTCPInstance::SendPacket(const std::vector<uint8_t>& packet)
{
    if (packetSender_) {
        packetSender_(packet.data(), packet.size());
    } else {
        sendto(socket_, packet.data(), packet.size(), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&destination_), sizeof(destination_));
    }
    if (source_ != nullptr && source_->Depacketizer().HasSsrc()) {
        // Only the report about received packets moves the interval counters.
        const RtpDepacketizer& stats = source_->Depacketizer();
        priorExpected_ = stats.ExtendedHighestSequence() - stats.BaseSequence() + 1;
        priorReceived_ = stats.PacketsReceived();
    }
}

void RTCPInstance::IncomingHandler(void* clientData, int /*mask*/)
{
    auto* self = static_cast<RTCPInstance*>(clientData);
    uint8_t buffer[2048];
    for (int i = 0; i < 64; ++i) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t got = recvfrom(self->socket_, buffer, sizeof(buffer), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            return;
        }
        if (self->senderFilter_.Accepts(from) && !self->ProcessPacket(buffer, static_cast<size_t>(got))) {
            return;
        }
    }
}

void RTCPInstance::HandlePacket(const uint8_t* data, size_t size)
{
    ProcessPacket(data, size);
}

bool RTCPInstance::ProcessPacket(const uint8_t* data, size_t size)
{
    RtcpPacketInfo info;
    if (!ParseRtcpCompound(data, size, info)) {
        return true;
    }
    if (info.hasSenderReport && source_ != nullptr) {
        source_->NoteSenderReport(info.ntpSeconds, info.ntpFraction, info.rtpTimestamp);
    }
    if (info.byeSsrcs.empty() || byeHandler_ == nullptr) {
        return true;
    }
    bool fromActive = !byeActiveOnly_;
    if (source_ != nullptr && source_->Depacketizer().HasSsrc()) {
        for (const uint32_t ssrc : info.byeSsrcs) {
            fromActive = fromActive || ssrc == source_->Depacketizer().Ssrc();
        }
    }
    if (!fromActive) {
        return true;
    }
    TaskFunc* handler = byeHandler_;
    byeHandler_ = nullptr;
    // The handler may close things that own this instance: nothing of it is
    // touched afterwards.
    handler(byeClientData_);
    return false;
}
