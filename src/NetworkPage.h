#pragma once

#include "DeviceNetworkParams.h"
#include "UdpReceiveThread.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <vector>

namespace Ui {
class SettingsDialog;
}
class QLineEdit;
class SettingsDialog;
class UdpModuleWithTimer;

// The "Settings" tab: the network group (name and IPv4 configuration) and
// the password group, both applied over the UDP settings protocol. One
// request is out at a time (both Apply buttons are disabled while it waits);
// it ends with the first matching reply or the transport's time-out. Owned by
// the settings dialog as a Qt child; works on the dialog's form and record.
// GUI thread only.
class NetworkPage final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(NetworkPage)
public:
    // `params` is the dialog's record: it fills the network group and takes
    // the applied values after a successful network change. Requests go out
    // on the interface `interfaceIndex` (0: on every interface).
    NetworkPage(SettingsDialog* dialog, Ui::SettingsDialog* ui, DeviceNetworkParams& params,
                int interfaceIndex = 0);
    ~NetworkPage() override;

    // Fills the network group from the record.
    void LoadFromParams();

    // Builds the record a network settings request would set from the
    // controls; false with a user text when an address field does not parse.
    bool FromGuiControls(DeviceNetworkParams& params, QString& errorMessage) const;

    void EnableNetworkParamsControls(bool enable);
    void EnableAuthParamsControls(bool enable);
    void ApplyNetworkParamsDone(const QString& message, bool success);
    void ApplyAuthParamsDone(const QString& message, bool success);

signals:
    // The record took the values of a successful network change.
    void RecordChanged();
    // A network change moved the device to the record's new IP address.
    void AddressChanged();

public slots:
    void OnApplyNetworkParams();
    void OnApplyAuthParams();
    void ProcessNetworkParamsReply(const QByteArray& rawContent);
    void ProcessAuthParamsReply(const QByteArray& rawContent);
    void ProcessNetworkParamsNoResponse();
    void ProcessAuthParamsNoResponse();
    // The address fields are for static addressing only.
    void UpdateAddressFieldsEnabled();
    // The search that follows a request without response.
    void ProcessCheckReplies(const DatagramBatch& batch);
    void ProcessCheckEnd();

private:
    // FromGuiControls, also naming the address field that does not parse.
    bool ReadControls(DeviceNetworkParams& params, QString& errorMessage, QLineEdit*& invalidField) const;
    // After a box about a bad entry: the field, ready to be corrected.
    void FocusField(QLineEdit* field);
    void ClearPasswordFields();
    void ShowInputError(const QString& message);
    // The transport's own failures, as user texts: it cannot hear replies, or
    // the request did not go out.
    bool CanListen(QString& errorMessage) const;
    bool Send(const std::vector<char>& request, QString& errorMessage);
    // Ends the exchange: the transport stops without reaching this page again.
    void StopExchange();
    // Refuses static addressing that would cut the device off, and asks
    // about an address that another listed device holds or that this
    // workstation cannot reach; false when nothing may be sent.
    bool AddressingAccepted(const DeviceNetworkParams& params);
    // After a settings request went unanswered: one search for the device's
    // MAC on the same interface tells what became of the change.
    void StartCheck();
    void FinishCheck(const DeviceNetworkParams* found);

    enum class Request { None, Network, Auth };

    SettingsDialog* dialog_ = nullptr;
    Ui::SettingsDialog* ui_ = nullptr;
    DeviceNetworkParams& params_;
    UdpModuleWithTimer* udpModule_ = nullptr; // child of the dialog
    int interfaceIndex_ = 0;                  // where the device was found; 0 unknown
    bool waitingResponse_ = false;            // a settings request is outstanding
    Request request_ = Request::None;         // the request out or being checked
    DeviceNetworkParams sent_;                // what the network request carries
};
