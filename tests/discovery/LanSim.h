#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A qel-device-sim process in one device namespace of the virtual LAN
// ("dev1", "dev2", ...), started through scripts/virtual-lan from the
// workstation namespace the test runs in. The constructor waits for its
// ready line; the destructor ends it.
class LanSim final {
public:
    LanSim(const QString& deviceNamespace, const QStringList& arguments);
    ~LanSim();
    LanSim(const LanSim&) = delete;
    LanSim& operator=(const LanSim&) = delete;

    bool IsReady() const { return ready_; }
    QString Output() const { return output_; }

    // True when the test runs where the simulator and the LAN script are
    // known (QEL_SIM and QEL_SOURCE_DIR, set by the test registration).
    static bool Available();

private:
    QProcess process_;
    QString output_;
    bool ready_ = false;
};
