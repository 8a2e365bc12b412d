#include "DeviceNetworkParams.h"

#include <QHostAddress>
#include <QtEndian>

#include <easylogging++.h>

std::string IpTypeToString(uint32_t ip)
{
    return QHostAddress(qFromBigEndian(ip)).toString().toStdString();
}

bool StringToIpType(const std::string& text, uint32_t& ip)
{
    const QHostAddress address(QString::fromStdString(text));
    ip = qToBigEndian(address.toIPv4Address());
    const bool isNull = address.isNull();
    VLOG(1) << "address " << text << " is converted to " << ip << "; is QHostAddress::Null: " << isNull;
    return !isNull;
}
