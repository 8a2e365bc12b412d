#include "TemplateParts.h"

#include "VcaCommands.h"
#include "VCA.pb.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr TemplatePart kAllParts[] = {TemplatePart::Zones, TemplatePart::Classifier, TemplatePart::Encoder,
                                      TemplatePart::Camera};

QString Tr(const char* text)
{
    return QCoreApplication::translate("TemplateParts", text);
}

bool ZonesMatch(const VcaConfigReader& tmpl, const VcaConfigReader& device)
{
    ZonesMap tmplZones;
    ZonesMap deviceZones;
    ZoneSettingsMap tmplSettings;
    ZoneSettingsMap deviceSettings;
    QString error;
    if (!tmpl.ReadZones(tmplZones, error) || !tmpl.ReadZoneSettings(tmplSettings, error) ||
        !device.ReadZones(deviceZones, error) || !device.ReadZoneSettings(deviceSettings, error)) {
        return false;
    }
    // Zones by id: two zones of one id on the device read as one, so a
    // device that holds more zones than ids does not match.
    if (tmplZones != deviceZones ||
        static_cast<size_t>(device.Config().ch(0).zones_size()) != deviceZones.size()) {
        return false;
    }
    return std::equal(tmplSettings.begin(), tmplSettings.end(), deviceSettings.begin(), deviceSettings.end(),
                      [](const auto& x, const auto& y) {
                          // Type, style and colour too: the add request cannot
                          // carry them, so a zone that had them differs after
                          // an apply and must not read as matching.
                          const ZoneSettings& a = x.second;
                          const ZoneSettings& b = y.second;
                          return x.first == y.first && a.name == b.name && a.enable == b.enable &&
                                 a.type == b.type && a.style == b.style && a.hasColour == b.hasColour &&
                                 (!a.hasColour || (a.red == b.red && a.green == b.green && a.blue == b.blue));
                      });
}

bool ClassifierMatches(const VcaConfigReader& tmpl, const VcaConfigReader& device)
{
    ClassifierValues a;
    ClassifierValues b;
    QString error;
    return tmpl.ReadClassifier(a, error) && device.ReadClassifier(b, error) &&
           a.timeoutSeconds == b.timeoutSeconds && SameClasses(a.classes, b.classes);
}

bool EncoderMatches(const VcaConfigReader& tmpl, const VcaConfigReader& device)
{
    EncoderValues a;
    EncoderValues b;
    QString error;
    return tmpl.ReadEncoder(a, error) && device.ReadEncoder(b, error) && a.fps == b.fps &&
           a.bitrate == b.bitrate;
}

bool CameraMatches(const VcaConfigReader& tmpl, const VcaConfigReader& device)
{
    CamposValues a;
    CamposValues b;
    QString error;
    // The request carries whole degrees: a template's 17.6 arrives as 18.
    return tmpl.ReadCampos(a, error) && device.ReadCampos(b, error) &&
           std::lround(a.fov) == std::lround(b.fov) && std::lround(a.camangle) == std::lround(b.camangle) &&
           SameNumber(a.heightMetres, b.heightMetres);
}

} // namespace

std::vector<TemplatePart> TemplatePartChoice::Chosen() const
{
    std::vector<TemplatePart> parts;
    for (const TemplatePart part : kAllParts) {
        if (Includes(part)) {
            parts.push_back(part);
        }
    }
    return parts;
}

bool TemplatePartChoice::Includes(TemplatePart part) const
{
    switch (part) {
    case TemplatePart::Zones:
        return zones;
    case TemplatePart::Classifier:
        return classifier;
    case TemplatePart::Encoder:
        return encoder;
    case TemplatePart::Camera:
        return camera;
    }
    return false;
}

void TemplatePartChoice::Set(TemplatePart part, bool chosen)
{
    switch (part) {
    case TemplatePart::Zones:
        zones = chosen;
        break;
    case TemplatePart::Classifier:
        classifier = chosen;
        break;
    case TemplatePart::Encoder:
        encoder = chosen;
        break;
    case TemplatePart::Camera:
        camera = chosen;
        break;
    }
}

QString TemplatePartName(TemplatePart part)
{
    switch (part) {
    case TemplatePart::Zones:
        return Tr("zones");
    case TemplatePart::Classifier:
        return Tr("classifier and timeout");
    case TemplatePart::Encoder:
        return Tr("encoder");
    case TemplatePart::Camera:
        return Tr("camera position");
    }
    return {};
}

QString TemplatePartWord(TemplatePart part)
{
    switch (part) {
    case TemplatePart::Zones:
        return QStringLiteral("zones");
    case TemplatePart::Classifier:
        return QStringLiteral("classifier");
    case TemplatePart::Encoder:
        return QStringLiteral("encoder");
    case TemplatePart::Camera:
        return QStringLiteral("camera");
    }
    return {};
}

bool ParseTemplateParts(const QString& text, TemplatePartChoice& choice, QString& error)
{
    TemplatePartChoice parsed;
    for (const TemplatePart part : kAllParts) {
        parsed.Set(part, false);
    }
    for (const QString& raw : text.split(QLatin1Char(','))) {
        const QString word = raw.trimmed();
        const auto* found =
            std::find_if(std::begin(kAllParts), std::end(kAllParts),
                         [&word](TemplatePart part) { return TemplatePartWord(part) == word; });
        if (found == std::end(kAllParts)) {
            error = word.isEmpty() ? Tr("A part is missing in \"%1\"; the parts are zones, classifier, "
                                        "encoder and camera")
                                         .arg(text)
                                   : Tr("Unknown part \"%1\"; the parts are zones, classifier, encoder and "
                                        "camera")
                                         .arg(word);
            return false;
        }
        parsed.Set(*found, true);
    }
    choice = parsed;
    return true;
}

QString PrintTemplateParts(const TemplatePartChoice& choice)
{
    QStringList words;
    for (const TemplatePart part : choice.Chosen()) {
        words << TemplatePartWord(part);
    }
    return words.join(QLatin1Char(','));
}

QString TemplatePartProblem(const VcaConfigReader& tmpl, TemplatePart part)
{
    QString error;
    switch (part) {
    case TemplatePart::Zones: {
        ZonesMap zones;
        ZoneSettingsMap settings;
        if (!tmpl.ReadZones(zones, error) || !tmpl.ReadZoneSettings(settings, error)) {
            return error;
        }
        return {};
    }
    case TemplatePart::Classifier: {
        ClassifierValues classifier;
        if (!tmpl.ReadClassifier(classifier, error)) {
            return error;
        }
        if (classifier.timeoutSeconds > static_cast<unsigned int>(INT_MAX)) {
            return Tr("the template's zone timeout %1 is too large to send").arg(classifier.timeoutSeconds);
        }
        return {};
    }
    case TemplatePart::Encoder: {
        EncoderValues encoder;
        if (!tmpl.ReadEncoder(encoder, error)) {
            return error;
        }
        std::string path;
        if (!ComposeEncoderPath(QString::number(encoder.bitrate), QString::number(encoder.fps), path)) {
            return Tr("the template's encoder values cannot be sent (bitrate %1, frame rate %2; the frame "
                      "rate must be from 1 to %3)")
                .arg(encoder.bitrate)
                .arg(encoder.fps)
                .arg(kMaxEncoderFps);
        }
        return {};
    }
    case TemplatePart::Camera: {
        CamposValues campos;
        if (!tmpl.ReadCampos(campos, error)) {
            return error;
        }
        return {};
    }
    }
    return {};
}

std::vector<QString> TemplatePartCommands(const VcaConfigReader& tmpl, TemplatePart part)
{
    std::vector<QString> paths;
    if (!TemplatePartProblem(tmpl, part).isEmpty()) {
        return paths;
    }
    QString error;
    switch (part) {
    case TemplatePart::Zones: {
        ZonesMap zones;
        ZoneSettingsMap settings;
        tmpl.ReadZones(zones, error);
        tmpl.ReadZoneSettings(settings, error);
        paths.push_back(RemoveZonesCommand());
        for (const auto& zone : zones) {
            const ZoneSettings& zoneSettings = settings[zone.first];
            paths.push_back(AddZoneCommand(zone.first, zone.second, zoneSettings.name, zoneSettings.enable));
        }
        break;
    }
    case TemplatePart::Classifier: {
        ClassifierValues classifier;
        tmpl.ReadClassifier(classifier, error);
        paths.push_back(ZoneTimeoutCommand(static_cast<int>(classifier.timeoutSeconds)));
        paths.push_back(RemoveObjectClassesCommand());
        for (const ObjectClassValues& objectClass : classifier.classes) {
            paths.push_back(AddObjectClassCommand(objectClass));
        }
        break;
    }
    case TemplatePart::Encoder: {
        EncoderValues encoder;
        tmpl.ReadEncoder(encoder, error);
        std::string path;
        ComposeEncoderPath(QString::number(encoder.bitrate), QString::number(encoder.fps), path);
        paths.push_back(QString::fromStdString(path));
        break;
    }
    case TemplatePart::Camera: {
        CamposValues campos;
        tmpl.ReadCampos(campos, error);
        paths.push_back(CamposCommand(campos.fov, campos.camangle, campos.heightMetres));
        break;
    }
    }
    return paths;
}

bool TemplatePartMatches(const VcaConfigReader& tmpl, const VcaConfigReader& device, TemplatePart part)
{
    if (tmpl.Config().ch_size() == 0 || device.Config().ch_size() == 0) {
        return false;
    }
    switch (part) {
    case TemplatePart::Zones:
        return ZonesMatch(tmpl, device);
    case TemplatePart::Classifier:
        return ClassifierMatches(tmpl, device);
    case TemplatePart::Encoder:
        return EncoderMatches(tmpl, device);
    case TemplatePart::Camera:
        return CameraMatches(tmpl, device);
    }
    return false;
}
