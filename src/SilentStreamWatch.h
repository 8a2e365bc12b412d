#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <vector>

class DrawableView;

// Says so over the live views when a connection has shown no picture for a
// while: a stalled stream keeps its last picture and would look live until
// the client gives up on a silent device after a minute. The text counts the
// seconds and goes as soon as a picture arrives or the connection ends.
// Owned by the settings dialog; GUI thread only.
class SilentStreamWatch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(SilentStreamWatch)
public:
    // Shorter gaps are ordinary jitter of a live stream.
    static constexpr int kSilenceMs = 3000;

    SilentStreamWatch(std::vector<DrawableView*> views, QObject* parent);
    ~SilentStreamWatch() override;

    // A connection began: silence is counted from now.
    void Start();
    void PictureShown();
    // The connection ended: nothing more is said.
    void Stop();

private slots:
    void OnTick();

private:
    void ShowText(const QString& text);

    std::vector<DrawableView*> views_; // the dialog's, not owned
    QTimer tick_;
    QElapsedTimer sincePicture_;
};
