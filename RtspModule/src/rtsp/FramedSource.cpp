#include "FramedSource.h"

void FramedSource::getNextFrame(unsigned char* to, unsigned maxSize, afterGettingFunc* afterGettingFunc,
                                void* afterGettingClientData, onCloseFunc* onCloseFunc,
                                void* onCloseClientData)
{
    if (isCurrentlyAwaitingData_) {
        // One read at a time: a second request while one is pending is a caller bug
        // that must not corrupt the pending one.
        return;
    }
    fTo = to;
    fMaxSize = maxSize;
    fNumTruncatedBytes = 0;
    fDurationInMicroseconds = 0;
    afterGettingFunc_ = afterGettingFunc;
    afterGettingClientData_ = afterGettingClientData;
    onCloseFunc_ = onCloseFunc;
    onCloseClientData_ = onCloseClientData;
    isCurrentlyAwaitingData_ = true;
    doGetNextFrame();
}

void FramedSource::stopGettingFrames()
{
    isCurrentlyAwaitingData_ = false;
    doStopGettingFrames();
}

void FramedSource::afterGetting(FramedSource* source)
{
    source->isCurrentlyAwaitingData_ = false;
    if (source->afterGettingFunc_ != nullptr) {
        source->afterGettingFunc_(source->afterGettingClientData_, source->fFrameSize,
                                  source->fNumTruncatedBytes, source->fPresentationTime,
                                  source->fDurationInMicroseconds);
    }
}

void FramedSource::handleClosure(void* clientData)
{
    auto* source = static_cast<FramedSource*>(clientData);
    source->isCurrentlyAwaitingData_ = false;
    if (source->onCloseFunc_ != nullptr) {
        source->onCloseFunc_(source->onCloseClientData_);
    }
}
