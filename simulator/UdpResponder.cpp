#include "UdpResponder.h"

#include "DeviceState.h"
#include "DeviceWireFormat.h"
#include "SimOptions.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <mutex>

namespace {

constexpr size_t kMaxDatagram = 65536;

const char* const kMalformedKinds[] = {
    "discover-short",      // a discovery reply cut to 130 bytes
    "discover-no-nul",     // the device name field without a NUL
    "discover-bad-type",   // connection type byte 7
    "settings-short",      // a settings reply of 7 bytes
    "settings-wrong-mac",  // a settings reply naming another device
    "settings-wrong-type", // a settings reply with the other request type
};

std::string AddressText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

} // namespace

UdpResponder::~UdpResponder()
{
    Stop();
}

void UdpResponder::RegisterOptions(SimOptions& options)
{
    options.AddSection("UDP discovery and settings");
    options.AddValue("udp-port", "PORT", "port the requests arrive on (default 49076)",
                     simopt::UnsignedInto(port_, 1, 65535));
    options.AddValue(
        "udp-bind", "A.B.C.D", "address the UDP socket binds (default 0.0.0.0)",
        [this](const std::string& v, std::string& e) { return simopt::ParseIpv4(v, bindAddress_, e); });
    options.AddValue("reply-port", "PORT", "port of the sender the replies go to (default 49077)",
                     simopt::UnsignedInto(replyPort_, 1, 65535));
    options.AddValue("discovery-delay-ms", "MS", "answer discovery requests this much later",
                     simopt::UnsignedInto(faults_.discoveryDelayMs, 0, 600000));
    options.AddValue("confirm-delay-ms", "MS",
                     "after a network settings request changed a device, leave searches unanswered by it "
                     "this long (its new address comes up late)",
                     simopt::UnsignedInto(faults_.confirmDelayMs, 0, 600000));
    options.AddValue(
        "reply-from", "A.B.C.D",
        "send every reply from this address instead of the device's own (a host that answers "
        "in the devices' name)",
        [this](const std::string& v, std::string& e) { return simopt::ParseIpv4(v, faults_.replyFrom, e); });
    options.AddFlag("discovery-duplicate", "send every discovery reply twice",
                    [this] { faults_.discoveryDuplicate = true; });
    options.AddFlag("discovery-no-reply", "never answer discovery requests",
                    [this] { faults_.discoveryNoReply = true; });
    options.AddValue("discovery-reply-size", "BYTES",
                     "pad discovery replies with zero bytes to this size (131 to 65507)",
                     simopt::UnsignedInto(faults_.discoveryReplySize, 131, 65507));
    options.AddValue("settings-delay-ms", "MS", "answer settings requests this much later",
                     simopt::UnsignedInto(faults_.settingsDelayMs, 0, 600000));
    options.AddFlag("settings-duplicate", "send every settings reply twice",
                    [this] { faults_.settingsDuplicate = true; });
    options.AddFlag("settings-no-reply", "never answer settings requests (changes still apply)",
                    [this] { faults_.settingsNoReply = true; });
    options.AddValue("settings-result", "CODE",
                     "answer settings requests with this result code (0-255) and change "
                     "nothing unless it is 0",
                     simopt::UnsignedInto(faults_.settingsResult, 0, 255));
    std::string kinds;
    for (const char* kind : kMalformedKinds) {
        kinds += kinds.empty() ? "" : ", ";
        kinds += kind;
    }
    options.AddValue("malformed", "KIND",
                     "before each real reply, send a malformed one; repeatable; KIND is one of " + kinds,
                     [this](const std::string& v, std::string& e) {
                         const bool known =
                             std::any_of(std::begin(kMalformedKinds), std::end(kMalformedKinds),
                                         [&v](const char* kind) { return v == kind; });
                         if (!known) {
                             e = "unknown kind";
                             return false;
                         }
                         faults_.malformed.push_back(v);
                         return true;
                     });
    options.AddFlag("verbose", "log every request and reply on standard error", [this] { verbose_ = true; });
}

bool UdpResponder::Start(DeviceSet& devices, std::string& error)
{
    devices_ = &devices;
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        error = std::string("cannot create UDP socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Lets a reply leave from a device's address that the namespace does not
    // hold (many devices in one process); needs CAP_NET_ADMIN.
    if (setsockopt(socket_, SOL_IP, IP_TRANSPARENT, &on, sizeof on) != 0) {
        ownSource_ = false;
    }
    // A thousand devices answer from this one socket in a burst: a send buffer
    // that holds the whole burst keeps sendto from blocking between replies.
    const int sendBuffer = 4 * 1024 * 1024;
    setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = bindAddress_;
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot bind UDP " + AddressText(address) + ": " + std::strerror(errno);
        close(socket_);
        socket_ = -1;
        return false;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        error = std::string("cannot create eventfd: ") + std::strerror(errno);
        close(socket_);
        socket_ = -1;
        return false;
    }
    thread_ = std::thread(&UdpResponder::Run, this);
    return true;
}

void UdpResponder::Stop()
{
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (write(wakeFd_, &one, sizeof one) < 0) {
            std::cerr << "qel-device-sim: cannot wake the UDP thread\n";
        }
        thread_.join();
    }
    if (socket_ >= 0) {
        close(socket_);
        socket_ = -1;
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
}

std::string UdpResponder::Describe() const
{
    return "udp " + simopt::Ipv4Text(bindAddress_) + ":" + std::to_string(port_);
}

void UdpResponder::Run()
{
    std::vector<uint8_t> buffer(kMaxDatagram);
    for (;;) {
        int timeoutMs = -1;
        if (!pending_.empty()) {
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(pending_.top().due - Clock::now());
            timeoutMs = static_cast<int>(std::max<int64_t>(0, wait.count() + 1));
        }
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            std::cerr << "qel-device-sim: poll failed: " << std::strerror(errno) << '\n';
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            // Drain everything queued so that a burst of requests is answered in one pass.
            for (;;) {
                sockaddr_in from{};
                socklen_t fromLength = sizeof from;
                const ssize_t size = recvfrom(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                              reinterpret_cast<sockaddr*>(&from), &fromLength);
                if (size < 0) {
                    break;
                }
                Handle(buffer.data(), static_cast<size_t>(size), from);
            }
        }
        SendDue();
    }
}

void UdpResponder::Handle(const uint8_t* data, size_t size, const sockaddr_in& from)
{
    sockaddr_in to = from;
    to.sin_port = htons(replyPort_);
    if (verbose_) {
        std::cerr << "qel-device-sim: " << size << " bytes from " << AddressText(from) << '\n';
    }
    if (wire::IsDiscoverRequest(data, size)) {
        HandleDiscover(to);
    } else if (size > 0 && data[0] == wire::kNetworkSetting) {
        HandleNetwork(data, size, to);
    } else if (size > 0 && data[0] == wire::kAuthSetting) {
        HandleAuth(data, size, to);
    }
}

bool UdpResponder::HasMalformed(const char* kind) const
{
    return std::find(faults_.malformed.begin(), faults_.malformed.end(), kind) != faults_.malformed.end();
}

void UdpResponder::HandleDiscover(const sockaddr_in& to)
{
    if (faults_.discoveryNoReply) {
        return;
    }
    std::vector<std::vector<uint8_t>> replies;
    std::vector<uint32_t> sources;
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(devices_->mutex);
        replies.reserve(devices_->devices.size());
        for (const DeviceState& device : devices_->devices) {
            std::array<uint8_t, 6> mac{};
            std::copy(std::begin(device.mac), std::end(device.mac), mac.begin());
            const auto silent = silentUntil_.find(mac);
            if (silent != silentUntil_.end() && silent->second > now) {
                continue;
            }
            replies.push_back(wire::ComposeDiscoverReply(device));
            sources.push_back(SourceOf(device.ip));
        }
    }
    const int copies = faults_.discoveryDuplicate ? 2 : 1;
    for (size_t i = 0; i < replies.size(); ++i) {
        std::vector<uint8_t>& reply = replies[i];
        const uint32_t source = sources[i];
        if (HasMalformed("discover-short")) {
            Queue(std::vector<uint8_t>(reply.begin(), reply.begin() + 130), to, faults_.discoveryDelayMs, 1,
                  source);
        }
        if (HasMalformed("discover-no-nul")) {
            std::vector<uint8_t> bad = reply;
            std::fill(bad.begin() + 32, bad.begin() + 64, 'X');
            Queue(std::move(bad), to, faults_.discoveryDelayMs, 1, source);
        }
        if (HasMalformed("discover-bad-type")) {
            std::vector<uint8_t> bad = reply;
            bad[82] = 7;
            Queue(std::move(bad), to, faults_.discoveryDelayMs, 1, source);
        }
        reply.resize(faults_.discoveryReplySize, 0);
        Queue(std::move(reply), to, faults_.discoveryDelayMs, copies, source);
    }
    SendDue();
}

void UdpResponder::SendSettingsReply(uint8_t type, const uint8_t* mac, uint8_t code, const sockaddr_in& to,
                                     uint32_t deviceIp)
{
    if (faults_.settingsNoReply) {
        return;
    }
    const uint32_t source = SourceOf(deviceIp);
    const int delay = faults_.settingsDelayMs;
    if (HasMalformed("settings-short")) {
        std::vector<uint8_t> bad = wire::ComposeSettingsReply(type, mac, code);
        bad.resize(7);
        Queue(std::move(bad), to, delay, 1, source);
    }
    if (HasMalformed("settings-wrong-mac")) {
        uint8_t other[6];
        std::copy(mac, mac + 6, other);
        other[5] ^= 0xFF;
        Queue(wire::ComposeSettingsReply(type, other, code), to, delay, 1, source);
    }
    if (HasMalformed("settings-wrong-type")) {
        const uint8_t otherType = type == wire::kNetworkSetting ? wire::kAuthSetting : wire::kNetworkSetting;
        Queue(wire::ComposeSettingsReply(otherType, mac, code), to, delay, 1, source);
    }
    Queue(wire::ComposeSettingsReply(type, mac, code), to, delay, faults_.settingsDuplicate ? 2 : 1, source);
    SendDue();
}

uint8_t UdpResponder::SettingsResult(const DeviceState& device, const uint8_t* requestDigest) const
{
    uint8_t digest[16];
    wire::PasswordDigest(device.password, digest);
    if (!std::equal(digest, digest + 16, requestDigest)) {
        return wire::kInvalidPassword;
    }
    return faults_.settingsResult >= 0 ? static_cast<uint8_t>(faults_.settingsResult) : wire::kSuccess;
}

void UdpResponder::HandleNetwork(const uint8_t* data, size_t size, const sockaddr_in& to)
{
    wire::NetworkRequest request;
    if (!wire::ParseNetworkRequest(data, size, request)) {
        return;
    }
    uint8_t code = wire::kSuccess;
    uint32_t answeredFrom = 0;
    {
        std::lock_guard<std::mutex> lock(devices_->mutex);
        const int index = devices_->FindByMac(request.mac);
        if (index < 0) {
            return; // addressed to another device
        }
        DeviceState& device = devices_->devices[static_cast<size_t>(index)];
        // The reply leaves before the new address is taken.
        answeredFrom = device.ip;
        code = SettingsResult(device, request.digest);
        if (code == wire::kSuccess && faults_.confirmDelayMs > 0) {
            std::array<uint8_t, 6> mac{};
            std::copy(std::begin(request.mac), std::end(request.mac), mac.begin());
            silentUntil_[mac] = Clock::now() + std::chrono::milliseconds(faults_.confirmDelayMs);
        }
        if (code == wire::kSuccess) {
            device.deviceName = request.deviceName;
            device.connectionType = request.connectionType;
            device.ip = request.ip;
            device.mask = request.mask;
            device.gateway = request.gateway;
            device.dns = request.dns;
        }
    }
    if (verbose_) {
        std::cerr << "qel-device-sim: network settings request, result " << int(code) << '\n';
    }
    SendSettingsReply(wire::kNetworkSetting, request.mac, code, to, answeredFrom);
}

void UdpResponder::HandleAuth(const uint8_t* data, size_t size, const sockaddr_in& to)
{
    wire::AuthRequest request;
    if (!wire::ParseAuthRequest(data, size, request)) {
        return;
    }
    uint32_t answeredFrom = 0;
    uint8_t code = wire::kSuccess;
    {
        std::lock_guard<std::mutex> lock(devices_->mutex);
        const int index = devices_->FindByMac(request.mac);
        if (index < 0) {
            return;
        }
        DeviceState& device = devices_->devices[static_cast<size_t>(index)];
        answeredFrom = device.ip;
        code = SettingsResult(device, request.digest);
        if (code == wire::kSuccess) {
            device.password = request.newPassword;
        }
    }
    if (verbose_) {
        std::cerr << "qel-device-sim: password change request, result " << int(code) << '\n';
    }
    SendSettingsReply(wire::kAuthSetting, request.mac, code, to, answeredFrom);
}

void UdpResponder::Queue(std::vector<uint8_t> bytes, const sockaddr_in& to, int delayMs, int copies,
                         uint32_t source)
{
    const Clock::time_point due = Clock::now() + std::chrono::milliseconds(delayMs);
    for (int i = 0; i < copies; ++i) {
        pending_.push({due, bytes, to, source, nextSequence_++});
    }
}

uint32_t UdpResponder::SourceOf(uint32_t deviceIp) const
{
    return faults_.replyFrom != 0 ? faults_.replyFrom : deviceIp;
}

bool UdpResponder::SendOne(const Pending& reply)
{
    iovec vector{const_cast<uint8_t*>(reply.bytes.data()), reply.bytes.size()};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&reply.to);
    message.msg_namelen = sizeof reply.to;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (reply.source != 0 && (ownSource_ || faults_.replyFrom != 0)) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = reply.source;
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    if (sendmsg(socket_, &message, 0) >= 0) {
        return true;
    }
    if (errno == EINVAL && message.msg_control != nullptr && faults_.replyFrom == 0) {
        // The kernel will not send from an address the namespace does not
        // hold: from here on, the namespace's own address.
        std::cerr << "qel-device-sim: replies leave from this host's address: " << std::strerror(errno)
                  << '\n';
        ownSource_ = false;
        message.msg_control = nullptr;
        message.msg_controllen = 0;
        return sendmsg(socket_, &message, 0) >= 0;
    }
    return false;
}

void UdpResponder::SendDue()
{
    const Clock::time_point now = Clock::now();
    while (!pending_.empty() && pending_.top().due <= now) {
        const Pending& next = pending_.top();
        for (;;) {
            const bool sent = SendOne(next);
            // A full device queue gives ENOBUFS for a moment; the datagram is
            // retried rather than lost, since a real device would not drop it.
            if (sent || (errno != ENOBUFS && errno != EAGAIN && errno != EINTR)) {
                if (!sent) {
                    std::cerr << "qel-device-sim: send to " << AddressText(next.to)
                              << " failed: " << std::strerror(errno) << '\n';
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        pending_.pop();
    }
}
