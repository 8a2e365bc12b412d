#pragma once

#include "IErrorHandler.h"
#include "IFrameObserver.h"
#include "RTSPClient.h"
#include "TaskScheduler.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class BasicUsageEnvironment;
class MediaSession;
class MediaSubsession;
class MediaSubsessionIterator;
class ThreadSafeTaskScheduler;

// The session being set up and played.
class StreamClientState {
public:
    StreamClientState() = default;
    ~StreamClientState();
    StreamClientState(const StreamClientState&) = delete;
    StreamClientState& operator=(const StreamClientState&) = delete;

    MediaSubsessionIterator* iter = nullptr; // owned
    MediaSession* session = nullptr;         // owned
    MediaSubsession* subsession = nullptr;   // being set up; not owned
    TaskToken streamTimerTask = nullptr;
    double duration = 0.0;
};

// The scheduler and environment of one device. A base placed before RTSPClient,
// so they are made before the client and released after it.
class RtspDeviceEnvironment {
protected:
    RtspDeviceEnvironment();
    ~RtspDeviceEnvironment();
    RtspDeviceEnvironment(const RtspDeviceEnvironment&) = delete;
    RtspDeviceEnvironment& operator=(const RtspDeviceEnvironment&) = delete;

    std::unique_ptr<ThreadSafeTaskScheduler> ownScheduler_;
    std::unique_ptr<BasicUsageEnvironment> ownEnvironment_;
};

// Pulls one device's live H.264 video over RTSP. Run blocks on the video thread
// while the stream runs: DESCRIBE, SETUP of every subsession, PLAY, a keep-alive
// every 6 s and a liveness check that stops the loop after more than 60 s
// without a NAL unit. RTP comes over UDP first; when the device refuses UDP
// (461), or no RTP packet has arrived 3 s after PLAY (a firewall that drops
// UDP), the stream is set up again on a new RTSP connection with RTP and RTCP
// interleaved on it, and stays there. A closed connection then ends the video,
// and is reported. Fatal problems, and every end of the stream that the
// device announces (a failed PLAY, an RTCP BYE, the end of the announced range,
// a failed keep-alive, a closed RTSP connection that cannot be made again for
// the session), go as texts to the error handler at once. The device URL's
// host must be a numeric IPv4 address. Stop it with SetStopFlag from any thread; Run then sends
// TEARDOWN and returns without waiting for its answer. Destroy it on another
// thread once Run has returned. It never restarts.
class RtspDevice final : private RtspDeviceEnvironment, public RTSPClient {
public:
    RtspDevice(const char* rtspURL, std::string login, std::string password, int verbosityLevel,
               const char* applicationName, portNumBits tunnelOverHTTPPortNum);
    ~RtspDevice() override;

    void Run();
    void SetStopFlag();
    void Stop();

    void AddFrameObserver(IFrameObserver* observer);
    void RemoveFrameObserver(IFrameObserver* observer);
    std::vector<IFrameObserver*> GetFrameObservers() const;

    StreamClientState& GetStreamClientState() { return scs_; }

    void ReportError(const std::string& text);
    // An error that another connection to the same device would meet again
    // (refused credentials, no such stream, a picture too large to show, the
    // end of a stream of a given length).
    void ReportFinalError(const std::string& text);
    // After Run has returned: whether a reported error was final.
    bool EndIsFinal() const { return endIsFinal_; }
    void SetErrorHandler(IErrorHandler* handler) { errorHandler_ = handler; }

    void UpdateLastUsedTime(long long seconds) { lastUsedTime_ = seconds; }
    long long GetLastUsedTime() const { return lastUsedTime_; }

    const std::string& Url() const { return url_; }

    // "UDP" or "TCP": how RTP reaches this device's client. Any thread.
    std::string TransportName() const;
    bool IsOverTcp() const { return overTcp_; }
    // Initiates a subsession on the next free pair of interleaved channels.
    bool InitiateInterleaved(MediaSubsession& subsession);
    // PLAY was answered: the stream runs; over UDP, its arrival is checked.
    void NotePlaying();
    // Sets the stream up again over the RTSP connection, from the loop's next
    // step (not inside the response handler that found the reason).
    void FallBackToTcpSoon(const std::string& reason);

    // Keep-alive period and the silence after which the device counts as dead.
    static constexpr int64_t kCheckStatePeriodUs = 6000000;
    static constexpr long long kDeadAfterSeconds = 60;
    // Time after PLAY within which RTP over UDP must arrive: a device sends
    // within a frame interval or two, so longer silence means the packets are
    // being dropped on their way.
    static constexpr int64_t kUdpArrivalTimeoutUs = 3000000;

private:
    static void CheckState1(void* clientData);
    void CheckState();
    // After the loop: ends a playing stream with TEARDOWN. The request is
    // written to the connection, its answer is not awaited: a server that
    // never answers must not hold up the stop.
    void TearDown();
    void OnForeignBaseIgnored(const std::string& header, const std::string& url) override;
    bool OnInterleavedPacket(uint8_t channel, const uint8_t* data, size_t size) override;
    static void CheckUdpArrival1(void* clientData);
    void CheckUdpArrival();
    static void FallBackToTcp1(void* clientData);
    void FallBackToTcp(const std::string& reason);
    // Over TCP the lost connection carried the video, which has ended. Over
    // UDP some devices close the connection once the stream plays and go on
    // sending; a restarted one refuses the next connection or no longer
    // knows the session. A keep-alive on a new connection tells which.
    void OnConnectionLost(const std::string& message) override;
    static void AfterConnectionCheck(RTSPClient* rtspClient, int resultCode, char* resultString);
    ThreadSafeTaskScheduler& Scheduler() const;

    StreamClientState scs_;
    std::vector<IFrameObserver*> frameObservers_; // guarded by observersMutex_
    mutable std::mutex observersMutex_;
    std::string url_;
    std::string login_;
    std::string password_;
    long long lastUsedTime_ = 0; // MonotonicSeconds() of the last sign of life; video thread only
    std::atomic<IErrorHandler*> errorHandler_{nullptr};
    TaskToken checkStateTask_ = nullptr;
    // Video thread only, but for overTcp_, which other threads read.
    std::atomic<bool> overTcp_{false};
    bool playing_ = false; // PLAY answered on the current connection
    unsigned nextChannel_ = 0;
    TaskToken udpCheckTask_ = nullptr;
    TaskToken fallbackTask_ = nullptr;
    std::string fallbackReason_;
    std::atomic<bool> endIsFinal_{false};
    bool errorReported_ = false;     // video thread only
    std::string lostConnectionText_; // why the last connection ended; video thread only
};

// Response handlers of the connection, on the video thread.
void continueAfterDESCRIBE(RTSPClient* rtspClient, int resultCode, char* resultString);
void setupNextSubsession(RTSPClient* rtspClient);
void continueAfterSETUP(RTSPClient* rtspClient, int resultCode, char* resultString);
void continueAfterPLAY(RTSPClient* rtspClient, int resultCode, char* resultString);
void continueAfterKeepAlive(RTSPClient* rtspClient, int resultCode, char* resultString);
void subsessionAfterPlaying(void* clientData);
void subsessionByeHandler(void* clientData);
void streamTimerHandler(void* clientData);
void shutdownStream(RTSPClient* rtspClient);
