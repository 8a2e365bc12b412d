#pragma once

// The camera-like clips that the decoding and live-view benchmarks share, so
// that both measure the very same streams. They are made with the ffmpeg
// command-line tool on the first run and kept in the build tree.

#include <string>

struct CameraClip {
    const char* size; // "WxH"
    int width;
    int height;
    int frames;
    const char* bitrate;
};

extern const CameraClip kCameraClips[3];

std::string CameraClipPath(const CameraClip& clip);

// Makes the clip unless it is there already; false when ffmpeg failed.
bool MakeCameraClip(const CameraClip& clip);
