#pragma once

#include "Ipv4Networks.h"
#include "ReaddressPlan.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_set>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class ReaddressBatch;
class ReaddressProbeCache;
struct ReaddressEntry;

// Readdresses the devices it is given, each in a network of the interface
// its reply came in on: one group of fields (first address, mask, gateway)
// per interface, one DNS and one administrator password for all; the plan as
// a table with a status per device; Apply runs one batch, Cancel stops it
// before the next device. Its owner reads the changed devices' records
// afterwards.
//
// Modal, GUI thread. Finding free addresses waits for the ARP table, so the
// defaults and each plan are worked out on a thread of the dialog's own, one
// at a time, on copies; the result comes back as a queued call. The
// destructor stops that thread and joins it. The password lives in its field
// until Apply and in the batch until that ends.
class ReaddressDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY(ReaddressDialog)
public:
    // `devices` are readdressed; `listed` are all the devices the search
    // listed (their addresses are not free).
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
    void RequestPlan();
    void OnApply();
    void OnCancelBatch();
    void OnEntryChanged(int index);
    void OnPortWait(int remainingMs);
    void OnBatchFinished();

private:
    // One interface's fields; `group` holds its devices and, once planned,
    // their addresses.
    struct GroupForm {
        ReaddressGroup group;
        QGroupBox* box = nullptr;
        QLineEdit* first = nullptr;
        QLineEdit* mask = nullptr;
        QLineEdit* gateway = nullptr;
    };

    QString GroupTitle(const ReaddressGroup& group) const;
    void FillTable();
    void StartDefaults();
    void OnDefaults(const std::vector<ReaddressDefaults>& defaults);
    void StartPlan();
    void OnPlanned(int generation, const std::vector<ReaddressGroup>& groups, const QString& error);
    // Runs `work` on the planning thread; only one runs at a time.
    void RunOffThread(std::function<void()> work);
    // Each group with the values typed, or false with the reason.
    bool ReadFields(std::vector<ReaddressGroup>& groups, QString& error) const;
    void ShowPlan();
    void SetFieldsEnabled(bool enabled);
    void ShowSummary(const QString& text, bool isError);
    bool AskPassword(const ReaddressEntry& entry, QByteArray& password, bool& forOthers);

    std::vector<ListedDevice> devices_;
    std::vector<WorkstationInterface> interfaces_;
    std::unordered_set<uint32_t> taken_;
    std::vector<GroupForm> forms_;
    std::vector<ReaddressGroup> planned_; // the plan shown; empty while there is none

    // Planning: `wanted_` counts the requests, `planned_` answers
    // `plannedGeneration_`; a request while the thread works is served once it
    // has finished.
    std::shared_ptr<ReaddressProbeCache> probes_;
    std::thread worker_;
    bool working_ = false;
    bool defaultsDone_ = false;
    int wanted_ = 0;
    int plannedGeneration_ = -1;

    QLineEdit* dns_ = nullptr;
    QLabel* dnsPlan_ = nullptr;
    QLineEdit* password_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* close_ = nullptr;
    ReaddressBatch* batch_ = nullptr; // child; null before Apply
};
