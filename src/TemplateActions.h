#pragma once

#include "DeviceNetworkParams.h"
#include "TemplateParts.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace Ui {
class SettingsDialog;
}
class HttpClientDialog;
class QDialog;
class QWidget;
class ReplyRouter;
class TemplateApply;
class ZonesTab;

// The folder a template was last opened from (`save` false) or saved to, as
// remembered in the tool's settings; empty when none is or it is gone.
QString TemplateFolder(bool save);
void RememberTemplateFolder(bool save, const QString& path);

// Names the template in the part choice `choice`: its title and a line
// above the parts (object name "labelTemplate") give `label` (TemplateLabel).
void NameTemplate(QDialog& choice, const QString& label);

// "Save template…" and "Apply template…" of the settings dialog: a template
// is saved from the device's configuration as read from it (never the
// pages' unsaved edits) and applied as the template batch applies it, over
// the dialog's modal client (each part whole or put back, read back and
// compared with the file).
//
// Owned by the settings dialog (its Qt parent), whose form it works on,
// whose reply router its configuration reads go through and whose modal
// HTTP client sends the template's commands; results and failures go out as
// signals, the configuration read back as PartReadBack for the pages. GUI
// thread only; its requests are answered, failed or dropped with the dialog.
class TemplateActions final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(TemplateActions)
public:
    // `parent` owns it and parents its questions; requests go to the address
    // `params` holds at the time. `zones` is asked whether unapplied zone
    // edits would be replaced.
    TemplateActions(QWidget* parent, Ui::SettingsDialog* form, HttpClientDialog* http, ReplyRouter* router,
                    const DeviceNetworkParams& params, const ZonesTab* zones);

    // Asked before the template's first command; false sends nothing.
    void SetApplyGate(std::function<bool()> gate) { applyGate_ = std::move(gate); }

    // The configuration text of the latest read for any page: saved as it is
    // unless a change was sent since (DropConfig).
    void HoldConfig(const QByteArray& content);
    void DropConfig() { configHeld_ = false; }

signals:
    void StatusChanged(const QString& text);
    void ErrorOccurred(const QString& message);
    // A change went to the device: what it was and how it ended.
    void ChangeSent(const QString& what, const QString& result);
    // After an apply: a part that was chosen, as the device now holds it.
    void PartReadBack(const VcaConfigReader& device, TemplatePart part);

public slots:
    // The device's configuration written as a template file; read first
    // when none is held.
    void Save();
    // A template file's chosen parts sent one part after another, from a
    // configuration read whole; then the configuration is read back and
    // compared with the file.
    void Apply();

private:
    QString SaveTemplate(const QByteArray& config);
    // Says how the apply went, and shows the parts read back on their pages.
    void Report(const TemplateApply& apply);
    void SetBusy(bool busy);
    QString ConfigUrl() const;

    QWidget* dialog_ = nullptr;
    Ui::SettingsDialog* form_ = nullptr;
    HttpClientDialog* http_ = nullptr;
    ReplyRouter* router_ = nullptr;
    const DeviceNetworkParams& params_;
    const ZonesTab* zones_ = nullptr;
    std::function<bool()> applyGate_;
    QByteArray configText_;
    bool configHeld_ = false;
};
