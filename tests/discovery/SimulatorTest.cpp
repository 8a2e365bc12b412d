// The simulator's own logic without sockets: its command line, the devices it
// makes from it, and that its side of the wire format agrees byte for byte
// with the tool's.
#include "DeviceSetup.h"
#include "DeviceWireFormat.h"
#include "DiscoveryProtocol.h"
#include "SimOptions.h"
#include "StringUtils.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include <string>
#include <vector>

namespace {

SimOptions::ParseResult Parse(SimOptions& options, std::vector<const char*> args, std::string& error)
{
    args.insert(args.begin(), "qel-device-sim");
    return options.Parse(static_cast<int>(args.size()), args.data(), error);
}

bool Build(std::vector<const char*> args, DeviceSet& set, std::string& error)
{
    SimOptions options;
    DeviceSetup setup;
    setup.RegisterOptions(options);
    if (Parse(options, std::move(args), error) != SimOptions::ParseResult::Run) {
        return false;
    }
    return setup.Build(set, error);
}

std::string Dotted(uint32_t ip)
{
    return IpTypeToString(ip);
}

} // namespace

TEST(SimOptions, ValuesFlagsAndErrors)
{
    SimOptions options;
    std::string value;
    int flags = 0;
    options.AddValue("text", "T", "a text", [&value](const std::string& v, std::string&) {
        value = v;
        return true;
    });
    options.AddValue("number", "N", "a number", [](const std::string& v, std::string& e) {
        uint64_t n = 0;
        return simopt::ParseUnsigned(v, 1, 9, n, e);
    });
    options.AddFlag("flag", "a flag", [&flags] { ++flags; });
    std::string error;

    EXPECT_EQ(Parse(options, {"--text", "a b", "--flag", "--text=x=y", "--flag"}, error),
              SimOptions::ParseResult::Run);
    EXPECT_EQ(value, "x=y");
    EXPECT_EQ(flags, 2);

    EXPECT_EQ(Parse(options, {"--bogus"}, error), SimOptions::ParseResult::Error);
    EXPECT_EQ(error, "unknown option --bogus (see --help)");
    EXPECT_EQ(Parse(options, {"--text"}, error), SimOptions::ParseResult::Error);
    EXPECT_EQ(error, "option --text needs a value T");
    EXPECT_EQ(Parse(options, {"--flag=1"}, error), SimOptions::ParseResult::Error);
    EXPECT_EQ(Parse(options, {"--number", "10"}, error), SimOptions::ParseResult::Error);
    EXPECT_EQ(error, "bad value '10' for --number: expected a number from 1 to 9");
    EXPECT_EQ(Parse(options, {"--number", "-1"}, error), SimOptions::ParseResult::Error);
    EXPECT_EQ(Parse(options, {"stray"}, error), SimOptions::ParseResult::Error);
    EXPECT_EQ(Parse(options, {"--text", "v", "--help", "--bogus"}, error), SimOptions::ParseResult::Help);
    const std::string help = options.HelpText("qel-device-sim");
    EXPECT_NE(help.find("--number N"), std::string::npos);
    EXPECT_NE(help.find("--flag"), std::string::npos);
}

TEST(SimOptions, AddressReaders)
{
    std::string error;
    uint32_t ip = 0;
    EXPECT_TRUE(simopt::ParseIpv4("10.77.0.11", ip, error));
    EXPECT_EQ(Dotted(ip), "10.77.0.11");
    EXPECT_FALSE(simopt::ParseIpv4("10.77.0.256", ip, error));
    EXPECT_FALSE(simopt::ParseIpv4("camera", ip, error));
    uint8_t mac[6] = {};
    EXPECT_TRUE(simopt::ParseMac("02-ab:CD:00:ff:10", mac, error));
    EXPECT_EQ(utils::GetPrintedBufferInHex(mac, 6, 6, "-"), "02-AB-CD-00-FF-10");
    EXPECT_FALSE(simopt::ParseMac("02:ab:cd:00:ff", mac, error));
    EXPECT_FALSE(simopt::ParseMac("02:ab:cd:00:ff:1g", mac, error));
    EXPECT_FALSE(simopt::ParseMac("02:ab:cd:00:ff:10:", mac, error));
}

// Every device of a process is distinct: MAC (with carry into the next
// byte), address, name and serial number count up from the first.
TEST(DeviceSetup, ManyDevicesAreDistinct)
{
    DeviceSet set;
    std::string error;
    ASSERT_TRUE(Build({"--count", "300", "--mac", "02:00:00:00:00:FF", "--ip", "10.77.0.250", "--name", "Cam",
                       "--mask", "255.255.0.0"},
                      set, error))
        << error;
    ASSERT_EQ(set.devices.size(), 300u);
    const DeviceState& first = set.devices[0];
    const DeviceState& second = set.devices[1];
    EXPECT_EQ(first.deviceName, "Cam");
    EXPECT_EQ(second.deviceName, "Cam 2");
    EXPECT_EQ(set.devices[299].deviceName, "Cam 300");
    EXPECT_EQ(utils::GetPrintedBufferInHex(second.mac, 6, 6, "-"), "02-00-00-00-01-00");
    EXPECT_EQ(Dotted(first.ip), "10.77.0.250");
    EXPECT_EQ(Dotted(set.devices[10].ip), "10.77.1.4");
    EXPECT_EQ(Dotted(first.gateway), "10.77.0.1");
    EXPECT_EQ(first.serialNo, "QS000001");
    EXPECT_EQ(set.devices[299].serialNo, "QS000300");
    EXPECT_EQ(set.FindByMac(set.devices[123].mac), 123);
    const uint8_t unknown[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(set.FindByMac(unknown), -1);
}

// Devices fresh from the factory: one address for all, the rest distinct;
// one of them may keep another password.
TEST(DeviceSetup, SameAddressGroupWithItsOwnPasswords)
{
    DeviceSet set;
    std::string error;
    ASSERT_TRUE(
        Build({"--count", "3", "--same-ip", "--password-of", "2=other", "--password", "pw"}, set, error))
        << error;
    const DeviceState& last = set.devices.at(2);
    EXPECT_EQ(Dotted(last.ip) + " " + Dotted(last.mask) + " " + Dotted(last.gateway),
              "192.168.1.100 255.255.255.0 192.168.1.1");
    EXPECT_EQ(set.devices[0].password + set.devices[1].password + last.password, "pwotherpw");

    // The address after the option, with "=", or from --ip.
    ASSERT_TRUE(Build({"--count", "2", "--same-ip", "10.88.0.100"}, set, error)) << error;
    EXPECT_EQ(Dotted(set.devices[1].ip), "10.88.0.100");
    ASSERT_TRUE(Build({"--count", "2", "--same-ip=10.88.0.7", "--mask", "255.255.0.0"}, set, error)) << error;
    EXPECT_EQ(Dotted(set.devices[1].ip), "10.88.0.7");
    EXPECT_EQ(Dotted(set.devices[1].gateway), "10.88.0.1");
    ASSERT_TRUE(Build({"--count", "2", "--same-ip", "--ip", "10.77.0.50"}, set, error)) << error;
    EXPECT_EQ(Dotted(set.devices[1].ip), "10.77.0.50");

    EXPECT_FALSE(Build({"--same-ip=10.88.0"}, set, error));
    EXPECT_FALSE(Build({"--count", "2", "--password-of", "3=x"}, set, error));
    EXPECT_EQ(error, "--password-of names device 3, but --count is 2");
    EXPECT_FALSE(Build({"--password-of", "0=x"}, set, error));
    EXPECT_FALSE(Build({"--password-of", "2"}, set, error));
}

TEST(DeviceSetup, NamesStayWithinTheFieldWithoutSplittingCharacters)
{
    // 15 two-byte letters: 30 bytes, and " 12" would need 33.
    const std::string name = "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ";
    DeviceSet set;
    std::string error;
    ASSERT_TRUE(Build({"--count", "12", "--name", name.c_str(), "--ip", "10.0.0.1"}, set, error));
    EXPECT_EQ(set.devices[0].deviceName, name);
    EXPECT_EQ(set.devices[11].deviceName, "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖ 12");
    EXPECT_LE(set.devices[11].deviceName.size(), 31u);
    EXPECT_EQ(CutUtf8("aЖb", 2), "a");
    EXPECT_EQ(CutUtf8("aЖb", 3), "aЖ");

    EXPECT_FALSE(Build({"--name", std::string(32, 'n').c_str()}, set, error));
    EXPECT_FALSE(Build({"--count", "0"}, set, error));
    EXPECT_FALSE(Build({"--addressing", "auto"}, set, error));
}

// The simulator's reply is what the tool's parser accepts, field by field.
TEST(DeviceWireFormat, DiscoverReplyParsesInTheTool)
{
    DeviceSet set;
    std::string error;
    ASSERT_TRUE(Build({"--name", "Въезд", "--product", std::string(31, 'P').c_str(), "--ip", "192.168.1.10",
                       "--gateway", "192.168.1.254", "--addressing", "dhcp", "--firmware",
                       std::string(15, 'f').c_str(), "--mac", "00:1A:2B:3C:4D:5E"},
                      set, error));
    const std::vector<uint8_t> reply = wire::ComposeDiscoverReply(set.devices[0]);
    ASSERT_EQ(reply.size(), kDiscoverResponseMinSize);
    DeviceNetworkParams params{};
    ASSERT_TRUE(ParseDiscoverResponse(reply.data(), reply.size(), params));
    EXPECT_EQ(params.deviceName, "Въезд");
    EXPECT_EQ(params.productName, std::string(31, 'P'));
    EXPECT_EQ(params.firmWare, std::string(15, 'f'));
    EXPECT_EQ(IpTypeToString(params.ip), "192.168.1.10");
    EXPECT_EQ(IpTypeToString(params.mask), "255.255.255.0");
    EXPECT_EQ(IpTypeToString(params.gateway), "192.168.1.254");
    EXPECT_EQ(params.connectionType, DHCP);
    EXPECT_EQ(params.serialNo, "QS000001");
    EXPECT_EQ(utils::GetPrintedBufferInHex(params.mac, 6, 6, "-"), "00-1A-2B-3C-4D-5E");

    const std::vector<char> request = ComposeDiscoverRequest();
    EXPECT_TRUE(wire::IsDiscoverRequest(reinterpret_cast<const uint8_t*>(request.data()), request.size()));
    EXPECT_FALSE(wire::IsDiscoverRequest(reply.data(), reply.size()));
}

// The tool's settings requests read back in the simulator, and the
// simulator's replies are matched by the tool.
TEST(DeviceWireFormat, SettingsRequestsAndRepliesAgree)
{
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest("secret", 6, digest, &length, EVP_md5(), nullptr);
    uint8_t simDigest[16];
    wire::PasswordDigest("secret", simDigest);
    EXPECT_EQ(0, std::memcmp(digest, simDigest, 16));

    DeviceNetworkParams params{};
    params.deviceName = std::string(40, 'n');
    StringToIpType("10.1.2.3", params.ip);
    StringToIpType("255.0.0.0", params.mask);
    StringToIpType("10.0.0.1", params.gateway);
    StringToIpType("8.8.8.8", params.dns);
    params.connectionType = STATIC;
    const char mac[6] = {1, 2, 3, 4, 5, 6};
    std::copy(mac, mac + 6, params.mac);
    const std::vector<char> request = ComposeNetworkSettingsRequest(params, digest);
    wire::NetworkRequest network;
    ASSERT_TRUE(
        wire::ParseNetworkRequest(reinterpret_cast<const uint8_t*>(request.data()), request.size(), network));
    EXPECT_EQ(network.deviceName, std::string(31, 'n'));
    EXPECT_EQ(0, std::memcmp(network.digest, digest, 16));
    EXPECT_EQ(0, std::memcmp(network.mac, mac, 6));
    EXPECT_EQ(network.connectionType, 1);
    EXPECT_EQ(network.ip, params.ip);
    EXPECT_EQ(network.mask, params.mask);
    EXPECT_EQ(network.gateway, params.gateway);
    EXPECT_EQ(network.dns, params.dns);
    EXPECT_FALSE(wire::ParseNetworkRequest(reinterpret_cast<const uint8_t*>(request.data()),
                                           request.size() - 1, network));

    const std::vector<char> auth = ComposeAuthSettingsRequest(mac, digest, "новый");
    wire::AuthRequest password;
    ASSERT_TRUE(wire::ParseAuthRequest(reinterpret_cast<const uint8_t*>(auth.data()), auth.size(), password));
    EXPECT_EQ(password.newPassword, "новый");
    EXPECT_FALSE(
        wire::ParseNetworkRequest(reinterpret_cast<const uint8_t*>(auth.data()), auth.size(), network));

    const std::vector<uint8_t> reply =
        wire::ComposeSettingsReply(wire::kAuthSetting, network.mac, wire::kInvalidPassword);
    ResponseCode code = Success;
    EXPECT_TRUE(ParseNetworkAuthSettingsResponse(reply.data(), reply.size(), AuthSetting, mac, code));
    EXPECT_EQ(code, InvalidPassword);
    EXPECT_FALSE(ParseNetworkAuthSettingsResponse(reply.data(), reply.size(), NetworkSetting, mac, code));
}
