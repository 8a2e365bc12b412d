#pragma once

#include "Authenticator.h"
#include "InterleavedFraming.h"
#include "Medium.h"
#include "RtspResponse.h"

#include <netinet/in.h>

#include <cstdint>
#include <list>
#include <string>

class MediaSession;
class MediaSubsession;

using portNumBits = unsigned short;

// RTSP 1.0 client over one TCP connection (RFC 2326). Requests are sent
// asynchronously; each answer is matched by CSeq and handed to the request's
// response handler on the loop: result code 0 with the result string (the SDP
// for DESCRIBE, else null) on success; the RTSP status code with "<code>
// <reason>" on a failure answer; a negative code with a text when the
// connection fails. The result string belongs to the handler (delete[]).
// A 401 answer is retried once with the credentials given with the request,
// which are then kept for later requests. Connects on the first request, and
// again after the server closed the connection, always to the numeric IPv4
// host and the port of the URL given at construction or by setBaseURL: a
// Content-Base or Content-Location that names another host or port is
// ignored, so requests and credentials never leave for another server.
// Binary packets interleaved with the answers ("$", channel, length, bytes)
// go to OnInterleavedPacket.
class RTSPClient : public Medium {
public:
    using responseHandler = void(RTSPClient* rtspClient, int resultCode, char* resultString);

    unsigned sendDescribeCommand(responseHandler* handler, Authenticator* authenticator = nullptr);
    // Asks for RTP over UDP to the subsession's client ports, or, for a
    // subsession initiated interleaved, for RTP over this connection on its
    // channels.
    unsigned sendSetupCommand(MediaSubsession& subsession, responseHandler* handler,
                              Authenticator* authenticator = nullptr);
    // `end` < 0 leaves the range open.
    unsigned sendPlayCommand(MediaSession& session, responseHandler* handler, double start = 0.0,
                             double end = -1.0, float scale = 1.0f, Authenticator* authenticator = nullptr);
    unsigned sendPlayCommand(MediaSession& session, responseHandler* handler, const char* absStartTime,
                             const char* absEndTime = nullptr, float scale = 1.0f,
                             Authenticator* authenticator = nullptr);
    // A null or empty parameter name sends no body (a keep-alive).
    unsigned sendGetParameterCommand(MediaSession& session, responseHandler* handler,
                                     const char* parameterName, Authenticator* authenticator = nullptr);
    unsigned sendTeardownCommand(MediaSession& session, responseHandler* handler,
                                 Authenticator* authenticator = nullptr);

    // The connection to the server is up (made and not closed since).
    bool IsConnected() const { return socket_ >= 0 && !connecting_; }
    // Requests sent or queued whose answer has not arrived.
    bool HasPendingRequests() const { return !awaitingConnection_.empty() || !awaitingResponse_.empty(); }

    // Writes one interleaved packet on the connection; dropped when it is not up.
    void SendInterleaved(uint8_t channel, const uint8_t* data, size_t size);
    // Closes the connection after what has been written to it, forgets the
    // session and drops every request still waiting without calling its
    // handler. The next request connects anew; the credentials are kept.
    void DropConnection();

    // Also the server every later connection goes to.
    void setBaseURL(const char* url);
    const char* url() const { return baseUrl_.c_str(); }
    const std::string& sessionId() const { return sessionId_; }

    // "rtsp://[user[:password]@]host[:port][/path]"; false when not such a URL.
    static bool ParseRtspUrl(const std::string& url, std::string& host, unsigned short& port,
                             std::string& user, std::string& password);
    // Resolves a control attribute against a base URL ("*" and "" mean the base).
    static std::string ResolveControl(const std::string& base, const std::string& control);

protected:
    RTSPClient(UsageEnvironment& env, const char* rtspURL, int verbosityLevel, const char* applicationName,
               portNumBits tunnelOverHTTPPortNum, int socketNumToServer);
    ~RTSPClient() override;

    // A DESCRIBE answer's Content-Base or Content-Location (`header`) named
    // `url`, on another host or port than the server's, and was not adopted.
    virtual void OnForeignBaseIgnored(const std::string& header, const std::string& url);
    // A packet interleaved on the connection; false when it cannot belong to
    // anything set up, which ends the connection as an error. By default
    // every packet is skipped.
    virtual bool OnInterleavedPacket(uint8_t channel, const uint8_t* data, size_t size);
    // An established connection failed, the server closed it or its data could
    // not be read (`message` says which); the answers still awaited have failed
    // already. Not called for closes of the client's own, nor for a connection
    // that could not be made. The next request connects again.
    virtual void OnConnectionLost(const std::string& message);

private:
    struct Request {
        unsigned cseq = 0;
        std::string method;
        std::string url;
        std::string extraHeaders; // each ending in "\r\n"
        responseHandler* handler = nullptr;
        MediaSession* session = nullptr;
        MediaSubsession* subsession = nullptr;
        bool retriedWithAuth = false;
    };

    unsigned SendRequest(Request request, Authenticator* authenticator);
    void Transmit(Request& request);
    bool Connect();
    void CloseConnection();
    void FailAll(int resultCode, const std::string& message);
    // Closes the connection and fails every request waiting on it;
    // `established` connections are reported lost as well.
    void ConnectionFailed(int resultCode, const std::string& message, bool established = true);
    void UpdateSocketHandling();
    static void SocketHandler(void* clientData, int mask);
    void HandleWritable();
    void HandleReadable();
    // Hands on what the input holds; false when the connection was closed or
    // replaced meanwhile.
    bool HandleInput(unsigned connection);
    void HandleResponse(const RtspResponse& response);
    std::string SessionUrl(const MediaSession& session) const;
    // `url` names the server's host and port.
    bool IsServerUrl(const std::string& url) const;

    int verbosityLevel_ = 0;
    std::string userAgent_;
    std::string baseUrl_;
    std::string serverUrl_; // the URL whose host and port every connection goes to
    int socket_ = -1;
    bool connecting_ = false;
    sockaddr_in serverAddress_{};
    unsigned nextCSeq_ = 1;
    std::list<Request> awaitingConnection_; // not yet written: the connection is being made
    std::list<Request> awaitingResponse_;
    std::string output_;           // bytes not yet written to the socket
    InterleavedFraming input_;     // bytes received and not yet handed on
    unsigned connectionCount_ = 0; // connections closed so far: a handler may close the one being read
    Authenticator credentials_;
    bool haveCredentials_ = false;
    std::string sessionId_;
};
