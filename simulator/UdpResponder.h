#pragma once

#include "SimPart.h"

#include <netinet/in.h>

#include <array>
#include <chrono>
#include <map>
#include <cstdint>
#include <queue>
#include <string>
#include <thread>
#include <vector>

// The UDP part of the simulator: answers discovery and settings requests for
// every device of the process from one socket on port 49076 (shared with other
// simulators in the same namespace, so that each receives every broadcast).
// Replies go to port 49077 of the sender, as fast as they can be sent unless a
// delay is asked for. Runs on its own thread; Stop wakes and joins it.
struct DeviceState;

class UdpResponder final : public SimPart {
public:
    UdpResponder() = default;
    ~UdpResponder() override;
    UdpResponder(const UdpResponder&) = delete;
    UdpResponder& operator=(const UdpResponder&) = delete;

    void RegisterOptions(SimOptions& options) override;
    bool Start(DeviceSet& devices, std::string& error) override;
    void Stop() override;
    std::string Describe() const override;

private:
    using Clock = std::chrono::steady_clock;

    // Ways to break the protocol on purpose, for the tool's reliability tests.
    struct Faults {
        int discoveryDelayMs = 0;
        bool discoveryDuplicate = false;
        bool discoveryNoReply = false;
        size_t discoveryReplySize = 131;
        int settingsDelayMs = 0;
        bool settingsDuplicate = false;
        bool settingsNoReply = false;
        int settingsResult = -1; // -1: the real result
        int confirmDelayMs = 0;  // a changed device is silent to searches this long
        uint32_t replyFrom = 0;  // network byte order; 0: each device answers from its own address
        std::vector<std::string> malformed;
    };

    struct Pending {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
        sockaddr_in to{};
        uint32_t source = 0;   // network byte order; 0: the address the kernel picks
        uint64_t sequence = 0; // keeps replies due at the same time in send order
        bool operator>(const Pending& other) const
        {
            return due != other.due ? due > other.due : sequence > other.sequence;
        }
    };

    void Run();
    void Handle(const uint8_t* data, size_t size, const sockaddr_in& from);
    void HandleDiscover(const sockaddr_in& to);
    // The result code of a settings request to `device`: the digest check,
    // then the --settings-result fault. Called with the device set locked.
    uint8_t SettingsResult(const DeviceState& device, const uint8_t* requestDigest) const;
    void HandleNetwork(const uint8_t* data, size_t size, const sockaddr_in& to);
    void HandleAuth(const uint8_t* data, size_t size, const sockaddr_in& to);
    void SendSettingsReply(uint8_t type, const uint8_t* mac, uint8_t code, const sockaddr_in& to,
                           uint32_t deviceIp);
    // `source` is the device's address the reply is sent from (0: any).
    void Queue(std::vector<uint8_t> bytes, const sockaddr_in& to, int delayMs, int copies, uint32_t source);
    bool SendOne(const Pending& reply);
    uint32_t SourceOf(uint32_t deviceIp) const;
    void SendDue();
    bool HasMalformed(const char* kind) const;

    DeviceSet* devices_ = nullptr;
    Faults faults_;
    uint32_t bindAddress_ = 0; // network byte order; 0 is any address
    uint16_t port_ = 49076;
    uint16_t replyPort_ = 49077;
    bool verbose_ = false;
    // Replies leave from each device's own address, as from a real device;
    // off once the kernel refuses it (no privilege), then the namespace's.
    bool ownSource_ = true;
    // Devices changed by a network settings request, silent to searches
    // until then (--confirm-delay-ms); by MAC.
    std::map<std::array<uint8_t, 6>, Clock::time_point> silentUntil_;
    int socket_ = -1;
    int wakeFd_ = -1; // eventfd that Stop writes to end the loop at once
    std::thread thread_;
    // Replies waiting for their send time; only the responder thread touches it.
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> pending_;
    uint64_t nextSequence_ = 0;
};
