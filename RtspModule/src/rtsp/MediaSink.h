#pragma once

#include "FramedSource.h"

// Consumer of a FramedSource. startPlaying attaches the source and starts the
// subclass's read cycle (continuePlaying); when the source closes, the
// after-playing function is called.
class MediaSink : public Medium {
public:
    using afterPlayingFunc = void(void* clientData);

    bool startPlaying(FramedSource& source, afterPlayingFunc* afterFunc, void* afterClientData);
    void stopPlaying();
    FramedSource* source() const { return fSource; }

    // Closure handler for getNextFrame (clientData = the sink).
    static void onSourceClosure(void* clientData);

protected:
    explicit MediaSink(UsageEnvironment& env) : Medium(env) {}
    ~MediaSink() override;

    virtual bool continuePlaying() = 0;

    FramedSource* fSource = nullptr;

private:
    afterPlayingFunc* afterFunc_ = nullptr;
    void* afterClientData_ = nullptr;
};
