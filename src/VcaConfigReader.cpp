#include "VcaConfigReader.h"

#include "ConfigTextScan.h"
#include "VCA.pb.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cmath>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>
#include <memory>
#include <string>
#include <utility>

namespace {

namespace pb = google::protobuf;

// The parser's first error and where it stands; warnings (skipped unknown
// fields) are no errors.
class FirstError final : public pb::io::ErrorCollector {
public:
    void AddError(int errorLine, pb::io::ColumnNumber errorColumn, const std::string& text) override
    {
        if (!found) {
            found = true;
            line = errorLine;
            column = errorColumn;
            message = text;
        }
    }
    void AddWarning(int, pb::io::ColumnNumber, const std::string&) override {}

    bool found = false;
    int line = 0;   // 0-based
    int column = 0; // 0-based; a tab advances to the next multiple of 8
    std::string message;
};

// Offset of the parser's (line, column) in `text`; the line's end when the
// column lies past it.
size_t OffsetOf(const std::string& text, int line, int column)
{
    size_t pos = 0;
    for (int i = 0; i < line; ++i) {
        pos = text.find('\n', pos);
        if (pos == std::string::npos) {
            return text.size();
        }
        ++pos;
    }
    int col = 0;
    while (pos < text.size() && text[pos] != '\n' && col < column) {
        col = text[pos] == '\t' ? (col / 8 + 1) * 8 : col + 1;
        ++pos;
    }
    return pos;
}

// Channel 0's first-level blocks as the device's write requests group them.
ConfigArea AreaOf(const std::vector<ConfigScanFrame>& path, const std::string& field, int& zoneIndex)
{
    if (path.empty() || path[0].field->number() != VCA::kChFieldNumber || path[0].index != 0) {
        return ConfigArea::Other;
    }
    if (path.size() == 1) {
        return field == "timeout" ? ConfigArea::Classifier : ConfigArea::Other;
    }
    switch (path[1].field->number()) {
    case Channel::kZonesFieldNumber:
        zoneIndex = path[1].index;
        return ConfigArea::Zones;
    case Channel::kObjectClassesFieldNumber:
        return ConfigArea::Classifier;
    case Channel::kEncoderFieldNumber:
        return ConfigArea::Encoder;
    case Channel::kCamposFieldNumber:
        return ConfigArea::Camera;
    default:
        return ConfigArea::Other;
    }
}

QString NotWholeText(int line, int column, const QString& parserText)
{
    return QCoreApplication::translate("VcaConfigReader",
                                       "The device's configuration could not be read whole (line %1, column "
                                       "%2: %3); nothing will be written back from it")
        .arg(line)
        .arg(column)
        .arg(parserText);
}

} // namespace

VcaConfigReader::VcaConfigReader(const QByteArray& content) : vca_(std::make_unique<VCA>())
{
    // QByteArray data is always NUL-terminated, so this stops at the first NUL
    // of the body or at its end.
    std::string text(content.constData());
    const bool hasNul = static_cast<size_t>(content.size()) != text.size();
    int nulLine = 0;
    size_t nulColumn = 0;
    if (hasNul) {
        nulLine = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        const size_t lineStart = text.rfind('\n');
        nulColumn = lineStart == std::string::npos ? text.size() : text.size() - lineStart - 1;
    }
    Parse(std::move(text));
    if (hasNul) {
        SetNotWhole(nulLine + 1, static_cast<int>(nulColumn) + 1,
                    QCoreApplication::translate("VcaConfigReader", "a NUL byte"));
    }
}

void VcaConfigReader::Parse(std::string text)
{
    // What the scan finds, with where it stands, so that what lies past the
    // parser's first error can be dropped.
    std::vector<std::pair<size_t, UnknownSetting>> settings;
    std::vector<std::pair<size_t, SkippedValue>> skipped;
    std::array<size_t, kAreaCount> firstInArea;
    firstInArea.fill(std::string::npos);
    const ConfigScanOutcome scan = ScanConfigText(
        text, VCA::descriptor(),
        [&](const ConfigScanFinding& found, const std::vector<ConfigScanFrame>& path) {
            UnknownSetting setting;
            setting.area = AreaOf(path, found.field, setting.zoneIndex);
            size_t& first = firstInArea[static_cast<size_t>(setting.area)];
            first = std::min(first, found.offset);
            if (!found.value.empty() && skipped.size() < kMaxRecorded) {
                skipped.emplace_back(found.offset, SkippedValue{found.line, found.field, found.value});
            }
            if (settings.size() < kMaxRecorded) {
                setting.line = found.line;
                setting.field = found.field;
                setting.value = found.value;
                settings.emplace_back(found.offset, std::move(setting));
            }
        });
    if (scan.tooDeepAt != std::string::npos) {
        text.resize(scan.tooDeepAt);
    }

    pb::TextFormat::Parser parser;
    parser.AllowUnknownField(true);
    parser.AllowPartialMessage(true);
    FirstError error;
    parser.RecordErrorsTo(&error);
    size_t readTo = std::string::npos;
    if (!parser.ParseFromString(text, vca_.get()) && error.found) {
        readTo = OffsetOf(text, error.line, error.column);
        if (readTo >= scan.tooDeepAt) {
            SetNotWhole(scan.tooDeepLine, scan.tooDeepColumn,
                        QCoreApplication::translate("VcaConfigReader", "blocks nested deeper than %1 levels")
                            .arg(kMaxConfigNesting));
        } else {
            // At the end of a text cut short the parser names no token.
            if (error.message.size() >= 5 &&
                error.message.compare(error.message.size() - 5, 5, "got: ") == 0) {
                error.message += "the end of the text";
            }
            SetNotWhole(error.line + 1, error.column + 1, QString::fromStdString(error.message));
        }
    }

    for (size_t area = 0; area < kAreaCount; ++area) {
        holdsUnknown_[area] = firstInArea[area] < readTo;
    }
    for (auto& [offset, setting] : settings) {
        if (offset < readTo) {
            unknownSettings_.push_back(std::move(setting));
        }
    }
    for (auto& [offset, value] : skipped) {
        if (offset < readTo) {
            skippedEnumValues_.push_back(std::move(value));
        }
    }
}

VcaConfigReader::~VcaConfigReader() = default;

void VcaConfigReader::SetNotWhole(int line, int column, const QString& reason)
{
    notWholeLine_ = line;
    notWholeColumn_ = column;
    notWholeReason_ = reason;
    notWholeMessage_ = NotWholeText(line, column, reason);
}

bool VcaConfigReader::HoldsUnknownIn(ConfigArea area) const
{
    return holdsUnknown_[static_cast<size_t>(area)];
}

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

bool VcaConfigReader::ReadZoneSettings(ZoneSettingsMap& settings, QString& errorMessage) const
{
    if (!HasChannel0(errorMessage)) {
        return false;
    }
    ZoneSettingsMap result;
    const Channel& channel = vca_->ch(0);
    std::vector<ZoneSettings> byIndex(static_cast<size_t>(channel.zones_size()));
    for (const UnknownSetting& unknown : unknownSettings_) {
        if (unknown.area != ConfigArea::Zones || unknown.zoneIndex < 0 ||
            unknown.zoneIndex >= channel.zones_size()) {
            continue;
        }
        ZoneSettings& values = byIndex[static_cast<size_t>(unknown.zoneIndex)];
        if (unknown.value.empty()) {
            std::vector<std::string>& names = values.unknownFields;
            if (std::find(names.begin(), names.end(), unknown.field) == names.end()) {
                names.push_back(unknown.field);
            }
        } else if (unknown.field == "type") {
            values.skippedType = unknown.value;
        } else if (unknown.field == "style") {
            values.skippedStyle = unknown.value;
        }
    }
    for (int index = 0; index < channel.zones_size(); ++index) {
        const Zone& zone = channel.zones(index);
        ZoneSettings& values = byIndex[static_cast<size_t>(index)];
        values.name = QString::fromStdString(zone.name());
        values.enable = zone.enable();
        values.type = static_cast<ZoneSettings::Type>(zone.type());
        if (zone.has_style()) {
            values.style = static_cast<ZoneSettings::Style>(zone.style());
        }
        values.hasColour = zone.has_color();
        values.red = zone.color().r();
        values.green = zone.color().g();
        values.blue = zone.color().b();
        result[zone.id()] = std::move(values);
    }
    settings = std::move(result);
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

bool SameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool SameClasses(const std::vector<ObjectClassValues>& a, const std::vector<ObjectClassValues>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const ObjectClassValues& x, const ObjectClassValues& y) {
                          return SameNumber(x.minArea, y.minArea) && SameNumber(x.maxArea, y.maxArea) &&
                                 SameNumber(x.minHeight, y.minHeight) && SameNumber(x.maxHeight, y.maxHeight);
                      });
}
