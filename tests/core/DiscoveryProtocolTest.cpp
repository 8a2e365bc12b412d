#include "DiscoveryProtocol.h"

#include "LogCapture.h"
#include "StringUtils.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <array>
#include <string>
#include <vector>

namespace {

const char kMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

std::vector<char> Bytes(std::initializer_list<int> values)
{
    std::vector<char> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<char>(v));
    }
    return bytes;
}

std::array<unsigned char, 16> Md5(const std::string& text)
{
    std::array<unsigned char, 16> digest{};
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_md5(), nullptr);
    return digest;
}

void PutField(std::vector<char>& buffer, size_t offset, size_t width, const std::string& text)
{
    for (size_t i = 0; i < width; ++i) {
        buffer[offset + i] = i < text.size() ? text[i] : '\0';
    }
}

// A well-formed discovery reply of `size` bytes.
std::vector<char> DiscoverReply(size_t size = 131)
{
    std::vector<char> reply(size, '\0');
    PutField(reply, 0, 32, "QEL-100");
    PutField(reply, 32, 32, "Lobby");
    const auto ip = Bytes({192, 168, 1, 10});
    std::copy(ip.begin(), ip.end(), reply.begin() + 64);
    std::copy(kMac, kMac + 6, reply.begin() + 68);
    const auto mask = Bytes({255, 255, 255, 0});
    std::copy(mask.begin(), mask.end(), reply.begin() + 74);
    const auto gateway = Bytes({192, 168, 1, 1});
    std::copy(gateway.begin(), gateway.end(), reply.begin() + 78);
    reply[82] = 1;
    PutField(reply, 83, 16, "2.4.1");
    PutField(reply, 99, 32, "SN-0001");
    return reply;
}

class ProtocolTest : public ::testing::Test {
protected:
    LogCapture log_;
};

TEST_F(ProtocolTest, DiscoverRequestIsTheEightLetters)
{
    EXPECT_EQ(ComposeDiscoverRequest(), Bytes({0x64, 0x69, 0x73, 0x63, 0x6F, 0x76, 0x65, 0x72}));
}

TEST_F(ProtocolTest, NetworkSettingsRequestIsByteExact)
{
    DeviceNetworkParams params{};
    std::copy(kMac, kMac + 6, params.mac);
    params.deviceName = std::string(40, 'n');
    params.productName = "not sent";
    params.connectionType = STATIC;
    ASSERT_TRUE(StringToIpType("10.77.0.20", params.ip));
    ASSERT_TRUE(StringToIpType("255.255.0.0", params.mask));
    ASSERT_TRUE(StringToIpType("10.77.0.1", params.gateway));
    ASSERT_TRUE(StringToIpType("8.8.4.4", params.dns));
    const auto digest = Md5("secret");

    std::vector<char> expected;
    expected.push_back(0x01);
    expected.insert(expected.end(), kMac, kMac + 6);
    expected.insert(expected.end(), 31, 'n'); // 40 letters cut to 31 and a NUL
    expected.push_back('\0');
    expected.insert(expected.end(), digest.begin(), digest.end());
    expected.push_back(0x01);
    for (int b : {10, 77, 0, 20, 255, 255, 0, 0, 10, 77, 0, 1, 8, 8, 4, 4}) {
        expected.push_back(static_cast<char>(b));
    }
    ASSERT_EQ(expected.size(), 72u);
    EXPECT_EQ(ComposeNetworkSettingsRequest(params, digest.data()), expected);
}

TEST_F(ProtocolTest, NetworkSettingsRequestWithDhcpAndEmptyNameKeepsEveryField)
{
    DeviceNetworkParams params{};
    params.connectionType = DHCP;
    ASSERT_TRUE(StringToIpType("1.2.3.4", params.ip));
    const auto digest = Md5("");
    const auto request = ComposeNetworkSettingsRequest(params, digest.data());
    ASSERT_EQ(request.size(), 72u);
    EXPECT_EQ(std::vector<char>(request.begin() + 7, request.begin() + 39), std::vector<char>(32, '\0'));
    EXPECT_EQ(request[55], 0);
    EXPECT_EQ(std::vector<char>(request.begin() + 56, request.begin() + 60), Bytes({1, 2, 3, 4}));
    // The digest of empty input, never 16 zero bytes.
    EXPECT_EQ(utils::GetPrintedBufferInHex(request.data() + 39, 16, 16, ""),
              "D41D8CD98F00B204E9800998ECF8427E");
}

TEST_F(ProtocolTest, AuthSettingsRequestIsByteExact)
{
    const auto digest = Md5("old");
    std::vector<char> expected;
    expected.push_back(0x02);
    expected.insert(expected.end(), kMac, kMac + 6);
    expected.insert(expected.end(), digest.begin(), digest.end());
    const std::string fresh = "n3w&pass";
    expected.insert(expected.end(), fresh.begin(), fresh.end());
    expected.insert(expected.end(), 32 - fresh.size(), '\0');
    ASSERT_EQ(expected.size(), 55u);
    EXPECT_EQ(ComposeAuthSettingsRequest(kMac, digest.data(), fresh), expected);
}

TEST_F(ProtocolTest, PasswordTextIsCutAtByte31EvenInsideACharacter)
{
    const auto digest = Md5("old");
    const std::string exact(31, 'p');
    auto request = ComposeAuthSettingsRequest(kMac, digest.data(), exact);
    EXPECT_EQ(std::string(request.data() + 23), exact);
    EXPECT_EQ(request[54], '\0');

    // 15 two-byte characters fill 30 bytes; the 16th is cut after its first byte.
    std::string cyrillic;
    for (int i = 0; i < 16; ++i) {
        cyrillic += "\xD0\x96";
    }
    request = ComposeAuthSettingsRequest(kMac, digest.data(), cyrillic);
    EXPECT_EQ(std::string(request.data() + 23), cyrillic.substr(0, 31));
    EXPECT_EQ(request[54], '\0');
}

TEST_F(ProtocolTest, DiscoverReplyAtAndAboveTheMinimumSizeIsAccepted)
{
    for (size_t size : {131u, 200u}) {
        auto reply = DiscoverReply(size);
        if (size > 131) {
            std::fill(reply.begin() + 131, reply.end(), '\x7F'); // ignored
        }
        DeviceNetworkParams params{};
        ASSERT_TRUE(ParseDiscoverResponse(reply.data(), reply.size(), params)) << size;
        EXPECT_EQ(params.productName, "QEL-100");
        EXPECT_EQ(params.deviceName, "Lobby");
        EXPECT_EQ(IpTypeToString(params.ip), "192.168.1.10");
        EXPECT_EQ(IpTypeToString(params.mask), "255.255.255.0");
        EXPECT_EQ(IpTypeToString(params.gateway), "192.168.1.1");
        EXPECT_EQ(params.dns, 0u);
        EXPECT_EQ(utils::GetPrintedBufferInHex(params.mac, 6, 6, "-"), "00-1A-2B-3C-4D-5E");
        EXPECT_EQ(params.connectionType, STATIC);
        EXPECT_EQ(params.firmWare, "2.4.1");
        EXPECT_EQ(params.serialNo, "SN-0001");
    }
}

TEST_F(ProtocolTest, ShortDatagramsAreRejectedForTheirSize)
{
    const auto reply = DiscoverReply();
    DeviceNetworkParams params{};
    EXPECT_FALSE(ParseDiscoverResponse(reply.data(), 130, params));
    EXPECT_TRUE(log_.Contains("Insufficient buffer size: 130, must be at least 131 bytes"));

    // The tool's own requests, if heard, are never taken for replies.
    const auto digest = Md5("");
    for (const auto& own : {ComposeDiscoverRequest(), ComposeNetworkSettingsRequest(params, digest.data()),
                            ComposeAuthSettingsRequest(kMac, digest.data(), "x")}) {
        DeviceNetworkParams fresh{};
        EXPECT_FALSE(ParseDiscoverResponse(own.data(), own.size(), fresh));
    }
    EXPECT_TRUE(log_.Contains("Insufficient buffer size: 72, must be at least 131 bytes"));
    EXPECT_FALSE(ParseDiscoverResponse(nullptr, 0, params));
}

TEST_F(ProtocolTest, TextFieldsNeedANulWithinTheirWidth)
{
    struct Case {
        size_t offset;
        size_t width;
        const char* label;
    };
    for (const Case& c : {Case{0, 32, "productName"}, Case{32, 32, "deviceName"}, Case{83, 16, "firmWare"},
                          Case{99, 32, "serialNo"}}) {
        auto reply = DiscoverReply();
        std::fill(reply.begin() + static_cast<long>(c.offset),
                  reply.begin() + static_cast<long>(c.offset + c.width), 'A');
        DeviceNetworkParams params{};
        log_.Clear();
        EXPECT_FALSE(ParseDiscoverResponse(reply.data(), reply.size(), params)) << c.label;
        EXPECT_TRUE(log_.Contains(std::string("Failed to extract field ") + c.label +
                                  ": no terminating null character"))
            << c.label;
    }

    auto reply = DiscoverReply();
    PutField(reply, 32, 32, std::string(31, 'z'));
    DeviceNetworkParams params{};
    ASSERT_TRUE(ParseDiscoverResponse(reply.data(), reply.size(), params));
    EXPECT_EQ(params.deviceName, std::string(31, 'z'));
}

TEST_F(ProtocolTest, UnknownConnectionTypeRejectsAfterTheOtherFieldsWereRead)
{
    auto reply = DiscoverReply();
    reply[82] = 2;
    DeviceNetworkParams params{};
    params.mac[0] = 0x55;
    params.connectionType = DHCP;
    EXPECT_FALSE(ParseDiscoverResponse(reply.data(), reply.size(), params));
    EXPECT_TRUE(log_.Contains("Unknown ConnectionType: 2, must be 0 (DHCP) or 1 (STATIC)"));
    EXPECT_EQ(params.mac[0], 0x55);
    EXPECT_EQ(params.connectionType, DHCP);
    EXPECT_EQ(params.deviceName, "Lobby");
    EXPECT_EQ(params.serialNo, "SN-0001");
}

TEST_F(ProtocolTest, NonAsciiDeviceNameComesThroughAsUtf8)
{
    auto reply = DiscoverReply();
    const std::string name = "\xD0\x9A\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x80\xD0\xB0 \xE2\x84\x96"
                             "1";
    PutField(reply, 32, 32, name);
    DeviceNetworkParams params{};
    ASSERT_TRUE(ParseDiscoverResponse(reply.data(), reply.size(), params));
    EXPECT_EQ(params.deviceName, name);
}

TEST_F(ProtocolTest, SettingsReplyMatching)
{
    ResponseCode code = Success;
    auto reply = Bytes({1, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 2});

    EXPECT_FALSE(ParseNetworkAuthSettingsResponse(reply.data(), 7, NetworkSetting, kMac, code));
    EXPECT_TRUE(log_.Contains("Insufficient buffer size: 7, must be at least 8 bytes"));

    log_.Clear();
    EXPECT_FALSE(ParseNetworkAuthSettingsResponse(reply.data(), 8, AuthSetting, kMac, code));
    EXPECT_TRUE(log_.Messages().empty()) << "a reply to another request type is dropped silently";

    const char otherMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
    EXPECT_FALSE(ParseNetworkAuthSettingsResponse(reply.data(), 8, NetworkSetting, otherMac, code));
    EXPECT_TRUE(
        log_.Contains("Received MAC address 00-1A-2B-3C-4D-5E is not equal to expected 00-1A-2B-3C-4D-5F"));
    EXPECT_EQ(code, Success) << "the code is set only on a match";

    for (int value : {0, 1, 2, 7}) {
        reply[7] = static_cast<char>(value);
        reply.push_back('\x33'); // bytes from offset 8 on are ignored
        ASSERT_TRUE(ParseNetworkAuthSettingsResponse(reply.data(), reply.size(), NetworkSetting, kMac, code));
        EXPECT_EQ(code, value);
    }
}

TEST(ConnectionTypeTest, Texts)
{
    EXPECT_EQ(ConnectionTypeToString(DHCP), "DHCP");
    EXPECT_EQ(ConnectionTypeToString(STATIC), "static");
    EXPECT_EQ(ConnectionTypeToString(static_cast<ConnectionType>(2)), "");
}

} // namespace
