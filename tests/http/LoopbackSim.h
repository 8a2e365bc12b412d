#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A qel-device-sim child process serving one device on loopback only, with
// free ports of its own. Started by the constructor, killed by the destructor.
class SimProcess final {
public:
    explicit SimProcess(const QStringList& extraArguments = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool IsReady() const { return ready_; }
    int HttpPort() const { return httpPort_; }
    // "http://127.0.0.1:<port>" + path
    std::string Url(const std::string& path) const;

    // A loopback port with nothing listening on it right now.
    static int FreeTcpPort();

private:
    QProcess process_;
    int httpPort_ = 0;
    bool ready_ = false;
};
