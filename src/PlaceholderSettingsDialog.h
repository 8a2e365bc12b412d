#pragma once

#include "DeviceNetworkParams.h"

#include <QDialog>
#include <QString>

// Stands in for the device settings dialog until it exists: same constructor,
// record accessor and status signal, so that the search window can already
// open it, hand it a record and take the record back. It changes nothing.
class PlaceholderSettingsDialog final : public QDialog {
    Q_OBJECT
public:
    PlaceholderSettingsDialog(const DeviceNetworkParams& params, QWidget* parent);

    const DeviceNetworkParams& GetParams() const { return params_; }

signals:
    void StatusChanged(const QString& text, int timeoutMs);

private:
    DeviceNetworkParams params_;
};
