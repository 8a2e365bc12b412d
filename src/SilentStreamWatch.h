#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <vector>

class DrawableView;

// Says so over the live views when a connection has shown no picture for a
// while: a stalled stream keeps its last picture and would look live. The
// text counts the seconds and goes as soon as a picture arrives or the
// connection ends. After kEndAfterMs without a picture it reports the
// silence once per connection; the owner decides whether that ends it.
// While the owner reconnects, the views say that instead, with its reason.
// Owned by the live view; GUI thread only.
class SilentStreamWatch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(SilentStreamWatch)
public:
    // Shorter gaps are ordinary jitter of a live stream.
    static constexpr int kSilenceMs = 3000;
    // A device that lost its power or its network closes nothing: a stream
    // silent this long is taken as ended, long before the client's own rule
    // for a dead device.
    static constexpr int kEndAfterMs = 10000;

    SilentStreamWatch(std::vector<DrawableView*> views, QObject* parent);
    ~SilentStreamWatch() override;

    // A connection began: silence is counted from now.
    void Start();
    void PictureShown();
    // Until the next picture or Stop, the views say that the stream is being
    // reconnected for `reason`.
    void ShowReconnecting(const QString& reason);
    // The connection ended: nothing more is said.
    void Stop();

signals:
    void SilenceLimitReached();

private slots:
    void OnTick();

private:
    void ShowText(const QString& text);

    std::vector<DrawableView*> views_; // the dialog's, not owned
    QTimer tick_;
    QElapsedTimer sincePicture_;
    bool limitReported_ = false;
    bool reconnecting_ = false; // the reconnect text stands instead of the silence count
};
