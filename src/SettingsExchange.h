#pragma once

#include "DeviceNetworkParams.h"
#include "DiscoveryProtocol.h"
#include "UdpReceiveThread.h"

#include <QObject>
#include <QString>
#include <vector>

class UdpModuleWithTimer;

// One settings request over UDP to one device: it goes out on the interface
// the device was found on and ends with the first reply of its kind from the
// device's MAC. Without one within the transport's listening time (3000 ms)
// one search for the MAC on the same interface tells what became of the
// change. Each exchange ends with one Finished, unless Stop() ends it first;
// one exchange at a time. GUI thread only.
class SettingsExchange final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(SettingsExchange)
public:
    // What the user is told of one kind of change: its success, and the
    // start of each of its failures ("Failed to change password: ").
    struct Texts {
        QString success;
        QString failurePrefix;

        QString Failure(const QString& reason) const { return failurePrefix + reason; }
        // A reply's code: the success text or the failure it names.
        QString Outcome(ResponseCode code) const;
    };

    struct Result {
        bool success = false;
        QString message; // for the user, in the request's texts
        // The outcome for the change record ("changed", "failed: invalid
        // password", "no response; ..."); empty when the request did not go
        // out or its reply could not be heard.
        QString recordText;
        bool answered = false;       // the device replied
        ResponseCode code = Success; // and with this code
        // The device holds the network settings sent, as `record` (the
        // addresses a DHCP server gave included).
        bool applied = false;
        DeviceNetworkParams record;
        // The request went out; if not, the transport's own reason, for a
        // caller that words it in its own texts.
        bool sent = false;
        QString listenError;
        QString sendError;
    };

    explicit SettingsExchange(QObject* parent);
    ~SettingsExchange() override;

    // Sends `request` of `kind` to the device `before` describes, on
    // `interfaceIndex` (0: on every interface). A network request carries
    // `sent`. A request whose reply could not be heard is not sent.
    void Start(RequestType kind, const DeviceNetworkParams& before, const DeviceNetworkParams& sent,
               const std::vector<char>& request, int interfaceIndex, const Texts& texts);
    // Ends what is under way without a signal; later datagrams are dropped.
    void Stop();
    // Off: no reply ends the exchange at once, without the search (for a
    // caller that searches for all its devices afterwards).
    void SetSearchAfterNoReply(bool search) { searchAfterNoReply_ = search; }

signals:
    // No reply came: the search for the device begins.
    void Searching();
    void Finished(const SettingsExchange::Result& result);

private slots:
    void OnReply(const QByteArray& datagram);
    void OnNoReply();
    void OnSearchReplies(const DatagramBatch& batch);
    void OnSearchEnd();

private:
    const char* KindName() const;
    // Ends the exchange with `result`, the request's texts filled in.
    void Finish(Result result);
    // What the search heard of the device (null: nothing) as the result.
    void Judge(const DeviceNetworkParams* found);

    UdpModuleWithTimer* udpModule_ = nullptr; // child
    RequestType kind_ = NetworkSetting;
    DeviceNetworkParams before_;
    DeviceNetworkParams sent_;
    int interfaceIndex_ = 0;
    Texts texts_;
    bool searchAfterNoReply_ = true;
};

// A discovery reply vouches for the address it names only when it came from
// that address: any host can send a reply that names a device's MAC.
bool RepliedFromItsAddress(const ReceivedDatagram& datagram, const DeviceNetworkParams& params);
