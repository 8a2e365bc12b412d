#pragma once

#include <QObject>
#include <QSignalSpy>
#include <QStringList>

class SettingsDialog;

// What a settings dialog under test reports: the status texts it emits, and
// the frames its video receiver hands over, counted on the GUI thread. Made
// after the dialog; it may outlive it, but then counts nothing more.
class DialogProbe final {
public:
    explicit DialogProbe(SettingsDialog* dialog);
    DialogProbe(const DialogProbe&) = delete;
    DialogProbe& operator=(const DialogProbe&) = delete;

    // False when the dialog has no video receiver whose frames it could count.
    bool CountsFrames() const { return countsFrames_; }
    int Frames() const { return frames_; }
    // Waits until `count` frames more than now have arrived.
    bool WaitFrames(int count, int timeoutMs);
    QStringList Statuses() const;
    void ClearStatuses() { status_.clear(); }

private:
    QSignalSpy status_;
    QObject frameCounter_;
    int frames_ = 0;
    bool countsFrames_ = false;
};
