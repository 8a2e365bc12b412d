#pragma once

#include "Ipv4Networks.h"
#include "ReaddressPlan.h"

#include <QDialog>

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class ReaddressBatch;
struct ReaddressEntry;

// Readdresses the devices it is given: the interface, first address, mask,
// gateway, DNS and one administrator password for all; the plan as a table
// with a status per device; Apply runs one batch, Cancel stops it before the
// next device. Its owner reads the changed devices' records afterwards.
//
// Modal, GUI thread. The password lives in its field until Apply and in the
// batch until that ends; addresses found free are probed once per dialog.
class ReaddressDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY(ReaddressDialog)
public:
    // `devices` are readdressed, in this order; `listed` are all the devices
    // the search listed (their addresses are not free).
    ReaddressDialog(const std::vector<ListedDevice>& devices, const std::vector<ListedDevice>& listed,
                    QWidget* parent);
    ~ReaddressDialog() override;

    // The record of each device the batch changed: the one the confirming
    // search saw, else the one sent.
    std::vector<DeviceNetworkParams> NewRecords() const;
    // The batch's summary; empty before Apply.
    QString Summary() const;

public slots:
    void reject() override;

private slots:
    void OnInterfaceChanged();
    void UpdatePlan();
    void OnApply();
    void OnCancelBatch();
    void OnEntryChanged(int index);
    void OnBatchFinished();

private:
    void FillTable();
    // The addresses typed, or false with the reason shown.
    bool ReadFields(uint32_t& first, uint32_t& mask, uint32_t& gateway, uint32_t& dns, QString& error) const;
    void ShowSummary(const QString& text, bool isError);
    std::vector<bool> Probe(const std::vector<uint32_t>& candidates);
    bool AskPassword(const ReaddressEntry& entry, QByteArray& password);

    std::vector<ListedDevice> devices_;
    std::vector<WorkstationInterface> interfaces_;
    std::vector<ListedDevice> listed_;
    std::unordered_set<uint32_t> taken_;
    std::unordered_map<uint32_t, bool> probed_; // address -> something answered there
    std::vector<uint32_t> planned_;             // new address per device; empty while the plan fails

    QComboBox* interface_ = nullptr;
    QLineEdit* first_ = nullptr;
    QLineEdit* mask_ = nullptr;
    QLineEdit* gateway_ = nullptr;
    QLineEdit* dns_ = nullptr;
    QLineEdit* password_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* close_ = nullptr;
    ReaddressBatch* batch_ = nullptr; // child; null before Apply
};
