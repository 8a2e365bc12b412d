#include "CsvText.h"

#include "DeviceNetworkParams.h"
#include "DiscoveryProtocol.h"
#include "StringUtils.h"

#include <QCoreApplication>

namespace {

bool NeedsQuotes(const QString& field)
{
    if (field.isEmpty()) {
        return false;
    }
    return field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
           field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')) ||
           field.front().isSpace() || field.back().isSpace();
}

// A spreadsheet takes a cell that begins with one of these as a formula and
// runs it; device names come from the network.
bool StartsFormula(const QString& field)
{
    return !field.isEmpty() && QStringLiteral("=+-@\t\r").contains(field.front());
}

QString Utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

} // namespace

QString CsvRecord(const QStringList& fields)
{
    QString record;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            record += QLatin1Char(',');
        }
        const QString field = StartsFormula(fields.at(i)) ? QLatin1Char('\'') + fields.at(i) : fields.at(i);
        if (NeedsQuotes(field)) {
            QString quoted = field;
            quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
            record += QLatin1Char('"') + quoted + QLatin1Char('"');
        } else {
            record += field;
        }
    }
    record += QLatin1String("\r\n");
    return record;
}

QStringList DeviceListHeader()
{
    // The window's own translation context, so that both read the same.
    auto tr = [](const char* text) { return QCoreApplication::translate("ClientMainForm", text); };
    return {tr("Product name"), tr("Device name"), tr("IP address"), tr("MAC address"),   tr("Network mask"),
            tr("Gateway"),      tr("Static/DHCP"), tr("Firmware"),   tr("Serial number"), tr("Problems")};
}

QStringList DeviceListFields(const DeviceNetworkParams& params, const QString& problems)
{
    return {Utf8(params.productName),
            Utf8(params.deviceName),
            Utf8(IpTypeToString(params.ip)),
            Utf8(utils::GetPrintedBufferInHex(params.mac, sizeof params.mac, sizeof params.mac, "-")),
            Utf8(IpTypeToString(params.mask)),
            Utf8(IpTypeToString(params.gateway)),
            Utf8(ConnectionTypeToString(params.connectionType)),
            Utf8(params.firmWare),
            Utf8(params.serialNo),
            problems};
}
