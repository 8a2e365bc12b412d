#pragma once

#include <netinet/in.h>

#include <cstdint>

// The peer a receiving UDP socket takes datagrams from: the RTSP server's
// address (or the source address it named) and, when the server gave one,
// its port. Until set it accepts every sender.
class SenderFilter {
public:
    // `port` in host order, 0 = any port of those addresses.
    void Set(in_addr server, in_addr namedSource, uint16_t port)
    {
        active_ = true;
        server_ = server.s_addr;
        namedSource_ = namedSource.s_addr;
        port_ = htons(port);
    }

    bool Accepts(const sockaddr_in& from) const
    {
        if (!active_) {
            return true;
        }
        if (from.sin_family != AF_INET ||
            (from.sin_addr.s_addr != server_ && from.sin_addr.s_addr != namedSource_)) {
            return false;
        }
        return port_ == 0 || from.sin_port == port_;
    }

private:
    bool active_ = false;
    in_addr_t server_ = 0;
    in_addr_t namedSource_ = 0;
    uint16_t port_ = 0; // network order
};
