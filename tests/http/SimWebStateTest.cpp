// The simulator's web state and authentication, without a server; the held
// write of its web server, served in process on loopback.
#include "DeviceWebServer.h"
#include "HttpAuthenticator.h"
#include "VCA.pb.h"
#include "VcaConfigState.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

VCA Parse(const std::string& text)
{
    VCA vca;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &vca));
    return vca;
}

int StatusOf(VcaConfigState& state, const std::string& command, const VcaConfigState::Params& params)
{
    return state.Execute(command, params).status;
}

// vca.cgi's add of a zone to the channel `group`.
VcaConfigState::Params ZoneAdd(const std::string& group, const std::string& id, const std::string& points,
                               const std::string& name = "n")
{
    return {{"action", "add"}, {"group", group}, {"object", "zone"},
            {"id", id},        {"name", name},   {"points", points}};
}

// vca.cgi's update of the camera position of channel 0.
VcaConfigState::Params CameraUpdate(const std::string& fov, const std::string& height)
{
    return {{"action", "update"}, {"group", "VCA.Ch0"}, {"object", "campos"},
            {"FOV", fov},         {"camangle", "3"},    {"height", height}};
}

std::string Field(const std::string& challenge, const std::string& name)
{
    const size_t start = challenge.find(name + "=\"");
    if (start == std::string::npos) {
        return {};
    }
    const size_t begin = start + name.size() + 2;
    return challenge.substr(begin, challenge.find('"', begin) - begin);
}

const char kRemoveZones[] = "/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*";

// A server on a free loopback port whose first write is held.
WebServerOptions HeldFirstWrite()
{
    WebServerOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.authScheme = HttpAuthenticator::Scheme::Basic;
    options.writeAfterTimeoutNth = 1;
    return options;
}

// Sends kRemoveZones with the right credentials and gives up after `seconds`
// without an answer; true when answered.
bool RemoveZones(int port, time_t seconds)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(seconds);
    return static_cast<bool>(client.Get(kRemoveZones, {{"Authorization", "Basic cm9vdDprcXp0"}}));
}

bool WaitUntil(const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

TEST(VcaConfigState, WriteCommandsChangeWhatIsReadNext)
{
    VcaConfigState state;
    VcaConfigState::Params zone = ZoneAdd("VCA.Ch0", "4", "100:200,3000:200,3000:4000,", "Zone_4");
    zone.emplace("enable", "yes");
    // Every write the tool sends, each accepted.
    const std::vector<std::pair<std::string, VcaConfigState::Params>> writes = {
        {"vca.cgi", {{"action", "remove"}, {"group", "VCA.Ch0.Zn*"}}},
        {"vca.cgi", zone},
        {"vca.cgi", {{"action", "remove"}, {"group", "VCA.Ch0.Obj*"}}},
        {"vca.cgi",
         {{"action", "add"},
          {"group", "VCA.Ch0"},
          {"object", "objectclass"},
          {"minArea", "0.5"},
          {"maxArea", "2"},
          {"minHeight", "1.23457e+06"},
          {"maxHeight", "2.25"}}},
        {"setzonetimeout.fcgi", {{"timeout", "15"}}},
        {"encoder.fcgi", {{"bitrate", "1000000"}, {"fps", "12"}}},
        {"setcam.fcgi", {{"model", "v4l2"}, {"host", "10.1.1.1"}, {"login", "cam"}, {"password", "pw"}}}};
    for (const auto& [command, params] : writes) {
        EXPECT_EQ(StatusOf(state, command, params), 200) << command;
    }

    const VCA vca = Parse(state.ConfigText());
    ASSERT_EQ(vca.ch_size(), 1);
    const Channel& ch = vca.ch(0);
    ASSERT_EQ(ch.zones_size(), 1);
    EXPECT_EQ(ch.zones(0).id(), 4u);
    EXPECT_EQ(ch.zones(0).name(), "Zone_4");
    EXPECT_TRUE(ch.zones(0).enable());
    ASSERT_EQ(ch.zones(0).points_size(), 3);
    EXPECT_EQ(ch.zones(0).points(2).x(), 3000u);
    EXPECT_EQ(ch.zones(0).points(2).y(), 4000u);
    ASSERT_EQ(ch.objectclasses_size(), 1);
    EXPECT_EQ(ch.objectclasses(0).minheight(), 1234570.0);
    EXPECT_EQ(ch.timeout(), 15u);
    EXPECT_EQ(ch.encoder().bitrate(), 1000000u);
    EXPECT_EQ(ch.encoder().fps(), 12u);
    EXPECT_EQ(vca.videosource().model(), "v4l2");
    EXPECT_EQ(state.Execute("getcam.fcgi", {}).body,
              "model=v4l2\r\nhost=10.1.1.1\r\nport=554\r\nlogin=cam\r\n");
}

TEST(VcaConfigState, RejectedCommandsChangeNothing)
{
    VcaConfigState state;
    const std::string before = state.ConfigText();
    const std::vector<std::pair<std::string, VcaConfigState::Params>> bad = {
        {"vca.cgi", ZoneAdd("VCA.Ch0", "2", "1:2,3")},
        {"vca.cgi", ZoneAdd("VCA.Ch0", "2", "")},
        {"vca.cgi", ZoneAdd("VCA.Ch0", "-1", "1:2,")},
        {"vca.cgi", ZoneAdd("VCA.Ch1", "2", "1:2,")},
        {"vca.cgi", CameraUpdate("40.5", "3")},
        {"vca.cgi", CameraUpdate("40", "nan")},
        {"vca.cgi", {{"action", "add"}, {"group", "VCA.Ch0"}, {"object", "objectclass"}, {"minArea", "1"}}},
        {"vca.cgi", {{"action", "remove"}, {"group", "VCA.Ch0.X*"}}},
        {"setzonetimeout.fcgi", {{"timeout", "-5"}}},
        {"setzonetimeout.fcgi", {{"timeout", "4294967296"}}},
        {"encoder.fcgi", {{"bitrate", "0"}, {"fps", "25"}}},
        {"setcam.fcgi", {{"model", "axis"}, {"host", "h"}, {"login", "l"}}},
    };
    for (const auto& [command, params] : bad) {
        EXPECT_EQ(StatusOf(state, command, params), 400) << command << " " << params.size();
    }
    EXPECT_EQ(StatusOf(state, "nothing.cgi", {}), 404);
    EXPECT_EQ(state.ConfigText(), before);
}

TEST(HttpAuthenticator, DigestAcceptsOnlyTheRightResponseToAnIssuedNonce)
{
    HttpAuthenticator auth("root", "kqzt", HttpAuthenticator::Scheme::Digest);
    const std::string challenge = auth.Challenge();
    const std::string nonce = Field(challenge, "nonce");
    const std::string realm = Field(challenge, "realm");
    ASSERT_FALSE(nonce.empty());
    const std::string uri = "/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*";
    const auto header = [&](const std::string& user, const std::string& password, const std::string& method,
                            const std::string& headerNonce) {
        const std::string ha1 = HttpAuthenticator::Md5Hex(user + ":" + realm + ":" + password);
        const std::string ha2 = HttpAuthenticator::Md5Hex(method + ":" + uri);
        const std::string response =
            HttpAuthenticator::Md5Hex(ha1 + ":" + headerNonce + ":00000001:abc:auth:" + ha2);
        return "Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + headerNonce +
               "\", uri=\"" + uri + "\", qop=auth, nc=00000001, cnonce=\"abc\", response=\"" + response +
               "\", algorithm=MD5";
    };
    EXPECT_TRUE(auth.Verify("GET", uri, header("root", "kqzt", "GET", nonce)));
    EXPECT_FALSE(auth.Verify("GET", uri, header("root", "wrong", "GET", nonce)));
    EXPECT_FALSE(auth.Verify("GET", uri, header("admin", "kqzt", "GET", nonce)));
    EXPECT_FALSE(auth.Verify("GET", uri, header("root", "kqzt", "POST", nonce)));
    EXPECT_FALSE(auth.Verify("GET", uri, header("root", "kqzt", "GET", "0123456789abcdef0123456789abcdef")));
    EXPECT_FALSE(auth.Verify("GET", uri + "x", header("root", "kqzt", "GET", nonce)));
    EXPECT_FALSE(auth.Verify("GET", uri, "Basic cm9vdDprcXp0"));
    EXPECT_FALSE(auth.Verify("GET", uri, "Digest username=\"root"));
    EXPECT_FALSE(auth.Verify("GET", uri, ""));
}

TEST(HttpAuthenticator, BasicAcceptsOnlyTheRightPair)
{
    HttpAuthenticator auth("root", "kqzt", HttpAuthenticator::Scheme::Basic);
    EXPECT_EQ(auth.Challenge(), "Basic realm=\"QEL device\"");
    EXPECT_TRUE(auth.Verify("GET", "/", "Basic cm9vdDprcXp0")); // root:kqzt
    EXPECT_TRUE(auth.Verify("GET", "/", "basic cm9vdDprcXp0"));
    EXPECT_FALSE(auth.Verify("GET", "/", "Basic cm9vdDprcXpa")); // root:kqzZ
    EXPECT_FALSE(auth.Verify("GET", "/", "Basic !!!!"));
    EXPECT_FALSE(auth.Verify("GET", "/", "Basic "));
}

TEST(DeviceWebServerHeldWrite, TakesEffectBeforeTheNextRequestWhileItsClientWaits)
{
    VcaConfigState state;
    DeviceWebServer server(HeldFirstWrite(), state);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    std::atomic<bool> answered{false};
    std::thread writer([&] { answered = RemoveZones(server.Port(), 30); });
    // Once the write is held, no reader sees the zone it removes; until
    // then a reader may come first.
    httplib::Client reader("127.0.0.1", server.Port());
    EXPECT_TRUE(WaitUntil([&] {
        const auto config = reader.Get("/qel-cgi/admin/getconfig.fcgi");
        return config && config->status == 200 && Parse(config->body).ch(0).zones_size() == 0;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(answered);
    // Stopping ends the hold; the writer gets its answer.
    const auto stopStart = std::chrono::steady_clock::now();
    server.Stop();
    writer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::seconds(5));
    EXPECT_TRUE(answered);
}

TEST(DeviceWebServerHeldWrite, TakesEffectOnceItsClientHasGivenUp)
{
    VcaConfigState state;
    DeviceWebServer server(HeldFirstWrite(), state);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    EXPECT_FALSE(RemoveZones(server.Port(), 1));
    // No later request: the closed connection alone carries it out.
    EXPECT_TRUE(WaitUntil([&] { return Parse(state.ConfigText()).ch(0).zones_size() == 0; }));
    // The next write is not held.
    EXPECT_TRUE(RemoveZones(server.Port(), 5));
}
