#pragma once

#include "DeviceNetworkParams.h"
#include "SettingsExchange.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

namespace Ui {
class SettingsDialog;
}
class QLineEdit;
class QWidget;

// The "Settings" tab: the network group (name and IPv4 configuration) and
// the password group, both applied over the UDP settings protocol. One
// request is out at a time (both Apply buttons are disabled while it waits);
// it ends with the first matching reply or the transport's time-out, and a
// time-out with one search for the device. Works on the settings form and
// the dialog's record; results and failures go out as signals. GUI thread
// only.
class NetworkPage final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(NetworkPage)
public:
    // `parent` owns the page and parents its message boxes. `params` is the
    // dialog's record: it fills the network group and takes the applied
    // values after a successful network change. `listedAddresses` are the
    // other devices' addresses the search window lists (network byte order).
    // Requests go out on the interface `interfaceIndex` (0: on every
    // interface).
    NetworkPage(QWidget* parent, Ui::SettingsDialog* ui, DeviceNetworkParams& params,
                const std::vector<uint32_t>& listedAddresses, int interfaceIndex = 0);
    ~NetworkPage() override;

    // Fills the network group from the record.
    void LoadFromParams();
    // Every request of the page is refused with `refusal` and nothing is
    // sent (a request by MAC that would reach two devices).
    void SetRefusal(const QString& refusal);

signals:
    // A short result text for the status line.
    void StatusChanged(const QString& text);
    // A failure, for the error display.
    void ErrorOccurred(const QString& message);
    // A change went to the device: what it was and how it ended.
    void ChangeSent(const QString& what, const QString& result);
    // The record took the values of a successful network change.
    void RecordChanged();
    // A network change moved the device to the record's new IP address.
    void AddressChanged();

private slots:
    // The two Apply buttons.
    void OnApplyNetworkParams();
    void OnApplyAuthParams();
    // The address fields are for static addressing only.
    void UpdateAddressFieldsEnabled();
    void OnFinished(const SettingsExchange::Result& result);

private:
    enum class Request { None, Network, Auth };

    // Builds the record a network settings request would set from the
    // controls; false with a user text and the field when one does not parse.
    bool ReadControls(DeviceNetworkParams& params, QString& errorMessage, QLineEdit*& invalidField) const;
    // After a box about a bad entry: the field, ready to be corrected.
    void FocusField(QLineEdit* field);
    void ShowInputError(const QString& message, QLineEdit* field);
    // Refuses static addressing that would cut the device off, and asks
    // about an address that another listed device holds or that this
    // workstation cannot reach; false when nothing may be sent.
    bool AddressingAccepted(const DeviceNetworkParams& params);
    // Sends the request with the digest of `password`.
    void Send(Request request, const QString& password);
    // The controls of one group, and both Apply buttons.
    void EnableGroup(Request group, bool enable);
    // Ends the request: its group enabled again, the result shown.
    void Done(const QString& message, bool success);

    QWidget* parent_ = nullptr;
    Ui::SettingsDialog* ui_ = nullptr;
    DeviceNetworkParams& params_;
    const std::vector<uint32_t>& listedAddresses_;
    QString refusal_;                      // why no request may be sent to this device; empty: none
    SettingsExchange* exchange_ = nullptr; // child
    int interfaceIndex_ = 0;               // where the device was found; 0 unknown
    Request request_ = Request::None;      // the request out or being checked
    DeviceNetworkParams sent_;             // what the network request carries
};
