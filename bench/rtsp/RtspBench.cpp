// Figures of the live video transport, each measured in one run against
// streams of the simulator's RTSP server on loopback (served in process):
//   1. time from Run to the first delivered key frame, next to ffprobe reading
//      its first video packet from the same URL (process start included);
//   2. time from SetStopFlag to Run returning, while streaming and while idle;
//   3. CPU time of the video thread per minute connected to a 720x576 25 fps
//      stream, and per minute idle with a device that has stopped sending.
// Usage: rtsp_bench [--rounds N] [--cpu-seconds S]
#include "IErrorHandler.h"
#include "IFrameObserver.h"
#include "RtspDevice.h"
#include "RtspStreamServer.h"

#include <easylogging++.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <future>
#include <memory>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A connection as the live view makes one, on a video thread of its own.
class Connection final : public IFrameObserver, public IErrorHandler {
public:
    explicit Connection(const std::string& url) : device_(url.c_str(), "root", "vbnq", 0, nullptr, 0)
    {
        device_.AddFrameObserver(this);
        device_.SetErrorHandler(this);
    }
    ~Connection() override { Stop(); }

    void Start()
    {
        started_ = Clock::now();
        thread_ = std::thread([this] {
            clockid_t id{};
            pthread_getcpuclockid(pthread_self(), &id);
            cpuClock_ = id;
            haveCpuClock_ = true;
            device_.Run();
            ended_ = Clock::now();
            runReturned_ = true;
        });
        while (!haveCpuClock_) {
            std::this_thread::yield();
        }
    }

    // Milliseconds from SetStopFlag until Run returned.
    double Stop()
    {
        if (!thread_.joinable()) {
            return 0.0;
        }
        const auto requested = Clock::now();
        device_.SetStopFlag();
        thread_.join();
        return Ms(ended_ - requested);
    }

    bool WaitForKeyFrame(Clock::duration timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (!gotKeyFrame_ && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        return gotKeyFrame_;
    }

    double MsToFirstKeyFrame() const { return Ms(firstKeyFrame_ - started_); }
    size_t Frames() const { return frames_; }
    Clock::time_point LastFrame() const { return Clock::time_point(Clock::duration(lastFrame_.load())); }

    double CpuSeconds() const
    {
        timespec ts{};
        clock_gettime(cpuClock_, &ts);
        return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
    }

    void NotifyDataReceived(const kro::IVideoFrame* /*frame*/, kro::UnitKind kind) override
    {
        ++frames_;
        lastFrame_ = Clock::now().time_since_epoch().count();
        if (kro::IsKeyFrame(kind) && !gotKeyFrame_) {
            firstKeyFrame_ = Clock::now();
            gotKeyFrame_ = true;
        }
    }
    void ErrorOccured(RtspDevice* device, const std::string& text) override
    {
        std::fprintf(stderr, "rtsp_bench: device error: %s\n", text.c_str());
        device->SetStopFlag();
    }
    std::string GetLastError() const override { return std::string(); }

private:
    RtspDevice device_;
    std::thread thread_;
    std::atomic<bool> haveCpuClock_{false};
    clockid_t cpuClock_{};
    Clock::time_point started_;
    Clock::time_point ended_;
    std::atomic<bool> runReturned_{false};
    Clock::time_point firstKeyFrame_;
    std::atomic<bool> gotKeyFrame_{false};
    std::atomic<size_t> frames_{0};
    std::atomic<Clock::rep> lastFrame_{0};
};

// Milliseconds from starting ffprobe until it prints its first video packet; < 0 on failure.
double FfprobeFirstPacketMs(const std::string& urlWithCredentials, const std::string& extraOptions)
{
    const std::string command = "ffprobe -v error -rtsp_transport udp " + extraOptions +
                                " -select_streams v:0 -show_packets "
                                "-read_intervals %+#1 -of compact=p=0 \"" +
                                urlWithCredentials + "\" 2>/dev/null";
    const auto start = Clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1.0;
    }
    char line[4096];
    double result = -1.0;
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        if (result < 0 && std::strstr(line, "codec_type=video") != nullptr) {
            result = Ms(Clock::now() - start);
        }
    }
    pclose(pipe);
    return result;
}

std::string WithCredentials(const std::string& url)
{
    return "rtsp://root:vbnq@" + url.substr(std::strlen("rtsp://"));
}

} // namespace

int main(int argc, char* argv[])
{
    int rounds = 5;
    int cpuSeconds = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--cpu-seconds") == 0) {
            cpuSeconds = std::max(2, std::atoi(argv[i + 1]));
        }
    }
    // The benchmark reports figures; the client's own records would only add noise.
    el::Configurations logConf;
    logConf.setToDefault();
    logConf.setGlobally(el::ConfigurationType::Enabled, "false");
    el::Loggers::reconfigureAllLoggers(logConf);
    // The client's progress lines go to standard error; keep the figures readable.
    if (std::getenv("RTSP_BENCH_KEEP_STDERR") == nullptr) {
        std::freopen("/dev/null", "w", stderr);
    }

    RtspStreamOptions live;
    live.bindAddress = "127.0.0.1";
    live.port = 0;
    live.width = 720;
    live.height = 576;
    live.framesPerSecond = 25;
    RtspStreamServer liveServer(live);
    RtspStreamOptions silent = live;
    silent.stopVideoAfterSeconds = 2;
    RtspStreamServer silentServer(silent);
    RtspStreamOptions hanging = live;
    hanging.neverAnswerDescribe = true;
    RtspStreamServer hangingServer(hanging);
    std::string error;
    if (!liveServer.Start(error) || !silentServer.Start(error) || !hangingServer.Start(error)) {
        std::printf("rtsp_bench: cannot serve: %s\n", error.c_str());
        return 1;
    }
    std::printf("stream: %s, 720x576 at 25 fps, H.264, RTP over UDP, loopback\n", liveServer.Url().c_str());

    // 1. First key frame, alternating with the ffprobe reference.
    std::vector<double> ours;
    std::vector<double> reference;
    std::vector<double> quickReference;
    std::vector<double> stopStreaming;
    for (int round = 0; round < rounds; ++round) {
        Connection connection(liveServer.Url());
        connection.Start();
        if (connection.WaitForKeyFrame(20s)) {
            ours.push_back(connection.MsToFirstKeyFrame());
        }
        std::this_thread::sleep_for(300ms);
        stopStreaming.push_back(connection.Stop());
        const double probe = FfprobeFirstPacketMs(WithCredentials(liveServer.Url()), "");
        if (probe >= 0) {
            reference.push_back(probe);
        }
        const double quick =
            FfprobeFirstPacketMs(WithCredentials(liveServer.Url()), "-analyzeduration 0 -probesize 32");
        if (quick >= 0) {
            quickReference.push_back(quick);
        }
    }
    std::printf("first key frame:          RtspDevice median %.1f ms (min %.1f, max %.1f, %zu runs)\n",
                Median(ours), ours.empty() ? 0.0 : *std::min_element(ours.begin(), ours.end()),
                ours.empty() ? 0.0 : *std::max_element(ours.begin(), ours.end()), ours.size());
    std::printf("                          ffprobe -rtsp_transport udp first video packet median %.1f ms "
                "(%zu runs, process start included)\n",
                Median(reference), reference.size());
    std::printf("                          the same with -analyzeduration 0 -probesize 32: median %.1f ms "
                "(%zu runs)\n",
                Median(quickReference), quickReference.size());

    // 2. Stop latency while streaming (above) and while idle.
    std::vector<double> stopIdle;
    {
        Connection idle(silentServer.Url());
        idle.Start();
        idle.WaitForKeyFrame(20s);
        std::this_thread::sleep_for(4s); // the server has stopped sending
        stopIdle.push_back(idle.Stop());
    }
    for (int round = 1; round < rounds; ++round) {
        Connection waiting(hangingServer.Url()); // DESCRIBE never answered: the loop only waits
        waiting.Start();
        std::this_thread::sleep_for(200ms);
        stopIdle.push_back(waiting.Stop());
    }
    std::printf(
        "stop latency:             streaming median %.2f ms (max %.2f); idle median %.2f ms (max %.2f)\n",
        Median(stopStreaming),
        stopStreaming.empty() ? 0.0 : *std::max_element(stopStreaming.begin(), stopStreaming.end()),
        Median(stopIdle), stopIdle.empty() ? 0.0 : *std::max_element(stopIdle.begin(), stopIdle.end()));

    // 3. CPU time of the video thread, measured over a window and scaled to a minute.
    const double scale = 60.0 / cpuSeconds;
    {
        Connection streaming(liveServer.Url());
        streaming.Start();
        streaming.WaitForKeyFrame(20s);
        const double cpuBefore = streaming.CpuSeconds();
        const size_t framesBefore = streaming.Frames();
        std::this_thread::sleep_for(std::chrono::seconds(cpuSeconds));
        const double cpu = streaming.CpuSeconds() - cpuBefore;
        const size_t units = streaming.Frames() - framesBefore;
        std::printf("video thread CPU:         connected %.3f s per minute (%.2f%% of a core; %zu NAL units "
                    "in %d s, measured over %d s and scaled)\n",
                    cpu * scale, cpu * 100.0 / cpuSeconds, units, cpuSeconds, cpuSeconds);
    }
    {
        Connection idle(silentServer.Url());
        idle.Start();
        idle.WaitForKeyFrame(20s);
        std::this_thread::sleep_for(3s); // past the server's stop
        const double cpuBefore = idle.CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(cpuSeconds));
        const double cpu = idle.CpuSeconds() - cpuBefore;
        std::printf("                          idle (device silent) %.4f s per minute (%.3f%% of a core, "
                    "measured over %d s and scaled)\n",
                    cpu * scale, cpu * 100.0 / cpuSeconds, cpuSeconds);
    }
    liveServer.Stop();
    silentServer.Stop();
    hangingServer.Stop();
    return 0;
}
