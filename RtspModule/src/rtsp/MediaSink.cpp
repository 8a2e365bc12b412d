#include "MediaSink.h"

MediaSink::~MediaSink()
{
    stopPlaying();
}

bool MediaSink::startPlaying(FramedSource& source, afterPlayingFunc* afterFunc, void* afterClientData)
{
    if (fSource != nullptr) {
        envir().setResultMsg("This sink is already being played");
        return false;
    }
    fSource = &source;
    afterFunc_ = afterFunc;
    afterClientData_ = afterClientData;
    return continuePlaying();
}

void MediaSink::stopPlaying()
{
    if (fSource != nullptr) {
        fSource->stopGettingFrames();
    }
    fSource = nullptr;
    afterFunc_ = nullptr;
}

void MediaSink::onSourceClosure(void* clientData)
{
    auto* sink = static_cast<MediaSink*>(clientData);
    sink->fSource = nullptr;
    afterPlayingFunc* afterFunc = sink->afterFunc_;
    sink->afterFunc_ = nullptr;
    // The after-playing function may close the sink: nothing touches it afterwards.
    if (afterFunc != nullptr) {
        afterFunc(sink->afterClientData_);
    }
}
