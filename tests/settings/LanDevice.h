#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One simulated device (qel-device-sim) in a device namespace of the virtual
// LAN, started through scripts/virtual-lan from the workstation namespace the
// test runs in. The constructor waits for the simulator's ready line; the
// destructor ends it, and it ends by itself after a bounded time anyway.
class LanDevice final {
public:
    LanDevice(const QString& deviceNamespace, const QStringList& arguments);
    ~LanDevice();
    LanDevice(const LanDevice&) = delete;
    LanDevice& operator=(const LanDevice&) = delete;

    bool IsReady() const { return ready_; }

    // QEL_SIM and QEL_SOURCE_DIR are set where the test may use the LAN.
    static bool Available();

private:
    QProcess process_;
    bool ready_ = false;
};
