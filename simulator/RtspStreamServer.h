#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <cstdint>

// What one simulated device's RTSP server serves.
struct RtspStreamOptions {
    std::string bindAddress = "0.0.0.0";
    int port = 554; // 0: any free port (see RtspStreamServer::Port)
    std::string path = "/ch0_unicast_firststream";
    std::string user = "root";
    std::string password = "vbnq"; // Digest authentication; empty user: none
    int width = 720;
    int height = 576;
    int framesPerSecond = 25;
    int bitrateKbps = 1024;
    bool audio = false; // add an A-law audio stream
    // Non-empty: serve this H.264 Annex B clip in a loop at framesPerSecond,
    // as it is (no encoder runs; width, height and bitrate are the clip's).
    std::string clipPath;
    // Fault switches.
    int stopVideoAfterSeconds = 0;    // > 0: drop video after this many seconds of play, keep the session
    bool neverAnswerDescribe = false; // accept connections and read requests, answer nothing
};

// A live H.264 test picture (or a pre-encoded clip) over RTSP with RTP over UDP, on GStreamer's RTSP
// server library, with Digest authentication. Each client gets its own pipeline,
// so every connection starts with a key frame and its own fault clock. Runs a
// GLib main loop on a thread of its own; Stop joins it.
class RtspStreamServer final {
public:
    explicit RtspStreamServer(RtspStreamOptions options);
    ~RtspStreamServer();
    RtspStreamServer(const RtspStreamServer&) = delete;
    RtspStreamServer& operator=(const RtspStreamServer&) = delete;

    bool Start(std::string& error);
    void Stop();
    int Port() const { return boundPort_; }
    // The URL a client on the same network uses (with the bind address as host).
    std::string Url() const;
    // The launch description of the served pipeline.
    std::string PipelineDescription() const;

    // The access units of the clip, each with its start codes.
    using AccessUnits = std::vector<std::vector<uint8_t>>;

private:
    struct GstState;
    bool LoadClip(std::string& error);
    bool StartSilentListener(std::string& error);

    RtspStreamOptions options_;
    std::unique_ptr<GstState> gst_;
    std::thread thread_;
    int silentSocket_ = -1;
    std::atomic<bool> stopSilent_{false};
    int boundPort_ = 0;
    AccessUnits clip_;
};
