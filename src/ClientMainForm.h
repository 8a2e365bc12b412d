#pragma once

#include "AddressProblems.h"
#include "DeviceNetworkParams.h"
#include "UdpReceiveThread.h"
#include "ui_ClientMainForm.h"

#include <QMainWindow>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

class QByteArray;
class QPoint;
class QString;
class UdpModuleWithTimer;

// The tool's main window: a table of the devices that answered the last
// search, and the buttons to search, stop searching, open the settings of the
// selected device and export the table. It owns its transport and one record
// per table row.
//
// Records keep their arrival order; the table may be sorted by any column, so
// each row's items carry the index of their record, and everything that acts
// on a row (Settings, double-click, the refresh after the dialog) goes through
// that index rather than the row's position.
//
// The filter box hides the rows it does not match; what acts on rows
// (Settings, Readdress, Apply template, Export, the selection kept across a
// search) takes the rows shown only.
class ClientMainForm final : public QMainWindow, private Ui::MainWindow {
    Q_OBJECT
public:
    explicit ClientMainForm(QWidget* parent = nullptr);
    ~ClientMainForm() override;
    Q_DISABLE_COPY(ClientMainForm)

    // The topmost selected row shown, or -1 when nothing shown is selected.
    int GetDevicesSelectedRow() const;

    // Writes the table as shown (header row, then the rows the filter shows
    // in their current order) to `path` as UTF-8 CSV; false with the reason
    // when it cannot.
    bool ExportTable(const QString& path, QString& error) const;

    // The interfaces whose networks the address problems are judged against,
    // until the next search reads the workstation's own again.
    void SetWorkstationInterfaces(std::vector<WorkstationInterface> interfaces);

protected:
    // Enter on the device table opens the settings of its current row.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void OnStartSearch();
    void OnStopSearch();
    void OnDeviceSelectionChanged();
    void OnSettings();
    // Readdresses the selected rows' devices, or without a selection those
    // that share an IP address; changed rows take their new records.
    void OnReaddress();
    // Applies a template file to the selected rows' devices, each once,
    // with the parts the user chooses.
    void OnApplyTemplate();
    void InsertDevice(const QByteArray& rawContent);
    void InsertDevices(const DatagramBatch& batch);
    // Opens the row that was double-clicked, whatever the selection: a
    // modifier held with the double-click may have deselected it.
    void OnCellDoubleClicked(int row, int column);
    void OnSortIndicatorChanged(int column, Qt::SortOrder order);
    void OnExport();
    void OnAbout();
    void OnTableContextMenu(const QPoint& position);
    void OnFilterChanged();

private:
    void Init();
    // Fills table row `row` from record `record`.
    void UpdateTableRow(int row, size_t record);
    size_t RecordOfRow(int row) const;
    int RowOfRecord(size_t record) const;
    void OpenSettings(size_t record);
    // Puts the rows back in the order of the column the user chose, if any.
    void ApplySort();
    // Columns as wide as typical values, and the window wide enough for all
    // of them, before any device has answered.
    void SizeForTypicalDevices();
    void FitColumnsToContents();
    // Judges every record's address again and marks the rows whose problem
    // changed; run whenever the set of records changes.
    void RefreshProblems();
    // The warning icon and the problem in the tool tips of row `row`.
    void MarkProblem(int row, size_t record);
    QString ProblemText(size_t record) const;
    // Refuses, with its reason shown, when a device of `records` shares its
    // MAC with another device: a request by MAC would reach both.
    bool RefuseSharedMac(const std::vector<size_t>& records);
    // "%1 device(s) found", with the rows the filter shows, the problems and
    // the rows past the limit.
    QString FoundText() const;
    // The selected rows that the filter shows, in table order.
    std::vector<int> SelectedShownRows() const;
    // Whether row `row` holds `needle` in its name, IP, MAC or serial.
    bool RowMatchesFilter(int row, const QString& needle) const;
    // Hides the rows the filter does not match; they leave the selection.
    void ApplyFilter();
    // Selects the rows of records from `firstRecord` on whose MAC was
    // selected when the search started.
    void SelectKeptRows(size_t firstRecord);
    // Opens the settings dialog's messages with the device they are about.
    void ShowDeviceStatus(const DeviceNetworkParams& device, const QString& text, int timeoutMs);

    UdpModuleWithTimer* udpModule_ = nullptr;
    std::vector<DeviceNetworkParams> params_; // one per table row, in arrival order
    std::vector<int> replyInterfaces_;        // per record: the interface its reply came in on, 0 unknown
    std::vector<AddressProblem> problems_;    // per record, as last judged
    std::vector<WorkstationInterface> interfaces_;
    bool interfacesRead_ = false;
    size_t notListed_ = 0; // answers of this search past the row limit
    int sortColumn_ = -1;  // -1: rows in arrival order
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    // The MACs selected when the search started, selected again as their
    // devices answer; dropped when the user selects otherwise or the search
    // ends.
    std::set<std::string> keptSelection_;
    bool selectingKept_ = false; // the selection changes by the window's own hand
};
