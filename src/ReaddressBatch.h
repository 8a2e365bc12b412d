#pragma once

#include "DeviceNetworkParams.h"
#include "SettingsExchange.h"
#include "UdpReceiveThread.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct ListedDevice;
class BatchRunner;
class QTimer;
class UdpModuleWithTimer;

// One device of a readdress and how it fared.
struct ReaddressEntry {
    enum class State {
        Waiting,         // not sent yet
        Changed,         // the device took the request; the search has not confirmed it yet
        InvalidPassword, // code 1
        Error,           // any other code but 0; see code
        NoResponse,      // no reply within the transport's listening time
        NotSent,         // the request could not go out; see sendError
        Cancelled,       // not sent: the batch was cancelled before it
        Confirmed,       // changed, and the search saw it at the new address
        NotSeen,         // changed, but the search did not see it at the new address
        MovedSilently,   // no reply, yet the search saw it at the new address
    };

    DeviceNetworkParams current; // as the search listed it
    int interfaceIndex = 0;      // the interface its reply came in on; 0 unknown
    uint32_t newIp = 0;          // network byte order; so are the three below
    uint32_t newMask = 0;
    uint32_t newGateway = 0; // 0: none
    uint32_t newDns = 0;     // 0: none
    State state = State::Waiting;
    int code = 0;      // the reply's code with State::Error
    QString sendError; // with State::NotSent
    bool seen = false; // the confirming search saw the device (at any address)
    DeviceNetworkParams seenRecord;

    // "changed", "invalid password", "no response", "error N", ...
    QString StatusText() const;
};

struct ReaddressGroup;

// The entries of a batch: each planned device of each group with its new
// address and its group's mask, gateway and DNS, group after group.
std::vector<ReaddressEntry> PlannedEntries(const std::vector<ReaddressGroup>& groups);

// Readdresses devices one after another: a network settings request by MAC
// to each, keeping its name, with static addressing and its new address;
// then one search of its own that confirms each changed device at its new
// address. Failures do not stop the batch. A device that refuses the
// password is asked about again through the owner's password asker, for
// that device, or, when the answer is to serve the others too, for every
// later device that refuses (they are sent it without asking again). Cancel
// lets the request out finish and sends no more.
//
// The reply port is the batch's lifeline: while another program holds it, a
// request's reply could not be heard, so the batch waits for the port (up to
// kPortWaitMs, announced through PortWait) and then stops, leaving the rest
// not sent. The confirming search goes on while devices are missing, up to
// kConfirmMs after the last request, and believes a reply for a device's new
// address only when it came from that address.
//
// GUI thread only; it owns its transport, so it never shares the window's
// search. The administrator password is held only until the batch finishes;
// neither it nor its digest reaches a log record or a status text.
class ReaddressBatch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(ReaddressBatch)
public:
    // Asked after a device refused the password: true with another password
    // to send that device the request again with it, false to leave it
    // refused. `forOthers` set to true makes the answer the password of
    // every later device that refuses, and the asker is not called again.
    // Called at most kMaxPasswordAsks times per device.
    using PasswordAsker =
        std::function<bool(const ReaddressEntry& entry, QByteArray& password, bool& forOthers)>;
    static constexpr int kMaxPasswordAsks = 3;
    static constexpr int kPortWaitMs = 10000;
    static constexpr int kConfirmMs = 10000;

    // `entries` in the order they are sent, each with its own network.
    ReaddressBatch(std::vector<ReaddressEntry> entries, const QByteArray& password, QObject* parent);
    ~ReaddressBatch() override;

    void SetPasswordAsker(PasswordAsker asker) { asker_ = std::move(asker); }
    void Start();
    // Sends nothing after the request that is out; a confirming search
    // still running ends at once with what it has seen.
    void Cancel();
    bool IsRunning() const { return phase_ == Phase::Sending || phase_ == Phase::Confirming; }
    bool IsFinished() const { return phase_ == Phase::Finished; }

    const std::vector<ReaddressEntry>& Entries() const { return entries_; }
    // The line that ends the batch: "5 of 5 devices readdressed and confirmed", ...
    QString Summary() const;
    // "Stopped: another program holds UDP port 49077; N devices not sent"
    // when the batch stopped for the reply port; empty otherwise.
    QString StopLine() const;
    // The record a device's row shows after the batch: the one the
    // confirming search saw, else the one sent. False when the device was
    // not changed (as far as the tool knows).
    bool NewRecord(size_t index, DeviceNetworkParams& record) const;
    // What was sent to device `index` and its status, as its change record
    // in the log says it.
    QString ResultLine(size_t index) const;

signals:
    // Entry `index` has a new state.
    void EntryChanged(int index);
    // Another program holds the reply port: the batch waits for it, at
    // most `remainingMs` more; 0 once the port is free again or the wait
    // has ended.
    void PortWait(int remainingMs);
    void Finished();

private slots:
    void OnExchangeFinished(const SettingsExchange::Result& result);
    void OnSearchReplies(const DatagramBatch& batch);
    void OnSearchEnd();
    // Every device's request was sent, or skipped after a cancel.
    void Confirm();

private:
    enum class Phase { Idle, Sending, Confirming, Finished };

    void SendCurrent();
    // While another program holds the reply port: the current entry is
    // tried again each tick, until the port is free or the wait ends.
    void WaitForPort();
    void EndPortWait();
    void OnPortWaitTick();
    static QString PortHeldText();
    // After the current device's exchange: asks again for a refused
    // password, or goes on with the next device.
    void AfterCurrent();
    void Finish();
    void SetState(size_t index, ReaddressEntry::State state);
    void StopExchange();
    void ForgetPasswords();
    DeviceNetworkParams SentRecord(const ReaddressEntry& entry) const;
    void LogResult(size_t index) const;

    std::vector<ReaddressEntry> entries_;
    QByteArray password_;            // for every device; emptied when the batch finishes
    QByteArray retryPassword_;       // the current device's, after it refused password_
    QByteArray sitePassword_;        // for every device that refuses password_, once the user said so
    bool usingSitePassword_ = false; // the current request carries sitePassword_
    PasswordAsker asker_;
    SettingsExchange* exchange_ = nullptr;    // child; one device's request
    UdpModuleWithTimer* udpModule_ = nullptr; // child; the confirming search
    BatchRunner* runner_ = nullptr;           // child; one device after another
    Phase phase_ = Phase::Idle;
    size_t current_ = 0; // the entry whose request is out or next
    int asks_ = 0;       // password asks for the current entry
    bool cancelled_ = false;
    QTimer* portWait_ = nullptr;     // child; ticks while the reply port is held
    QTimer* searchRepeat_ = nullptr; // child; repeats the confirming search's request
    QElapsedTimer portWaitClock_;
    bool waitingForPort_ = false;
    size_t stoppedForPortAt_ = 0; // entries from here on were not sent for the port
    bool stoppedForPort_ = false;
    QElapsedTimer sinceLastRequest_; // the confirming search counts from the last request
};
