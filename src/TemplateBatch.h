#pragma once

#include "DeviceNetworkParams.h"
#include "TemplateApply.h"
#include "TemplateParts.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class BatchRunner;
class VcaConfigReader;

// One device of a template batch and how it fared.
struct TemplateEntry {
    DeviceNetworkParams device;            // as listed; from the command line only its address
    std::vector<TemplatePartResult> parts; // one per chosen part, in sending order
    bool sent = false;                     // a write request went to the device
    bool started = false;                  // the batch has come to it
    bool finished = false;                 // judged, or skipped after a cancel

    // Every chosen part matches.
    bool Matches() const;
    // "Eingang (10.77.0.12)", or the address alone when the name is not known.
    QString Label() const;
};

// Applies a template to devices one after another on the batch runner: one
// TemplateApply per device, failures do not stop the batch, Cancel lets the
// device at work finish and starts no other. Every device's result goes to
// the log as a change record. GUI thread only.
class TemplateBatch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(TemplateBatch)
public:
    TemplateBatch(std::shared_ptr<const VcaConfigReader> tmpl, const TemplatePartChoice& choice,
                  const std::vector<DeviceNetworkParams>& devices, QObject* parent);
    ~TemplateBatch() override;

    // Device i is reached at hosts[i] ("address:port") instead of its
    // address on port 80: for simulated devices that share one address.
    void SetHosts(const QStringList& hosts) { hosts_ = hosts; }

    void Start();
    // The device at work finishes; no other is sent anything.
    void Cancel();
    bool IsRunning() const;
    bool IsFinished() const;

    const std::vector<TemplatePart>& Parts() const { return parts_; }
    const std::vector<TemplateEntry>& Entries() const { return entries_; }

    // The line that ends the batch: "4 of 5 devices match the template",
    // then each device that does not match with its first part that does
    // not; after a cancel, which devices were changed.
    QString Summary() const;
    // One line per chosen part of device `index`: "10.77.0.12 zones: matches".
    QStringList ResultLines(size_t index) const;

signals:
    // Entry `index` has a new state.
    void EntryChanged(int index);
    void Finished();

private slots:
    void OnApplyProgress();
    void OnApplyFinished();
    void OnAllDone();

private:
    void StartEntry(size_t index);
    void SkipEntry(size_t index);
    void LogResult(size_t index) const;

    std::shared_ptr<const VcaConfigReader> tmpl_;
    TemplatePartChoice choice_;
    std::vector<TemplatePart> parts_;
    std::vector<TemplateEntry> entries_;
    BatchRunner* runner_ = nullptr;  // child
    TemplateApply* apply_ = nullptr; // child; the device at work
    size_t current_ = 0;
    QStringList hosts_;
};
