#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One simulated device (qel-device-sim) for a test: inside a device namespace
// of the virtual LAN ("dev1", "dev2", ...), started through scripts/virtual-lan
// from the workstation namespace the test runs in, or, with an empty
// namespace, on this machine. The constructor waits for the simulator's ready
// line; the destructor ends it. It also ends when the test process dies, and
// by itself after a bounded time, so it never answers for a later run.
// Needs a QCoreApplication.
class SimDevice final {
public:
    // `parts` non-empty: only those parts of the simulator run ("udp",
    // "http,rtsp", ...).
    SimDevice(const QString& deviceNamespace, const QStringList& arguments, const QString& parts = {});
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    bool IsReady() const { return ready_; }
    QString Output() const { return output_; }
    // Reads the simulator's output until `text` appears in it (true) or the
    // time is up.
    bool WaitForOutput(const QString& text, int timeoutMs);
    // Ends the simulator at once, without its orderly stop.
    void Kill();

    // QEL_SIM and QEL_SOURCE_DIR are set where a test may use the simulator
    // and the virtual LAN. On this machine the simulator of the build is used
    // without them.
    static bool Available();

    // Options that put the device and all its servers on `address`, for a
    // simulator started on this machine.
    static QStringList OnAddress(const QString& address);

private:
    QProcess process_;
    QString output_;
    bool ready_ = false;
};
