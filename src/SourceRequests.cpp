#include "SourceRequests.h"

#include <QUrl>

namespace {

constexpr int kMaxFps = 30;

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

bool ComposeEncoderPath(const QString& bitrateText, const QString& fpsText, std::string& path)
{
    bool bitrateOk = false;
    bool fpsOk = false;
    const int bitrate = bitrateText.toInt(&bitrateOk, 10);
    const int fps = fpsText.toInt(&fpsOk, 10);
    if (!bitrateOk || !fpsOk || bitrate <= 0 || fps < 1 || fps > kMaxFps) {
        return false;
    }
    path =
        QStringLiteral("/qel-cgi/admin/encoder.fcgi?bitrate=%1&fps=%2").arg(bitrate).arg(fps).toStdString();
    return true;
}
