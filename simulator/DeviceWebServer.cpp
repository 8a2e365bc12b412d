#include "DeviceWebServer.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace {

const std::string kCgiPrefix = "/qel-cgi/admin/";
// Devices answer plain text, uncompressed. The server library gzips every
// body whose type starts with "text/" when the client accepts it; media types
// are case-insensitive, so this spelling is the same type, sent as it is.
const char kTextType[] = "Text/plain";

// The local (or, with `peer`, the remote) end of socket `fd` is address:port,
// the address written as the web library writes it into a request.
bool SocketEndIs(int fd, bool peer, const std::string& address, int port)
{
    sockaddr_storage end{};
    socklen_t length = sizeof end;
    auto* endAddress = reinterpret_cast<sockaddr*>(&end);
    if ((peer ? ::getpeername(fd, endAddress, &length) : ::getsockname(fd, endAddress, &length)) != 0) {
        return false;
    }
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    return ::getnameinfo(endAddress, length, host, sizeof host, service, sizeof service,
                         NI_NUMERICHOST | NI_NUMERICSERV) == 0 &&
           address == host && std::to_string(port) == service;
}

// The socket `request` came on, or -1. The web library does not hand it to a
// handler, so it is looked for among the process's descriptors by its two
// ends; while the handler runs, the library keeps it open.
int ConnectionSocket(const httplib::Request& request)
{
    DIR* descriptors = ::opendir("/proc/self/fd");
    if (descriptors == nullptr) {
        return -1;
    }
    int found = -1;
    while (const dirent* entry = ::readdir(descriptors)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ::dirfd(descriptors)) {
            continue;
        }
        if (SocketEndIs(static_cast<int>(fd), true, request.remote_addr, request.remote_port) &&
            (request.local_port < 0 ||
             SocketEndIs(static_cast<int>(fd), false, request.local_addr, request.local_port))) {
            found = static_cast<int>(fd);
            break;
        }
    }
    ::closedir(descriptors);
    return found;
}

// The client closed its end (or at least stopped sending: a client that
// still waits for the answer keeps its end open).
bool ClientClosed(int socket)
{
    pollfd connection{socket, POLLRDHUP, 0};
    return ::poll(&connection, 1, 0) > 0 && (connection.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

} // namespace

DeviceWebServer::DeviceWebServer(WebServerOptions options, VcaConfigState& state)
    : options_(std::move(options)), state_(state), authenticator_(kUser, kPassword, options_.authScheme),
      server_(std::make_unique<httplib::Server>())
{
    // Every device runs its own server, so each gets a small pool: enough
    // for the tool's two HTTP clients (each holding a kept-alive connection)
    // and a delayed answer at the same time.
    server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server_->set_keep_alive_timeout(kKeepAliveSeconds);
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Handle(request, response);
    });
}

DeviceWebServer::~DeviceWebServer()
{
    Stop();
}

bool DeviceWebServer::Start(std::string& errorMessage)
{
    if (!options_.failureReason.empty()) {
        return StartReasonServer(errorMessage);
    }
    if (options_.port == 0) {
        boundPort_ = server_->bind_to_any_port(options_.bindAddress);
    } else if (server_->bind_to_port(options_.bindAddress, options_.port)) {
        boundPort_ = options_.port;
    } else {
        boundPort_ = -1;
    }
    if (boundPort_ <= 0) {
        errorMessage =
            "cannot bind HTTP port " + std::to_string(options_.port) + " on " + options_.bindAddress;
        return false;
    }
    thread_ = std::thread([this] {
        // The web library sends without MSG_NOSIGNAL: a client gone while its
        // answer is written must fail that answer, not end the simulator. The
        // worker threads started from here inherit the mask.
        sigset_t brokenPipe;
        sigemptyset(&brokenPipe);
        sigaddset(&brokenPipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
        server_->listen_after_bind();
    });
    return true;
}

void DeviceWebServer::Stop()
{
    {
        const std::lock_guard<std::mutex> lock(hangMutex_);
        stopping_ = true;
    }
    hangEnded_.notify_all();
    if (reasonSocket_ >= 0) {
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(reasonSocket_);
        reasonSocket_ = -1;
        return;
    }
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

bool DeviceWebServer::StartReasonServer(std::string& errorMessage)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options_.port));
    const int one = 1;
    reasonSocket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (reasonSocket_ < 0 || ::inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1 ||
        ::setsockopt(reasonSocket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        // As the web library does, so that its connections left in TIME_WAIT
        // by a simulator that ran before do not block the port.
        ::setsockopt(reasonSocket_, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0 ||
        ::bind(reasonSocket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(reasonSocket_, 16) != 0) {
        errorMessage =
            "cannot bind HTTP port " + std::to_string(options_.port) + " on " + options_.bindAddress;
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(reasonSocket_, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { RunReasonServer(); });
    return true;
}

void DeviceWebServer::RunReasonServer()
{
    const std::string answer =
        "HTTP/1.1 500 " + options_.failureReason + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    constexpr int kPollMs = 100;
    constexpr int kReadTimeoutMs = 2000;
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(hangMutex_);
            if (stopping_) {
                return;
            }
        }
        pollfd listening{reasonSocket_, POLLIN, 0};
        if (::poll(&listening, 1, kPollMs) <= 0) {
            continue;
        }
        const int client = ::accept4(reasonSocket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        // Read the request head, bounded in time and size, then answer.
        std::string head;
        char buffer[1024];
        pollfd reading{client, POLLIN, 0};
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
               ::poll(&reading, 1, kReadTimeoutMs) > 0) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            head.append(buffer, static_cast<size_t>(n));
        }
        ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        // The client closes first, so that the port is not held in TIME_WAIT
        // on this side and a simulator started next can bind it at once.
        ::shutdown(client, SHUT_WR);
        while (::poll(&reading, 1, kReadTimeoutMs) > 0 && ::recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(client);
    }
}

void DeviceWebServer::AskForCredentials(httplib::Response& response)
{
    response.status = 401;
    response.set_header("WWW-Authenticate", authenticator_.Challenge());
    response.set_content("Unauthorized\r\n", kTextType);
}

void DeviceWebServer::Hang()
{
    constexpr std::chrono::minutes kLongestHang(10);
    std::unique_lock<std::mutex> lock(hangMutex_);
    hangEnded_.wait_for(lock, kLongestHang, [this] { return stopping_; });
}

bool DeviceWebServer::WaitUnlessStopping(int ms)
{
    std::unique_lock<std::mutex> lock(hangMutex_);
    return !hangEnded_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool DeviceWebServer::Stopping()
{
    const std::lock_guard<std::mutex> lock(hangMutex_);
    return stopping_;
}

void DeviceWebServer::SendEndless(const std::string& body, httplib::Response& response)
{
    // Whole copies of the body, about 64 KiB per write.
    constexpr size_t kChunkBytes = 64 * 1024;
    std::string chunk;
    const std::string unit = body.empty() ? std::string("x") : body;
    while (chunk.size() < kChunkBytes) {
        chunk += unit;
    }
    const auto write = [this, chunk](size_t offset, size_t length, httplib::DataSink& sink) {
        if (Stopping()) {
            return false;
        }
        const size_t part = std::min(length, chunk.size() - offset % chunk.size());
        return sink.write(chunk.data() + offset % chunk.size(), part);
    };
    if (options_.endlessBytes > 0) {
        response.set_content_provider(options_.endlessBytes, kTextType,
                                      [write](size_t offset, size_t length, httplib::DataSink& sink) {
                                          return write(offset, length, sink);
                                      });
        return;
    }
    response.set_chunked_content_provider(kTextType, [write, chunk](size_t offset, httplib::DataSink& sink) {
        return write(offset, chunk.size(), sink);
    });
}

void DeviceWebServer::SendTrickle(const std::string& body, httplib::Response& response)
{
    response.set_chunked_content_provider(kTextType, [this, body](size_t offset, httplib::DataSink& sink) {
        if (offset >= body.size()) {
            sink.done();
            return true;
        }
        return WaitUnlessStopping(offset == 0 ? 0 : options_.trickleMs) &&
               sink.write(body.data() + offset, 1);
    });
}

DeviceWebServer::WriteTurn DeviceWebServer::TakeWriteTurn(const std::string& command,
                                                          const VcaConfigState::Params& params)
{
    const std::lock_guard<std::mutex> lock(writeMutex_);
    ++writeCount_;
    if (writeCount_ == options_.failNthWrite) {
        return WriteTurn::Fail;
    }
    if (writeCount_ == options_.writeAfterTimeoutNth) {
        // Pending from its turn on, so that every request that runs after it
        // carries it out first.
        heldWrite_ = HeldWrite{command, params, std::nullopt};
        return WriteTurn::Hold;
    }
    return WriteTurn::Normal;
}

void DeviceWebServer::CarryOutHeldWrite()
{
    // The lock stays held while the write is carried out: a request that
    // comes meanwhile waits here until the write has taken effect.
    const std::lock_guard<std::mutex> lock(writeMutex_);
    if (heldWrite_ && !heldWrite_->result) {
        heldWrite_->result = state_.Execute(heldWrite_->command, heldWrite_->params, options_.configFault);
    }
}

void DeviceWebServer::HoldWrite(const httplib::Request& request, httplib::Response& response)
{
    // Longer than any client of the tool waits without data; a client that
    // waits on is answered then.
    constexpr std::chrono::seconds kLongestHold(60);
    constexpr int kPollMs = 50;
    const auto end = std::chrono::steady_clock::now() + kLongestHold;
    // Not found: held for the whole bound, the write carried out by the next
    // request or at the end.
    const int socket = ConnectionSocket(request);
    while (!(socket >= 0 && ClientClosed(socket)) && std::chrono::steady_clock::now() < end &&
           WaitUnlessStopping(kPollMs)) {
    }
    CarryOutHeldWrite();
    VcaConfigState::Result result;
    {
        const std::lock_guard<std::mutex> lock(writeMutex_);
        result = *heldWrite_->result;
    }
    // The client is most likely gone: the library then fails this answer
    // quietly, the connection closed.
    response.status = result.status;
    response.set_content(result.body, kTextType);
}

void DeviceWebServer::Handle(const httplib::Request& request, httplib::Response& response)
{
    if (options_.delayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.delayMs));
    }
    if (!options_.redirectLocation.empty()) {
        response.set_redirect(options_.redirectLocation, 302);
        return;
    }
    if (options_.forcedStatus != 0) {
        // No body: a forced 200 is also the empty answer some tests need.
        response.status = options_.forcedStatus;
        return;
    }
    if (options_.rejectCredentials) {
        AskForCredentials(response);
        return;
    }
    if (request.path.compare(0, kCgiPrefix.size(), kCgiPrefix) != 0) {
        response.status = 404;
        response.set_content("Not Found\r\n", kTextType);
        return;
    }
    const std::string command = request.path.substr(kCgiPrefix.size());
    if (options_.hangCommands.count(command) != 0) {
        Hang();
        response.status = 503;
        return;
    }
    if (options_.failCommands.count(command) != 0) {
        response.status = 500;
        response.set_content("Internal Server Error\r\n", kTextType);
        return;
    }
    if (VcaConfigState::NeedsAuthentication(command) &&
        !authenticator_.Verify(request.method, request.target, request.get_header_value("Authorization"))) {
        AskForCredentials(response);
        return;
    }
    if (VcaConfigState::NeedsAuthentication(command)) {
        switch (TakeWriteTurn(command, request.params)) {
        case WriteTurn::Fail:
            response.status = 500;
            response.set_content("Internal Server Error\r\n", kTextType);
            return;
        case WriteTurn::Hold:
            HoldWrite(request, response);
            return;
        case WriteTurn::Normal:
            break;
        }
        if (options_.slowWritesMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.slowWritesMs));
        }
    }
    // A held write that is still pending was sent before this request: it
    // takes effect first.
    CarryOutHeldWrite();
    const VcaConfigState::Result result = state_.Execute(command, request.params, options_.configFault);
    response.status = result.status;
    if (options_.endlessCommands.count(command) != 0) {
        SendEndless(result.body, response);
    } else if (options_.trickleCommands.count(command) != 0) {
        SendTrickle(result.body, response);
    } else {
        response.set_content(result.body, kTextType);
    }
}
