#pragma once

#include "SimDevice.h"

#include <QStringList>
#include <string>

// A simulated device serving its web interface on loopback only, on free
// ports of its own, without RTSP. Ended at once by the destructor: the
// simulator keeps nothing worth an orderly stop, and an orderly stop waits for
// idle kept-alive connections to time out.
class LoopbackSim final {
public:
    explicit LoopbackSim(const QStringList& extraArguments = {});
    ~LoopbackSim();
    LoopbackSim(const LoopbackSim&) = delete;
    LoopbackSim& operator=(const LoopbackSim&) = delete;

    bool IsReady() const { return sim_.IsReady(); }
    int HttpPort() const { return httpPort_; }
    // "http://127.0.0.1:<port>" + path
    std::string Url(const std::string& path) const;

    // A loopback port with nothing listening on it right now.
    static int FreeTcpPort();

private:
    static QStringList Arguments(int httpPort, const QStringList& extraArguments);

    int httpPort_ = 0;
    SimDevice sim_;
};
