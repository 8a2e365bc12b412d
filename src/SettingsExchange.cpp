#include "SettingsExchange.h"

#include "AssignmentVerifier.h"
#include "StringUtils.h"
#include "UdpModule.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHostAddress>
#include <easylogging++.h>

#include <arpa/inet.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const AssignmentVerifier vf;

QByteArray ToDatagram(const std::vector<char>& bytes)
{
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}

QString Tr(const char* text)
{
    return QCoreApplication::translate("SettingsDialog", text);
}

// What a search shows of a network change: the name and addressing mode,
// and with static addressing the address, mask and gateway (a DHCP server
// gives its own; the reply carries no DNS).
bool SameSettings(const DeviceNetworkParams& shown, const DeviceNetworkParams& expected)
{
    if (shown.deviceName != expected.deviceName || shown.connectionType != expected.connectionType) {
        return false;
    }
    return expected.connectionType != STATIC ||
           (shown.ip == expected.ip && shown.mask == expected.mask && shown.gateway == expected.gateway);
}

} // namespace

QString SettingsExchange::Texts::Outcome(ResponseCode code) const
{
    switch (code) {
    case Success:
        return success;
    case InvalidPassword:
        return Failure(Tr("invalid password"));
    case Error:
        return Failure(Tr("error occurred"));
    default:
        // A code the protocol gives no meaning ends the exchange as a failure
        // rather than leaving the user to wait for the time-out.
        return Failure(Tr("unknown response code %1").arg(static_cast<int>(code)));
    }
}

SettingsExchange::SettingsExchange(QObject* parent)
    : QObject(parent), udpModule_(new UdpModuleWithTimer(this))
{
}

// Closing the owner while a request waits ends the exchange silently: the
// transport emits nothing as it is destroyed.
SettingsExchange::~SettingsExchange() = default;

const char* SettingsExchange::KindName() const
{
    return kind_ == NetworkSetting ? "NetworkSetting" : "AuthSetting";
}

void SettingsExchange::Start(RequestType kind, const DeviceNetworkParams& before,
                             const DeviceNetworkParams& sent, const std::vector<char>& request,
                             int interfaceIndex, const Texts& texts)
{
    kind_ = kind;
    before_ = before;
    sent_ = sent;
    interfaceIndex_ = interfaceIndex;
    texts_ = texts;
    udpModule_->Start();
    vf = connect(udpModule_, &UdpModuleWithTimer::DatagramReceived, this, &SettingsExchange::OnReply);
    vf = connect(udpModule_, &UdpModuleWithTimer::Stopped, this, &SettingsExchange::OnNoReply);
    // A request whose reply cannot be heard would change the device without
    // the tool ever learning the outcome: it is not sent at all.
    const QString listenError = udpModule_->ListenError();
    if (!listenError.isEmpty()) {
        Result result;
        result.listenError = listenError;
        result.message =
            Tr("Cannot listen on UDP port %1: ").arg(UdpModuleWithTimer::kListenPort) + listenError;
        Finish(result);
        return;
    }
    udpModule_->SendBroadcast(ToDatagram(request), SettingsRequestLogDump(request), interfaceIndex_);
    const QString sendError = udpModule_->SendError();
    if (!sendError.isEmpty()) {
        Result result;
        result.sendError = sendError;
        result.message = Tr("Cannot send the settings request: ") + sendError;
        Finish(result);
        return;
    }
    VLOG(1) << KindName() << " Request is sent";
}

void SettingsExchange::OnReply(const QByteArray& datagram)
{
    Result result;
    result.sent = true;
    result.answered = true;
    if (!ParseNetworkAuthSettingsResponse(datagram.constData(), static_cast<size_t>(datagram.size()), kind_,
                                          before_.mac, result.code)) {
        VLOG(1) << "Response not recognized";
        return;
    }
    result.success = result.code == Success;
    result.message = texts_.Outcome(result.code);
    result.recordText = result.success ? QStringLiteral("changed")
                                       : QStringLiteral("failed: ") + Texts{}.Outcome(result.code);
    result.applied = result.success && kind_ == NetworkSetting;
    result.record = sent_;
    VLOG(1) << KindName() << " Response recognized; code: " << static_cast<int>(result.code) << ": "
            << result.message.toStdString();
    Finish(result);
}

void SettingsExchange::OnNoReply()
{
    VLOG(6) << "waitingResponse_: " << true;
    // Called as the request's run ends: the search is the transport's next
    // run, with the same listening time.
    disconnect(udpModule_, nullptr, this, nullptr);
    if (!searchAfterNoReply_) {
        Result result;
        result.sent = true;
        result.message = texts_.Failure(Tr("no response from device"));
        result.recordText = QStringLiteral("no response");
        Finish(result);
        return;
    }
    emit Searching();
    udpModule_->Start();
    vf =
        connect(udpModule_, &UdpModuleWithTimer::DatagramsReceived, this, &SettingsExchange::OnSearchReplies);
    vf = connect(udpModule_, &UdpModuleWithTimer::Stopped, this, &SettingsExchange::OnSearchEnd);
    if (!udpModule_->ListenError().isEmpty()) {
        Judge(nullptr);
        return;
    }
    udpModule_->SendBroadcast(ToDatagram(ComposeDiscoverRequest()), interfaceIndex_);
    if (!udpModule_->SendError().isEmpty()) {
        Judge(nullptr);
    }
}

void SettingsExchange::OnSearchReplies(const DatagramBatch& batch)
{
    for (const ReceivedDatagram& datagram : batch) {
        // Only the device behind the interface the request went out on: a
        // device with the same MAC elsewhere is another one.
        if (interfaceIndex_ != 0 && datagram.interfaceIndex != 0 &&
            datagram.interfaceIndex != interfaceIndex_) {
            continue;
        }
        DeviceNetworkParams found{};
        if (!ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                   found) ||
            !std::equal(std::begin(found.mac), std::end(found.mac), std::begin(before_.mac))) {
            continue;
        }
        // The window follows the address the reply names, for the web
        // pages and the video: only the device itself can vouch for it.
        if (!RepliedFromItsAddress(datagram, found)) {
            LOG(WARNING) << "A search reply for "
                         << utils::GetPrintedBufferInHex(found.mac, kMacSize, kMacSize, "-") << " names "
                         << IpTypeToString(found.ip) << " but came from "
                         << QHostAddress(datagram.senderAddress).toString().toStdString() << "; ignored";
            continue;
        }
        Judge(&found);
        return;
    }
}

void SettingsExchange::OnSearchEnd()
{
    Judge(nullptr);
}

void SettingsExchange::Judge(const DeviceNetworkParams* found)
{
    Result result;
    result.sent = true;
    QString outcome;
    if (found == nullptr) {
        outcome = Tr("the device did not answer the search either");
    } else if (kind_ == AuthSetting) {
        outcome = Tr("a new search shows the device, but not whether its password changed");
    } else if (SameSettings(*found, sent_)) {
        outcome = Tr("a new search shows the device with the new settings");
        result.applied = true;
        result.record = sent_;
        if (sent_.connectionType != STATIC) {
            result.record.ip = found->ip;
            result.record.mask = found->mask;
            result.record.gateway = found->gateway;
        }
    } else if (SameSettings(*found, before_)) {
        outcome = Tr("a new search shows the device unchanged");
    } else {
        outcome = Tr("a new search shows the device with settings that are neither the old nor the new ones");
    }
    VLOG(1) << "Search after no response: " << outcome.toStdString();
    result.message = texts_.Failure(Tr("no response from device")) + QStringLiteral("; ") + outcome;
    result.recordText = QStringLiteral("no response; ") + outcome;
    Finish(result);
}

void SettingsExchange::Finish(Result result)
{
    Stop();
    emit Finished(result);
}

void SettingsExchange::Stop()
{
    // Disconnected first, so the run's Stopped() does not reach this
    // exchange again and later datagrams are dropped.
    disconnect(udpModule_, nullptr, this, nullptr);
    udpModule_->Stop();
}

bool RepliedFromItsAddress(const ReceivedDatagram& datagram, const DeviceNetworkParams& params)
{
    return datagram.senderAddress == ntohl(params.ip);
}
