#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One simulated device (qel-device-sim) with its web interface and its RTSP
// server only. Either inside a device namespace of the virtual LAN (started
// through scripts/virtual-lan from the workstation namespace the test runs
// in), or on a loopback address of this machine. The constructor waits for
// the simulator's ready line; the destructor ends it, and it ends by itself
// after a bounded time anyway.
class SimDevice final {
public:
    // `deviceNamespace` empty: on loopback at `address`.
    SimDevice(const QString& deviceNamespace, const QString& address, const QStringList& arguments);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    bool IsReady() const { return ready_; }
    QString Output() const { return output_; }

private:
    QProcess process_;
    bool ready_ = false;
    QString output_;
};
