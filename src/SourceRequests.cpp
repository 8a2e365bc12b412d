#include "SourceRequests.h"

#include <QCoreApplication>
#include <QUrl>

namespace {

QString Encoded(const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace

QString ComposeSetCamUrl(const QString& deviceIp, const QString& model, const QString& host,
                         const QString& login, const QString& password)
{
    return QStringLiteral("http://%1/qel-cgi/admin/setcam.fcgi?model=%2&host=%3&login=%4&password=%5")
        .arg(deviceIp, Encoded(model), Encoded(host), Encoded(login), Encoded(password));
}

EncoderField FindInvalidEncoderField(const QString& bitrateText, const QString& fpsText, QString& message)
{
    if (bitrateText.isEmpty() && fpsText.isEmpty()) {
        return EncoderField::None;
    }
    bool ok = false;
    const int bitrate = bitrateText.toInt(&ok, 10);
    if (!ok || bitrate <= 0) {
        message = QCoreApplication::translate("SettingsDialog", "Bitrate must be a whole number above 0");
        return EncoderField::Bitrate;
    }
    const int fps = fpsText.toInt(&ok, 10);
    if (!ok || fps < 1 || fps > kMaxEncoderFps) {
        message = QCoreApplication::translate("SettingsDialog", "FPS must be a whole number from 1 to %1")
                      .arg(kMaxEncoderFps);
        return EncoderField::Fps;
    }
    return EncoderField::None;
}
