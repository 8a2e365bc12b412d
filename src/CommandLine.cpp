#include "CommandLine.h"

#include "AddressProblems.h"
#include "CommandLineText.h"
#include "ConfigCommands.h"
#include "CsvText.h"
#include "DiscoveryProtocol.h"
#include "Ipv4Networks.h"
#include "ReaddressBatch.h"
#include "ReaddressPlan.h"
#include "StringUtils.h"
#include "UdpModule.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegExp>
#include <QSocketNotifier>

#include <easylogging++.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

namespace {

constexpr int kMaxSearchSeconds = 60;
// As many devices as the search window lists at most.
constexpr size_t kMaxDevices = 20000;
// What the settings request can carry.
constexpr int kMaxPasswordBytes = 31;
const char kPasswordVariable[] = "QEL_ADMIN_PASSWORD";

QString Tr(const char* text)
{
    return QCoreApplication::translate("CommandLine", text);
}

using cli::Err;
using cli::Finish;
using cli::IsLoggingOption;
using cli::Out;
using cli::Printable;
using cli::StopSignals;
using cli::UsageError;

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

QString MacText(const DeviceNetworkParams& params)
{
    return QString::fromStdString(utils::GetPrintedBufferInHex(params.mac, kMacSize, kMacSize, "-"));
}

// A person is there to answer: standard input is a terminal.
bool Interactive()
{
    return ::isatty(STDIN_FILENO) == 1;
}

// One line from the terminal, not echoed, never longer than a password can
// be plus one byte (so that an overlong one is refused, not cut). False when
// there is no terminal or the read was interrupted.
bool ReadSecretLine(const QString& prompt, QByteArray& secret)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) {
        ::close(fd);
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
    const QByteArray question = prompt.toUtf8();
    const ssize_t asked = ::write(fd, question.constData(), static_cast<size_t>(question.size()));
    static_cast<void>(asked);

    char buffer[kMaxPasswordBytes + 1];
    size_t used = 0;
    bool complete = false;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n != 1) {
            break; // end of input, or interrupted
        }
        if (c == '\n') {
            complete = true;
            break;
        }
        if (used < sizeof buffer) {
            buffer[used++] = c;
        }
    }
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    if (!complete) {
        const ssize_t newline = ::write(fd, "\n", 1);
        static_cast<void>(newline);
    }
    ::close(fd);
    secret = QByteArray(buffer, static_cast<int>(used));
    explicit_bzero(buffer, sizeof buffer);
    explicit_bzero(&c, sizeof c);
    return complete;
}

QString PasswordTooLong()
{
    return Tr("The password must be at most 31 bytes long (UTF-8; a Cyrillic letter takes 2)");
}

struct SearchResult {
    std::vector<ListedDevice> devices; // by address, then MAC; each MAC once
    size_t notListed = 0;
    QString error; // the search could not run
};

bool SameMac(const DeviceNetworkParams& a, const DeviceNetworkParams& b)
{
    return std::memcmp(a.mac, b.mac, kMacSize) == 0;
}

SearchResult Search(int listenTimeMs)
{
    SearchResult result;
    std::map<std::string, size_t> byMac;
    UdpModuleWithTimer module(nullptr);
    module.SetListenTimeMs(listenTimeMs);
    QEventLoop loop;
    QObject::connect(&module, &UdpModuleWithTimer::DatagramsReceived, [&](const DatagramBatch& batch) {
        for (const ReceivedDatagram& datagram : batch) {
            ListedDevice device;
            if (!ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                       device.params)) {
                continue;
            }
            // A device heard twice (on two interfaces, or answering twice)
            // is one device: it must not share an address with itself. Two
            // devices with one MAC tell other serial numbers or addresses.
            const std::string identity = std::string(device.params.mac, kMacSize) + device.params.serialNo +
                                         '@' + std::to_string(device.params.ip);
            if (byMac.count(identity) != 0) {
                continue;
            }
            if (result.devices.size() >= kMaxDevices) {
                ++result.notListed;
                continue;
            }
            device.interfaceIndex = datagram.interfaceIndex;
            byMac[identity] = result.devices.size();
            result.devices.push_back(device);
        }
    });
    QObject::connect(&module, &UdpModuleWithTimer::Stopped, &loop, &QEventLoop::quit);
    module.Start();
    if (!module.ListenError().isEmpty()) {
        result.error = Tr("Cannot listen on UDP port %1: %2")
                           .arg(UdpModuleWithTimer::kListenPort)
                           .arg(module.ListenError());
        module.Stop();
        return result;
    }
    const std::vector<char> request = ComposeDiscoverRequest();
    module.SendBroadcast(QByteArray(request.data(), static_cast<int>(request.size())));
    if (!module.SendError().isEmpty()) {
        result.error = Tr("Cannot send the search request: %1").arg(module.SendError());
        module.Stop();
        return result;
    }
    loop.exec();
    std::sort(result.devices.begin(), result.devices.end(), [](const ListedDevice& a, const ListedDevice& b) {
        const uint32_t ipA = ntohl(a.params.ip);
        const uint32_t ipB = ntohl(b.params.ip);
        return ipA != ipB ? ipA < ipB : std::memcmp(a.params.mac, b.params.mac, kMacSize) < 0;
    });
    return result;
}

std::vector<AddressProblem> ProblemsOf(const std::vector<ListedDevice>& devices,
                                       const std::vector<WorkstationInterface>& interfaces)
{
    std::vector<ListedAddress> addresses;
    for (const ListedDevice& device : devices) {
        addresses.push_back(ListedAddressOf(device.params, device.interfaceIndex));
    }
    return FindAddressProblems(addresses, interfaces);
}

struct Options {
    std::map<QString, QStringList> values; // by option name, in the order given
    QStringList flags;
    QString error;

    bool Has(const char* name) const { return values.count(QLatin1String(name)) != 0; }
    QString Value(const char* name) const
    {
        const auto found = values.find(QLatin1String(name));
        return found == values.end() ? QString() : found->second.constLast();
    }
    bool Flag(const char* name) const { return flags.contains(QLatin1String(name)); }
};

// The logging library reads these itself, wherever they stand.
// "--name VALUE" and "--name=VALUE" for `withValue`, "--name" for `flags`;
// anything else is an error.
Options ParseOptions(const QStringList& arguments, const QStringList& withValue, const QStringList& flags)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (IsLoggingOption(argument)) {
            continue;
        }
        const int equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals > 0 ? argument.left(equals) : argument;
        if (withValue.contains(name)) {
            if (equals > 0) {
                options.values[name] << argument.mid(equals + 1);
            } else if (i + 1 < arguments.size()) {
                options.values[name] << arguments.at(++i);
            } else {
                options.error = Tr("%1 needs a value").arg(name);
                return options;
            }
        } else if (flags.contains(argument)) {
            options.flags << argument;
        } else {
            options.error = Tr("Unknown option for %1: %2").arg(arguments.front(), argument);
            return options;
        }
    }
    return options;
}

bool ParseMac(const QString& text, DeviceNetworkParams& params)
{
    const QStringList parts = text.trimmed().split(QRegExp(QStringLiteral("[-:]")));
    if (parts.size() != static_cast<int>(kMacSize)) {
        return false;
    }
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const uint value = parts.at(i).toUInt(&ok, 16);
        if (!ok || parts.at(i).size() != 2 || value > 0xFF) {
            return false;
        }
        params.mac[i] = static_cast<char>(value);
    }
    return true;
}

// The keys of a device's object in `search --format json`, for the cells of
// DeviceListFields before "Problems", in their order. Scripts rely on them:
// never translated, never renamed.
const char* const kJsonKeys[] = {"product_name", "device_name", "ip_address", "mac_address",  "network_mask",
                                 "gateway",      "addressing",  "firmware",   "serial_number"};

// Each problem of the device as a text of its own.
QJsonArray ProblemList(const AddressProblem& problem, uint32_t ip)
{
    AddressProblem shared = problem;
    shared.outside = false;
    AddressProblem outside = problem;
    outside.sharesWith = 0;
    QJsonArray list;
    for (const AddressProblem& one : {shared, outside}) {
        if (one.Any()) {
            list.append(one.Text(ip));
        }
    }
    return list;
}

// The serializer escapes the control characters below U+0020 and leaves DEL
// and the C1 set (U+0080 to U+009F) as they are, which some terminals run as
// commands. Only strings can hold them, so escaping them as well keeps the
// same document.
QString EscapeRemainingControls(const QByteArray& json)
{
    QString text;
    for (const QChar c : QString::fromUtf8(json)) {
        if (c.unicode() >= 0x7F && c.unicode() <= 0x9F) {
            text += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            text += c;
        }
    }
    return text;
}

QString DeviceListJson(const std::vector<ListedDevice>& devices, const std::vector<AddressProblem>& problems)
{
    QJsonArray list;
    for (size_t i = 0; i < devices.size(); ++i) {
        const DeviceNetworkParams& params = devices[i].params;
        const QStringList fields = DeviceListFields(params, QString());
        QJsonObject device;
        for (int key = 0; key < static_cast<int>(std::size(kJsonKeys)); ++key) {
            device.insert(QLatin1String(kJsonKeys[key]), fields.at(key));
        }
        device.insert(QLatin1String("problems"), ProblemList(problems[i], params.ip));
        list.append(device);
    }
    return EscapeRemainingControls(QJsonDocument(list).toJson(QJsonDocument::Indented));
}

int RunSearch(const QStringList& arguments)
{
    const Options options =
        ParseOptions(arguments, {QStringLiteral("--seconds"), QStringLiteral("--format")}, {});
    if (!options.error.isEmpty()) {
        return UsageError(options.error);
    }
    int listenTimeMs = UdpModuleWithTimer::kListenTimeMs;
    if (options.Has("--seconds")) {
        bool ok = false;
        const double seconds = options.Value("--seconds").toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > kMaxSearchSeconds) {
            return UsageError(
                Tr("--seconds takes a number of seconds above 0, at most %1").arg(kMaxSearchSeconds));
        }
        listenTimeMs = std::max(1, static_cast<int>(seconds * 1000));
    }
    const QString format = options.Has("--format") ? options.Value("--format") : QStringLiteral("csv");
    if (format != QLatin1String("csv") && format != QLatin1String("json")) {
        return UsageError(Tr("--format takes csv or json"));
    }
    const SearchResult found = Search(listenTimeMs);
    if (!found.error.isEmpty()) {
        // No device could answer: an empty list would claim that none is there.
        Err(found.error);
        return Finish(kExitFailed);
    }
    const std::vector<AddressProblem> problems = ProblemsOf(found.devices, WorkstationInterfaces());
    if (format == QLatin1String("json")) {
        Out(DeviceListJson(found.devices, problems));
    } else {
        Out(CsvRecord(DeviceListHeader()));
        for (size_t i = 0; i < found.devices.size(); ++i) {
            const DeviceNetworkParams& params = found.devices[i].params;
            QStringList fields = DeviceListFields(params, problems[i].Text(params.ip));
            // One record per line, also for a name that holds a line break.
            for (QString& field : fields) {
                field = Printable(field);
            }
            Out(CsvRecord(fields));
        }
    }
    if (found.notListed > 0) {
        Err(Tr("%1 more answers were not listed").arg(found.notListed));
    }
    // A search that ran and heard no device has done what was asked: the
    // answer is an empty list, not a failure.
    return Finish(kExitSucceeded);
}

// Only an address on one of the workstation's own links can be asked for
// its hardware address; one beyond a router counts as free.
AddressProbe LocalProbe(const std::vector<WorkstationInterface>& interfaces)
{
    std::vector<Ipv4Network> local = NetworksOf(interfaces, 0);
    return [local](const std::vector<uint32_t>& candidates) {
        std::vector<uint32_t> onLink;
        for (const uint32_t ip : candidates) {
            if (InAnyNetwork(local, ip)) {
                onLink.push_back(ip);
            }
        }
        const std::vector<bool> answers = ProbeByArpTable(onLink, kArpProbeWaitMs);
        std::vector<bool> result;
        size_t next = 0;
        for (const uint32_t ip : candidates) {
            result.push_back(InAnyNetwork(local, ip) && answers[next++]);
        }
        return result;
    };
}

QString PadRight(const QString& text, int width)
{
    return text + QString(std::max(0, width - text.size()), QLatin1Char(' '));
}

void PrintPlan(const std::vector<ReaddressGroup>& groups, uint32_t dns)
{
    Out(Tr("Plan: static addressing; %1; confirming for up to %2 s\n")
            .arg(DnsPlanText(dns))
            .arg(ReaddressBatch::kConfirmMs / 1000));
    std::vector<QStringList> rows{
        {Tr("Device name"), Tr("MAC address"), Tr("Current IP address"), Tr("New IP address")}};
    for (const ReaddressGroup& group : groups) {
        rows.push_back({GroupPlanText(group)});
        for (size_t i = 0; i < group.devices.size(); ++i) {
            const DeviceNetworkParams& params = group.devices[i].params;
            rows.push_back({QStringLiteral("  ") + Printable(QString::fromStdString(params.deviceName)),
                            MacText(params), AddressText(params.ip), AddressText(group.addresses[i])});
        }
    }
    // A group's line spans the table; only the device rows set the widths.
    std::vector<QStringList> deviceRows;
    for (const QStringList& row : rows) {
        if (row.size() > 1) {
            deviceRows.push_back(row);
        }
    }
    std::vector<int> widths(deviceRows.front().size(), 0);
    for (const QStringList& row : deviceRows) {
        for (int column = 0; column < row.size(); ++column) {
            widths[static_cast<size_t>(column)] =
                std::max(widths[static_cast<size_t>(column)], row[column].size());
        }
    }
    for (const QStringList& row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column) {
            line += column + 1 < row.size() ? PadRight(row[column], widths[static_cast<size_t>(column)] + 2)
                                            : row[column];
        }
        Out(line + QLatin1Char('\n'));
    }
}

bool Confirmed(const ReaddressEntry& entry)
{
    return entry.state == ReaddressEntry::State::Confirmed ||
           entry.state == ReaddressEntry::State::MovedSilently;
}

// A per-interface option: "eth1=VALUE" for that interface, "VALUE" for the
// others. An empty value is given too: no gateway, say.
struct InterfaceValues {
    std::map<QString, QString> byInterface;
    std::optional<QString> plain;

    std::optional<QString> For(const QString& netif) const
    {
        const auto found = byInterface.find(netif);
        return found != byInterface.end() ? std::optional<QString>(found->second) : plain;
    }
};

bool SplitInterfaceValues(const Options& options, const char* name,
                          const std::vector<WorkstationInterface>& interfaces, InterfaceValues& values,
                          QString& error)
{
    if (!options.Has(name)) {
        return true;
    }
    for (const QString& value : options.values.at(QLatin1String(name))) {
        const int equals = value.indexOf(QLatin1Char('='));
        if (equals < 0) {
            values.plain = value.trimmed();
            continue;
        }
        const QString netif = value.left(equals).trimmed();
        if (std::none_of(interfaces.begin(), interfaces.end(),
                         [&](const WorkstationInterface& i) { return i.name == netif; })) {
            QStringList names;
            for (const WorkstationInterface& i : interfaces) {
                names << i.name;
            }
            error = Tr("No interface %1 with an IPv4 network; this workstation has: %2")
                        .arg(netif, names.isEmpty() ? Tr("none") : names.join(QStringLiteral(", ")));
            return false;
        }
        values.byInterface[netif] = value.mid(equals + 1).trimmed();
    }
    return true;
}

bool ParseAddress(const QString& text, uint32_t& address)
{
    return StringToIpType(text.toStdString(), address);
}

// Gives each group its first address, mask and gateway from the options,
// or says why the group cannot be planned. A plain --first belongs to the
// interface --interface names, else to the one whose networks hold it, else
// to the only group there is.
QString SetUpGroups(std::vector<ReaddressGroup>& groups, const InterfaceValues& firsts,
                    const InterfaceValues& masks, const InterfaceValues& gateways,
                    const QString& chosenInterface)
{
    uint32_t plainFirst = 0;
    if (firsts.plain && !ParseAddress(*firsts.plain, plainFirst)) {
        return Tr("Invalid first IP address");
    }
    const ReaddressGroup* plainOwner = nullptr;
    if (firsts.plain) {
        for (const ReaddressGroup& group : groups) {
            const bool named = !chosenInterface.isEmpty() && group.interfaceName == chosenInterface;
            if (named || (chosenInterface.isEmpty() && InAnyNetwork(group.networks, plainFirst))) {
                plainOwner = &group;
            }
        }
        if (plainOwner == nullptr && chosenInterface.isEmpty() && groups.size() == 1) {
            plainOwner = &groups.front();
        }
    }
    const std::vector<uint32_t> routes = WorkstationGateways();
    for (ReaddressGroup& group : groups) {
        const QString where =
            group.interfaceIndex != 0
                ? QStringLiteral("%1 (%2)").arg(group.interfaceName, NetworksText(group.networks))
                : Tr("an interface this workstation no longer has");
        QString firstText = firsts.byInterface.count(group.interfaceName) != 0
                                ? firsts.byInterface.at(group.interfaceName)
                                : QString();
        if (firstText.isEmpty() && plainOwner == &group) {
            firstText = *firsts.plain;
        }
        if (firstText.isEmpty()) {
            return Tr("Nothing sent: %1 of the devices answered on %2; give --first %3=ADDRESS for them")
                .arg(group.devices.size())
                .arg(where, group.interfaceIndex != 0 ? group.interfaceName : Tr("INTERFACE"));
        }
        if (!ParseAddress(firstText, group.first)) {
            return Tr("Invalid first IP address");
        }
        const std::optional<QString> maskText = masks.For(group.interfaceName);
        if (maskText) {
            if (!ParseAddress(*maskText, group.mask)) {
                return Tr("Invalid network mask");
            }
        } else {
            const auto network =
                std::find_if(group.networks.begin(), group.networks.end(),
                             [&group](const Ipv4Network& n) { return n.Contains(group.first); });
            if (network == group.networks.end()) {
                return Tr("--mask MASK is needed: %1 is in none of the networks of %2")
                    .arg(AddressText(group.first), where);
            }
            group.mask = network->mask;
        }
        const std::optional<QString> gatewayText = gateways.For(group.interfaceName);
        if (gatewayText) {
            group.gateway = 0;
            if (!gatewayText->isEmpty() && !ParseAddress(*gatewayText, group.gateway)) {
                return Tr("Invalid gateway");
            }
        } else {
            group.gateway =
                ProposeServers(group.devices, Ipv4Network{group.first, group.mask}, routes).gateway;
        }
        const QString refusal = CheckStaticAddressing(group.first, group.mask, group.gateway);
        if (!refusal.isEmpty()) {
            return group.interfaceIndex != 0 ? QStringLiteral("%1: %2").arg(group.interfaceName, refusal)
                                             : refusal;
        }
    }
    return {};
}

int RunReaddress(const QStringList& arguments)
{
    const Options options =
        ParseOptions(arguments,
                     {QStringLiteral("--first"), QStringLiteral("--mask"), QStringLiteral("--gateway"),
                      QStringLiteral("--dns"), QStringLiteral("--interface"), QStringLiteral("--mac")},
                     {QStringLiteral("--conflicting"), QStringLiteral("--outside"), QStringLiteral("--all"),
                      QStringLiteral("--dry-run"), QStringLiteral("--ask-each")});
    if (!options.error.isEmpty()) {
        return UsageError(options.error);
    }
    const int selections = (options.Has("--mac") ? 1 : 0) + (options.Flag("--conflicting") ? 1 : 0) +
                           (options.Flag("--outside") ? 1 : 0) + (options.Flag("--all") ? 1 : 0);
    if (selections != 1) {
        return UsageError(
            Tr("Name the devices with one of --mac MAC (repeatable), --conflicting, --outside, --all"));
    }
    if (!options.Has("--first")) {
        return UsageError(Tr("--first ADDRESS is needed"));
    }
    std::vector<DeviceNetworkParams> macs;
    if (options.Has("--mac")) {
        for (const QString& text : options.values.at(QStringLiteral("--mac"))) {
            DeviceNetworkParams params;
            if (!ParseMac(text, params)) {
                return UsageError(Tr("Invalid MAC address: %1").arg(text));
            }
            macs.push_back(params);
        }
    }
    std::optional<uint32_t> dns;
    if (options.Has("--dns")) {
        uint32_t address = 0;
        const QString text = options.Value("--dns").trimmed();
        if (!text.isEmpty() && !ParseAddress(text, address)) {
            return UsageError(Tr("Invalid DNS"));
        }
        dns = address;
    }
    const std::vector<WorkstationInterface> interfaces = WorkstationInterfaces();
    InterfaceValues firsts;
    InterfaceValues masks;
    InterfaceValues gateways;
    QString error;
    if (!SplitInterfaceValues(options, "--first", interfaces, firsts, error) ||
        !SplitInterfaceValues(options, "--mask", interfaces, masks, error) ||
        !SplitInterfaceValues(options, "--gateway", interfaces, gateways, error)) {
        return UsageError(error);
    }
    const QString chosenInterface = options.Value("--interface");
    if (!chosenInterface.isEmpty() &&
        std::none_of(interfaces.begin(), interfaces.end(),
                     [&](const WorkstationInterface& i) { return i.name == chosenInterface; })) {
        QStringList names;
        for (const WorkstationInterface& netif : interfaces) {
            names << netif.name;
        }
        return UsageError(
            Tr("No interface %1 with an IPv4 network; this workstation has: %2")
                .arg(chosenInterface, names.isEmpty() ? Tr("none") : names.join(QStringLiteral(", "))));
    }

    const SearchResult found = Search(UdpModuleWithTimer::kListenTimeMs);
    if (!found.error.isEmpty()) {
        Err(found.error);
        return Finish(kExitFailed);
    }
    const std::vector<AddressProblem> problems = ProblemsOf(found.devices, interfaces);
    std::vector<ListedDevice> devices;
    for (size_t i = 0; i < found.devices.size(); ++i) {
        const ListedDevice& device = found.devices[i];
        const bool named = std::any_of(macs.begin(), macs.end(), [&](const DeviceNetworkParams& mac) {
            return SameMac(mac, device.params);
        });
        if (problems[i].SharesMac() && (named || options.Flag("--all") ||
                                        (options.Flag("--conflicting") && problems[i].sharesWith > 0) ||
                                        (options.Flag("--outside") && problems[i].outside))) {
            // The request goes by MAC: every device that answers with it
            // would take the same new address and name.
            return UsageError(SharedMacRefusal(device.params.mac) + Tr("; nothing sent"));
        }
        const bool asked = options.Flag("--all") ||
                           (options.Flag("--conflicting") && problems[i].sharesWith > 0) ||
                           (options.Flag("--outside") && problems[i].outside) || named;
        if (asked) {
            devices.push_back(device);
        }
    }
    QStringList missing;
    for (const DeviceNetworkParams& mac : macs) {
        if (std::none_of(devices.begin(), devices.end(),
                         [&](const ListedDevice& device) { return SameMac(mac, device.params); })) {
            missing << MacText(mac);
        }
    }
    if (!missing.isEmpty()) {
        // A script named these devices: the others are not readdressed
        // without them, so that it can simply run again.
        Err(Tr("Not found by the search, nothing sent: %1").arg(missing.join(QStringLiteral(", "))));
        return Finish(kExitFailed);
    }
    if (devices.empty()) {
        Out(options.Flag("--conflicting") ? Tr("No device shares an IP address with another device\n")
            : options.Flag("--outside")   ? Tr("No device is outside this workstation's networks\n")
                                          : Tr("The search found no device\n"));
        return Finish(kExitSucceeded);
    }

    std::vector<ReaddressGroup> groups = GroupByInterface(interfaces, devices);
    error = SetUpGroups(groups, firsts, masks, gateways, chosenInterface);
    if (!error.isEmpty()) {
        return UsageError(error);
    }
    const uint32_t newDns = dns ? *dns : 0;
    std::unordered_set<uint32_t> taken = TakenAddresses(interfaces, found.devices);
    const AddressProbe probe = LocalProbe(interfaces);
    for (ReaddressGroup& group : groups) {
        group.dns = newDns;
        if (!PlanGroup(group, taken, probe, error)) {
            return UsageError(error);
        }
    }
    PrintPlan(groups, newDns);
    if (options.Flag("--dry-run")) {
        return Finish(kExitSucceeded);
    }
    // From here on Ctrl-C cancels: before anything is sent it ends the
    // command, during the batch it stops before the next device.
    StopSignals stopSignals;
    std::fflush(stdout);
    for (const ReaddressGroup& group : groups) {
        if (!group.LeavesInterface()) {
            continue;
        }
        const std::vector<Ipv4Network> networks =
            group.interfaceIndex != 0 ? group.networks : NetworksOf(interfaces, 0);
        const QString question =
            Tr("After this change the tool cannot reach the device from this workstation "
               "(its networks: %1). Apply anyway?")
                .arg(NetworksText(networks));
        if (!Interactive()) {
            Err(question);
            Err(Tr("Not applied: no terminal to answer the question"));
            return Finish(kExitUsage);
        }
        Err(question + Tr(" [y/N]"));
        char answer[8] = {};
        if (std::fgets(answer, sizeof answer, stdin) == nullptr || (answer[0] != 'y' && answer[0] != 'Y')) {
            Err(Tr("Not applied"));
            return Finish(kExitFailed);
        }
    }

    QByteArray password;
    if (char* fromEnvironment = std::getenv(kPasswordVariable)) {
        password = QByteArray(fromEnvironment);
        // Gone from this process's environment block, and nothing it starts
        // inherits it.
        explicit_bzero(fromEnvironment, std::strlen(fromEnvironment));
        ::unsetenv(kPasswordVariable);
    } else if (!Interactive() || !ReadSecretLine(Tr("Administrator password: "), password)) {
        password.fill('\0');
        if (stopSignals.Raised()) {
            Err(Tr("Cancelled; nothing sent"));
            return Finish(kExitFailed);
        }
        return UsageError(Tr("No administrator password: set %1 or run the command on a terminal")
                              .arg(QLatin1String(kPasswordVariable)));
    }
    if (password.size() > kMaxPasswordBytes) {
        password.fill('\0');
        return UsageError(PasswordTooLong());
    }

    ReaddressBatch batch(PlannedEntries(groups), password, nullptr);
    password.fill('\0');
    password.clear();
    if (Interactive()) {
        const bool askEach = options.Flag("--ask-each");
        batch.SetPasswordAsker([askEach](const ReaddressEntry& entry, QByteArray& answer, bool& forOthers) {
            const QString device = Tr("%1 (%2)").arg(
                Printable(QString::fromStdString(entry.current.deviceName)), MacText(entry.current));
            const QString prompt =
                askEach ? Tr("%1 refused the password; its password (empty: skip it): ").arg(device)
                        : Tr("%1 refused the password; the password for it and every other device that "
                             "refuses (empty: skip them): ")
                              .arg(device);
            if (!ReadSecretLine(prompt, answer) || answer.isEmpty()) {
                answer.fill('\0');
                return false;
            }
            if (answer.size() > kMaxPasswordBytes) {
                answer.fill('\0');
                Err(PasswordTooLong());
                return false;
            }
            forOthers = !askEach;
            return true;
        });
    }
    QEventLoop loop;
    QObject::connect(&batch, &ReaddressBatch::Finished, &loop, &QEventLoop::quit);
    bool waitShown = false;
    QObject::connect(&batch, &ReaddressBatch::PortWait, [&waitShown](int remainingMs) {
        if (remainingMs > 0 && !waitShown) {
            waitShown = true;
            Err(Tr("Waiting for UDP port %1: another program holds it (up to %2 s)")
                    .arg(UdpModuleWithTimer::kListenPort)
                    .arg((remainingMs + 999) / 1000));
        } else if (remainingMs == 0) {
            waitShown = false;
        }
    });
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (stopSignals.ReadEnd() >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(stopSignals.ReadEnd(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [&] {
            if (stopSignals.Raised() && batch.IsRunning()) {
                Err(Tr("Cancelling: the request that is out finishes, no more are sent"));
                batch.Cancel();
            }
        });
    }
    batch.Start();
    if (!batch.IsFinished()) {
        loop.exec();
    }
    bool allConfirmed = true;
    const QString stopLine = batch.StopLine();
    for (size_t i = 0; i < batch.Entries().size(); ++i) {
        const ReaddressEntry& entry = batch.Entries()[i];
        allConfirmed = allConfirmed && Confirmed(entry);
        // The devices the held port kept from being sent get one line for all.
        if (stopLine.isEmpty() || entry.state != ReaddressEntry::State::NotSent) {
            Out(Printable(batch.ResultLine(i)) + QLatin1Char('\n'));
        }
    }
    if (!stopLine.isEmpty()) {
        Out(stopLine + QLatin1Char('\n'));
    }
    Out(Printable(batch.Summary()) + QLatin1Char('\n'));
    return Finish(allConfirmed ? kExitSucceeded : kExitFailed);
}

} // namespace

bool IsCommand(const char* word)
{
    return std::strcmp(word, "search") == 0 || std::strcmp(word, "readdress") == 0 ||
           std::strcmp(word, "config") == 0;
}

const char* CommandsHelp()
{
    return "Commands (no display needed; results on standard output, errors on standard error):\n"
           "  search [--seconds S] [--format csv|json]\n"
           "                           one search; the devices found, as CSV (the default: a\n"
           "                           header, then a record per device) or as one JSON array\n"
           "                           with an object per device: the strings product_name,\n"
           "                           device_name, ip_address, mac_address, network_mask,\n"
           "                           gateway, addressing, firmware, serial_number, and\n"
           "                           problems, a list of texts (empty when none). In CSV a\n"
           "                           control character of a device's text shows as U+FFFD;\n"
           "                           JSON escapes it.\n"
           "  readdress --first [IF=]ADDRESS... [--mask [IF=]MASK] [--gateway [IF=]GW] [--dns DNS]\n"
           "            [--interface IF] (--mac MAC... | --conflicting | --outside | --all)\n"
           "            [--ask-each] [--dry-run]\n"
           "                           gives the devices free addresses from ADDRESS on: one\n"
           "                           search, the plan, each device's result after a\n"
           "                           confirming search (up to 10 s), the summary. Each device\n"
           "                           is planned in a network of the interface it answered on:\n"
           "                           --first eth1=10.78.0.100 for the devices of eth1; a plain\n"
           "                           --first serves the interface --interface names, else the\n"
           "                           one whose network holds it. Devices of an interface\n"
           "                           without a first address are refused and nothing is sent.\n"
           "                           The mask defaults to the interface's, the gateway to the\n"
           "                           one the devices or this workstation use in the new\n"
           "                           network. --dns DNS gives the devices a DNS server: the\n"
           "                           search cannot read the one they hold, so without --dns\n"
           "                           it is cleared. Addresses of this workstation, of every\n"
           "                           listed device and of the gateway and DNS are never\n"
           "                           given. --mac may be repeated (00-11-22-33-44-55 or\n"
           "                           00:11:22:33:44:55); --conflicting takes the devices that\n"
           "                           share an address, --outside those outside this\n"
           "                           workstation's networks; a device whose MAC another device\n"
           "                           answers with too is refused. --dry-run stops after the\n"
           "                           plan. The administrator password comes from the\n"
           "                           environment variable QEL_ADMIN_PASSWORD, else it is\n"
           "                           asked on the terminal; never give it as an argument. A\n"
           "                           device that refuses it makes the terminal ask once for\n"
           "                           a password for it and every other device that refuses;\n"
           "                           --ask-each asks for each such device instead. While\n"
           "                           another program holds UDP port 49077 the batch waits up\n"
           "                           to 10 s, then stops.\n"
           "  config save ADDRESS FILE writes the analytics configuration of the device at the\n"
           "                           IPv4 ADDRESS to FILE as a template: zones, zone timeout,\n"
           "                           object classes, camera position and encoder; never the\n"
           "                           video source or a password. A configuration that does\n"
           "                           not read whole is refused and no file is written.\n"
           "  config apply [--parts zones,classifier,encoder,camera] FILE ADDRESS...\n"
           "                           applies the template FILE to the devices at the IPv4\n"
           "                           ADDRESSes, one after another: the parts asked for\n"
           "                           (default zones,classifier,encoder; camera is the camera\n"
           "                           position), each only where the device differs, then\n"
           "                           reads each device back: a line per device and part\n"
           "                           (matches, failed: REASON, differs after apply), then the\n"
           "                           summary. A template that does not read whole is refused\n"
           "                           and nothing is sent; so is a device whose configuration\n"
           "                           does not read whole. Ctrl-C lets the device at work\n"
           "                           finish and sends nothing to the rest.\n"
           "Exit code: 0 when everything asked for succeeded, 1 when a search could not run,\n"
           "a device was not readdressed and confirmed, a configuration was not saved or a\n"
           "device does not match the template in every part asked for, 2 for a command line\n"
           "that cannot be used.\n";
}

int RunCommand(const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        return kExitUsage;
    }
    if (arguments.front() == QLatin1String("search")) {
        return RunSearch(arguments);
    }
    if (arguments.front() == QLatin1String("readdress")) {
        return RunReaddress(arguments);
    }
    if (arguments.front() == QLatin1String("config")) {
        return RunConfig(arguments);
    }
    return UsageError(Tr("Unknown command: %1").arg(arguments.front()));
}
