#pragma once

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A socket of `type` bound to `address` (host order) on a port the system
// picked; `port` tells which.
inline int BoundSocket(int type, uint32_t address, unsigned short& port)
{
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    socklen_t length = sizeof(local);
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    port = ntohs(local.sin_port);
    return fd;
}

// Answers each request read from the one connection it accepts with what the
// script returns for it; an empty answer closes the connection. Interleaved
// packets the client writes between requests are kept apart.
class ScriptedServer final {
public:
    using Script = std::function<std::string(const std::string& request, int index)>;

    explicit ScriptedServer(Script script) : script_(std::move(script))
    {
        listener_ = BoundSocket(SOCK_STREAM, INADDR_LOOPBACK, port_);
        listen(listener_, 1);
        thread_ = std::thread([this] { Serve(); });
    }

    ~ScriptedServer()
    {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }

    std::string Url(const std::string& path = "/ch0") const
    {
        return "rtsp://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> Requests() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // Each interleaved packet read: the channel byte, then the payload.
    std::vector<std::string> Interleaved() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return interleaved_;
    }

private:
    void Serve()
    {
        const int connection = accept(listener_, nullptr, nullptr);
        if (connection < 0) {
            return;
        }
        std::string pending;
        for (int index = 0;; ++index) {
            size_t end = 0;
            while (TakeInterleaved(pending) || (end = pending.find("\r\n\r\n")) == std::string::npos) {
                char buffer[4096];
                const ssize_t got = recv(connection, buffer, sizeof(buffer), 0);
                if (got <= 0) {
                    close(connection);
                    return;
                }
                pending.append(buffer, static_cast<size_t>(got));
            }
            const std::string request = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            const std::string answer = script_(request, index);
            if (answer.empty()) {
                break;
            }
            // A few bytes at a time: the client must put answers together.
            for (size_t offset = 0; offset < answer.size(); offset += 7) {
                send(connection, answer.data() + offset, std::min<size_t>(7, answer.size() - offset),
                     MSG_NOSIGNAL);
            }
        }
        close(connection);
    }

    // Moves complete packets off the front of `pending`; true while one is
    // incomplete there.
    bool TakeInterleaved(std::string& pending)
    {
        while (pending.size() >= 4 && pending[0] == '$') {
            const size_t length = (static_cast<size_t>(static_cast<unsigned char>(pending[2])) << 8) |
                                  static_cast<unsigned char>(pending[3]);
            if (pending.size() < 4 + length) {
                return true;
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            interleaved_.push_back(pending.substr(1, 1) + pending.substr(4, length));
            pending.erase(0, 4 + length);
        }
        return !pending.empty() && pending[0] == '$';
    }

    Script script_;
    int listener_ = -1;
    unsigned short port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_; // guards requests_ and interleaved_
    std::vector<std::string> requests_;
    std::vector<std::string> interleaved_;
};

inline std::string CSeqOf(const std::string& request)
{
    const size_t at = request.find("CSeq: ");
    return request.substr(at + 6, request.find("\r\n", at) - at - 6);
}

inline std::string HeaderOf(const std::string& request, const std::string& name)
{
    const size_t at = request.find(name + ": ");
    if (at == std::string::npos) {
        return std::string();
    }
    return request.substr(at + name.size() + 2, request.find("\r\n", at) - at - name.size() - 2);
}
