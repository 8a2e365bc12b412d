#include "VcaConfigReader.h"

#include "VCA.pb.h"

#include <QCoreApplication>
#include <google/protobuf/text_format.h>
#include <string>

VcaConfigReader::VcaConfigReader(const QByteArray& content) : vca_(std::make_unique<VCA>())
{
    // QByteArray data is always NUL-terminated, so this stops at the first NUL
    // of the body or at its end.
    const std::string text(content.constData());
    // The result is not consulted on purpose: a partly readable configuration
    // still gives the fields read so far, defaults for the rest.
    google::protobuf::TextFormat::ParseFromString(text, vca_.get());
}

VcaConfigReader::~VcaConfigReader() = default;

bool VcaConfigReader::HasChannel0(QString& errorMessage) const
{
    if (vca_->ch_size() > 0) {
        return true;
    }
    errorMessage =
        QCoreApplication::translate("VcaConfigReader", "The device's configuration has no channel 0");
    return false;
}

bool VcaConfigReader::ReadZones(ZonesMap& zones, QString& errorMessage) const
{
    if (!HasChannel0(errorMessage)) {
        return false;
    }
    ZonesMap result;
    for (const Zone& zone : vca_->ch(0).zones()) {
        ZonePoints points;
        points.reserve(static_cast<size_t>(zone.points_size()));
        for (const Point& point : zone.points()) {
            // Zone coordinates are 16-bit on the device; wider values wrap.
            points.emplace_back(static_cast<uint16_t>(point.x()), static_cast<uint16_t>(point.y()));
        }
        result[zone.id()] = std::move(points);
    }
    zones = std::move(result);
    return true;
}

bool VcaConfigReader::ReadCampos(CamposValues& campos, QString& errorMessage) const
{
    if (!HasChannel0(errorMessage)) {
        return false;
    }
    const Campos& source = vca_->ch(0).campos();
    campos.fov = source.fov();
    campos.camangle = source.camangle();
    campos.heightMetres = source.height();
    return true;
}

bool VcaConfigReader::ReadClassifier(ClassifierValues& classifier, QString& errorMessage) const
{
    if (!HasChannel0(errorMessage)) {
        return false;
    }
    const Channel& channel = vca_->ch(0);
    ClassifierValues result;
    result.timeoutSeconds = channel.timeout();
    for (const ObjectClasses& objectClass : channel.objectclasses()) {
        result.classes.push_back(
            {objectClass.minarea(), objectClass.maxarea(), objectClass.minheight(), objectClass.maxheight()});
    }
    classifier = std::move(result);
    return true;
}

bool VcaConfigReader::ReadEncoder(EncoderValues& encoder, QString& errorMessage) const
{
    if (!HasChannel0(errorMessage)) {
        return false;
    }
    encoder.fps = vca_->ch(0).encoder().fps();
    encoder.bitrate = vca_->ch(0).encoder().bitrate();
    return true;
}
