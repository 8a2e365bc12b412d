#include "DeviceRtspPart.h"

#include "DeviceState.h"
#include "SimOptions.h"

DeviceRtspPart::~DeviceRtspPart()
{
    Stop();
}

void DeviceRtspPart::RegisterOptions(SimOptions& options)
{
    options.AddSection("RTSP live video");
    options.AddValue("rtsp-port", "PORT", "port of each device's RTSP server (default 554)",
                     simopt::UnsignedInto(options_.port, 1, 65535));
    options.AddValue("rtsp-bind", "A.B.C.D",
                     "serve every device on this address, device i on port PORT+i "
                     "(default: each device on its own address)",
                     simopt::Ipv4TextInto(bindAddress_));
    options.AddValue(
        "rtsp-size", "WxH", "picture size of the stream (default 720x576)",
        [this](const std::string& v, std::string& e) {
            const size_t x = v.find('x');
            uint64_t w = 0;
            uint64_t h = 0;
            if (x == std::string::npos || !simopt::ParseUnsigned(v.substr(0, x), 16, 4096, w, e) ||
                !simopt::ParseUnsigned(v.substr(x + 1), 16, 4096, h, e) || w % 2 != 0 || h % 2 != 0) {
                e = "expected WIDTHxHEIGHT, even numbers from 16 to 4096";
                return false;
            }
            options_.width = static_cast<int>(w);
            options_.height = static_cast<int>(h);
            return true;
        });
    options.AddValue("rtsp-fps", "N", "frame rate of the stream (default 25)",
                     simopt::UnsignedInto(options_.framesPerSecond, 1, 60));
    options.AddValue("rtsp-bitrate", "KBPS", "encoder bitrate in kbit/s (default 1024)",
                     simopt::UnsignedInto(options_.bitrateKbps, 64, 20000));
    options.AddValue("rtsp-clip", "FILE",
                     "serve this H.264 clip (Annex B, starting with a key frame) in a loop at the "
                     "--rtsp-fps rate, without re-encoding; size and bitrate are the clip's",
                     [this](const std::string& v, std::string& e) {
                         if (v.empty()) {
                             e = "expected a file name";
                             return false;
                         }
                         options_.clipPath = v;
                         return true;
                     });
    options.AddFlag("rtsp-audio", "add an audio stream (A-law, not read by the tool)",
                    [this] { options_.audio = true; });
    options.AddValue("rtsp-stop-video-after", "S",
                     "stop sending video S seconds after it started, keeping the RTSP session open",
                     simopt::UnsignedInto(options_.stopVideoAfterSeconds, 1, 86400));
    options.AddValue("rtsp-password", "TEXT",
                     "password the RTSP server asks of user root (default vbnq; another one makes "
                     "the tool's connection fail)",
                     [this](const std::string& v, std::string&) {
                         options_.password = v;
                         return true;
                     });
    options.AddFlag("rtsp-never-answer-describe", "accept RTSP connections but never answer (DESCRIBE hangs)",
                    [this] { options_.neverAnswerDescribe = true; });
    options.AddValue("rtsp-hold-teardown-answer", "MS|never",
                     "answer TEARDOWN only MS milliseconds after it came, or never; nothing else is "
                     "answered on that connection meanwhile (a relay that ignores TEARDOWN)",
                     [this](const std::string& v, std::string& e) {
                         if (v == "never") {
                             options_.holdTeardownAnswerMs = -1;
                             return true;
                         }
                         uint64_t ms = 0;
                         if (!simopt::ParseUnsigned(v, 1, 600000, ms, e)) {
                             return false;
                         }
                         options_.holdTeardownAnswerMs = static_cast<int>(ms);
                         return true;
                     });
    options.AddValue("rtsp-end-stream-after", "S",
                     "end the video S seconds after it started, as a stream that is over: the server "
                     "sends RTCP BYE",
                     simopt::UnsignedInto(options_.endStreamAfterSeconds, 1, 86400));
    options.AddValue("rtsp-announce-range", "S",
                     "announce a play range of S seconds in the SDP (a=range:npt=0-S) while the video "
                     "goes on",
                     simopt::UnsignedInto(options_.announcedRangeSeconds, 1, 86400));
    options.AddFlag("rtsp-fail-play", "answer PLAY with 503 Service Unavailable",
                    [this] { options_.failPlay = true; });
    options.AddValue("rtsp-content-base", "URL",
                     "name URL as the Content-Base of the DESCRIBE answer (e.g. another host's)",
                     [this](const std::string& v, std::string& e) {
                         if (v.rfind("rtsp://", 0) != 0 || v.find_first_of("\r\n") != std::string::npos) {
                             e = "expected an rtsp:// URL";
                             return false;
                         }
                         options_.contentBase = v;
                         return true;
                     });
    options.AddFlag("rtsp-close-after-play",
                    "close the RTSP connection right after answering PLAY; the session and the video go on",
                    [this] { options_.closeAfterPlay = true; });
    options.AddFlag("rtsp-drop-udp",
                    "RTP and RTCP over UDP never reach the client (sent to a port where nobody "
                    "listens, as through a firewall that drops UDP); interleaved TCP works",
                    [this] { options_.dropUdp = true; });
    options.AddFlag("rtsp-refuse-udp",
                    "answer SETUP for RTP over UDP with 461 Unsupported Transport; interleaved TCP works",
                    [this] { options_.refuseUdp = true; });
    options.AddValue("rtsp-devices", "N", "serve RTSP for the first N devices only (default 16)",
                     [this](const std::string& v, std::string& e) {
                         return simopt::ParseUnsigned(v, 0, 4096, maxDevices_, e);
                     });
    options.AddFlag("rtsp-off", "no RTSP server at all", [this] { off_ = true; });
}

bool DeviceRtspPart::Start(DeviceSet& devices, std::string& error)
{
    if (off_) {
        return true;
    }
    std::vector<std::string> addresses;
    {
        const std::lock_guard<std::mutex> lock(devices.mutex);
        for (const DeviceState& device : devices.devices) {
            if (addresses.size() >= maxDevices_) {
                break;
            }
            addresses.push_back(simopt::Ipv4Text(device.ip));
        }
    }
    for (size_t i = 0; i < addresses.size(); ++i) {
        RtspStreamOptions options = options_;
        if (bindAddress_.empty()) {
            options.bindAddress = addresses[i];
        } else {
            options.bindAddress = bindAddress_;
            options.port = options_.port + static_cast<int>(i);
            if (options.port > 65535) {
                error = "too many devices for --rtsp-bind from port " + std::to_string(options_.port);
                return false;
            }
        }
        auto server = std::make_unique<RtspStreamServer>(options);
        if (!server->Start(error)) {
            return false;
        }
        servers_.push_back(std::move(server));
    }
    return true;
}

void DeviceRtspPart::Stop()
{
    while (!servers_.empty()) {
        servers_.back()->Stop();
        servers_.pop_back();
    }
}

std::string DeviceRtspPart::Describe() const
{
    if (servers_.empty()) {
        return "rtsp off";
    }
    return "rtsp " + servers_.front()->Url() +
           (servers_.size() > 1 ? " and " + std::to_string(servers_.size() - 1) + " more" : "");
}
