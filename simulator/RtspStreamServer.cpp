#include "RtspStreamServer.h"

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <vector>

struct RtspStreamServer::GstState {
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GstRTSPServer* server = nullptr;
    int stopVideoAfterSeconds = 0;
    // What each client connection's handlers need; lives as long as the server.
    const RtspStreamOptions* options = nullptr;
    std::mutex stopMutex;               // guards stopping
    std::condition_variable stopSignal; // wakes a held TEARDOWN answer on Stop
    bool stopping = false;
};

namespace {

// Drops the video after the configured time; the session and RTCP stay up.
struct DropAfter {
    gint64 limitUs = 0;
    gint64 firstUs = -1;
};

GstPadProbeReturn DropProbe(GstPad* /*pad*/, GstPadProbeInfo* /*info*/, gpointer userData)
{
    auto* drop = static_cast<DropAfter*>(userData);
    const gint64 now = g_get_monotonic_time();
    if (drop->firstUs < 0) {
        drop->firstUs = now;
    }
    return now - drop->firstUs >= drop->limitUs ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

void DeleteDropAfter(gpointer data)
{
    delete static_cast<DropAfter*>(data);
}

void OnMediaConfigure(GstRTSPMediaFactory* /*factory*/, GstRTSPMedia* media, gpointer userData)
{
    const int seconds = GPOINTER_TO_INT(userData);
    GstElement* element = gst_rtsp_media_get_element(media);
    GstElement* payloader = gst_bin_get_by_name(GST_BIN(element), "pay0");
    if (payloader != nullptr) {
        GstPad* pad = gst_element_get_static_pad(payloader, "src");
        auto* drop = new DropAfter;
        drop->limitUs = static_cast<gint64>(seconds) * G_USEC_PER_SEC;
        gst_pad_add_probe(
            pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
            DropProbe, drop, DeleteDropAfter);
        gst_object_unref(pad);
        gst_object_unref(payloader);
    }
    gst_object_unref(element);
}

// Feeds one client's pipeline with the clip's access units, looping, each
// stamped one frame interval after the one before.
struct ClipFeeder {
    const RtspStreamServer::AccessUnits* units = nullptr;
    int framesPerSecond = 25;
    uint64_t endAfterFrames = 0; // > 0: the stream ends after this many
    uint64_t sent = 0;
};

void DeleteClipFeeder(gpointer data, GClosure* /*closure*/)
{
    delete static_cast<ClipFeeder*>(data);
}

void OnClipNeedData(GstElement* source, guint /*length*/, gpointer userData)
{
    auto* feeder = static_cast<ClipFeeder*>(userData);
    if (feeder->endAfterFrames > 0 && feeder->sent >= feeder->endAfterFrames) {
        GstFlowReturn result = GST_FLOW_OK;
        g_signal_emit_by_name(source, "end-of-stream", &result);
        return;
    }
    const std::vector<uint8_t>& unit = (*feeder->units)[feeder->sent % feeder->units->size()];
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, unit.size(), nullptr);
    gst_buffer_fill(buffer, 0, unit.data(), unit.size());
    const GstClockTime interval = gst_util_uint64_scale_int(GST_SECOND, 1, feeder->framesPerSecond);
    GST_BUFFER_PTS(buffer) = feeder->sent * interval;
    GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
    GST_BUFFER_DURATION(buffer) = interval;
    ++feeder->sent;
    GstFlowReturn result = GST_FLOW_OK;
    g_signal_emit_by_name(source, "push-buffer", buffer, &result);
    gst_buffer_unref(buffer);
}

struct ClipSettings {
    const RtspStreamServer::AccessUnits* units = nullptr;
    int framesPerSecond = 25;
    uint64_t endAfterFrames = 0;
};

void OnClipMediaConfigure(GstRTSPMediaFactory* /*factory*/, GstRTSPMedia* media, gpointer userData)
{
    const auto* settings = static_cast<const ClipSettings*>(userData);
    GstElement* element = gst_rtsp_media_get_element(media);
    GstElement* source = gst_bin_get_by_name(GST_BIN(element), "clip");
    if (source != nullptr) {
        GstCaps* caps = gst_caps_new_simple("video/x-h264", "stream-format", G_TYPE_STRING, "byte-stream",
                                            "alignment", G_TYPE_STRING, "au", nullptr);
        g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, nullptr);
        gst_caps_unref(caps);
        auto* feeder = new ClipFeeder;
        feeder->units = settings->units;
        feeder->framesPerSecond = settings->framesPerSecond;
        feeder->endAfterFrames = settings->endAfterFrames;
        g_signal_connect_data(source, "need-data", G_CALLBACK(OnClipNeedData), feeder, DeleteClipFeeder,
                              static_cast<GConnectFlags>(0));
        gst_object_unref(source);
    }
    gst_object_unref(element);
}

void DeleteClipSettings(gpointer data, GClosure* /*closure*/)
{
    delete static_cast<ClipSettings*>(data);
}

// Said on standard output, so a test can see that the device got it.
void OnTeardownRequest(GstRTSPClient* /*client*/, GstRTSPContext* /*context*/, gpointer /*userData*/)
{
    std::cout << "qel-device-sim: rtsp TEARDOWN received" << std::endl;
}

// Runs on the loop that serves the client, which stands still meanwhile:
// the answer, and anything else on that connection, waits until the time is
// up or Stop.
GstRTSPStatusCode OnPreTeardownRequest(GstRTSPClient* /*client*/, GstRTSPContext* /*context*/,
                                       gpointer userData)
{
    auto* gst = static_cast<RtspStreamServer::GstState*>(userData);
    const int holdMs = gst->options->holdTeardownAnswerMs;
    std::cout << "qel-device-sim: rtsp TEARDOWN held back" << std::endl;
    std::unique_lock<std::mutex> lock(gst->stopMutex);
    if (holdMs < 0) {
        gst->stopSignal.wait(lock, [gst] { return gst->stopping; });
    } else {
        gst->stopSignal.wait_for(lock, std::chrono::milliseconds(holdMs), [gst] { return gst->stopping; });
    }
    return GST_RTSP_STS_OK;
}

// The ports UDP video is sent to when it must not arrive: the discard
// service, on which the client's host has nobody listening.
constexpr char kNowherePorts[] = "9-10";

// Points the client ports of a transport at nowhere, in the header's own
// text: the server library holds that text from before the pre-setup hook and
// parses it after, so it must be neither freed nor made longer. A transport
// without client ports stays as it is; false when theirs is too short a text
// for the new ones.
bool SendNowhere(gchar* transport)
{
    static constexpr char kKey[] = "client_port=";
    char* ports = std::strstr(transport, kKey);
    if (ports == nullptr) {
        return true;
    }
    ports += sizeof(kKey) - 1;
    const size_t length = std::strcspn(ports, ";,");
    const size_t nowhere = sizeof(kNowherePorts) - 1;
    if (length < nowhere) {
        return false;
    }
    std::memcpy(ports, kNowherePorts, nowhere);
    std::memmove(ports + nowhere, ports + length, std::strlen(ports + length) + 1);
    return true;
}

// Says the transport each SETUP asks for; refuses UDP, or sends it where the
// client does not listen, as the options say. UDP whose ports cannot be
// rewritten is refused, so that it never arrives either.
GstRTSPStatusCode OnPreSetupRequest(GstRTSPClient* /*client*/, GstRTSPContext* context, gpointer userData)
{
    const auto* options = static_cast<const RtspStreamOptions*>(userData);
    gchar* value = nullptr;
    if (context->request == nullptr ||
        gst_rtsp_message_get_header(context->request, GST_RTSP_HDR_TRANSPORT, &value, 0) != GST_RTSP_OK ||
        value == nullptr) {
        return GST_RTSP_STS_OK;
    }
    const std::string transport = value;
    std::cout << "qel-device-sim: rtsp transport " << transport << std::endl;
    if (transport.find("RTP/AVP/TCP") != std::string::npos) {
        return GST_RTSP_STS_OK;
    }
    if (options->refuseUdp) {
        return GST_RTSP_STS_UNSUPPORTED_TRANSPORT;
    }
    if (options->dropUdp && !SendNowhere(value)) {
        return GST_RTSP_STS_UNSUPPORTED_TRANSPORT;
    }
    return GST_RTSP_STS_OK;
}

GstRTSPStatusCode OnPrePlayRequest(GstRTSPClient* /*client*/, GstRTSPContext* /*context*/,
                                   gpointer /*userData*/)
{
    return GST_RTSP_STS_SERVICE_UNAVAILABLE;
}

gboolean CloseClient(gpointer data)
{
    gst_rtsp_client_close(GST_RTSP_CLIENT(data));
    return G_SOURCE_REMOVE;
}

void OnPlayRequest(GstRTSPClient* client, GstRTSPContext* /*context*/, gpointer /*userData*/)
{
    // Shortly after, so that the PLAY answer has left first; on the loop
    // that serves this client (that of its connection's watch, now running).
    GSource* current = g_main_current_source();
    if (current == nullptr) {
        return;
    }
    GSource* source = g_timeout_source_new(100);
    g_source_set_callback(source, CloseClient, g_object_ref(client), g_object_unref);
    g_source_attach(source, g_source_get_context(current));
    g_source_unref(source);
}

// The SDP with its play range replaced by one of `seconds` from 0.
std::string WithRange(const std::string& sdp, int seconds)
{
    std::string out;
    size_t start = 0;
    bool added = false;
    while (start < sdp.size()) {
        size_t end = sdp.find('\n', start);
        end = end == std::string::npos ? sdp.size() : end + 1;
        const std::string line = sdp.substr(start, end - start);
        start = end;
        if (line.rfind("a=range:", 0) == 0) {
            continue;
        }
        if (!added && line.rfind("m=", 0) == 0) {
            out += "a=range:npt=0-" + std::to_string(seconds) + "\r\n";
            added = true;
        }
        out += line;
    }
    return out;
}

// Says each request as it is answered, and changes the DESCRIBE answer as the
// options say.
void OnSendMessage(GstRTSPClient* /*client*/, gpointer /*context*/, gpointer message, gpointer userData)
{
    const auto* options = static_cast<const RtspStreamOptions*>(userData);
    GstRTSPContext* context = gst_rtsp_context_get_current();
    auto* response = static_cast<GstRTSPMessage*>(message);
    if (context == nullptr || context->request == nullptr ||
        gst_rtsp_message_get_type(response) != GST_RTSP_MESSAGE_RESPONSE) {
        return;
    }
    GstRTSPMethod method = GST_RTSP_INVALID;
    const gchar* uri = nullptr;
    GstRTSPVersion version = GST_RTSP_VERSION_INVALID;
    if (gst_rtsp_message_parse_request(context->request, &method, &uri, &version) != GST_RTSP_OK) {
        return;
    }
    std::cout << "qel-device-sim: rtsp request " << gst_rtsp_method_as_text(method) << " "
              << (uri != nullptr ? uri : "") << std::endl;
    GstRTSPStatusCode code = GST_RTSP_STS_INVALID;
    gst_rtsp_message_parse_response(response, &code, nullptr, nullptr);
    if (method != GST_RTSP_DESCRIBE || code != GST_RTSP_STS_OK) {
        return;
    }
    if (!options->contentBase.empty()) {
        gst_rtsp_message_remove_header(response, GST_RTSP_HDR_CONTENT_BASE, -1);
        gst_rtsp_message_add_header(response, GST_RTSP_HDR_CONTENT_BASE, options->contentBase.c_str());
    }
    if (options->announcedRangeSeconds > 0) {
        guint8* data = nullptr;
        guint size = 0;
        gst_rtsp_message_get_body(response, &data, &size);
        const std::string sdp =
            WithRange(std::string(reinterpret_cast<const char*>(data), size), options->announcedRangeSeconds);
        gst_rtsp_message_set_body(response, reinterpret_cast<const guint8*>(sdp.data()),
                                  static_cast<guint>(sdp.size()));
    }
}

void OnClientConnected(GstRTSPServer* /*server*/, GstRTSPClient* client, gpointer userData)
{
    auto* gst = static_cast<RtspStreamServer::GstState*>(userData);
    const RtspStreamOptions& options = *gst->options;
    g_signal_connect(client, "teardown-request", G_CALLBACK(OnTeardownRequest), nullptr);
    g_signal_connect(client, "send-message", G_CALLBACK(OnSendMessage),
                     const_cast<RtspStreamOptions*>(&options));
    if (options.holdTeardownAnswerMs != 0) {
        g_signal_connect(client, "pre-teardown-request", G_CALLBACK(OnPreTeardownRequest), gst);
    }
    g_signal_connect(client, "pre-setup-request", G_CALLBACK(OnPreSetupRequest),
                     const_cast<RtspStreamOptions*>(&options));
    if (options.failPlay) {
        g_signal_connect(client, "pre-play-request", G_CALLBACK(OnPrePlayRequest), nullptr);
    }
    if (options.closeAfterPlay) {
        g_signal_connect(client, "play-request", G_CALLBACK(OnPlayRequest), nullptr);
    }
}

// Start of the NAL unit after the start code at `at` (3 or 4 bytes long).
size_t NalStart(const std::vector<uint8_t>& data, size_t at)
{
    return data[at + 2] == 1 ? at + 3 : at + 4;
}

// Cuts an Annex B stream into access units: a new one begins with the first
// parameter set, SEI or delimiter after a slice, or with a slice whose
// first_mb_in_slice is 0.
RtspStreamServer::AccessUnits SplitAccessUnits(const std::vector<uint8_t>& data)
{
    std::vector<size_t> starts; // start code positions
    for (size_t i = 0; i + 3 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 &&
            (data[i + 2] == 1 || (data[i + 2] == 0 && data[i + 3] == 1))) {
            starts.push_back(i);
            i += 2;
        }
    }
    RtspStreamServer::AccessUnits units;
    size_t unitStart = starts.empty() ? data.size() : starts.front();
    bool haveSlice = false;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t nal = NalStart(data, starts[k]);
        if (nal >= data.size()) {
            break;
        }
        const int type = data[nal] & 0x1F;
        const bool slice = type == 1 || type == 5;
        const bool firstSlice = slice && nal + 1 < data.size() && (data[nal + 1] & 0x80) != 0;
        const bool beginsUnit = (slice && firstSlice) || (!slice && type >= 6 && type <= 9);
        if (haveSlice && beginsUnit) {
            units.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(unitStart),
                               data.begin() + static_cast<std::ptrdiff_t>(starts[k]));
            unitStart = starts[k];
            haveSlice = false;
        }
        haveSlice = haveSlice || slice;
    }
    if (haveSlice) {
        units.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(unitStart), data.end());
    }
    return units;
}

GstRTSPFilterResult RemoveClient(GstRTSPServer* /*server*/, GstRTSPClient* /*client*/, gpointer /*userData*/)
{
    return GST_RTSP_FILTER_REMOVE;
}

gboolean ShutDownInLoop(gpointer data)
{
    auto* gst = static_cast<std::pair<GstRTSPServer*, GMainLoop*>*>(data);
    gst_rtsp_server_client_filter(gst->first, RemoveClient, nullptr);
    g_main_loop_quit(gst->second);
    return G_SOURCE_REMOVE;
}

} // namespace

RtspStreamServer::RtspStreamServer(RtspStreamOptions options) : options_(std::move(options)) {}

RtspStreamServer::~RtspStreamServer()
{
    Stop();
}

std::string RtspStreamServer::Url() const
{
    return "rtsp://" + options_.bindAddress + ":" + std::to_string(boundPort_) + options_.path;
}

bool RtspStreamServer::LoadClip(std::string& error)
{
    std::ifstream file(options_.clipPath, std::ios::binary);
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    clip_ = SplitAccessUnits(data);
    if (clip_.empty()) {
        error = "no H.264 pictures in the clip " + options_.clipPath;
        return false;
    }
    return true;
}

std::string RtspStreamServer::PipelineDescription() const
{
    if (!options_.clipPath.empty()) {
        // The clip as it is: no encoder, its own size and bitrate; the sync
        // holds it to the frame rate.
        return "( appsrc name=clip is-live=true ! h264parse ! identity sync=true ! "
               "rtph264pay name=pay0 pt=96 )";
    }
    const std::string fps = std::to_string(options_.framesPerSecond);
    // A ball over mid grey: the overlay's black lines stay visible over it.
    // An end of the stream makes the RTP session send its RTCP BYE.
    const std::string frames =
        options_.endStreamAfterSeconds > 0
            ? " num-buffers=" + std::to_string(options_.endStreamAfterSeconds * options_.framesPerSecond)
            : std::string();
    std::string description = "( videotestsrc is-live=true" + frames +
                              " pattern=ball background-color=0xff9e9e9e ! "
                              "video/x-raw,format=I420,width=" +
                              std::to_string(options_.width) + ",height=" + std::to_string(options_.height) +
                              ",framerate=" + fps +
                              "/1 ! x264enc tune=zerolatency speed-preset=ultrafast threads=1 "
                              "bitrate=" +
                              std::to_string(options_.bitrateKbps) + " key-int-max=" + fps +
                              " ! video/x-h264,profile=main ! rtph264pay name=pay0 pt=96";
    if (options_.audio) {
        description += " audiotestsrc is-live=true wave=sine ! audio/x-raw,rate=8000,channels=1 ! alawenc ! "
                       "rtppcmapay name=pay1 pt=8";
    }
    return description + " )";
}

bool RtspStreamServer::StartSilentListener(std::string& error)
{
    silentSocket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int reuse = 1;
    setsockopt(silentSocket_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options_.port));
    if (inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1 ||
        bind(silentSocket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(silentSocket_, 16) != 0) {
        error = "cannot listen for RTSP on " + options_.bindAddress + ":" + std::to_string(options_.port);
        close(silentSocket_);
        silentSocket_ = -1;
        return false;
    }
    socklen_t length = sizeof(address);
    getsockname(silentSocket_, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort_ = ntohs(address.sin_port);
    stopSilent_ = false;
    thread_ = std::thread([this] {
        // Reads and discards whatever clients send; answers nothing.
        std::vector<int> clients;
        while (!stopSilent_) {
            std::vector<pollfd> fds{{silentSocket_, POLLIN, 0}};
            for (const int client : clients) {
                fds.push_back({client, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 100) <= 0) {
                continue;
            }
            if (fds[0].revents & POLLIN) {
                const int client = accept4(silentSocket_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) {
                    clients.push_back(client);
                }
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                char buffer[4096];
                if (recv(fds[i].fd, buffer, sizeof(buffer), 0) <= 0) {
                    close(fds[i].fd);
                    clients.erase(std::find(clients.begin(), clients.end(), fds[i].fd));
                }
            }
        }
        for (const int client : clients) {
            close(client);
        }
    });
    return true;
}

bool RtspStreamServer::Start(std::string& error)
{
    if (options_.neverAnswerDescribe) {
        return StartSilentListener(error);
    }
    static std::once_flag initOnce;
    std::call_once(initOnce, [] { gst_init(nullptr, nullptr); });
    if (!options_.clipPath.empty()) {
        if (!LoadClip(error)) {
            return false;
        }
    } else if (gst_element_factory_find("x264enc") == nullptr) {
        error = "the GStreamer element x264enc is missing (package gstreamer1.0-plugins-ugly)";
        return false;
    }

    gst_ = std::make_unique<GstState>();
    gst_->context = g_main_context_new();
    gst_->loop = g_main_loop_new(gst_->context, FALSE);
    gst_->server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(gst_->server, options_.bindAddress.c_str());
    gst_rtsp_server_set_service(gst_->server, std::to_string(options_.port).c_str());

    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, PipelineDescription().c_str());
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    // RTP over UDP, or interleaved on the RTSP connection when a client asks
    // so (as clients behind a firewall do).
    gst_rtsp_media_factory_set_protocols(
        factory, static_cast<GstRTSPLowerTrans>(GST_RTSP_LOWER_TRANS_UDP | GST_RTSP_LOWER_TRANS_TCP));
    if (options_.bindAddress != "0.0.0.0") {
        // RTP and RTCP leave from the device's own address, as a device's do
        // (a socket bound to any address would send from the loopback's main
        // address when the device sits on another loopback address).
        GstRTSPAddressPool* pool = gst_rtsp_address_pool_new();
        gst_rtsp_address_pool_add_range(pool, options_.bindAddress.c_str(), options_.bindAddress.c_str(),
                                        20000, 60000, 0);
        gst_rtsp_media_factory_set_address_pool(factory, pool);
        g_object_unref(pool);
    }
    if (!clip_.empty()) {
        const auto endAfterFrames = static_cast<uint64_t>(options_.endStreamAfterSeconds) *
                                    static_cast<uint64_t>(options_.framesPerSecond);
        auto* settings = new ClipSettings{&clip_, options_.framesPerSecond, endAfterFrames};
        g_signal_connect_data(factory, "media-configure", G_CALLBACK(OnClipMediaConfigure), settings,
                              DeleteClipSettings, static_cast<GConnectFlags>(0));
    }
    gst_->options = &options_;
    g_signal_connect(gst_->server, "client-connected", G_CALLBACK(OnClientConnected), gst_.get());
    if (options_.stopVideoAfterSeconds > 0) {
        g_signal_connect(factory, "media-configure", G_CALLBACK(OnMediaConfigure),
                         GINT_TO_POINTER(options_.stopVideoAfterSeconds));
    }
    if (!options_.user.empty()) {
        GstRTSPAuth* auth = gst_rtsp_auth_new();
        gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
        GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer",
                                                 static_cast<char*>(nullptr));
        gst_rtsp_auth_add_digest(auth, options_.user.c_str(), options_.password.c_str(), token);
        gst_rtsp_token_unref(token);
        gst_rtsp_server_set_auth(gst_->server, auth);
        g_object_unref(auth);

        GstRTSPPermissions* permissions = gst_rtsp_permissions_new();
        gst_rtsp_permissions_add_role(permissions, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                      G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                      G_TYPE_BOOLEAN, TRUE, static_cast<char*>(nullptr));
        gst_rtsp_media_factory_set_permissions(factory, permissions);
        gst_rtsp_permissions_unref(permissions);
    }
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(gst_->server);
    gst_rtsp_mount_points_add_factory(mounts, options_.path.c_str(), factory);
    g_object_unref(mounts);

    if (gst_rtsp_server_attach(gst_->server, gst_->context) == 0) {
        error = "cannot listen for RTSP on " + options_.bindAddress + ":" + std::to_string(options_.port);
        g_object_unref(gst_->server);
        g_main_loop_unref(gst_->loop);
        g_main_context_unref(gst_->context);
        gst_.reset();
        return false;
    }
    boundPort_ = gst_rtsp_server_get_bound_port(gst_->server);
    GMainLoop* loop = gst_->loop;
    GMainContext* context = gst_->context;
    thread_ = std::thread([loop, context] {
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        g_main_context_pop_thread_default(context);
    });
    return true;
}

void RtspStreamServer::Stop()
{
    if (silentSocket_ >= 0) {
        stopSilent_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        close(silentSocket_);
        silentSocket_ = -1;
        return;
    }
    if (!gst_) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(gst_->stopMutex);
        gst_->stopping = true;
    }
    gst_->stopSignal.notify_all();
    std::pair<GstRTSPServer*, GMainLoop*> target{gst_->server, gst_->loop};
    g_main_context_invoke(gst_->context, ShutDownInLoop, &target);
    if (thread_.joinable()) {
        thread_.join();
    }
    g_object_unref(gst_->server);
    g_main_loop_unref(gst_->loop);
    g_main_context_unref(gst_->context);
    gst_.reset();
}
