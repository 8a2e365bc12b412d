#include "VcaCommands.h"

#include "NumberText.h"

#include <QUrl>
#include <cmath>

QString RemoveZonesCommand()
{
    return QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*");
}

QString AddZoneCommand(unsigned int id, const ZonePoints& points, const QString& name, bool enable)
{
    QString pointsText;
    for (const auto& point : points) {
        pointsText += QStringLiteral("%1:%2,").arg(point.first).arg(point.second);
    }
    return QStringLiteral("/qel-cgi/admin/"
                          "vca.cgi?action=add&group=VCA.Ch0&object=zone&id=%1&enable=%2&name=%3&points=%4")
        .arg(QString::number(id), enable ? QStringLiteral("yes") : QStringLiteral("no"),
             QString::fromLatin1(QUrl::toPercentEncoding(name)), pointsText);
}

QString ZoneTimeoutCommand(int seconds)
{
    return QStringLiteral("/qel-cgi/admin/setzonetimeout.fcgi?timeout=%1").arg(seconds);
}

QString RemoveObjectClassesCommand()
{
    return QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Obj*");
}

QString AddObjectClassCommand(const ObjectClassValues& objectClass)
{
    return QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=objectclass"
                          "&minArea=%1&maxArea=%2&minHeight=%3&maxHeight=%4")
        .arg(ExactNumberText(objectClass.minArea), ExactNumberText(objectClass.maxArea),
             ExactNumberText(objectClass.minHeight), ExactNumberText(objectClass.maxHeight));
}

QString CamposCommand(double fov, double camangle, double heightMetres)
{
    return QStringLiteral("/qel-cgi/admin/"
                          "vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=%1&camangle=%2&height=%3")
        .arg(QString::number(std::lround(fov)), QString::number(std::lround(camangle)),
             ExactNumberText(heightMetres));
}

bool ComposeEncoderPath(const QString& bitrateText, const QString& fpsText, std::string& path)
{
    bool bitrateOk = false;
    bool fpsOk = false;
    const int bitrate = bitrateText.toInt(&bitrateOk, 10);
    const int fps = fpsText.toInt(&fpsOk, 10);
    if (!bitrateOk || !fpsOk || bitrate <= 0 || fps < 1 || fps > kMaxEncoderFps) {
        return false;
    }
    path =
        QStringLiteral("/qel-cgi/admin/encoder.fcgi?bitrate=%1&fps=%2").arg(bitrate).arg(fps).toStdString();
    return true;
}
