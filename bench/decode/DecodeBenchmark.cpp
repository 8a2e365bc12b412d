// Live view throughput: H.264 decoding plus the picture-to-image conversion,
// NAL unit by NAL unit as the RTSP sink delivers them, against the ffmpeg
// command-line tool decoding and converting the same clip to RGB24 on one
// thread; and the colour conversion alone. Decoding is measured twice: on one
// thread with every picture converted at its own size into RGB24, and as the
// live view does it (the decoder's threads for pictures above 720x576, those
// scaled to the 720x576 views while they are converted straight from the
// decoded planes into the views' RGB32 image). The clips are made on the
// first run with the ffmpeg command-line tool (camera-like: noisy test
// picture, Main profile, no B-frames, a key frame every second). The load
// average is printed before and after: the figures are only comparable
// within one run.
//
// Usage: qel_decode_bench [Google Benchmark options]

#include "AnnexB.h"
#include "CameraClips.h"
#include "PictureToImage.h"
#include "UYVYFrame.h"
#include "X264Decoder.h"
#include "YUVToRgb.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The views' size.
constexpr uint32_t kViewWidth = 720;
constexpr uint32_t kViewHeight = 576;

// NAL units with a four-byte start code each, as the sink hands them on.
std::vector<Bytes> NalUnits(const Bytes& stream)
{
    std::vector<Bytes> units = SplitNalUnits(stream);
    // An access unit delimiter lets the last picture out.
    units.push_back({0, 0, 0, 1, 0x09, 0xF0});
    return units;
}

std::map<std::string, std::vector<Bytes>> g_units;
// Best of the repetitions, frames per second of wall time and of processor
// time (the second is the fair one on a machine that others share).
std::map<std::string, double> g_ourFps;
std::map<std::string, double> g_ourCpuFps;
std::map<std::string, double> g_viewFps;
std::map<std::string, double> g_viewCpuFps;
std::map<std::string, double> g_ffmpegFps; // from ffmpeg's own timing
std::map<std::string, double> g_ffmpegCpuFps;
std::map<std::string, double> g_ffmpegWallFps; // the whole command, process start included
std::map<std::string, int> g_threads;          // the live view's decoding threads

std::string LoadAverage()
{
    std::string text;
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        char line[128] = {};
        if (std::fgets(line, sizeof line, file) != nullptr) {
            text = line;
        }
        std::fclose(file);
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// Of every thread of the process: the decoder's own threads count too.
double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void Best(std::map<std::string, double>& table, const std::string& key, double value)
{
    double& slot = table[key];
    slot = std::max(slot, value);
}

void BM_DecodeAndImage(benchmark::State& state, const CameraClip* camera, bool forView)
{
    const std::vector<Bytes>& units = g_units[camera->size];
    int64_t pictures = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = ProcessCpuSeconds();
        H264AvDecoder decoder;
        if (forView) {
            decoder.SetMaxOutputSize(kViewWidth, kViewHeight);
        } else {
            decoder.SetMaxThreads(1);
        }
        decoder.initilalize();
        int64_t run = 0;
        for (const Bytes& unit : units) {
            if (forView) {
                if (decoder.DecodePicture(unit.data(), static_cast<uint32_t>(unit.size()))) {
                    const QImage image = DecodedPictureToImage(decoder);
                    benchmark::DoNotOptimize(image.constBits());
                    ++run;
                }
            } else if (const UYVYFrame* picture =
                           decoder.decode(unit.data(), static_cast<uint32_t>(unit.size()))) {
                const QImage image = PictureToImage(*picture, QImage::Format_RGB888);
                benchmark::DoNotOptimize(image.constBits());
                ++run;
            }
        }
        g_threads[camera->size] = decoder.DecodingThreads();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Best(forView ? g_viewFps : g_ourFps, camera->size, static_cast<double>(run) / seconds);
        Best(forView ? g_viewCpuFps : g_ourCpuFps, camera->size,
             static_cast<double>(run) / (ProcessCpuSeconds() - cpuStart));
        pictures += run;
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
}

// Runs the reference command; its own "-benchmark" timing (the transcoding
// without process start and probing) is the manual time of the iteration.
void BM_FfmpegReference(benchmark::State& state, const CameraClip* camera)
{
    const std::string command = "ffmpeg -hide_banner -nostdin -nostats -benchmark -threads 1 -i '" +
                                CameraClipPath(*camera) + "' -pix_fmt rgb24 -f null - 2>&1";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            state.SkipWithError("popen failed");
            return;
        }
        std::string output;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        const int status = pclose(pipe);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const size_t at = output.find("rtime=");
        if (status != 0 || at == std::string::npos) {
            state.SkipWithError("ffmpeg failed or printed no timing");
            return;
        }
        const double rtime = std::strtod(output.c_str() + at + 6, nullptr);
        const size_t user = output.find("utime=");
        const size_t system = output.find("stime=");
        if (user != std::string::npos && system != std::string::npos) {
            const double cpu = std::strtod(output.c_str() + user + 6, nullptr) +
                               std::strtod(output.c_str() + system + 6, nullptr);
            Best(g_ffmpegCpuFps, camera->size, camera->frames / cpu);
        }
        state.SetIterationTime(rtime);
        Best(g_ffmpegFps, camera->size, camera->frames / rtime);
        Best(g_ffmpegWallFps, camera->size, camera->frames / wall);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(camera->frames) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// The last picture of the clip, decoded once, as conversion input.
std::unique_ptr<H264AvDecoder> g_pictureOwner[std::size(kCameraClips)];
const UYVYFrame* LastPicture(size_t clip)
{
    if (!g_pictureOwner[clip]) {
        g_pictureOwner[clip] = std::make_unique<H264AvDecoder>();
        g_pictureOwner[clip]->initilalize();
    }
    static const UYVYFrame* pictures[std::size(kCameraClips)] = {};
    if (pictures[clip] == nullptr) {
        for (const Bytes& unit : g_units[kCameraClips[clip].size]) {
            if (const UYVYFrame* p =
                    g_pictureOwner[clip]->decode(unit.data(), static_cast<uint32_t>(unit.size()))) {
                pictures[clip] = p;
            }
        }
    }
    return pictures[clip];
}

void SetPixelRate(benchmark::State& state, const UYVYFrame& picture)
{
    const double pixels = static_cast<double>(picture.width()) * picture.height();
    state.counters["MP/s"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_PictureToImage(benchmark::State& state, size_t clip)
{
    const UYVYFrame& picture = *LastPicture(clip);
    for (auto _ : state) {
        const QImage image = PictureToImage(picture);
        benchmark::DoNotOptimize(image.constBits());
    }
    SetPixelRate(state, picture);
}

// The live view's conversion: straight from the decoded planes into RGB32.
void BM_DecodedPictureToImage(benchmark::State& state, size_t clip)
{
    const UYVYFrame& picture = *LastPicture(clip);
    H264AvDecoder& decoder = *g_pictureOwner[clip];
    for (auto _ : state) {
        const QImage image = DecodedPictureToImage(decoder);
        benchmark::DoNotOptimize(image.constBits());
    }
    SetPixelRate(state, picture);
}

// The same conversion with the per-pixel reference formula, for comparison.
void BM_ReferenceFormula(benchmark::State& state, size_t clip)
{
    const UYVYFrame& picture = *LastPicture(clip);
    const uint32_t width = picture.width();
    std::vector<uint8_t> rgb(3 * static_cast<size_t>(width) * picture.height());
    for (auto _ : state) {
        const uint8_t* in = picture.data();
        uint8_t* out = rgb.data();
        for (size_t pair = 0; pair < static_cast<size_t>(width) / 2 * picture.height();
             ++pair, in += 4, out += 6) {
            kro_v4l2::YUVToRgb(in[1], in[0], in[2], out[2], out[1], out[0]);
            kro_v4l2::YUVToRgb(in[3], in[0], in[2], out[5], out[4], out[3]);
        }
        benchmark::DoNotOptimize(rgb.data());
    }
    SetPixelRate(state, picture);
}

} // namespace

int main(int argc, char** argv)
{
    for (const CameraClip& camera : kCameraClips) {
        if (!MakeCameraClip(camera)) {
            std::fprintf(stderr, "cannot make the clip %s (is the ffmpeg command-line tool installed?)\n",
                         CameraClipPath(camera).c_str());
            return 1;
        }
        g_units[camera.size] = NalUnits(ReadFileBytes(CameraClipPath(camera)));
    }

    for (size_t i = 0; i < std::size(kCameraClips); ++i) {
        const CameraClip* camera = &kCameraClips[i];
        // Ours and the reference alternate, so that a busy machine hurts both
        // alike; the small clip's rounds are short, so it gets more of them.
        const int rounds = camera->width <= 720 ? 6 : 3;
        for (int round = 0; round < rounds; ++round) {
            benchmark::RegisterBenchmark((std::string("DecodeAndImage/") + camera->size).c_str(),
                                         BM_DecodeAndImage, camera, false)
                ->Iterations(2)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("DecodeForView/") + camera->size).c_str(),
                                         BM_DecodeAndImage, camera, true)
                ->Iterations(2)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("FfmpegRgb24/") + camera->size).c_str(),
                                         BM_FfmpegReference, camera)
                ->Iterations(2)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark((std::string("PictureToImage/") + camera->size).c_str(),
                                     BM_PictureToImage, i)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("DecodedPictureToImage/") + camera->size).c_str(),
                                     BM_DecodedPictureToImage, i)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("ReferenceFormula/") + camera->size).c_str(),
                                     BM_ReferenceFormula, i)
            ->Unit(benchmark::kMicrosecond);
    }

    const std::string loadBefore = LoadAverage();
    std::printf("load average before: %s\n", loadBefore.c_str());
    std::fflush(stdout);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nload average before: %s, after: %s\n", loadBefore.c_str(), LoadAverage().c_str());
    std::printf(
        "Decode plus picture-to-image against ffmpeg -threads 1 ... -pix_fmt rgb24, best of the runs:\n");
    for (const CameraClip& camera : kCameraClips) {
        const double ffmpeg = g_ffmpegFps[camera.size];
        const double ffmpegCpu = g_ffmpegCpuFps[camera.size];
        if (ffmpeg <= 0 || ffmpegCpu <= 0) {
            continue;
        }
        std::printf("  %-10s one thread, own size, RGB24: processor time ours %6.1f fps, ffmpeg %6.1f fps,"
                    " ratio %.2f\n",
                    camera.size, g_ourCpuFps[camera.size], ffmpegCpu, g_ourCpuFps[camera.size] / ffmpegCpu);
        std::printf("  %-10s one thread, own size, RGB24: wall time      ours %6.1f fps, ffmpeg %6.1f fps,"
                    " ratio %.2f (whole ffmpeg command %.1f fps)\n",
                    camera.size, g_ourFps[camera.size], ffmpeg, g_ourFps[camera.size] / ffmpeg,
                    g_ffmpegWallFps[camera.size]);
        std::printf("  %-10s as the live view (%d decoding thread%s, at most %ux%u, RGB32):"
                    " wall time %6.1f fps, ratio %.2f; processor time %6.1f fps,"
                    " ratio %.2f\n",
                    camera.size, g_threads[camera.size], g_threads[camera.size] == 1 ? "" : "s", kViewWidth,
                    kViewHeight, g_viewFps[camera.size], g_viewFps[camera.size] / ffmpeg,
                    g_viewCpuFps[camera.size], g_viewCpuFps[camera.size] / ffmpegCpu);
    }
    return 0;
}
