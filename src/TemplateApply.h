#pragma once

#include "TemplateParts.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class HttpClientModule;
class VcaConfigReader;

// How one part of a template fared on one device.
struct TemplatePartResult {
    enum class State {
        Waiting,   // not judged yet
        Matches,   // read back after the apply, the device holds the template's values
        Failed,    // see reason
        Differs,   // every request went through, yet the device reads back otherwise
        Cancelled, // not sent: the batch was cancelled before the device
    };

    TemplatePart part = TemplatePart::Zones;
    State state = State::Waiting;
    QString reason;    // with State::Failed: the HTTP failure or the refusal
    bool sent = false; // a request of this part went to the device

    // "matches", "failed: <reason>", "differs after apply", "not sent
    // (cancelled)"; empty while waiting.
    QString StatusText() const;
};

// Applies the chosen parts of a template to one device over the
// asynchronous HTTP client: reads the device's configuration, refuses
// (sending nothing) unless it was read whole, sends each part whose values
// differ on the device (each part's requests in order; a part stops at its
// first failed request, so that no zone or class is added after a removal
// that did not go through), then reads the configuration back and judges
// every part. Each request is bounded by the client's time limits. GUI
// thread only; one Start per object.
class TemplateApply final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(TemplateApply)
public:
    // `tmpl` must outlive the object. `host` is the device's address, with
    // ":port" when not 80.
    TemplateApply(const VcaConfigReader& tmpl, const TemplatePartChoice& choice, const QString& host,
                  QObject* parent);
    ~TemplateApply() override;

    void Start();
    bool IsFinished() const { return phase_ == Phase::Finished; }

    const std::vector<TemplatePartResult>& Results() const { return results_; }
    // A write request went to the device (whatever its answer).
    bool AnythingSent() const { return anythingSent_; }
    // Every chosen part matches.
    bool AllMatch() const;

signals:
    // A part's result changed.
    void Progress();
    void Finished();

private slots:
    void OnDone(const QByteArray& content);
    void OnFailed(const QString& text);

private:
    enum class Phase { Idle, Reading, Sending, ReadingBack, Finished };

    void Get(const QString& path);
    void SendNext();
    void Judge(const QByteArray& content);
    void FailAll(const QString& reason);
    void Finish();

    const VcaConfigReader& tmpl_;
    QString host_;
    HttpClientModule* http_ = nullptr; // child
    Phase phase_ = Phase::Idle;
    std::vector<TemplatePartResult> results_;
    // The requests of the part being sent, the next one, and the part.
    std::vector<QString> pending_;
    size_t nextRequest_ = 0;
    size_t part_ = 0;
    bool anythingSent_ = false;
};
