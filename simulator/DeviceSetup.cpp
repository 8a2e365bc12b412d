#include "DeviceSetup.h"

#include "SimOptions.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>

namespace {

// Text fields of a discovery reply keep one byte for their terminating NUL.
constexpr size_t kNameMaxBytes = 31;
constexpr size_t kFirmwareMaxBytes = 15;
// Where devices fresh from the factory answer, when --same-ip names none.
constexpr uint32_t kFactoryAddress = 0xC0A80164u; // 192.168.1.100, host order

bool FindInterfaceAddress(uint32_t& ip, uint32_t& mask)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return false;
    }
    bool found = false;
    for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_LOOPBACK) != 0 || entry->ifa_netmask == nullptr) {
            continue;
        }
        ip = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
        found = true;
    }
    freeifaddrs(list);
    return found;
}

uint32_t AddToAddress(uint32_t ip, size_t n)
{
    return htonl(static_cast<uint32_t>(ntohl(ip) + n));
}

} // namespace

std::string CutUtf8(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return text;
    }
    size_t end = maxBytes;
    // Step back over continuation bytes to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

DeviceState DeviceSetup::DefaultDevice()
{
    DeviceState device;
    device.productName = "QEL VCA-100";
    device.deviceName = "QEL Sim";
    device.mask = htonl(0xFFFFFF00u);
    const uint8_t mac[6] = {0x02, 0x51, 0x45, 0x4C, 0x00, 0x01};
    std::copy(mac, mac + 6, device.mac);
    device.connectionType = 1;
    device.firmware = "2.4.1-sim";
    device.serialNo = "QS000001";
    device.password = "admin";
    return device;
}

void DeviceSetup::RegisterOptions(SimOptions& options)
{
    options.AddSection("Devices");
    options.AddValue("count", "N", "number of devices this process plays (default 1)",
                     simopt::UnsignedInto(count_, 1, kMaxCount));
    options.AddValue("name", "TEXT",
                     "device name, UTF-8, at most 31 bytes (default \"QEL Sim\"; "
                     "further devices add \" 2\", \" 3\"...)",
                     [this](const std::string& v, std::string& e) {
                         if (v.size() > kNameMaxBytes) {
                             e = "longer than 31 bytes";
                             return false;
                         }
                         first_.deviceName = v;
                         return true;
                     });
    options.AddValue("product", "TEXT", "product name, at most 31 bytes (default \"QEL VCA-100\")",
                     [this](const std::string& v, std::string& e) {
                         if (v.size() > kNameMaxBytes) {
                             e = "longer than 31 bytes";
                             return false;
                         }
                         first_.productName = v;
                         return true;
                     });
    options.AddValue("firmware", "TEXT", "firmware version, at most 15 bytes (default 2.4.1-sim)",
                     [this](const std::string& v, std::string& e) {
                         if (v.size() > kFirmwareMaxBytes) {
                             e = "longer than 15 bytes";
                             return false;
                         }
                         first_.firmware = v;
                         return true;
                     });
    options.AddValue("serial", "TEXT",
                     "serial number, at most 25 bytes (default QS000001, counted up per device)",
                     [this](const std::string& v, std::string& e) {
                         if (v.size() > kNameMaxBytes - 6) {
                             e = "longer than 25 bytes (room is kept for a device number)";
                             return false;
                         }
                         first_.serialNo = v;
                         serialGiven_ = true;
                         return true;
                     });
    options.AddValue(
        "mac", "XX:XX:XX:XX:XX:XX", "MAC address of the first device (default 02:51:45:4C:00:01, counted up)",
        [this](const std::string& v, std::string& e) { return simopt::ParseMac(v, first_.mac, e); });
    options.AddValue("ip", "A.B.C.D",
                     "IPv4 address of the first device, counted up per device "
                     "(default: the address of the first non-loopback interface)",
                     [this](const std::string& v, std::string& e) {
                         ipGiven_ = simopt::ParseIpv4(v, first_.ip, e);
                         return ipGiven_;
                     });
    options.AddValue("mask", "A.B.C.D", "network mask (default: the interface's, or 255.255.255.0)",
                     [this](const std::string& v, std::string& e) {
                         maskGiven_ = simopt::ParseIpv4(v, first_.mask, e);
                         return maskGiven_;
                     });
    options.AddValue("gateway", "A.B.C.D", "gateway (default: the first address of the subnet)",
                     [this](const std::string& v, std::string& e) {
                         gatewayGiven_ = simopt::ParseIpv4(v, first_.gateway, e);
                         return gatewayGiven_;
                     });
    options.AddValue(
        "dns", "A.B.C.D", "DNS server (default 0.0.0.0)",
        [this](const std::string& v, std::string& e) { return simopt::ParseIpv4(v, first_.dns, e); });
    options.AddValue("addressing", "dhcp|static", "addressing mode (default static)",
                     [this](const std::string& v, std::string& e) {
                         if (v == "dhcp" || v == "DHCP") {
                             first_.connectionType = 0;
                         } else if (v == "static") {
                             first_.connectionType = 1;
                         } else {
                             e = "expected dhcp or static";
                             return false;
                         }
                         return true;
                     });
    options.AddValue("password", "TEXT",
                     "administrator password of the UDP settings exchange (default admin)",
                     [this](const std::string& v, std::string& e) {
                         if (v.size() > kNameMaxBytes) {
                             e = "longer than 31 bytes";
                             return false;
                         }
                         first_.password = v;
                         return true;
                     });
    options.AddOptionalValue("same-ip", "A.B.C.D",
                             "every device answers from this one address, as devices fresh from the "
                             "factory do (default: the --ip address, else 192.168.1.100; mask "
                             "255.255.255.0 unless --mask); MAC, name and serial stay distinct, and a "
                             "network settings request changes only the device of its MAC. With HTTP "
                             "or RTSP, give --http-bind and --rtsp-bind, or --only udp",
                             [this](const std::string& v, std::string& e) {
                                 sameIp_ = true;
                                 if (v.empty()) {
                                     return true;
                                 }
                                 ipGiven_ = simopt::ParseIpv4(v, first_.ip, e);
                                 return ipGiven_;
                             });
    options.AddValue("password-of", "N=TEXT",
                     "device N of --count (1 is the first) has its own administrator password "
                     "TEXT instead of --password; repeatable",
                     [this](const std::string& v, std::string& e) { return AddPasswordOf(v, e); });
}

bool DeviceSetup::AddPasswordOf(const std::string& value, std::string& error)
{
    const size_t equals = value.find('=');
    if (equals == std::string::npos) {
        error = "expected N=TEXT, such as 2=other";
        return false;
    }
    uint64_t number = 0;
    if (!simopt::ParseUnsigned(value.substr(0, equals), 1, kMaxCount, number, error)) {
        return false;
    }
    const std::string password = value.substr(equals + 1);
    if (password.size() > kNameMaxBytes) {
        error = "password longer than 31 bytes";
        return false;
    }
    passwords_[static_cast<size_t>(number)] = password;
    return true;
}

bool DeviceSetup::Build(DeviceSet& set, std::string& error) const
{
    DeviceState first = first_;
    if (!passwords_.empty() && passwords_.rbegin()->first > count_) {
        error = "--password-of names device " + std::to_string(passwords_.rbegin()->first) +
                ", but --count is " + std::to_string(count_);
        return false;
    }
    if (sameIp_ && !ipGiven_) {
        first.ip = htonl(kFactoryAddress);
    } else if (!ipGiven_) {
        uint32_t ip = 0;
        uint32_t mask = 0;
        if (!FindInterfaceAddress(ip, mask)) {
            error = "no --ip given and no non-loopback IPv4 interface found";
            return false;
        }
        first.ip = ip;
        if (!maskGiven_) {
            first.mask = mask;
        }
    }
    if (!gatewayGiven_) {
        first.gateway = AddToAddress(first.ip & first.mask, 1);
    }
    set.devices.clear();
    set.devices.reserve(count_);
    for (size_t i = 0; i < count_; ++i) {
        DeviceState device = first;
        if (i > 0) {
            device.ip = sameIp_ ? first.ip : AddToAddress(first.ip, i);
            uint32_t low = (static_cast<uint32_t>(first.mac[3]) << 16) |
                           (static_cast<uint32_t>(first.mac[4]) << 8) | first.mac[5];
            low += static_cast<uint32_t>(i);
            device.mac[3] = static_cast<uint8_t>(low >> 16);
            device.mac[4] = static_cast<uint8_t>(low >> 8);
            device.mac[5] = static_cast<uint8_t>(low);
            const std::string number = std::to_string(i + 1);
            device.deviceName = CutUtf8(first.deviceName, kNameMaxBytes - number.size() - 1) + " " + number;
        }
        if (!serialGiven_) {
            char serial[32];
            std::snprintf(serial, sizeof serial, "QS%06zu", i + 1);
            device.serialNo = serial;
        } else if (i > 0) {
            device.serialNo = first.serialNo + "-" + std::to_string(i + 1);
        }
        const auto own = passwords_.find(i + 1);
        if (own != passwords_.end()) {
            device.password = own->second;
        }
        set.devices.push_back(std::move(device));
    }
    return true;
}
