#include "ReaddressBatch.h"

#include "AssignmentVerifier.h"
#include "BatchRunner.h"
#include "DiscoveryProtocol.h"
#include "Md5Hash.h"
#include "ReaddressPlan.h"
#include "StringUtils.h"
#include "UdpModule.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <easylogging++.h>

#include <algorithm>
#include <cstring>

namespace {

const AssignmentVerifier vf;

// How often the batch looks again at a held reply port, and repeats the
// confirming search's request.
constexpr int kPortWaitTickMs = 250;
constexpr int kSearchRepeatMs = 1000;

QString Tr(const char* text)
{
    return QCoreApplication::translate("ReaddressBatch", text);
}

std::string MacText(const char* mac)
{
    return utils::GetPrintedBufferInHex(mac, kMacSize, kMacSize, "-");
}

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

QByteArray ToDatagram(const std::vector<char>& bytes)
{
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}

bool SameMac(const char* a, const char* b)
{
    return std::memcmp(a, b, kMacSize) == 0;
}

void Wipe(QByteArray& secret)
{
    secret.fill('\0');
    secret.clear();
}

} // namespace

QString ReaddressEntry::StatusText() const
{
    switch (state) {
    case State::Waiting:
        return {};
    case State::Changed:
        return Tr("changed");
    case State::InvalidPassword:
        return Tr("invalid password");
    case State::Error:
        return Tr("error %1").arg(code);
    case State::NoResponse:
        return Tr("no response");
    case State::NotSent:
        return Tr("not sent: %1").arg(sendError);
    case State::Cancelled:
        return Tr("not sent (cancelled)");
    case State::Confirmed:
        return Tr("confirmed");
    case State::NotSeen:
        return Tr("not seen at the new address");
    case State::MovedSilently:
        return Tr("no response, but confirmed at the new address");
    }
    return {};
}

ReaddressBatch::ReaddressBatch(std::vector<ReaddressEntry> entries, const QByteArray& password,
                               QObject* parent)
    : QObject(parent), entries_(std::move(entries)), password_(password),
      exchange_(new SettingsExchange(this)), udpModule_(new UdpModuleWithTimer(this)),
      portWait_(new QTimer(this)), searchRepeat_(new QTimer(this))
{
    password_.detach();
    portWait_->setInterval(kPortWaitTickMs);
    vf = connect(portWait_, &QTimer::timeout, this, &ReaddressBatch::OnPortWaitTick);
    exchange_->SetSearchAfterNoReply(false);
    vf = connect(exchange_, &SettingsExchange::Finished, this, &ReaddressBatch::OnExchangeFinished);
    runner_ = new BatchRunner(
        entries_.size(),
        [this](size_t index) {
            current_ = index;
            SendCurrent();
        },
        [this](size_t index) {
            if (stoppedForPort_) {
                entries_[index].sendError = PortHeldText();
                SetState(index, ReaddressEntry::State::NotSent);
            } else {
                SetState(index, ReaddressEntry::State::Cancelled);
            }
        },
        this);
    vf = connect(runner_, SIGNAL(Finished()), this, SLOT(Confirm()));
}

ReaddressBatch::~ReaddressBatch()
{
    StopExchange();
    ForgetPasswords();
}

void ReaddressBatch::ForgetPasswords()
{
    Wipe(password_);
    Wipe(retryPassword_);
    Wipe(sitePassword_);
}

void ReaddressBatch::Start()
{
    if (phase_ != Phase::Idle) {
        return;
    }
    phase_ = Phase::Sending;
    current_ = 0;
    LOG(INFO) << "Readdress of " << entries_.size() << " devices started";
    runner_->Start();
}

void ReaddressBatch::Cancel()
{
    if (!IsRunning() || cancelled_) {
        return;
    }
    cancelled_ = true;
    if (waitingForPort_) {
        // The entry waiting for the port was never sent.
        EndPortWait();
        SetState(current_, ReaddressEntry::State::Cancelled);
        runner_->Cancel();
        runner_->EntryDone();
        LOG(INFO) << "Readdress cancelled by the user";
        return;
    }
    runner_->Cancel();
    LOG(INFO) << "Readdress cancelled by the user";
    if (phase_ == Phase::Confirming) {
        // Ends the search; OnSearchEnd concludes with what it has seen.
        udpModule_->Stop();
    }
}

DeviceNetworkParams ReaddressBatch::SentRecord(const ReaddressEntry& entry) const
{
    return ReaddressedRecord(entry.current, entry.newIp, entry.newMask, entry.newGateway, entry.newDns);
}

void ReaddressBatch::SetState(size_t index, ReaddressEntry::State state)
{
    entries_[index].state = state;
    emit EntryChanged(static_cast<int>(index));
}

void ReaddressBatch::SendCurrent()
{
    ReaddressEntry& entry = entries_[current_];
    const QByteArray& password = retryPassword_.isNull() ? password_ : retryPassword_;
    const auto digest = utils::GetMD5Hash(password.constData(), static_cast<size_t>(password.size()));
    if (!digest) {
        SettingsExchange::Result result;
        result.sendError = Tr("cannot compute the password digest");
        OnExchangeFinished(result);
        return;
    }
    const DeviceNetworkParams sent = SentRecord(entry);
    sinceLastRequest_.start();
    exchange_->Start(NetworkSetting, entry.current, sent, ComposeNetworkSettingsRequest(sent, digest.get()),
                     entry.interfaceIndex, {});
}

QString ReaddressBatch::PortHeldText()
{
    return Tr("another program holds UDP port %1").arg(UdpModuleWithTimer::kListenPort);
}

void ReaddressBatch::WaitForPort()
{
    if (!waitingForPort_) {
        portWaitClock_.start();
        waitingForPort_ = true;
        LOG(WARNING) << "Readdress waits: " << PortHeldText().toStdString();
        portWait_->start();
    }
    emit PortWait(static_cast<int>(std::max<qint64>(0, kPortWaitMs - portWaitClock_.elapsed())));
}

void ReaddressBatch::EndPortWait()
{
    portWait_->stop();
    waitingForPort_ = false;
    emit PortWait(0);
}

void ReaddressBatch::OnPortWaitTick()
{
    if (portWaitClock_.elapsed() < kPortWaitMs) {
        // Sends the entry if the port is free now; waits on if not.
        SendCurrent();
        return;
    }
    EndPortWait();
    stoppedForPort_ = true;
    stoppedForPortAt_ = current_;
    entries_[current_].sendError = PortHeldText();
    SetState(current_, ReaddressEntry::State::NotSent);
    LOG(ERROR) << StopLine().toStdString();
    runner_->Cancel();
    runner_->EntryDone();
}

void ReaddressBatch::OnExchangeFinished(const SettingsExchange::Result& result)
{
    ReaddressEntry& entry = entries_[current_];
    if (!result.sent && !result.listenError.isEmpty() && !cancelled_) {
        // Nothing went out: another program holds the reply port for now.
        WaitForPort();
        return;
    }
    if (waitingForPort_) {
        EndPortWait();
    }
    if (!result.sent) {
        entry.sendError = result.listenError.isEmpty() ? result.sendError
                                                       : Tr("cannot listen on UDP port %1: %2")
                                                             .arg(UdpModuleWithTimer::kListenPort)
                                                             .arg(result.listenError);
        SetState(current_, ReaddressEntry::State::NotSent);
    } else if (!result.answered) {
        SetState(current_, ReaddressEntry::State::NoResponse);
        LogResult(current_);
        AfterCurrent();
        return;
    } else {
        entry.code = result.code;
        SetState(current_, result.code == Success           ? ReaddressEntry::State::Changed
                           : result.code == InvalidPassword ? ReaddressEntry::State::InvalidPassword
                                                            : ReaddressEntry::State::Error);
    }
    LogResult(current_);
    // Queued: the asker may open a modal dialog, not from inside the
    // transport's delivery, and a network where nothing can be sent must not
    // nest one call per device.
    QMetaObject::invokeMethod(
        this, [this] { AfterCurrent(); }, Qt::QueuedConnection);
}

void ReaddressBatch::AfterCurrent()
{
    const ReaddressEntry& entry = entries_[current_];
    if (entry.state == ReaddressEntry::State::InvalidPassword && !cancelled_ && !sitePassword_.isNull() &&
        !usingSitePassword_ && asks_ == 0) {
        // The password the user gave for every device that refuses.
        usingSitePassword_ = true;
        Wipe(retryPassword_);
        retryPassword_ = sitePassword_;
        retryPassword_.detach();
        SendCurrent();
        return;
    }
    if (entry.state == ReaddressEntry::State::InvalidPassword && asker_ && !cancelled_ &&
        sitePassword_.isNull() && asks_ < kMaxPasswordAsks) {
        ++asks_;
        QByteArray password;
        bool forOthers = false;
        if (asker_(entry, password, forOthers) && !cancelled_) {
            if (forOthers) {
                sitePassword_ = password;
                sitePassword_.detach();
                if (sitePassword_.isNull()) {
                    sitePassword_ = QByteArray("", 0);
                }
                usingSitePassword_ = true;
            }
            Wipe(retryPassword_);
            retryPassword_ = password;
            retryPassword_.detach();
            Wipe(password);
            if (retryPassword_.isNull()) {
                retryPassword_ = QByteArray("", 0);
            }
            SendCurrent();
            return;
        }
        Wipe(password);
    }
    Wipe(retryPassword_);
    asks_ = 0;
    usingSitePassword_ = false;
    runner_->EntryDone();
}

void ReaddressBatch::Confirm()
{
    const bool anyToConfirm = std::any_of(entries_.begin(), entries_.end(), [](const ReaddressEntry& e) {
        return e.state == ReaddressEntry::State::Changed || e.state == ReaddressEntry::State::NoResponse;
    });
    if (!anyToConfirm) {
        Finish();
        return;
    }
    phase_ = Phase::Confirming;
    // Up to kConfirmMs after the last request, and at least one listening
    // time, for a device that brings its new address up late.
    const qint64 sinceLast = sinceLastRequest_.isValid() ? sinceLastRequest_.elapsed() : 0;
    udpModule_->SetListenTimeMs(
        static_cast<int>(std::max<qint64>(UdpModuleWithTimer::kListenTimeMs, kConfirmMs - sinceLast)));
    udpModule_->Start();
    vf = connect(udpModule_, SIGNAL(DatagramsReceived(const DatagramBatch&)), this,
                 SLOT(OnSearchReplies(const DatagramBatch&)));
    vf = connect(udpModule_, SIGNAL(Stopped()), this, SLOT(OnSearchEnd()));
    udpModule_->SendBroadcast(ToDatagram(ComposeDiscoverRequest()));
    if (!udpModule_->ListenError().isEmpty() || !udpModule_->SendError().isEmpty()) {
        udpModule_->Stop(); // nothing will be heard: every changed device stays unconfirmed
        return;
    }
    // A device answers a request only once its new address is up: the
    // request is repeated while some are missing.
    vf = connect(searchRepeat_, &QTimer::timeout, this, [this] {
        if (phase_ == Phase::Confirming) {
            udpModule_->SendBroadcast(ToDatagram(ComposeDiscoverRequest()));
        }
    });
    searchRepeat_->start(kSearchRepeatMs);
}

void ReaddressBatch::OnSearchReplies(const DatagramBatch& batch)
{
    for (const ReceivedDatagram& datagram : batch) {
        DeviceNetworkParams params{};
        if (!ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                   params)) {
            continue;
        }
        if (!RepliedFromItsAddress(datagram, params)) {
            VLOG(1) << "A search reply for " << MacText(params.mac) << " names " << IpTypeToString(params.ip)
                    << " but came from another address; ignored";
            continue;
        }
        for (ReaddressEntry& entry : entries_) {
            // A device seen at its new address stays so for this search; an
            // echo of an older state must not undo that.
            if (SameMac(entry.current.mac, params.mac) &&
                !(entry.seen && entry.seenRecord.ip == entry.newIp)) {
                entry.seen = true;
                entry.seenRecord = params;
            }
        }
    }
    const bool allSeen = std::all_of(entries_.begin(), entries_.end(), [](const ReaddressEntry& e) {
        switch (e.state) {
        case ReaddressEntry::State::Changed:
            return e.seen && e.seenRecord.ip == e.newIp;
        case ReaddressEntry::State::NoResponse:
            return e.seen;
        default:
            return true;
        }
    });
    // Every changed device has answered from its new address, and every
    // silent one from somewhere: no need to wait out the listening time.
    if (allSeen) {
        udpModule_->Stop();
    }
}

void ReaddressBatch::OnSearchEnd()
{
    searchRepeat_->stop();
    StopExchange();
    for (size_t i = 0; i < entries_.size(); ++i) {
        const ReaddressEntry& entry = entries_[i];
        const bool atNewAddress = entry.seen && entry.seenRecord.ip == entry.newIp;
        if (entry.state == ReaddressEntry::State::Changed) {
            SetState(i, atNewAddress ? ReaddressEntry::State::Confirmed : ReaddressEntry::State::NotSeen);
        } else if (entry.state == ReaddressEntry::State::NoResponse && atNewAddress) {
            SetState(i, ReaddressEntry::State::MovedSilently);
        }
    }
    Finish();
}

void ReaddressBatch::Finish()
{
    phase_ = Phase::Finished;
    ForgetPasswords();
    LOG(INFO) << "Readdress ended: " << Summary().toStdString();
    emit Finished();
}

void ReaddressBatch::StopExchange()
{
    exchange_->Stop();
    // Disconnected first, so that the run's Stopped() reaches no slot here.
    disconnect(udpModule_, nullptr, this, nullptr);
    udpModule_->Stop();
}

void ReaddressBatch::LogResult(size_t index) const
{
    LOG(INFO) << ResultLine(index).toStdString();
}

QString ReaddressBatch::ResultLine(size_t index) const
{
    const ReaddressEntry& entry = entries_.at(index);
    const DeviceNetworkParams sent = SentRecord(entry);
    return QStringLiteral(
               "Readdress of device %1 at %2 \"%3\": IP address %4, mask %5, gateway %6, DNS %7, %8: %9")
        .arg(QString::fromStdString(MacText(entry.current.mac)), AddressText(entry.current.ip),
             QString::fromStdString(entry.current.deviceName), AddressText(sent.ip), AddressText(sent.mask),
             AddressText(sent.gateway), AddressText(sent.dns),
             QString::fromStdString(ConnectionTypeToString(sent.connectionType)), entry.StatusText());
}

bool ReaddressBatch::NewRecord(size_t index, DeviceNetworkParams& record) const
{
    const ReaddressEntry& entry = entries_.at(index);
    switch (entry.state) {
    case ReaddressEntry::State::Confirmed:
    case ReaddressEntry::State::MovedSilently:
        record = entry.seenRecord;
        return true;
    case ReaddressEntry::State::Changed:
    case ReaddressEntry::State::NotSeen:
        record = SentRecord(entry);
        return true;
    default:
        return false;
    }
}

QString ReaddressBatch::StopLine() const
{
    if (!stoppedForPort_) {
        return {};
    }
    return Tr("Stopped: another program holds UDP port %1; %2 devices not sent")
        .arg(UdpModuleWithTimer::kListenPort)
        .arg(entries_.size() - stoppedForPortAt_);
}

QString ReaddressBatch::Summary() const
{
    int confirmed = 0;
    int notSeen = 0;
    int failed = 0;
    int cancelled = 0;
    QStringList changed;
    for (const ReaddressEntry& entry : entries_) {
        switch (entry.state) {
        case ReaddressEntry::State::Confirmed:
        case ReaddressEntry::State::MovedSilently:
            ++confirmed;
            break;
        case ReaddressEntry::State::Changed:
        case ReaddressEntry::State::NotSeen:
            ++notSeen;
            break;
        case ReaddressEntry::State::Cancelled:
        case ReaddressEntry::State::Waiting:
            ++cancelled;
            continue;
        default:
            ++failed;
            continue;
        }
        changed << Tr("%1 (%2)").arg(QString::fromStdString(entry.current.deviceName),
                                     AddressText(entry.newIp));
    }
    QString text = Tr("%1 of %2 devices readdressed and confirmed").arg(confirmed).arg(entries_.size());
    if (notSeen > 0) {
        text += Tr("; %1 readdressed but not seen at the new address").arg(notSeen);
    }
    if (failed > 0) {
        text += Tr("; %1 failed").arg(failed);
    }
    if (cancelled_) {
        text += Tr("; cancelled, %1 not sent; already changed: %2")
                    .arg(cancelled)
                    .arg(changed.isEmpty() ? Tr("none") : changed.join(QStringLiteral(", ")));
    }
    return text;
}

std::vector<ReaddressEntry> PlannedEntries(const std::vector<ReaddressGroup>& groups)
{
    std::vector<ReaddressEntry> entries;
    for (const ReaddressGroup& group : groups) {
        for (size_t i = 0; i < group.devices.size() && i < group.addresses.size(); ++i) {
            ReaddressEntry entry;
            entry.current = group.devices[i].params;
            entry.interfaceIndex = group.devices[i].interfaceIndex;
            entry.newIp = group.addresses[i];
            entry.newMask = group.mask;
            entry.newGateway = group.gateway;
            entry.newDns = group.dns;
            entries.push_back(entry);
        }
    }
    return entries;
}
