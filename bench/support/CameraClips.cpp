#include "CameraClips.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

// The bitrates of the devices' own encoder at these sizes; the last row is
// today's 4K cameras.
const CameraClip kCameraClips[3] = {
    {"720x576", 720, 576, 250, "2M"},
    {"1920x1080", 1920, 1080, 150, "4M"},
    {"3840x2160", 3840, 2160, 50, "16M"},
};

std::string CameraClipPath(const CameraClip& clip)
{
    // The bitrate is part of the name, so a clip made by an older recipe is
    // not taken for this one.
    return std::string(QEL_BENCH_CLIP_DIR) + "/camera_" + clip.size + "_" + clip.bitrate + "_cbr.h264";
}

namespace {

bool FileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

} // namespace

bool MakeCameraClip(const CameraClip& clip)
{
    const std::string path = CameraClipPath(clip);
    if (FileExists(path)) {
        return true;
    }
    std::system((std::string("mkdir -p '") + QEL_BENCH_CLIP_DIR + "'").c_str());
    std::printf("making %s\n", path.c_str());
    std::fflush(stdout);
    // Looped by the device: a noisy moving test picture, Main profile, no
    // B-frames, a key frame every second. The bitrate is held as a camera's
    // encoder holds it, with a buffer of one second: without the cap, the
    // rate control of a short noisy clip spends several megabytes on each of
    // its first pictures (the 4K clip came out at 107 Mbit/s instead of 16).
    const std::string bitrate = clip.bitrate;
    const std::string command =
        std::string("ffmpeg -hide_banner -nostdin -y -v error -f lavfi -i testsrc2=size=") + clip.size +
        ":rate=25 -frames:v " + std::to_string(clip.frames) +
        " -vf noise=alls=12:allf=t -pix_fmt yuv420p -c:v libx264 -profile:v main -bf 0 -g 25 -b:v " +
        bitrate + " -maxrate " + bitrate + " -bufsize " + bitrate + " -f h264 '" + path + "'";
    return std::system(command.c_str()) == 0 && FileExists(path);
}
