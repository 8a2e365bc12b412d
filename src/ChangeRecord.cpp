#include "ChangeRecord.h"

#include "DiscoveryProtocol.h"
#include "StringUtils.h"

#include <QStringList>

namespace {

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

QString Quoted(const std::string& text)
{
    return RecordQuoted(QString::fromStdString(text));
}

} // namespace

QString RecordQuoted(const QString& text)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
            quoted += c;
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            quoted += c;
        }
    }
    return quoted + QLatin1Char('"');
}

QString ChangeRecordText(const DeviceNetworkParams& device, const QString& what, const QString& result)
{
    return QStringLiteral("Change: device %1 %2 %3: %4: %5")
        .arg(QString::fromStdString(
                 utils::GetPrintedBufferInHex(device.mac, sizeof device.mac, sizeof device.mac, "-")),
             AddressText(device.ip), Quoted(device.deviceName), what, result);
}

QString NetworkChangeText(const DeviceNetworkParams& before, const DeviceNetworkParams& after)
{
    QStringList changes;
    if (before.deviceName != after.deviceName) {
        changes << QStringLiteral("name %1 -> %2").arg(Quoted(before.deviceName), Quoted(after.deviceName));
    }
    if (before.connectionType != after.connectionType) {
        changes << QStringLiteral("addressing %1 -> %2")
                       .arg(QString::fromStdString(ConnectionTypeToString(before.connectionType)),
                            QString::fromStdString(ConnectionTypeToString(after.connectionType)));
    }
    const struct {
        const char* label;
        uint32_t before;
        uint32_t after;
    } addresses[] = {{"IP", before.ip, after.ip},
                     {"mask", before.mask, after.mask},
                     {"gateway", before.gateway, after.gateway},
                     {"DNS", before.dns, after.dns}};
    for (const auto& address : addresses) {
        if (address.before != address.after) {
            changes << QStringLiteral("%1 %2 -> %3")
                           .arg(QLatin1String(address.label), AddressText(address.before),
                                AddressText(address.after));
        }
    }
    return QStringLiteral("network settings (%1)")
        .arg(changes.isEmpty() ? QStringLiteral("unchanged") : changes.join(QStringLiteral(", ")));
}
