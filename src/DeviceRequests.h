#pragma once

#include <QByteArray>
#include <QString>

// The device's web interface as a write of its configuration uses it: one
// GET at a time, each ended by the client's own time limits, with a way for
// the user to ask that the change be stopped and a display of its progress.
class DeviceRequests {
public:
    virtual ~DeviceRequests() = default;

    // GET `path` (under the device's address); true with the whole body, or
    // false with the reason as a user text.
    virtual bool Get(const QString& path, QByteArray& body, QString& error) = 0;
    // Waits `ms` while the program goes on.
    virtual void Wait(int ms) = 0;

    // The user asked to stop the change under way.
    virtual bool StopRequested() const { return false; }
    // The configuration is being read.
    virtual void ShowReading() {}
    // Request `index` of `count` of `action` ("Applying zones") goes out.
    virtual void ShowStep(const QString& /*action*/, int /*index*/, int /*count*/) {}
    // What was changed is being put back: stopping is not offered any more.
    virtual void ShowPuttingBack() {}
};
