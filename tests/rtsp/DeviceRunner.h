#pragma once

#include "IErrorHandler.h"
#include "IFrameObserver.h"
#include "RtspDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <iostream>
#include <sstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Runs one RtspDevice on a video thread of its own, as the live view does: the
// error handler records the text and stops the device; the observer records
// what arrives. Test helper for the end-to-end tests.
class DeviceRunner final : public IErrorHandler, public IFrameObserver {
public:
    struct Frame {
        std::vector<unsigned char> bytes; // kept for key frames only
        uint64_t size = 0;
        bool key = false;
        int64_t timestamp = 0;
        std::chrono::steady_clock::time_point arrival;
    };

    DeviceRunner(const std::string& url, const std::string& login, const std::string& password)
        : device_(std::make_unique<RtspDevice>(url.c_str(), login, password, 1, nullptr, 0))
    {
        device_->SetErrorHandler(this);
        device_->AddFrameObserver(this);
    }

    ~DeviceRunner() override
    {
        device_->SetStopFlag();
        if (run_.valid()) {
            run_.wait();
        }
    }

    void Start()
    {
        run_ = std::async(std::launch::async, [this] { device_->Run(); });
    }

    // True once Run has returned within `timeout`.
    bool WaitForEnd(std::chrono::milliseconds timeout)
    {
        return run_.wait_for(timeout) == std::future_status::ready;
    }

    template <typename Predicate> bool WaitFor(std::chrono::milliseconds timeout, Predicate predicate)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return predicate(); });
    }

    void ErrorOccured(RtspDevice* device, const std::string& text) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            errors_.push_back(text);
            errorTimes_.push_back(std::chrono::steady_clock::now());
        }
        changed_.notify_all();
        device->SetStopFlag();
    }

    std::string GetLastError() const override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return errors_.empty() ? std::string() : errors_.back();
    }

    void NotifyDataReceived(const kro::IVideoFrame* frame, kro::UnitKind kind) override
    {
        const bool isKeyFrame = kro::IsKeyFrame(kind);
        Frame received;
        received.size = frame->getSize();
        received.key = isKeyFrame;
        received.timestamp = frame->getDescriptor().timestamp;
        received.arrival = std::chrono::steady_clock::now();
        if (isKeyFrame) {
            const auto* data = static_cast<const unsigned char*>(frame->getData());
            received.bytes.assign(data, data + frame->getSize());
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            frames_.push_back(std::move(received));
        }
        changed_.notify_all();
    }

    RtspDevice& Device() { return *device_; }

    // Under the lock, for WaitFor predicates.
    const std::vector<Frame>& FramesLocked() const { return frames_; }
    const std::vector<std::string>& ErrorsLocked() const { return errors_; }

    std::vector<Frame> Frames() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    std::vector<std::string> Errors() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }
    std::vector<std::chrono::steady_clock::time_point> ErrorTimes() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return errorTimes_;
    }

private:
    std::unique_ptr<RtspDevice> device_;
    std::future<void> run_;
    mutable std::mutex mutex_; // guards frames_, errors_, errorTimes_
    std::condition_variable changed_;
    std::vector<Frame> frames_;
    std::vector<std::string> errors_;
    std::vector<std::chrono::steady_clock::time_point> errorTimes_;
};

// Collects what is written to std::cerr (the client's progress lines) while it
// lives. Only the stream is redirected, so sanitizer reports still reach fd 2.
// Install it before the video thread starts and drop it after it has ended.
class CerrCapture final {
public:
    CerrCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(previous_); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;
    std::string Text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* previous_ = nullptr;
};

// The device namespace of the virtual LAN these tests use, and its stream URL.
// The last of the fixture's four devices: the other suites mostly use the first ones.
inline std::string LanDeviceNamespace()
{
    return "dev4";
}

inline std::string LanDeviceUrl()
{
    return "rtsp://10.77.0.14/ch0_unicast_firststream";
}

// The workstation namespace's address, where the tests run.
inline std::string LanWorkstationAddress()
{
    return "10.77.0.1";
}
