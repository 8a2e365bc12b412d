#include "PartState.h"

#include "VCA.pb.h"
#include "VcaCommands.h"

#include <QCoreApplication>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Device texts quoted in a message are cut to this length.
constexpr int kQuotedTextMaxChars = 80;
// A change or a list of zones names this many items, then "…".
constexpr int kListedItemsMax = 4;

QString Tr(const char* text, const char* comment = nullptr, int n = -1)
{
    return QCoreApplication::translate("PartState", text, comment, n);
}

ConfigArea AreaOf(TemplatePart part)
{
    switch (part) {
    case TemplatePart::Zones:
        return ConfigArea::Zones;
    case TemplatePart::Classifier:
        return ConfigArea::Classifier;
    case TemplatePart::Encoder:
        return ConfigArea::Encoder;
    case TemplatePart::Camera:
        return ConfigArea::Camera;
    }
    return ConfigArea::Other;
}

QString TypeName(ZoneSettings::Type type)
{
    switch (type) {
    case ZoneSettings::Type::PreAlarm:
        return QStringLiteral("PREALARM");
    case ZoneSettings::Type::Alarm:
        return QStringLiteral("ALARM");
    case ZoneSettings::Type::NonDetection:
        return QStringLiteral("NONDETECTION");
    }
    return QString::number(static_cast<int>(type));
}

bool SameZoneSettings(const ZoneSettings& a, const ZoneSettings& b)
{
    return a.name == b.name && a.enable == b.enable && a.type == b.type && a.style == b.style &&
           a.hasColour == b.hasColour &&
           (!a.hasColour || (a.red == b.red && a.green == b.green && a.blue == b.blue)) &&
           a.skippedType == b.skippedType && a.skippedStyle == b.skippedStyle &&
           a.unknownFields == b.unknownFields;
}

QString ZoneLabel(unsigned int id, const ZoneSettingsMap& settings)
{
    const auto found = settings.find(id);
    return found == settings.end() || found->second.name.isEmpty()
               ? Tr("zone %1").arg(id)
               : Tr("zone %1 '%2'").arg(id).arg(QuotedDeviceText(found->second.name));
}

QString ListText(QStringList items)
{
    if (items.size() > kListedItemsMax) {
        items = items.mid(0, kListedItemsMax) << QString(QChar(0x2026));
    }
    return items.join(QStringLiteral(", "));
}

bool SameZones(const PartState& a, const PartState& b)
{
    return a.zones == b.zones && a.zoneCount == b.zoneCount &&
           std::equal(a.zoneSettings.begin(), a.zoneSettings.end(), b.zoneSettings.begin(),
                      b.zoneSettings.end(), [](const auto& x, const auto& y) {
                          return x.first == y.first && SameZoneSettings(x.second, y.second);
                      });
}

bool SameCampos(const CamposValues& a, const CamposValues& b)
{
    // The request carries whole degrees: 17.6 arrives as 18.
    return std::lround(a.fov) == std::lround(b.fov) && std::lround(a.camangle) == std::lround(b.camangle) &&
           SameNumber(a.heightMetres, b.heightMetres);
}

} // namespace

QString QuotedDeviceText(const QString& text)
{
    return text.size() > kQuotedTextMaxChars ? text.left(kQuotedTextMaxChars) + QChar(0x2026) : text;
}

bool ReadPartState(const VcaConfigReader& config, TemplatePart part, PartState& state, QString& error)
{
    PartState read;
    read.part = part;
    bool ok = false;
    switch (part) {
    case TemplatePart::Zones:
        ok = config.ReadZones(read.zones, error) && config.ReadZoneSettings(read.zoneSettings, error);
        if (ok) {
            read.zoneCount = static_cast<size_t>(config.Config().ch(0).zones_size());
        }
        break;
    case TemplatePart::Classifier:
        ok = config.ReadClassifier(read.classifier, error);
        break;
    case TemplatePart::Encoder:
        ok = config.ReadEncoder(read.encoder, error);
        break;
    case TemplatePart::Camera:
        ok = config.ReadCampos(read.campos, error);
        break;
    }
    if (!ok) {
        return false;
    }
    read.holdsUnknown = config.HoldsUnknownIn(AreaOf(part));
    state = std::move(read);
    return true;
}

PartState AsWritten(const PartState& state)
{
    PartState written = state;
    written.holdsUnknown = false;
    written.zoneCount = state.zones.size();
    written.zoneSettings.clear();
    for (const auto& zone : state.zones) {
        ZoneSettings settings;
        const auto found = state.zoneSettings.find(zone.first);
        if (found != state.zoneSettings.end()) {
            settings.name = found->second.name;
            settings.enable = found->second.enable;
        }
        written.zoneSettings[zone.first] = settings;
    }
    return written;
}

bool SamePartState(const PartState& a, const PartState& b)
{
    if (a.part != b.part || a.holdsUnknown != b.holdsUnknown) {
        return false;
    }
    switch (a.part) {
    case TemplatePart::Zones:
        return SameZones(a, b);
    case TemplatePart::Classifier:
        return a.classifier.timeoutSeconds == b.classifier.timeoutSeconds &&
               SameClasses(a.classifier.classes, b.classifier.classes);
    case TemplatePart::Encoder:
        return a.encoder.fps == b.encoder.fps && a.encoder.bitrate == b.encoder.bitrate;
    case TemplatePart::Camera:
        return SameCampos(a.campos, b.campos);
    }
    return false;
}

std::vector<PartRequest> PartRequests(const PartState* from, const PartState& to)
{
    std::vector<PartRequest> requests;
    switch (to.part) {
    case TemplatePart::Zones:
        if (from != nullptr && SameZones(*from, to)) {
            break;
        }
        requests.push_back({RemoveZonesCommand(), Tr("the removal of the zones")});
        for (const auto& zone : to.zones) {
            const auto found = to.zoneSettings.find(zone.first);
            const ZoneSettings settings = found != to.zoneSettings.end() ? found->second : ZoneSettings();
            requests.push_back({AddZoneCommand(zone.first, zone.second, settings.name, settings.enable),
                                ZoneLabel(zone.first, to.zoneSettings)});
        }
        break;
    case TemplatePart::Classifier: {
        const ClassifierValues& values = to.classifier;
        if (from == nullptr || from->classifier.timeoutSeconds != values.timeoutSeconds) {
            requests.push_back(
                {ZoneTimeoutCommand(static_cast<int>(values.timeoutSeconds)), Tr("the zone timeout")});
        }
        if (from != nullptr && SameClasses(from->classifier.classes, values.classes)) {
            break;
        }
        requests.push_back({RemoveObjectClassesCommand(), Tr("the removal of the object classes")});
        for (size_t i = 0; i < values.classes.size(); ++i) {
            requests.push_back({AddObjectClassCommand(values.classes[i]), Tr("object class %1").arg(i + 1)});
        }
        break;
    }
    case TemplatePart::Encoder: {
        std::string path;
        if ((from == nullptr || from->encoder.fps != to.encoder.fps ||
             from->encoder.bitrate != to.encoder.bitrate) &&
            ComposeEncoderPath(QString::number(to.encoder.bitrate), QString::number(to.encoder.fps), path)) {
            requests.push_back({QString::fromStdString(path), Tr("the encoder settings")});
        }
        break;
    }
    case TemplatePart::Camera:
        if (from == nullptr || !SameCampos(from->campos, to.campos)) {
            requests.push_back({CamposCommand(to.campos.fov, to.campos.camangle, to.campos.heightMetres),
                                Tr("the camera position")});
        }
        break;
    }
    return requests;
}

QStringList ZoneSettingsNotCarried(const ZoneSettings& zone)
{
    QStringList lost;
    if (!zone.skippedType.empty()) {
        lost << Tr("type %1").arg(QuotedDeviceText(QString::fromStdString(zone.skippedType)));
    } else if (zone.type != ZoneSettings::Type::Alarm) {
        lost << Tr("type %1").arg(TypeName(zone.type));
    }
    if (!zone.skippedStyle.empty()) {
        lost << Tr("style %1").arg(QuotedDeviceText(QString::fromStdString(zone.skippedStyle)));
    } else if (zone.style != ZoneSettings::Style::Polygon) {
        lost << Tr("style LINE");
    }
    if (zone.hasColour) {
        lost << Tr("colour %1,%2,%3").arg(zone.red).arg(zone.green).arg(zone.blue);
    }
    if (!zone.unknownFields.empty()) {
        QStringList names;
        for (const std::string& field : zone.unknownFields) {
            names << QuotedDeviceText(QString::fromStdString(field));
        }
        lost << Tr("settings this version does not know (%1)").arg(ListText(names));
    }
    return lost;
}

QString PartNotWritable(const PartState& state)
{
    switch (state.part) {
    case TemplatePart::Zones:
        for (const auto& zone : state.zones) {
            const QString label = ZoneLabel(zone.first, state.zoneSettings);
            if (zone.second.empty()) {
                return Tr("%1 has no points").arg(label);
            }
            const auto found = state.zoneSettings.find(zone.first);
            const QStringList lost =
                found != state.zoneSettings.end() ? ZoneSettingsNotCarried(found->second) : QStringList();
            if (!lost.isEmpty()) {
                return Tr("%1 has settings the add request cannot carry (%2)")
                    .arg(label, lost.join(QStringLiteral(", ")));
            }
        }
        if (state.zoneCount != state.zones.size()) {
            return Tr("two zones share one id, and the add request keeps only one of them");
        }
        break;
    case TemplatePart::Classifier:
        if (state.classifier.timeoutSeconds > static_cast<unsigned int>(INT_MAX)) {
            return Tr("the zone timeout %1 is too large to send").arg(state.classifier.timeoutSeconds);
        }
        break;
    case TemplatePart::Encoder: {
        std::string path;
        if (!ComposeEncoderPath(QString::number(state.encoder.bitrate), QString::number(state.encoder.fps),
                                path)) {
            return Tr("the encoder values cannot be sent (bitrate %1, frame rate %2; the frame rate must be "
                      "from 1 "
                      "to %3)")
                .arg(state.encoder.bitrate)
                .arg(state.encoder.fps)
                .arg(kMaxEncoderFps);
        }
        break;
    }
    case TemplatePart::Camera:
        break;
    }
    return {};
}

QString DescribePartChange(const PartState& earlier, const PartState& later)
{
    QStringList changes;
    switch (later.part) {
    case TemplatePart::Zones:
        for (const auto& zone : later.zones) {
            const auto before = earlier.zones.find(zone.first);
            if (before == earlier.zones.end()) {
                changes << Tr("%1 added").arg(ZoneLabel(zone.first, later.zoneSettings));
            } else {
                const auto a = earlier.zoneSettings.find(zone.first);
                const auto b = later.zoneSettings.find(zone.first);
                const bool sameSettings =
                    (a == earlier.zoneSettings.end()) == (b == later.zoneSettings.end()) &&
                    (a == earlier.zoneSettings.end() || SameZoneSettings(a->second, b->second));
                if (before->second != zone.second || !sameSettings) {
                    changes << Tr("%1 changed").arg(ZoneLabel(zone.first, later.zoneSettings));
                }
            }
        }
        for (const auto& zone : earlier.zones) {
            if (later.zones.count(zone.first) == 0) {
                changes << Tr("%1 removed").arg(ZoneLabel(zone.first, earlier.zoneSettings));
            }
        }
        if (changes.isEmpty() && earlier.zoneCount != later.zoneCount) {
            changes << Tr("a zone with an id another zone has added or removed");
        }
        break;
    case TemplatePart::Classifier:
        if (earlier.classifier.timeoutSeconds != later.classifier.timeoutSeconds) {
            changes << Tr("zone timeout %1 s instead of %2 s")
                           .arg(later.classifier.timeoutSeconds)
                           .arg(earlier.classifier.timeoutSeconds);
        }
        if (!SameClasses(earlier.classifier.classes, later.classifier.classes)) {
            changes << Tr("%n object class(es) instead of the %1 read", "",
                          static_cast<int>(later.classifier.classes.size()))
                           .arg(earlier.classifier.classes.size());
        }
        break;
    case TemplatePart::Encoder:
    case TemplatePart::Camera:
        changes << DescribePart(later);
        break;
    }
    if (changes.isEmpty() && earlier.holdsUnknown != later.holdsUnknown) {
        changes << Tr("settings this version does not know");
    }
    return ListText(changes);
}

QString DescribePart(const PartState& state)
{
    switch (state.part) {
    case TemplatePart::Zones: {
        if (state.zones.empty()) {
            return Tr("no zones");
        }
        QStringList names;
        for (const auto& zone : state.zones) {
            const auto found = state.zoneSettings.find(zone.first);
            names << (found == state.zoneSettings.end() || found->second.name.isEmpty()
                          ? QString::number(zone.first)
                          : QuotedDeviceText(found->second.name));
        }
        return Tr("%n zone(s) (%1)", "", static_cast<int>(state.zoneCount)).arg(ListText(names));
    }
    case TemplatePart::Classifier:
        return Tr("a zone timeout of %1 s and %n object class(es)", "",
                  static_cast<int>(state.classifier.classes.size()))
            .arg(state.classifier.timeoutSeconds);
    case TemplatePart::Encoder:
        return Tr("an encoder at %1 frames/s and %2 bit/s").arg(state.encoder.fps).arg(state.encoder.bitrate);
    case TemplatePart::Camera:
        return Tr("a camera position of %1\u00b0 field of view, %2\u00b0 tilt and %3 m height")
            .arg(std::lround(state.campos.fov))
            .arg(std::lround(state.campos.camangle))
            .arg(state.campos.heightMetres);
    }
    return {};
}
