#pragma once

#include "DeviceNetworkParams.h"
#include "SettingsExchange.h"
#include "UdpReceiveThread.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct ListedDevice;
class BatchRunner;
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
    uint32_t newIp = 0;          // network byte order
    State state = State::Waiting;
    int code = 0;      // the reply's code with State::Error
    QString sendError; // with State::NotSent
    bool seen = false; // the confirming search saw the device (at any address)
    DeviceNetworkParams seenRecord;

    // "changed", "invalid password", "no response", "error N", ...
    QString StatusText() const;
};

// The entries of a batch: each listed device with the address planned for it
// (`addresses` in the same order, at least as many).
std::vector<ReaddressEntry> PlannedEntries(const std::vector<ListedDevice>& devices,
                                           const std::vector<uint32_t>& addresses);

// Readdresses devices one after another: a network settings request by MAC
// to each, keeping its name, with static addressing and its new address;
// then one search of its own that confirms each changed device at its new
// address. Failures do not stop the batch. A device that refuses the
// password is asked about again through the owner's password asker, for
// that device only. Cancel lets the request out finish and sends no more.
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
    // refused. Called at most kMaxPasswordAsks times per device.
    using PasswordAsker = std::function<bool(const ReaddressEntry& entry, QByteArray& password)>;
    static constexpr int kMaxPasswordAsks = 3;

    // `entries` in the order they are sent; mask, gateway and DNS are the
    // same for all.
    ReaddressBatch(std::vector<ReaddressEntry> entries, uint32_t mask, uint32_t gateway, uint32_t dns,
                   const QByteArray& password, QObject* parent);
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
    uint32_t mask_ = 0;
    uint32_t gateway_ = 0;
    uint32_t dns_ = 0;
    QByteArray password_;      // for every device; emptied when the batch finishes
    QByteArray retryPassword_; // the current device's, after it refused password_
    PasswordAsker asker_;
    SettingsExchange* exchange_ = nullptr;    // child; one device's request
    UdpModuleWithTimer* udpModule_ = nullptr; // child; the confirming search
    BatchRunner* runner_ = nullptr;           // child; one device after another
    Phase phase_ = Phase::Idle;
    size_t current_ = 0; // the entry whose request is out or next
    int asks_ = 0;       // password asks for the current entry
    bool cancelled_ = false;
};
