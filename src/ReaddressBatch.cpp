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

#include <easylogging++.h>

#include <algorithm>
#include <cstring>

namespace {

const AssignmentVerifier vf;

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

ReaddressBatch::ReaddressBatch(std::vector<ReaddressEntry> entries, uint32_t mask, uint32_t gateway,
                               uint32_t dns, const QByteArray& password, QObject* parent)
    : QObject(parent), entries_(std::move(entries)), mask_(mask), gateway_(gateway), dns_(dns),
      password_(password), exchange_(new SettingsExchange(this)), udpModule_(new UdpModuleWithTimer(this))
{
    password_.detach();
    exchange_->SetSearchAfterNoReply(false);
    vf = connect(exchange_, &SettingsExchange::Finished, this, &ReaddressBatch::OnExchangeFinished);
    runner_ = new BatchRunner(
        entries_.size(),
        [this](size_t index) {
            current_ = index;
            SendCurrent();
        },
        [this](size_t index) { SetState(index, ReaddressEntry::State::Cancelled); }, this);
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
    runner_->Cancel();
    LOG(INFO) << "Readdress cancelled by the user";
    if (phase_ == Phase::Confirming) {
        // Ends the search; OnSearchEnd concludes with what it has seen.
        udpModule_->Stop();
    }
}

DeviceNetworkParams ReaddressBatch::SentRecord(const ReaddressEntry& entry) const
{
    return ReaddressedRecord(entry.current, entry.newIp, mask_, gateway_, dns_);
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
    exchange_->Start(NetworkSetting, entry.current, sent, ComposeNetworkSettingsRequest(sent, digest.get()),
                     entry.interfaceIndex, {});
}

void ReaddressBatch::OnExchangeFinished(const SettingsExchange::Result& result)
{
    ReaddressEntry& entry = entries_[current_];
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
    if (entry.state == ReaddressEntry::State::InvalidPassword && asker_ && !cancelled_ &&
        asks_ < kMaxPasswordAsks) {
        ++asks_;
        QByteArray password;
        if (asker_(entry, password) && !cancelled_) {
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
    udpModule_->Start();
    vf = connect(udpModule_, SIGNAL(DatagramsReceived(const DatagramBatch&)), this,
                 SLOT(OnSearchReplies(const DatagramBatch&)));
    vf = connect(udpModule_, SIGNAL(Stopped()), this, SLOT(OnSearchEnd()));
    udpModule_->SendBroadcast(ToDatagram(ComposeDiscoverRequest()));
    if (!udpModule_->ListenError().isEmpty() || !udpModule_->SendError().isEmpty()) {
        udpModule_->Stop(); // nothing will be heard: every changed device stays unconfirmed
    }
}

void ReaddressBatch::OnSearchReplies(const DatagramBatch& batch)
{
    for (const ReceivedDatagram& datagram : batch) {
        DeviceNetworkParams params{};
        if (!ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                   params)) {
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

std::vector<ReaddressEntry> PlannedEntries(const std::vector<ListedDevice>& devices,
                                           const std::vector<uint32_t>& addresses)
{
    std::vector<ReaddressEntry> entries;
    entries.reserve(devices.size());
    for (size_t i = 0; i < devices.size() && i < addresses.size(); ++i) {
        ReaddressEntry entry;
        entry.current = devices[i].params;
        entry.interfaceIndex = devices[i].interfaceIndex;
        entry.newIp = addresses[i];
        entries.push_back(entry);
    }
    return entries;
}
