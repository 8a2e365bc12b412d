#pragma once

#include "DeviceNetworkParams.h"
#include "ui_ClientMainForm.h"

#include <QMainWindow>

#include <vector>

class QByteArray;
class UdpModuleWithTimer;

// The tool's main window: a table of the devices that answered the last
// search, and the buttons to search, stop searching and open the settings of
// the selected device. It owns its transport and one record per table row.
class ClientMainForm final : public QMainWindow, private Ui::MainWindow {
    Q_OBJECT
public:
    explicit ClientMainForm(QWidget* parent = nullptr);
    ~ClientMainForm() override;
    Q_DISABLE_COPY(ClientMainForm)

    // The topmost selected row, or -1 when nothing is selected.
    int GetDevicesSelectedRow() const;

protected:
    // Enter on the device table opens the settings of its current row.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void OnStartSearch();
    void OnStopSearch();
    void OnDeviceSelectionChanged();
    void OnSettings();
    // Opens the row that was double-clicked, whatever the selection: a
    // modifier held with the double-click may have deselected it.
    void OnDeviceDoubleClicked(int row, int column);
    void InsertDevice(const QByteArray& rawContent);
    void OnAbout();

private:
    void Init();
    void UpdateTableRow(int row);
    void OpenSettings(int row);
    // Columns as wide as typical values, and the window wide enough for all
    // of them, before any device has answered.
    void SizeForTypicalDevices();
    void FitColumnsToContents();

    UdpModuleWithTimer* udpModule_ = nullptr;
    std::vector<DeviceNetworkParams> params_; // one per table row, in row order
};
