#include "DeviceWebPart.h"

#include "DeviceState.h"
#include "SimOptions.h"

#include <fstream>
#include <iterator>

namespace {
// A configuration file is read whole into memory.
constexpr size_t kMaxConfigFileBytes = 1 << 20;
// --http-fail-nth-write and --http-write-after-timeout count up to here.
constexpr uint64_t kMaxWriteNumber = 1000000000;
} // namespace

DeviceWebPart::~DeviceWebPart()
{
    Stop();
}

void DeviceWebPart::RegisterOptions(SimOptions& options)
{
    options.AddSection("HTTP web interface");
    options.AddValue("http-port", "PORT", "port of each device's web interface (default 80)",
                     simopt::UnsignedInto(options_.port, 1, 65535));
    options.AddValue("http-bind", "A.B.C.D",
                     "serve every device on this address, device i on port PORT+i "
                     "(default: each device on its own address)",
                     simopt::Ipv4TextInto(bindAddress_));
    options.AddValue("http-auth", "digest|basic",
                     "authentication the write commands ask for (default digest)",
                     [this](const std::string& v, std::string& e) {
                         if (v == "digest") {
                             options_.authScheme = HttpAuthenticator::Scheme::Digest;
                         } else if (v == "basic") {
                             options_.authScheme = HttpAuthenticator::Scheme::Basic;
                         } else {
                             e = "expected digest or basic";
                             return false;
                         }
                         return true;
                     });
    options.AddValue("http-status", "CODE",
                     "answer every HTTP request with this status and no body (200-599)",
                     simopt::UnsignedInto(options_.forcedStatus, 200, 599));
    options.AddFlag("http-reject-auth", "answer every HTTP request with 401, whatever credentials it carries",
                    [this] { options_.rejectCredentials = true; });
    // A text that goes into a response header: one line, never empty.
    const auto oneLineInto = [](std::string& target, const char* expected) {
        return [&target, expected](const std::string& v, std::string& e) {
            if (v.empty() || v.find_first_of("\r\n") != std::string::npos) {
                e = expected;
                return false;
            }
            target = v;
            return true;
        };
    };
    options.AddValue("http-redirect", "URL",
                     "answer every HTTP request with 302 and this Location (relative or absolute)",
                     oneLineInto(options_.redirectLocation, "expected a URL on one line"));
    options.AddValue("http-delay-ms", "MS", "answer HTTP requests this much later",
                     simopt::UnsignedInto(options_.delayMs, 0, 600000));
    const auto commandInto = [](std::set<std::string>& commands) {
        return [&commands](const std::string& v, std::string& e) {
            if (v.empty() || v.find('/') != std::string::npos) {
                e = "expected a command name such as getcam.fcgi";
                return false;
            }
            commands.insert(v);
            return true;
        };
    };
    options.AddValue("http-hang", "COMMAND",
                     "accept requests for this command (getcam.fcgi, vca.cgi, ...) and never answer; "
                     "may be given several times",
                     commandInto(options_.hangCommands));
    options.AddValue(
        "http-fail", "COMMAND",
        "answer requests for this command with 500 and change nothing; may be given several times",
        commandInto(options_.failCommands));
    options.AddValue("http-endless", "COMMAND",
                     "answer requests for this command with its body repeated without end, as fast as the "
                     "client reads; may be given several times",
                     commandInto(options_.endlessCommands));
    options.AddValue("http-endless-bytes", "N",
                     "cut the --http-endless answer after N bytes and announce them in Content-Length",
                     simopt::UnsignedInto(options_.endlessBytes, 1, uint64_t{1} << 40));
    options.AddValue("http-trickle", "COMMAND",
                     "answer requests for this command one byte at a time (see --http-trickle-ms); may be "
                     "given several times",
                     commandInto(options_.trickleCommands));
    options.AddValue("http-trickle-ms", "MS",
                     "pause between the bytes of a --http-trickle answer (default 5000)",
                     simopt::UnsignedInto(options_.trickleMs, 1, 600000));
    options.AddValue("http-reason", "TEXT",
                     "answer every HTTP request with 500 and this reason phrase (one line)",
                     oneLineInto(options_.failureReason, "expected a reason phrase on one line"));
    options.AddValue("source-password", "TEXT",
                     "the video source password the configuration holds (default admin)",
                     [this](const std::string& v, std::string&) {
                         sourcePassword_ = v;
                         return true;
                     });
    options.AddValue("http-slow-writes-ms", "MS",
                     "carry out the commands that change the configuration this much later, once their "
                     "credentials have been accepted (the challenge itself is answered at once)",
                     simopt::UnsignedInto(options_.slowWritesMs, 0, 600000));
    // One write cannot both fail and be held: whichever of the two options
    // comes second refuses the other's number.
    const auto writeNumberInto = [](uint64_t& target, const uint64_t& other, const char* otherName) {
        return [&target, &other, otherName](const std::string& v, std::string& e) {
            uint64_t n = 0;
            if (!simopt::ParseUnsigned(v, 1, kMaxWriteNumber, n, e)) {
                return false;
            }
            if (n == other) {
                e = std::string("the same write as ") + otherName;
                return false;
            }
            target = n;
            return true;
        };
    };
    options.AddValue(
        "http-fail-nth-write", "N",
        "answer the Nth command that changes the configuration (counted once its credentials "
        "have been accepted) with 500 and change nothing; the others work",
        writeNumberInto(options_.failNthWrite, options_.writeAfterTimeoutNth, "--http-write-after-timeout"));
    options.AddValue(
        "http-write-after-timeout", "N",
        "hold the answer to the Nth command that changes the configuration (counted as for "
        "--http-fail-nth-write) until the client gives up (at most 60 s), and carry the command "
        "out all the same, before any later request or once the client has closed the connection",
        writeNumberInto(options_.writeAfterTimeoutNth, options_.failNthWrite, "--http-fail-nth-write"));
    options.AddValue("http-config-fault", "malformed|no-channels|unknown-fields|cut",
                     "spoil getconfig.fcgi: a text the parser rejects part-way, a configuration "
                     "without channels, a field and an enum value the schema does not know in the "
                     "first zone (as a newer firmware's), or a text that ends right after the first zone",
                     [this](const std::string& v, std::string& e) {
                         if (v == "malformed") {
                             options_.configFault = VcaConfigState::ConfigFault::Malformed;
                         } else if (v == "no-channels") {
                             options_.configFault = VcaConfigState::ConfigFault::NoChannels;
                         } else if (v == "unknown-fields") {
                             options_.configFault = VcaConfigState::ConfigFault::UnknownFields;
                         } else if (v == "cut") {
                             options_.configFault = VcaConfigState::ConfigFault::Cut;
                         } else {
                             e = "expected malformed, no-channels, unknown-fields or cut";
                             return false;
                         }
                         return true;
                     });
    options.AddValue("http-config-file", "FILE",
                     "every device starts with the configuration in FILE, in the protobuf text "
                     "format getconfig.fcgi answers (every field known, every required one given, at least "
                     "one channel)",
                     [this](const std::string& v, std::string& e) {
                         std::ifstream file(v, std::ios::binary);
                         if (!file) {
                             e = "cannot open " + v;
                             return false;
                         }
                         std::string text(std::istreambuf_iterator<char>(file), {});
                         if (file.bad()) {
                             e = "cannot read " + v;
                             return false;
                         }
                         if (text.size() > kMaxConfigFileBytes) {
                             e = v + " is larger than " + std::to_string(kMaxConfigFileBytes) + " bytes";
                             return false;
                         }
                         std::string parseError;
                         if (!VcaConfigState::CheckConfigText(text, parseError)) {
                             e = v + ": " + parseError;
                             return false;
                         }
                         configText_ = std::move(text);
                         return true;
                     });
}

bool DeviceWebPart::Start(DeviceSet& devices, std::string& error)
{
    const std::lock_guard<std::mutex> lock(devices.mutex);
    for (size_t i = 0; i < devices.devices.size(); ++i) {
        DeviceState& device = devices.devices[i];
        if (!device.webConfig) {
            device.webConfig = std::make_shared<VcaConfigState>();
            if (!configText_.empty() && !device.webConfig->SetConfigText(configText_, error)) {
                return false;
            }
            if (!sourcePassword_.empty()) {
                device.webConfig->SetSourcePassword(sourcePassword_);
            }
        }
        WebServerOptions options = options_;
        if (bindAddress_.empty()) {
            options.bindAddress = simopt::Ipv4Text(device.ip);
        } else {
            options.bindAddress = bindAddress_;
            options.port = options_.port + static_cast<int>(i);
            if (options.port > 65535) {
                error = "too many devices for --http-bind from port " + std::to_string(options_.port);
                return false;
            }
        }
        auto server = std::make_unique<DeviceWebServer>(options, *device.webConfig);
        if (!server->Start(error)) {
            return false;
        }
        if (servers_.empty()) {
            firstAddress_ = options.bindAddress + ":" + std::to_string(server->Port());
        }
        servers_.push_back(std::move(server));
    }
    return true;
}

void DeviceWebPart::Stop()
{
    while (!servers_.empty()) {
        servers_.back()->Stop();
        servers_.pop_back();
    }
}

std::string DeviceWebPart::Describe() const
{
    return "http " + firstAddress_ +
           (servers_.size() > 1 ? " and " + std::to_string(servers_.size() - 1) + " more" : "");
}
