#pragma once

#include "Medium.h"
#include "SenderFilter.h"
#include "TaskScheduler.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class RtpSource;

// What a compound RTCP packet says that the receiver uses.
struct RtcpPacketInfo {
    bool hasSenderReport = false;
    uint32_t senderSsrc = 0;
    uint32_t ntpSeconds = 0;
    uint32_t ntpFraction = 0;
    uint32_t rtpTimestamp = 0;
    std::vector<uint32_t> byeSsrcs;
};

// Walks a compound RTCP packet (RFC 3550 6.1). False when its first packet is not
// RTCP; packets after a malformed one are ignored.
bool ParseRtcpCompound(const uint8_t* data, size_t size, RtcpPacketInfo& info);

// Receiver-side RTCP of one subsession: reads sender reports and BYE from its
// socket, and sends receiver reports to the server's RTCP port about every five
// seconds. Sends a BYE of its own when closed. Over the RTSP connection it has
// no socket (-1): packets come through HandlePacket and go out through the
// packet sender.
class RTCPInstance final : public Medium {
public:
    static RTCPInstance* createNew(UsageEnvironment& env, int rtcpSocket, RtpSource* source,
                                   const std::string& cname);

    using PacketSender = std::function<void(const uint8_t* data, size_t size)>;

    // Where receiver reports go; until set, none are sent.
    void SetDestination(const sockaddr_in& address);
    // Sends receiver reports through `send` instead of the socket.
    void SetPacketSender(PacketSender send);

    // One compound packet that arrived on the RTSP connection.
    void HandlePacket(const uint8_t* data, size_t size);

    // Packets from any other peer (reports and BYE alike) are ignored.
    void SetSenderFilter(const SenderFilter& filter) { senderFilter_ = filter; }

    // `handler(clientData)` is called once when a BYE arrives; with
    // `handleActiveParticipantsOnly`, only a BYE from the SSRC whose RTP was received.
    void setByeHandler(TaskFunc* handler, void* clientData, bool handleActiveParticipantsOnly = true);

    // The receiver report plus SDES CNAME that would be sent now (for tests).
    std::vector<uint8_t> ComposeReceiverReport() const;

private:
    RTCPInstance(UsageEnvironment& env, int rtcpSocket, RtpSource* source, const std::string& cname);
    ~RTCPInstance() override;

    static void IncomingHandler(void* clientData, int mask);
    // False once a BYE handler has run: it may have closed this instance.
    bool ProcessPacket(const uint8_t* data, size_t size);
    static void ReportTask(void* clientData);
    void ScheduleReport();
    void SendPacket(const std::vector<uint8_t>& packet);
    void AppendSdes(std::vector<uint8_t>& packet) const;

    int socket_ = -1;
    SenderFilter senderFilter_;
    RtpSource* source_ = nullptr; // not owned; may be null
    std::string cname_;
    uint32_t ownSsrc_ = 0;
    bool haveDestination_ = false;
    sockaddr_in destination_{};
    PacketSender packetSender_;
    TaskFunc* byeHandler_ = nullptr;
    void* byeClientData_ = nullptr;
    bool byeActiveOnly_ = true;
    TaskToken reportTask_ = nullptr;
    // Packet counts at the previous report, for the fraction lost.
    uint32_t priorExpected_ = 0;
    uint64_t priorReceived_ = 0;
};
