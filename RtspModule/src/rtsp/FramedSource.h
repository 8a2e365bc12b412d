#pragma once

#include "Medium.h"

#include <sys/time.h>

// A source that hands out one frame at a time into a buffer its reader gives.
// The reader asks with getNextFrame and is called back once per frame (possibly
// later, from the loop); the source never writes more than the given size and
// reports what it had to cut off.
class FramedSource : public Medium {
public:
    using afterGettingFunc = void(void* clientData, unsigned frameSize, unsigned numTruncatedBytes,
                                  timeval presentationTime, unsigned durationInMicroseconds);
    using onCloseFunc = void(void* clientData);

    void getNextFrame(unsigned char* to, unsigned maxSize, afterGettingFunc* afterGettingFunc,
                      void* afterGettingClientData, onCloseFunc* onCloseFunc, void* onCloseClientData);
    void stopGettingFrames();
    bool isCurrentlyAwaitingData() const { return isCurrentlyAwaitingData_; }

    // Tells the reader that no more frames will come (clientData = the source).
    static void handleClosure(void* clientData);

protected:
    explicit FramedSource(UsageEnvironment& env) : Medium(env) {}

    virtual void doGetNextFrame() = 0;
    virtual void doStopGettingFrames() {}

    // Completes the pending read with fFrameSize, fNumTruncatedBytes and fPresentationTime.
    static void afterGetting(FramedSource* source);

    unsigned char* fTo = nullptr;
    unsigned fMaxSize = 0;
    unsigned fFrameSize = 0;
    unsigned fNumTruncatedBytes = 0;
    timeval fPresentationTime{};
    unsigned fDurationInMicroseconds = 0;

private:
    afterGettingFunc* afterGettingFunc_ = nullptr;
    void* afterGettingClientData_ = nullptr;
    onCloseFunc* onCloseFunc_ = nullptr;
    void* onCloseClientData_ = nullptr;
    bool isCurrentlyAwaitingData_ = false;
};
