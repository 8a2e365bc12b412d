#include "ConfigCommands.h"

#include "CommandLine.h"
#include "CommandLineText.h"
#include "ConfigTemplate.h"
#include "DiscoveryProtocol.h"
#include "HttpClientModule.h"
#include "HttpFailureText.h"
#include "TemplateBatch.h"
#include "TemplateParts.h"
#include "StringUtils.h"
#include "UdpModule.h"
#include "VCA.pb.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDevice>
#include <QHostAddress>
#include <QRegExp>
#include <QSaveFile>
#include <QSet>
#include <QSocketNotifier>

#include <arpa/inet.h>

#include <easylogging++.h>

#include <memory>
#include <vector>

namespace {

using cli::Err;
using cli::Finish;
using cli::IsLoggingOption;
using cli::Out;
using cli::Printable;
using cli::UsageError;

QString Tr(const char* text)
{
    return QCoreApplication::translate("CommandLine", text);
}

// Only a numeric address: a name would need a resolver that could send the
// requests elsewhere.
bool NumericIpv4(const QString& text, QString& address)
{
    const QString trimmed = text.trimmed();
    const QHostAddress host(trimmed);
    if (!QRegExp(QStringLiteral("\\d{1,3}(\\.\\d{1,3}){3}")).exactMatch(trimmed) ||
        host.protocol() != QAbstractSocket::IPv4Protocol) {
        return false;
    }
    address = host.toString();
    return true;
}

// The name and MAC address the device at `address` gives in its discovery
// reply. One request is broadcast, so every device answers: a reply counts
// only when it came from `address` and states `address` as its own (a device
// elsewhere that claims the address is not the one read). False when none
// answers within the listening time or the reply port is taken.
bool FindDeviceAt(const QString& address, TemplateSource& source)
{
    const quint32 asked = QHostAddress(address).toIPv4Address();
    UdpModuleWithTimer module(nullptr);
    QEventLoop loop;
    bool found = false;
    QObject::connect(&module, &UdpModuleWithTimer::DatagramsReceived, [&](const DatagramBatch& batch) {
        for (const ReceivedDatagram& datagram : batch) {
            DeviceNetworkParams params{};
            if (found || datagram.senderAddress != asked ||
                !ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                       params) ||
                ntohl(params.ip) != asked) {
                continue;
            }
            source.deviceName = QString::fromStdString(params.deviceName);
            source.mac = QString::fromStdString(
                utils::GetPrintedBufferInHex(params.mac, sizeof params.mac, sizeof params.mac, "-"));
            found = true;
            loop.quit();
        }
    });
    QObject::connect(&module, &UdpModuleWithTimer::Stopped, &loop, &QEventLoop::quit);
    module.Start();
    if (!module.ListenError().isEmpty()) {
        LOG(WARNING) << "The source device's name is not known: cannot listen on UDP port "
                     << UdpModuleWithTimer::kListenPort << ": " << module.ListenError().toStdString();
        module.Stop();
        return false;
    }
    const std::vector<char> request = ComposeDiscoverRequest();
    module.SendBroadcast(QByteArray(request.data(), static_cast<int>(request.size())));
    if (!module.SendError().isEmpty()) {
        LOG(WARNING) << "The source device's name is not known: cannot send the search request: "
                     << module.SendError().toStdString();
        module.Stop();
        return false;
    }
    if (!found) {
        loop.exec();
    }
    module.Stop();
    if (!found) {
        LOG(WARNING) << "The source device's name is not known: no search reply from "
                     << address.toStdString();
    }
    return found;
}

// "config save ADDRESS FILE": the device's configuration, read whole, as a
// template file. Only a numeric address: a name would need a resolver that
// could send the request elsewhere.
int RunConfigSave(const QStringList& arguments)
{
    QStringList positional;
    for (int i = 2; i < arguments.size(); ++i) {
        if (IsLoggingOption(arguments.at(i))) {
            continue;
        }
        if (arguments.at(i).startsWith(QLatin1String("--"))) {
            return UsageError(Tr("Unknown option for config save: %1").arg(arguments.at(i)));
        }
        positional << arguments.at(i);
    }
    if (positional.size() != 2) {
        return UsageError(Tr("config save needs an IPv4 address and a file: config save ADDRESS FILE"));
    }
    QString deviceAddress;
    if (!NumericIpv4(positional.at(0), deviceAddress)) {
        return UsageError(Tr("Not an IPv4 address: %1").arg(Printable(positional.at(0))));
    }
    const QString fileName = positional.at(1);

    HttpClientModule client(nullptr);
    QEventLoop loop;
    QByteArray content;
    QString failure;
    bool answered = false;
    QObject::connect(&client, &HttpClientModule::Done, [&](const QByteArray& body) {
        content = body;
        answered = true;
        loop.quit();
    });
    QObject::connect(&client, &HttpClientModule::Failed, [&](const QString& text) {
        failure = text;
        answered = true;
        loop.quit();
    });
    client.Start(QStringLiteral("http://%1/qel-cgi/admin/getconfig.fcgi").arg(deviceAddress).toStdString());
    // The client's own time limit ends every request.
    if (!answered) {
        loop.exec();
    }
    if (!failure.isEmpty()) {
        Err(Tr("Cannot read the configuration of %1: %2").arg(deviceAddress, Printable(failure)));
        return Finish(kExitFailed);
    }
    const VcaConfigReader reader(content);
    TemplateSource source;
    source.address = deviceAddress;
    source.savedUtc = QDateTime::currentDateTimeUtc();
    // Only once the configuration is read: an unreachable device costs no
    // search. Without an answer the header says the name is not known.
    FindDeviceAt(deviceAddress, source);
    QByteArray text;
    QString error;
    if (!MakeConfigTemplate(reader, source, text, error)) {
        Err(Printable(error));
        return Finish(kExitFailed);
    }
    const bool existed = QFile::exists(fileName);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        Err(Tr("Cannot write %1: %2").arg(fileName, file.errorString()));
        return Finish(kExitFailed);
    }
    // It holds no secret: a new file is readable like any other document;
    // one that was there keeps its permissions.
    if (!existed) {
        QFile::setPermissions(fileName, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    const Channel& channel = reader.Config().ch(0);
    Out(Tr("Saved the configuration of %1 to %2: %3 zones, %4 object classes\n")
            .arg(deviceAddress, fileName)
            .arg(channel.zones_size())
            .arg(channel.objectclasses_size()));
    return Finish(kExitSucceeded);
}

// "config apply [--parts zones,classifier,encoder,camera] FILE ADDRESS...":
// the template read whole (or nothing is sent), applied to each device in
// turn; a line per device and part, then the summary.
int RunConfigApply(const QStringList& arguments)
{
    TemplatePartChoice choice;
    QStringList positional;
    for (int i = 2; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (IsLoggingOption(argument)) {
            continue;
        }
        QString partsText;
        if (argument == QLatin1String("--parts")) {
            if (i + 1 >= arguments.size()) {
                return UsageError(Tr("--parts needs a value: zones,classifier,encoder,camera"));
            }
            partsText = arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--parts="))) {
            partsText = argument.mid(static_cast<int>(qstrlen("--parts=")));
        } else if (argument.startsWith(QLatin1String("--"))) {
            return UsageError(Tr("Unknown option for config apply: %1").arg(Printable(argument)));
        } else {
            positional << argument;
            continue;
        }
        QString error;
        if (!ParseTemplateParts(partsText, choice, error)) {
            return UsageError(Printable(error));
        }
    }
    if (positional.size() < 2) {
        return UsageError(Tr("config apply needs a template file and at least one IPv4 address: config apply "
                             "[--parts zones,classifier,encoder,camera] FILE ADDRESS..."));
    }
    std::vector<DeviceNetworkParams> devices;
    QSet<QString> seen;
    for (int i = 1; i < positional.size(); ++i) {
        QString address;
        if (!NumericIpv4(positional.at(i), address)) {
            return UsageError(Tr("Not an IPv4 address: %1").arg(Printable(positional.at(i))));
        }
        if (seen.contains(address)) {
            return UsageError(Tr("The address %1 is given twice").arg(address));
        }
        seen.insert(address);
        DeviceNetworkParams device;
        StringToIpType(address.toStdString(), device.ip);
        devices.push_back(device);
    }

    const QString fileName = positional.at(0);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Err(Tr("Cannot read %1: %2").arg(fileName, file.errorString()));
        return Finish(kExitFailed);
    }
    // A template is a few kilobytes; a larger file is not one.
    const QByteArray text = file.read(kHttpAnswerMaxBytes + 1);
    if (text.size() > kHttpAnswerMaxBytes) {
        Err(Tr("%1 is not a template: it is larger than %2 bytes").arg(fileName).arg(kHttpAnswerMaxBytes));
        return Finish(kExitFailed);
    }
    std::unique_ptr<VcaConfigReader> reader;
    QString error;
    if (!ReadConfigTemplate(text, reader, error)) {
        Err(Tr("%1: %2").arg(fileName, Printable(error)));
        return Finish(kExitFailed);
    }

    const cli::StopSignals stopSignals;
    TemplateBatch batch(std::shared_ptr<const VcaConfigReader>(std::move(reader)), choice, devices, nullptr);
    std::vector<bool> printed(devices.size(), false);
    QObject::connect(&batch, &TemplateBatch::EntryChanged, [&](int index) {
        const auto i = static_cast<size_t>(index);
        if (batch.Entries().at(i).finished && !printed[i]) {
            printed[i] = true;
            for (const QString& line : batch.ResultLines(i)) {
                Out(Printable(line) + QLatin1Char('\n'));
            }
            std::fflush(stdout);
        }
    });
    QEventLoop loop;
    QObject::connect(&batch, &TemplateBatch::Finished, &loop, &QEventLoop::quit);
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (stopSignals.ReadEnd() >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(stopSignals.ReadEnd(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [&] {
            if (stopSignals.Raised() && batch.IsRunning()) {
                Err(Tr("Cancelling: the device at work finishes, no other is sent anything"));
                batch.Cancel();
            }
        });
    }
    batch.Start();
    if (!batch.IsFinished()) {
        loop.exec();
    }
    bool allMatch = true;
    for (const TemplateEntry& entry : batch.Entries()) {
        allMatch = allMatch && entry.Matches();
    }
    Out(Printable(batch.Summary()) + QLatin1Char('\n'));
    return Finish(allMatch ? kExitSucceeded : kExitFailed);
}

} // namespace

int RunConfig(const QStringList& arguments)
{
    if (arguments.size() >= 2 && arguments.at(1) == QLatin1String("save")) {
        return RunConfigSave(arguments);
    }
    if (arguments.size() >= 2 && arguments.at(1) == QLatin1String("apply")) {
        return RunConfigApply(arguments);
    }
    return UsageError(
        arguments.size() >= 2
            ? Tr("Unknown config command: %1").arg(Printable(arguments.at(1)))
            : Tr("config needs a command: config save ADDRESS FILE, or config apply FILE ADDRESS..."));
}
