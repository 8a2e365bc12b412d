#pragma once

#include "HttpAuthenticator.h"
#include "VcaConfigState.h"

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// How a simulated device's web interface behaves, including the faults the
// reliability tests switch on.
struct WebServerOptions {
    std::string bindAddress = "0.0.0.0";
    int port = 80;
    HttpAuthenticator::Scheme authScheme = HttpAuthenticator::Scheme::Digest;
    int forcedStatus = 0;           // non-zero: every request gets this status
    bool rejectCredentials = false; // every request gets 401, whatever it carries
    std::string redirectLocation;   // non-empty: every request gets 302 to here
    int delayMs = 0;                // wait before answering
    int slowWritesMs = 0;           // wait before a write command with valid credentials takes effect
    VcaConfigState::ConfigFault configFault = VcaConfigState::ConfigFault::None;
    std::set<std::string> hangCommands; // accepted, never answered ("getcam.fcgi", ...)
    std::set<std::string> failCommands; // answered 500, the state unchanged
    // Answered with their body repeated without end, as fast as the client
    // takes it; with endlessBytes, cut after that many bytes, announced by
    // its Content-Length.
    std::set<std::string> endlessCommands;
    size_t endlessBytes = 0;
    // Answered one byte of their body every trickleMs.
    std::set<std::string> trickleCommands;
    int trickleMs = 5000;
    // Non-empty: every request is answered 500 with this reason phrase
    // (device text such as markup in a status line).
    std::string failureReason;
    // Non-zero: the Nth configuration write (a command behind authentication,
    // counted from 1 once its credentials are accepted, so the challenge
    // round trip does not count) is answered 500 and changes nothing.
    uint64_t failNthWrite = 0;
    // Non-zero: the Nth configuration write, counted alike, is answered only
    // once its client has given up (or after a bound), and is carried out all
    // the same: then, or before any later request of this device runs,
    // whichever comes first.
    uint64_t writeAfterTimeoutNth = 0;
};

// The web interface of one simulated device: the CGI commands under
// "/qel-cgi/admin/" served from a VcaConfigState, the write commands behind
// HTTP authentication as "root"/"kqzt". Runs its server on a thread of its
// own from Start until Stop (or destruction).
class DeviceWebServer final {
public:
    DeviceWebServer(WebServerOptions options, VcaConfigState& state);
    ~DeviceWebServer();
    DeviceWebServer(const DeviceWebServer&) = delete;
    DeviceWebServer& operator=(const DeviceWebServer&) = delete;

    // Binds the address and port and starts serving; false with a reason in
    // errorMessage when the port cannot be bound.
    bool Start(std::string& errorMessage);
    void Stop();

    int Port() const { return boundPort_; }

    static constexpr const char* kUser = "root";
    static constexpr const char* kPassword = "kqzt";

private:
    void Handle(const httplib::Request& request, httplib::Response& response);
    void AskForCredentials(httplib::Response& response);
    // Holds a request until the server stops (bounded, so a forgotten
    // simulator still ends).
    void Hang();
    // Waits up to `ms`; false when the server is stopping.
    bool WaitUnlessStopping(int ms);
    bool Stopping();
    void SendEndless(const std::string& body, httplib::Response& response);
    void SendTrickle(const std::string& body, httplib::Response& response);
    enum class WriteTurn { Normal, Fail, Hold };
    // Counts a configuration write whose credentials were accepted and tells
    // what becomes of it; a write to hold is pending from here on.
    WriteTurn TakeWriteTurn(const std::string& command, const VcaConfigState::Params& params);
    // Answers the pending held write once its client has given up (bounded,
    // and no later than the server stops), carrying it out if no later
    // request has.
    void HoldWrite(const httplib::Request& request, httplib::Response& response);
    // Carries out the held write if it is still pending.
    void CarryOutHeldWrite();
    // Serves every connection with one 500 answer carrying failureReason;
    // the web library has no way to set a reason phrase.
    bool StartReasonServer(std::string& errorMessage);
    void RunReasonServer();

    static constexpr size_t kWorkerThreads = 4;
    // A kept-alive connection holds a worker; idle ones are let go soon.
    static constexpr time_t kKeepAliveSeconds = 2;

    const WebServerOptions options_;
    VcaConfigState& state_;
    HttpAuthenticator authenticator_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int boundPort_ = 0;
    std::mutex hangMutex_;
    std::condition_variable hangEnded_;
    bool stopping_ = false; // guarded by hangMutex_
    int reasonSocket_ = -1; // listening socket of the reason server

    struct HeldWrite {
        std::string command;
        VcaConfigState::Params params;
        std::optional<VcaConfigState::Result> result; // set once carried out
    };
    // Held while a held write is carried out, so that a request that finds
    // it pending runs only once it has taken effect.
    std::mutex writeMutex_;
    uint64_t writeCount_ = 0;            // guarded by writeMutex_
    std::optional<HeldWrite> heldWrite_; // guarded by writeMutex_
};
