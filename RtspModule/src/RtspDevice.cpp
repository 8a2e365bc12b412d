#include "RtspDevice.h"

#include "MediaSession.h"
#include "RtcpInstance.h"
#include "RtpSource.h"
#include "RtspDeviceSink.h"
#include "ThreadSafeTaskScheduler.h"

#include <easylogging++.h>

#include <algorithm>
#include <cassert>

namespace {

// Scheduler housekeeping tick: one wake-up a second at most when idle.
constexpr unsigned kSchedulerGranularityUs = 1000000;
// SETUP answer of a server that does not offer the transport asked for.
constexpr int kUnsupportedTransport = 461;

RtspDevice& DeviceOf(RTSPClient* client)
{
    return *static_cast<RtspDevice*>(client);
}

// "[URL:"<url>"]: ", the prefix of every progress line.
UsageEnvironment& PrintPrefix(UsageEnvironment& env, const RtspDevice& device)
{
    return env << "[URL:\"" << device.Url() << "\"]: ";
}

std::string SubsessionText(const MediaSubsession& subsession)
{
    return std::string(subsession.mediumName()) + "/" + subsession.codecName();
}

std::string PortText(const MediaSubsession& subsession)
{
    if (subsession.isInterleaved()) {
        return "interleaved channels " + std::to_string(subsession.rtpChannel()) + "-" +
               std::to_string(subsession.rtcpChannel());
    }
    const unsigned port = subsession.clientPortNum();
    if (subsession.rtcpIsMuxed()) {
        return "client port " + std::to_string(port);
    }
    return "client ports " + std::to_string(port) + "-" + std::to_string(port + 1);
}

// The device refused the credentials, or has no such stream: another
// connection would be refused the same way.
bool IsFinalDescribeFailure(int resultCode)
{
    return resultCode == 401 || resultCode == 403 || resultCode == 404;
}

// A device without GET_PARAMETER still streams; its keep-alive just has no use.
bool IsKeepAliveNotSupported(int resultCode)
{
    return resultCode == 405 || resultCode == 451 || resultCode == 501;
}

} // namespace

StreamClientState::~StreamClientState()
{
    delete iter;
    if (session != nullptr) {
        session->envir().taskScheduler().unscheduleDelayedTask(streamTimerTask);
        // Sinks still open when the loop was stopped are released with the session.
        MediaSubsessionIterator it(*session);
        while (MediaSubsession* subsession = it.next()) {
            Medium::close(subsession->sink);
            subsession->sink = nullptr;
        }
        Medium::close(session);
    }
}

RtspDeviceEnvironment::RtspDeviceEnvironment()
    : ownScheduler_(std::make_unique<ThreadSafeTaskScheduler>(kSchedulerGranularityUs)),
      ownEnvironment_(BasicUsageEnvironment::createNew(*ownScheduler_))
{
}

RtspDeviceEnvironment::~RtspDeviceEnvironment() = default;

RtspDevice::RtspDevice(const char* rtspURL, std::string login, std::string password, int verbosityLevel,
                       const char* applicationName, portNumBits tunnelOverHTTPPortNum)
    : RtspDeviceEnvironment(),
      RTSPClient(*ownEnvironment_, rtspURL, verbosityLevel, applicationName, tunnelOverHTTPPortNum, -1),
      url_(rtspURL != nullptr ? rtspURL : ""), login_(std::move(login)), password_(std::move(password))
{
    VLOG(8) << "Constructing " << this << "...";
}

RtspDevice::~RtspDevice()
{
    VLOG(8) << "Destructing...";
    Stop();
    TaskScheduler& scheduler = envir().taskScheduler();
    scheduler.unscheduleDelayedTask(checkStateTask_);
    scheduler.unscheduleDelayedTask(udpCheckTask_);
    scheduler.unscheduleDelayedTask(fallbackTask_);
}

ThreadSafeTaskScheduler& RtspDevice::Scheduler() const
{
    auto* scheduler = dynamic_cast<ThreadSafeTaskScheduler*>(&envir().taskScheduler());
    if (scheduler == nullptr) {
        assert(0); // every device makes its own ThreadSafeTaskScheduler
    }
    return *scheduler;
}

void RtspDevice::Run()
{
    VLOG(1) << "Entering Run";
    Authenticator authenticator(login_.c_str(), password_.c_str(), false);
    setBaseURL(url_.c_str());
    UpdateLastUsedTime(MonotonicSeconds());
    CheckState();
    sendDescribeCommand(continueAfterDESCRIBE, &authenticator);
    Scheduler().doEventLoop(nullptr);
    TearDown();
    VLOG(1) << "Run completed";
}

void RtspDevice::TearDown()
{
    TaskScheduler& scheduler = envir().taskScheduler();
    scheduler.unscheduleDelayedTask(checkStateTask_);
    scheduler.unscheduleDelayedTask(udpCheckTask_);
    scheduler.unscheduleDelayedTask(fallbackTask_);
    // The stop is the user's or a reported error's: a connection that fails
    // while TEARDOWN goes out says nothing more.
    playing_ = false;
    if (scs_.session == nullptr || sessionId().empty() || !IsConnected()) {
        return;
    }
    // Ends the stream and sends TEARDOWN (when a stream was set up), so that a
    // device with few sessions frees this one now rather than at its time-out.
    // The request goes out at once; closing the connection later still
    // delivers what the socket holds.
    shutdownStream(this);
}

void RtspDevice::OnForeignBaseIgnored(const std::string& header, const std::string& url)
{
    RTSPClient::OnForeignBaseIgnored(header, url);
    LOG(INFO) << url_ << ": ignored the " << header << " \"" << url
              << "\" of the DESCRIBE answer: it names another host or port than the device's";
}

std::string RtspDevice::TransportName() const
{
    return overTcp_ ? "TCP" : "UDP";
}

bool RtspDevice::InitiateInterleaved(MediaSubsession& subsession)
{
    if (nextChannel_ > 254) {
        envir().setResultMsg("No interleaved channels left");
        return false;
    }
    const bool initiated = subsession.initiateInterleaved(
        static_cast<uint8_t>(nextChannel_),
        [this](uint8_t channel, const uint8_t* data, size_t size) { SendInterleaved(channel, data, size); });
    if (initiated) {
        nextChannel_ += 2;
    }
    return initiated;
}

void RtspDevice::NotePlaying()
{
    playing_ = true;
    envir().taskScheduler().unscheduleDelayedTask(udpCheckTask_);
    if (!overTcp_) {
        udpCheckTask_ =
            envir().taskScheduler().scheduleDelayedTask(kUdpArrivalTimeoutUs, CheckUdpArrival1, this);
    }
}

void RtspDevice::CheckUdpArrival1(void* clientData)
{
    auto* device = static_cast<RtspDevice*>(clientData);
    device->udpCheckTask_ = nullptr;
    device->CheckUdpArrival();
}

void RtspDevice::CheckUdpArrival()
{
    if (overTcp_ || scs_.session == nullptr) {
        return;
    }
    // Only the streams that are read count; an audio stream nobody reads is
    // never looked at.
    bool someRead = false;
    MediaSubsessionIterator iter(*scs_.session);
    while (MediaSubsession* subsession = iter.next()) {
        if (subsession->sink == nullptr || subsession->rtpSource() == nullptr) {
            continue;
        }
        if (subsession->rtpSource()->PacketsArrived() > 0) {
            return;
        }
        someRead = true;
    }
    if (someRead) {
        FallBackToTcp("no RTP packet arrived over UDP within " +
                      std::to_string(kUdpArrivalTimeoutUs / 1000000) + " s of PLAY");
    }
}

void RtspDevice::FallBackToTcpSoon(const std::string& reason)
{
    fallbackReason_ = reason;
    envir().taskScheduler().unscheduleDelayedTask(fallbackTask_);
    fallbackTask_ = envir().taskScheduler().scheduleDelayedTask(0, FallBackToTcp1, this);
}

void RtspDevice::FallBackToTcp1(void* clientData)
{
    auto* device = static_cast<RtspDevice*>(clientData);
    device->fallbackTask_ = nullptr;
    device->FallBackToTcp(device->fallbackReason_);
}

void RtspDevice::FallBackToTcp(const std::string& reason)
{
    if (overTcp_) {
        return;
    }
    LOG(INFO) << url_ << ": " << reason << "; setting the stream up again with RTP over the RTSP connection";
    PrintPrefix(envir(), *this) << "No video over UDP (" << reason
                                << "): setting the stream up again over the RTSP connection\n";
    envir().taskScheduler().unscheduleDelayedTask(udpCheckTask_);
    // The UDP session ends on the device as at a stop: its TEARDOWN is
    // written, not awaited.
    if (scs_.session != nullptr) {
        MediaSubsessionIterator iter(*scs_.session);
        while (MediaSubsession* subsession = iter.next()) {
            Medium::close(subsession->sink);
            subsession->sink = nullptr;
            if (subsession->rtcpInstance() != nullptr) {
                subsession->rtcpInstance()->setByeHandler(nullptr, nullptr);
            }
        }
        if (!sessionId().empty() && IsConnected()) {
            sendTeardownCommand(*scs_.session, nullptr, nullptr);
        }
    }
    DropConnection();
    envir().taskScheduler().unscheduleDelayedTask(scs_.streamTimerTask);
    delete scs_.iter;
    scs_.iter = nullptr;
    Medium::close(scs_.session);
    scs_.session = nullptr;
    scs_.subsession = nullptr;
    scs_.duration = 0.0;
    playing_ = false;
    nextChannel_ = 0;
    overTcp_ = true;
    sendDescribeCommand(continueAfterDESCRIBE);
}

bool RtspDevice::OnInterleavedPacket(uint8_t channel, const uint8_t* data, size_t size)
{
    if (!overTcp_) {
        return true; // nothing of ours travels on the connection: skipped
    }
    return scs_.session != nullptr && scs_.session->DeliverInterleaved(channel, data, size);
}

void RtspDevice::OnConnectionLost(const std::string& message)
{
    RTSPClient::OnConnectionLost(message);
    if (overTcp_) {
        // The video came on that connection: it has ended.
        if (playing_) {
            playing_ = false;
            ReportError(url_ + " The connection that carried the video was lost: " + message);
        }
        return;
    }
    // Before the session exists the request under way reports the failure;
    // after an error the loop is ending anyway.
    if (scs_.session == nullptr || errorReported_) {
        return;
    }
    lostConnectionText_ = message;
    sendGetParameterCommand(*scs_.session, AfterConnectionCheck, nullptr);
}

void RtspDevice::AfterConnectionCheck(RTSPClient* rtspClient, int resultCode, char* resultString)
{
    delete[] resultString;
    if (resultCode == 0 || IsKeepAliveNotSupported(resultCode)) {
        return;
    }
    RtspDevice& device = DeviceOf(rtspClient);
    device.ReportError(device.Url() + " " + device.lostConnectionText_);
}

void RtspDevice::SetStopFlag()
{
    VLOG(1) << "Calling SetStopFlag() for RtspDevice " << this;
    LOG(INFO) << "Set Stop Flag in Stop";
    Scheduler().SetStopFlag();
}

void RtspDevice::Stop()
{
    Scheduler().StopAndWait();
}

void RtspDevice::AddFrameObserver(IFrameObserver* observer)
{
    const std::lock_guard<std::mutex> lock(observersMutex_);
    for (IFrameObserver* present : frameObservers_) {
        if (present == observer) {
            return;
        }
    }
    frameObservers_.push_back(observer);
}

void RtspDevice::RemoveFrameObserver(IFrameObserver* observer)
{
    const std::lock_guard<std::mutex> lock(observersMutex_);
    frameObservers_.erase(std::remove(frameObservers_.begin(), frameObservers_.end(), observer),
                          frameObservers_.end());
}

std::vector<IFrameObserver*> RtspDevice::GetFrameObservers() const
{
    const std::lock_guard<std::mutex> lock(observersMutex_);
    return frameObservers_;
}

void RtspDevice::ReportError(const std::string& text)
{
    errorReported_ = true;
    if (IErrorHandler* handler = errorHandler_.load()) {
        handler->ErrorOccured(this, text);
    }
}

void RtspDevice::ReportFinalError(const std::string& text)
{
    endIsFinal_ = true;
    ReportError(text);
}

void RtspDevice::CheckState1(void* clientData)
{
    static_cast<RtspDevice*>(clientData)->CheckState();
}

void RtspDevice::CheckState()
{
    checkStateTask_ = envir().taskScheduler().scheduleDelayedTask(kCheckStatePeriodUs, CheckState1, this);
    if (scs_.session != nullptr) {
        sendGetParameterCommand(*scs_.session, continueAfterKeepAlive, nullptr);
    }
    const long long now = MonotonicSeconds();
    if (lastUsedTime_ != 0 && lastUsedTime_ < now && now - lastUsedTime_ > kDeadAfterSeconds) {
        LOG(INFO) << "Device is dead, now will stop it";
        Scheduler().SetStopFlag();
        ReportError("Device is dead");
    }
}

void continueAfterDESCRIBE(RTSPClient* rtspClient, int resultCode, char* resultString)
{
    RtspDevice& device = DeviceOf(rtspClient);
    UsageEnvironment& env = device.envir();
    StreamClientState& scs = device.GetStreamClientState();
    do {
        if (resultCode != 0) {
            const std::string text = device.Url() + " Failed to get a SDP description: " +
                                     (resultString != nullptr ? resultString : "");
            if (IsFinalDescribeFailure(resultCode)) {
                device.ReportFinalError(text);
            } else {
                device.ReportError(text);
            }
            delete[] resultString;
            break;
        }
        char* const sdpDescription = resultString;
        PrintPrefix(env, device) << "Got a SDP description:\n"
                                 << (sdpDescription != nullptr ? sdpDescription : "") << "\n";
        scs.session = MediaSession::createNew(env, sdpDescription);
        delete[] sdpDescription;
        if (scs.session == nullptr) {
            device.ReportError(device.Url() +
                               " Failed to create a MediaSession object from the SDP description: " +
                               env.getResultMsg() + "\n");
            break;
        }
        if (!scs.session->hasSubsessions()) {
            device.ReportError(device.Url() +
                               " This session has no media subsessions (i.e., no \"m=\" lines)\n");
            break;
        }
        scs.iter = new MediaSubsessionIterator(*scs.session);
        setupNextSubsession(rtspClient);
        return;
    } while (false);
    shutdownStream(rtspClient);
}

void setupNextSubsession(RTSPClient* rtspClient)
{
    RtspDevice& device = DeviceOf(rtspClient);
    UsageEnvironment& env = device.envir();
    StreamClientState& scs = device.GetStreamClientState();

    // Subsessions that cannot be initiated are skipped; the loop replaces recursion.
    while ((scs.subsession = scs.iter->next()) != nullptr) {
        MediaSubsession& subsession = *scs.subsession;
        const bool initiated =
            device.IsOverTcp() ? device.InitiateInterleaved(subsession) : subsession.initiate();
        if (!initiated) {
            const std::string text = device.Url() + " Failed to initiate the \"" +
                                     SubsessionText(subsession) + "\" subsession: " + env.getResultMsg();
            LOG(ERROR) << text;
            // Without its video subsession the stream can show nothing: say so now
            // instead of a minute later as a silent device.
            if (std::string(subsession.mediumName()) == "video") {
                device.ReportError(text);
            }
            continue;
        }
        PrintPrefix(env, device) << "Initiated the \"" << SubsessionText(subsession) << "\" subsession ("
                                 << PortText(subsession) << ")\n";
        device.sendSetupCommand(subsession, continueAfterSETUP);
        return;
    }

    MediaSession& session = *scs.session;
    if (session.absStartTime() != nullptr) {
        device.sendPlayCommand(session, continueAfterPLAY, session.absStartTime(), session.absEndTime(), 1.0f,
                               nullptr);
    } else {
        scs.duration = session.playEndTime() - session.playStartTime();
        device.sendPlayCommand(session, continueAfterPLAY, 0.0, -1.0, 1.0f, nullptr);
    }
}

void continueAfterSETUP(RTSPClient* rtspClient, int resultCode, char* resultString)
{
    RtspDevice& device = DeviceOf(rtspClient);
    UsageEnvironment& env = device.envir();
    StreamClientState& scs = device.GetStreamClientState();
    MediaSubsession* subsession = scs.subsession;
    do {
        if (subsession == nullptr) {
            break;
        }
        if (resultCode == kUnsupportedTransport && !device.IsOverTcp()) {
            device.FallBackToTcpSoon(std::string("the device refused it: ") +
                                     (resultString != nullptr ? resultString : ""));
            delete[] resultString;
            return;
        }
        if (resultCode != 0) {
            device.ReportError(device.Url() + " Failed to set up the \"" + SubsessionText(*subsession) +
                               "\" subsession: " + (resultString != nullptr ? resultString : ""));
            break;
        }
        PrintPrefix(env, device) << "Set up the \"" << SubsessionText(*subsession) << "\" subsession ("
                                 << PortText(*subsession) << ")\n";
        const std::string medium = subsession->mediumName();
        if (medium == "video") {
            const char* sprops = subsession->fmtp_spropparametersets();
            subsession->sink =
                RtspDeviceSink::createNew(env, *subsession, &device, sprops, device.Url().c_str());
        }
        // "audio", "metadata" and any other medium: set up, not read.
        if (subsession->sink != nullptr) {
            PrintPrefix(env, device) << "Created a data sink for the \"" << SubsessionText(*subsession)
                                     << "\" subsession\n";
            subsession->miscPtr = rtspClient;
            if (FramedSource* source = subsession->readSource()) {
                subsession->sink->startPlaying(*source, subsessionAfterPlaying, subsession);
            }
            if (subsession->rtcpInstance() != nullptr) {
                subsession->rtcpInstance()->setByeHandler(subsessionByeHandler, subsession, true);
            }
        } else if (medium == "video") {
            device.ReportError(device.Url() + " Failed to create a data sink for the \"" +
                               SubsessionText(*subsession) + "\" subsession: " + env.getResultMsg());
        }
    } while (false);
    delete[] resultString;
    setupNextSubsession(rtspClient);
}

void continueAfterPLAY(RTSPClient* rtspClient, int resultCode, char* resultString)
{
    RtspDevice& device = DeviceOf(rtspClient);
    UsageEnvironment& env = device.envir();
    StreamClientState& scs = device.GetStreamClientState();
    if (resultCode != 0) {
        const std::string reason = resultString != nullptr ? resultString : "";
        delete[] resultString;
        PrintPrefix(env, device) << "Failed to start playing session: " << reason << "\n";
        shutdownStream(rtspClient);
        device.ReportError(device.Url() + " Failed to start playing session: " + reason);
        return;
    }
    device.NotePlaying();
    if (scs.duration > 0) {
        const unsigned delaySlop = 2; // seconds past the end before the stream counts as over
        scs.duration += delaySlop;
        const auto uSecsToDelay = static_cast<int64_t>(scs.duration * 1000000);
        scs.streamTimerTask =
            env.taskScheduler().scheduleDelayedTask(uSecsToDelay, streamTimerHandler, rtspClient);
    }
    PrintPrefix(env, device) << "Started playing session";
    if (scs.duration > 0) {
        env << " (for up to " << scs.duration << " seconds)";
    }
    env << "...\n";
    delete[] resultString;
}

void continueAfterKeepAlive(RTSPClient* rtspClient, int resultCode, char* resultString)
{
    RtspDevice& device = DeviceOf(rtspClient);
    const std::string reason = resultString != nullptr ? resultString : "";
    delete[] resultString;
    if (resultCode == 0 || IsKeepAliveNotSupported(resultCode)) {
        return;
    }
    // A device that restarted quickly answers for a session it no longer
    // knows: the stream is gone even though the connection is up.
    device.ReportError(device.Url() + " The keep-alive failed: " + reason);
}

void subsessionAfterPlaying(void* clientData)
{
    auto* subsession = static_cast<MediaSubsession*>(clientData);
    auto* rtspClient = static_cast<RTSPClient*>(subsession->miscPtr);
    Medium::close(subsession->sink);
    subsession->sink = nullptr;
    MediaSubsessionIterator iter(subsession->parentSession());
    while (MediaSubsession* other = iter.next()) {
        if (other->sink != nullptr) {
            return;
        }
    }
    shutdownStream(rtspClient);
}

void subsessionByeHandler(void* clientData)
{
    auto* subsession = static_cast<MediaSubsession*>(clientData);
    auto* rtspClient = static_cast<RTSPClient*>(subsession->miscPtr);
    RtspDevice& device = DeviceOf(rtspClient);
    const std::string text = SubsessionText(*subsession);
    PrintPrefix(device.envir(), device) << "Received RTCP \"BYE\" on \"" << text << "\" subsession\n";
    subsessionAfterPlaying(subsession);
    // Only read subsessions have a BYE handler: the video is over.
    device.ReportError(device.Url() + " The device ended the stream (RTCP BYE on the \"" + text +
                       "\" subsession)");
}

void streamTimerHandler(void* clientData)
{
    auto* rtspClient = static_cast<RTSPClient*>(clientData);
    RtspDevice& device = DeviceOf(rtspClient);
    device.GetStreamClientState().streamTimerTask = nullptr;
    shutdownStream(rtspClient);
    // A stream of a given length: a new connection would only play it again.
    device.ReportFinalError(device.Url() + " The stream reached the end of its announced range");
}

void shutdownStream(RTSPClient* rtspClient)
{
    if (rtspClient == nullptr) {
        return;
    }
    StreamClientState& scs = DeviceOf(rtspClient).GetStreamClientState();
    if (scs.session == nullptr) {
        return;
    }
    bool someSubsessionsWereActive = false;
    MediaSubsessionIterator iter(*scs.session);
    while (MediaSubsession* subsession = iter.next()) {
        if (subsession->sink == nullptr) {
            continue;
        }
        Medium::close(subsession->sink);
        subsession->sink = nullptr;
        if (subsession->rtcpInstance() != nullptr) {
            subsession->rtcpInstance()->setByeHandler(nullptr, nullptr);
        }
        someSubsessionsWereActive = true;
    }
    if (someSubsessionsWereActive) {
        rtspClient->sendTeardownCommand(*scs.session, nullptr, nullptr);
    }
}
