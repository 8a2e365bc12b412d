#include "RTSPClient.h"

#include "MediaSession.h"
#include "TaskScheduler.h"
#include "TextUtils.h"

#include <arpa/inet.h>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned short kDefaultRtspPort = 554;
constexpr size_t kReadChunk = 16 * 1024;
// Reads per readiness event: enough for a high-bitrate interleaved stream,
// bounded so that it cannot starve the rest of the loop.
constexpr int kReadsPerEvent = 16;
// Interleaved packets of ours (RTCP reports) wait no further behind a server
// that has stopped reading: the next report says the same.
constexpr size_t kMaxQueuedOutputForPackets = 64 * 1024;

// Always with a decimal point, whatever the process locale ("0.000").
std::string FormatSeconds(double seconds)
{
    char text[64] = {};
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof(text) - 1, seconds, std::chars_format::fixed, 3);
    return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("0.000");
}

} // namespace

RTSPClient::RTSPClient(UsageEnvironment& env, const char* rtspURL, int verbosityLevel,
                       const char* applicationName, portNumBits /*tunnelOverHTTPPortNum*/,
                       int socketNumToServer)
    : Medium(env), verbosityLevel_(verbosityLevel),
      userAgent_(applicationName != nullptr ? applicationName : "QelRtspClient"),
      baseUrl_(rtspURL != nullptr ? rtspURL : ""), serverUrl_(baseUrl_), socket_(socketNumToServer)
{
    if (socket_ >= 0) {
        socklen_t length = sizeof(serverAddress_);
        getpeername(socket_, reinterpret_cast<sockaddr*>(&serverAddress_), &length);
        UpdateSocketHandling();
    }
}

RTSPClient::~RTSPClient()
{
    CloseConnection();
}

void RTSPClient::setBaseURL(const char* url)
{
    baseUrl_ = url != nullptr ? url : "";
    serverUrl_ = baseUrl_;
}

bool RTSPClient::OnInterleavedPacket(uint8_t /*channel*/, const uint8_t* /*data*/, size_t /*size*/)
{
    return true;
}

void RTSPClient::OnForeignBaseIgnored(const std::string& header, const std::string& url)
{
    if (verbosityLevel_ >= 1) {
        envir() << "Ignored the " << header << " \"" << url << "\": another server than " << serverUrl_
                << "\n";
    }
}

void RTSPClient::OnConnectionLost(const std::string& message)
{
    if (verbosityLevel_ >= 1) {
        envir() << "Lost the connection to " << serverUrl_ << ": " << message << "\n";
    }
}

bool RTSPClient::IsServerUrl(const std::string& url) const
{
    std::string host;
    unsigned short port = 0;
    std::string serverHost;
    unsigned short serverPort = 0;
    std::string user;
    std::string password;
    if (!ParseRtspUrl(url, host, port, user, password) ||
        !ParseRtspUrl(serverUrl_, serverHost, serverPort, user, password) || port != serverPort) {
        return false;
    }
    in_addr address{};
    in_addr serverAddress{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1 &&
        inet_pton(AF_INET, serverHost.c_str(), &serverAddress) == 1) {
        return address.s_addr == serverAddress.s_addr;
    }
    return EqualsNoCase(host, serverHost);
}

bool RTSPClient::ParseRtspUrl(const std::string& url, std::string& host, unsigned short& port,
                              std::string& user, std::string& password)
{
    if (!StartsWithNoCase(url, "rtsp://")) {
        return false;
    }
    const std::string rest = url.substr(7);
    const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    std::string hostPort = authority;
    user.clear();
    password.clear();
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        const size_t colon = userInfo.find(':');
        user = userInfo.substr(0, colon);
        password = colon == std::string::npos ? std::string() : userInfo.substr(colon + 1);
    }
    port = kDefaultRtspPort;
    const size_t colon = hostPort.rfind(':');
    host = hostPort.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string portText = hostPort.substr(colon + 1);
        if (portText.empty() || portText.size() > 5 ||
            portText.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const unsigned long value = std::strtoul(portText.c_str(), nullptr, 10);
        if (value == 0 || value > 65535) {
            return false;
        }
        port = static_cast<unsigned short>(value);
    }
    return !host.empty();
}

std::string RTSPClient::ResolveControl(const std::string& base, const std::string& control)
{
    if (control.empty() || control == "*") {
        return base;
    }
    if (control.find("://") != std::string::npos) {
        return control;
    }
    if (!base.empty() && base.back() == '/') {
        return base + control;
    }
    return base + "/" + control;
}

std::string RTSPClient::SessionUrl(const MediaSession& session) const
{
    return ResolveControl(baseUrl_, session.controlPath());
}

unsigned RTSPClient::sendDescribeCommand(responseHandler* handler, Authenticator* authenticator)
{
    Request request;
    request.method = "DESCRIBE";
    request.url = baseUrl_;
    request.extraHeaders = "Accept: application/sdp\r\n";
    request.handler = handler;
    return SendRequest(std::move(request), authenticator);
}

unsigned RTSPClient::sendSetupCommand(MediaSubsession& subsession, responseHandler* handler,
                                      Authenticator* authenticator)
{
    Request request;
    request.method = "SETUP";
    request.url = ResolveControl(SessionUrl(subsession.parentSession()), subsession.controlPath());
    if (subsession.isInterleaved()) {
        const unsigned channel = subsession.rtpChannel();
        request.extraHeaders = "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(channel) + "-" +
                               std::to_string(channel + 1) + "\r\n";
    } else {
        const unsigned port = subsession.clientPortNum();
        request.extraHeaders = "Transport: RTP/AVP;unicast;client_port=" + std::to_string(port) + "-" +
                               std::to_string(port + 1) + "\r\n";
    }
    request.handler = handler;
    request.session = &subsession.parentSession();
    request.subsession = &subsession;
    return SendRequest(std::move(request), authenticator);
}

unsigned RTSPClient::sendPlayCommand(MediaSession& session, responseHandler* handler, double start,
                                     double end, float scale, Authenticator* authenticator)
{
    Request request;
    request.method = "PLAY";
    request.url = SessionUrl(session);
    request.extraHeaders = "Range: npt=" + FormatSeconds(start < 0.0 ? 0.0 : start) + "-" +
                           (end < 0.0 ? std::string() : FormatSeconds(end)) + "\r\n";
    if (scale != 1.0f) {
        request.extraHeaders += "Scale: " + FormatSeconds(scale) + "\r\n";
    }
    request.handler = handler;
    request.session = &session;
    return SendRequest(std::move(request), authenticator);
}

unsigned RTSPClient::sendPlayCommand(MediaSession& session, responseHandler* handler,
                                     const char* absStartTime, const char* absEndTime, float scale,
                                     Authenticator* authenticator)
{
    Request request;
    request.method = "PLAY";
    request.url = SessionUrl(session);
    request.extraHeaders = std::string("Range: clock=") + (absStartTime != nullptr ? absStartTime : "") +
                           "-" + (absEndTime != nullptr ? absEndTime : "") + "\r\n";
    if (scale != 1.0f) {
        request.extraHeaders += "Scale: " + FormatSeconds(scale) + "\r\n";
    }
    request.handler = handler;
    request.session = &session;
    return SendRequest(std::move(request), authenticator);
}

unsigned RTSPClient::sendGetParameterCommand(MediaSession& session, responseHandler* handler,
                                             const char* parameterName, Authenticator* authenticator)
{
    Request request;
    request.method = "GET_PARAMETER";
    request.url = SessionUrl(session);
    if (parameterName != nullptr && parameterName[0] != '\0') {
        const std::string body = std::string(parameterName) + "\r\n";
        request.extraHeaders =
            "Content-Type: text/parameters\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
            body;
    }
    request.handler = handler;
    request.session = &session;
    return SendRequest(std::move(request), authenticator);
}

unsigned RTSPClient::sendTeardownCommand(MediaSession& session, responseHandler* handler,
                                         Authenticator* authenticator)
{
    Request request;
    request.method = "TEARDOWN";
    request.url = SessionUrl(session);
    request.handler = handler;
    request.session = &session;
    return SendRequest(std::move(request), authenticator);
}

unsigned RTSPClient::SendRequest(Request request, Authenticator* authenticator)
{
    if (authenticator != nullptr) {
        // Keep a challenge already answered for the same user.
        if (!haveCredentials_ || credentials_.username() != authenticator->username() ||
            credentials_.password() != authenticator->password()) {
            credentials_ = *authenticator;
        }
        haveCredentials_ = true;
    } else if (!haveCredentials_) {
        std::string host;
        unsigned short port = 0;
        std::string user;
        std::string password;
        if (ParseRtspUrl(baseUrl_, host, port, user, password) && !user.empty()) {
            credentials_ = Authenticator(user.c_str(), password.c_str());
            haveCredentials_ = true;
        }
    }
    request.cseq = nextCSeq_++;
    const unsigned cseq = request.cseq;
    if (socket_ < 0 && !Connect()) {
        if (request.handler != nullptr) {
            request.handler(this, -1, strDup(envir().getResultMsg()));
        }
        return cseq;
    }
    if (connecting_) {
        awaitingConnection_.push_back(std::move(request));
    } else {
        Transmit(request);
    }
    return cseq;
}

bool RTSPClient::Connect()
{
    std::string host;
    unsigned short port = 0;
    std::string user;
    std::string password;
    if (!ParseRtspUrl(serverUrl_, host, port, user, password)) {
        envir().setResultMsg("Failed to parse URL \"" + serverUrl_ + "\"");
        return false;
    }
    if (host.size() > 2 && host.front() == '[') {
        envir().setResultMsg("IPv6 addresses are not supported: \"" + host + "\"");
        return false;
    }
    // No name lookup: it would block the loop for as long as the resolver
    // takes, and with it every stop request.
    serverAddress_ = sockaddr_in{};
    serverAddress_.sin_family = AF_INET;
    if (inet_pton(AF_INET, host.c_str(), &serverAddress_.sin_addr) != 1) {
        envir().setResultMsg("Not a numeric IPv4 address: \"" + host + "\"");
        return false;
    }
    serverAddress_.sin_port = htons(port);

    socket_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        envir().setResultErrMsg("Failed to create a socket: ", errno);
        return false;
    }
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&serverAddress_), sizeof(serverAddress_)) != 0) {
        if (errno != EINPROGRESS) {
            envir().setResultErrMsg("Connection to server failed: ", errno);
            CloseConnection();
            return false;
        }
        connecting_ = true;
    }
    UpdateSocketHandling();
    return true;
}

void RTSPClient::CloseConnection()
{
    if (socket_ >= 0) {
        envir().taskScheduler().disableBackgroundHandling(socket_);
        if (!connecting_) {
            // Bytes left unread at close make the kernel reset the connection,
            // which can throw away a TEARDOWN still on its way: end the sending
            // side after it, and read what has come meanwhile (bounded).
            shutdown(socket_, SHUT_WR);
            char discard[kReadChunk];
            for (int i = 0; i < 64 && recv(socket_, discard, sizeof(discard), MSG_DONTWAIT) > 0; ++i) {
            }
        }
        ::close(socket_);
        socket_ = -1;
        ++connectionCount_;
    }
    connecting_ = false;
    output_.clear();
    input_.Clear();
}

void RTSPClient::DropConnection()
{
    CloseConnection();
    awaitingConnection_.clear();
    awaitingResponse_.clear();
    sessionId_.clear();
}

void RTSPClient::ConnectionFailed(int resultCode, const std::string& message, bool established)
{
    envir().setResultMsg(message);
    CloseConnection();
    FailAll(resultCode, message);
    if (established) {
        OnConnectionLost(message);
    }
}

void RTSPClient::SendInterleaved(uint8_t channel, const uint8_t* data, size_t size)
{
    if (socket_ < 0 || connecting_ || size > InterleavedFraming::kMaxPacketSize ||
        output_.size() > kMaxQueuedOutputForPackets) {
        return;
    }
    output_ += '$';
    output_ += static_cast<char>(channel);
    output_ += static_cast<char>(size >> 8);
    output_ += static_cast<char>(size & 0xFF);
    output_.append(reinterpret_cast<const char*>(data), size);
    HandleWritable();
}

void RTSPClient::FailAll(int resultCode, const std::string& message)
{
    std::list<Request> failed;
    failed.splice(failed.end(), awaitingConnection_);
    failed.splice(failed.end(), awaitingResponse_);
    for (const Request& request : failed) {
        if (request.handler != nullptr) {
            request.handler(this, resultCode, strDup(message));
        }
    }
}

void RTSPClient::UpdateSocketHandling()
{
    if (socket_ < 0) {
        return;
    }
    int mask = SOCKET_READABLE;
    if (connecting_ || !output_.empty()) {
        mask |= SOCKET_WRITABLE;
    }
    envir().taskScheduler().setBackgroundHandling(socket_, mask, SocketHandler, this);
}

void RTSPClient::Transmit(Request& request)
{
    std::string text = request.method + " " + request.url + " RTSP/1.0\r\n";
    text += "CSeq: " + std::to_string(request.cseq) + "\r\n";
    text += "User-Agent: " + userAgent_ + "\r\n";
    // The progress line shows the request without its credentials.
    std::string authorization;
    if (haveCredentials_ && credentials_.HasChallenge()) {
        authorization =
            "Authorization: " + credentials_.AuthorizationHeader(request.method, request.url) + "\r\n";
    }
    const size_t authorizationAt = text.size();
    text += authorization;
    if (!sessionId_.empty() && request.method != "DESCRIBE") {
        text += "Session: " + sessionId_ + "\r\n";
    }
    // A body (GET_PARAMETER with a name) comes with its own blank line.
    const bool hasBody = request.extraHeaders.find("\r\n\r\n") != std::string::npos;
    text += request.extraHeaders;
    if (!hasBody) {
        text += "\r\n";
    }
    if (verbosityLevel_ >= 1) {
        std::string shown = text;
        if (!authorization.empty()) {
            shown.replace(authorizationAt, authorization.size(), "Authorization: ***\r\n");
        }
        envir() << "Sending request: " << shown << "\n";
    }
    output_ += text;
    awaitingResponse_.push_back(std::move(request));
    HandleWritable();
}

void RTSPClient::SocketHandler(void* clientData, int mask)
{
    auto* self = static_cast<RTSPClient*>(clientData);
    if (self->connecting_ && (mask & (SOCKET_WRITABLE | SOCKET_EXCEPTION))) {
        int error = 0;
        socklen_t length = sizeof(error);
        getsockopt(self->socket_, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            self->envir().setResultErrMsg("Connection to server failed: ", error);
            self->ConnectionFailed(-error, self->envir().getResultMsg(), false);
            return;
        }
        self->connecting_ = false;
        std::list<Request> queued;
        queued.splice(queued.end(), self->awaitingConnection_);
        for (Request& request : queued) {
            self->Transmit(request);
        }
        self->UpdateSocketHandling();
        return;
    }
    if (mask & SOCKET_WRITABLE) {
        self->HandleWritable();
    }
    if (self->socket_ >= 0 && (mask & (SOCKET_READABLE | SOCKET_EXCEPTION))) {
        self->HandleReadable();
    }
}

void RTSPClient::HandleWritable()
{
    if (socket_ < 0 || connecting_) {
        return;
    }
    while (!output_.empty()) {
        const ssize_t sent = send(socket_, output_.data(), output_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                break;
            }
            envir().setResultErrMsg("Failed to send a request: ", errno);
            ConnectionFailed(-1, envir().getResultMsg());
            return;
        }
        output_.erase(0, static_cast<size_t>(sent));
    }
    UpdateSocketHandling();
}

void RTSPClient::HandleReadable()
{
    const unsigned connection = connectionCount_;
    for (int read = 0; read < kReadsPerEvent; ++read) {
        char chunk[kReadChunk];
        const ssize_t got = recv(socket_, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (got <= 0) {
            ConnectionFailed(-1, got == 0
                                     ? std::string("Connection closed by the server")
                                     : std::string("Failed to read a response: ") + std::strerror(errno));
            return;
        }
        input_.Append(chunk, static_cast<size_t>(got));
        if (!HandleInput(connection) || static_cast<size_t>(got) < sizeof(chunk)) {
            return;
        }
    }
}

bool RTSPClient::HandleInput(unsigned connection)
{
    // Every handler called from here may close the connection, or replace it.
    while (connection == connectionCount_ && socket_ >= 0) {
        switch (input_.Next()) {
        case InterleavedFraming::Result::NeedMore:
            return true;
        case InterleavedFraming::Result::Invalid:
            ConnectionFailed(-1, input_.Error());
            return false;
        case InterleavedFraming::Result::Packet:
            if (!OnInterleavedPacket(input_.Channel(), input_.Payload(), input_.PayloadSize()) &&
                connection == connectionCount_) {
                ConnectionFailed(-1, "Received an interleaved packet on channel " +
                                         std::to_string(input_.Channel()) + ", which nothing was set up on");
                return false;
            }
            break;
        case InterleavedFraming::Result::Message:
            if (verbosityLevel_ >= 1) {
                envir() << "Received a complete response:\n" << input_.MessageText() << "\n";
            }
            if (!input_.Message().isRequest) {
                HandleResponse(input_.Message());
            }
            break;
        }
    }
    return false;
}

void RTSPClient::HandleResponse(const RtspResponse& response)
{
    unsigned cseq = 0;
    if (!response.CSeq(cseq)) {
        return;
    }
    auto it = awaitingResponse_.begin();
    while (it != awaitingResponse_.end() && it->cseq != cseq) {
        ++it;
    }
    if (it == awaitingResponse_.end()) {
        return; // an answer to nothing we wait for
    }
    Request request = std::move(*it);
    awaitingResponse_.erase(it);

    if (response.statusCode == 401 && !request.retriedWithAuth && haveCredentials_) {
        bool accepted = false;
        for (const char* scheme : {"Digest", "Basic"}) {
            for (const std::string& challenge : response.Headers("WWW-Authenticate")) {
                if (!accepted && StartsWithNoCase(Trim(challenge), scheme)) {
                    accepted = credentials_.SetChallenge(challenge);
                }
            }
        }
        if (accepted) {
            request.retriedWithAuth = true;
            request.cseq = nextCSeq_++;
            Transmit(request);
            return;
        }
    }

    if (response.statusCode < 200 || response.statusCode > 299) {
        if (request.handler != nullptr) {
            const std::string text = std::to_string(response.statusCode) + " " + response.reasonPhrase;
            request.handler(this, response.statusCode, strDup(text));
        }
        return;
    }

    char* resultString = nullptr;
    if (request.method == "DESCRIBE") {
        const std::string* base = response.Header("Content-Base");
        if (base == nullptr) {
            base = response.Header("Content-Location");
        }
        if (base != nullptr && !base->empty()) {
            if (IsServerUrl(*base)) {
                baseUrl_ = *base;
            } else {
                OnForeignBaseIgnored(
                    response.Header("Content-Base") != nullptr ? "Content-Base" : "Content-Location", *base);
            }
        }
        resultString = strDup(response.body);
    } else if (request.method == "SETUP") {
        if (const std::string* session = response.Header("Session")) {
            std::string id;
            unsigned timeout = 0;
            if (ParseSessionHeader(*session, id, timeout)) {
                sessionId_ = id;
                if (request.subsession != nullptr) {
                    request.subsession->SetSessionId(id);
                }
            }
        }
        // Set also without a usable Transport answer: the stream is then taken
        // from the server's address on any port.
        TransportInfo transport;
        const std::string* transportHeader = response.Header("Transport");
        if (transportHeader != nullptr) {
            ParseTransportHeader(*transportHeader, transport);
        }
        if (request.subsession != nullptr) {
            request.subsession->SetServerTransport(serverAddress_, transport);
        }
    } else if (request.method == "GET_PARAMETER") {
        resultString = strDup(response.body);
    }
    if (request.handler != nullptr) {
        request.handler(this, 0, resultString);
    } else {
        delete[] resultString;
    }
}
