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
    int holdTeardownAnswerMs = 0;     // > 0: answer TEARDOWN this much later; < 0: never (until Stop)
    int endStreamAfterSeconds = 0;    // > 0: end the video (RTCP BYE) after this many seconds
    int announcedRangeSeconds = 0;    // > 0: the SDP announces a play range of this length
    bool failPlay = false;            // answer PLAY with 503 Service Unavailable
    std::string contentBase;          // non-empty: the Content-Base of the DESCRIBE answer
    bool closeAfterPlay = false;      // close the RTSP connection right after PLAY; the session stays
    bool dropUdp = false;             // RTP/RTCP over UDP is sent where no client listens (a firewall)
    bool refuseUdp = false;           // answer SETUP for UDP with 461 Unsupported Transport
};

// A live H.264 test picture (or a pre-encoded clip) over RTSP with RTP over UDP, or interleaved on
// the RTSP connection when the client asks so, on GStreamer's RTSP server library, with Digest
// authentication. Each client gets its own pipeline,
// so every connection starts with a key frame and its own fault clock. Says
// every request it answers on standard output ("qel-device-sim: rtsp request
// METHOD URL"), and each transport a SETUP asks for ("qel-device-sim: rtsp
// transport TRANSPORT"). Runs a GLib main loop on a thread of its own; Stop joins it
// (and ends a TEARDOWN answer held back).
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
    // The GLib side, shared with the server's signal handlers.
    struct GstState;

private:
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
