#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace Ui {
class SettingsDialog;
}
struct DeviceNetworkParams;
class LiveView;
class QWidget;

// The live view's own controls on the settings dialog's form beside Connect
// and Disconnect: the Snapshot buttons, the "Stream info" check boxes (the
// stream facts caption, remembered between runs) and the status texts of a
// reconnect.
//
// Owned by the settings dialog (its Qt parent), whose form and live view it
// works on; results and failures go out as signals. GUI thread only.
class LiveViewActions final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(LiveViewActions)
public:
    // Asks for the folder snapshots go to; empty when the user cancels. A
    // folder dialog unless replaced (tests cannot drive the platform's own).
    using SnapshotFolderAsker = std::function<QString(QWidget* parent)>;
    static void SetSnapshotFolderAsker(SnapshotFolderAsker asker);

    // `parent` owns it and parents its questions; snapshots are named after
    // the device `params` holds at the time.
    LiveViewActions(QWidget* parent, Ui::SettingsDialog* form, LiveView* liveView,
                    const DeviceNetworkParams& params);

    // Snapshot is enabled while a connection shows pictures.
    void UpdateSnapshotButtons(bool connected);

signals:
    void StatusChanged(const QString& text);
    void ErrorOccurred(const QString& message);

public slots:
    // Saves the picture being shown as PNG at the stream's own size into
    // the snapshot folder, which the first snapshot asks for.
    void Snapshot();
    // Either "Stream info" check box: both follow, and it is remembered.
    void SetStreamInfoShown(bool shown);

private:
    QWidget* dialog_ = nullptr;
    Ui::SettingsDialog* form_ = nullptr;
    LiveView* liveView_ = nullptr;
    const DeviceNetworkParams& params_;
};
