#include "VcaConfigReader.h"

#include "VCA.pb.h"

#include <QCoreApplication>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>
#include <memory>
#include <string>

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

// A hostile text could hold any number of unknown enum values; each costs a
// parse of the whole text.
constexpr int kMaxSkippedEnumValues = 256;

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

bool IsIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Reads field and value out of the parser's "Unknown enumeration value of
// "V" for field "F"." text.
bool ParseUnknownEnumError(const std::string& message, std::string& field, std::string& value)
{
    static const std::string kValuePrefix = "Unknown enumeration value of \"";
    static const std::string kFieldPrefix = "\" for field \"";
    if (message.compare(0, kValuePrefix.size(), kValuePrefix) != 0) {
        return false;
    }
    const size_t valueEnd = message.find(kFieldPrefix, kValuePrefix.size());
    if (valueEnd == std::string::npos) {
        return false;
    }
    const size_t fieldStart = valueEnd + kFieldPrefix.size();
    const size_t fieldEnd = message.find('"', fieldStart);
    if (fieldEnd == std::string::npos) {
        return false;
    }
    value = message.substr(kValuePrefix.size(), valueEnd - kValuePrefix.size());
    field = message.substr(fieldStart, fieldEnd - fieldStart);
    return !value.empty() && !field.empty();
}

// Blanks the last "field: value" that ends before `end`, keeping every other
// character in its place (and so the parser's line and column numbers).
bool BlankAssignment(std::string& text, size_t end, const std::string& field, const std::string& value)
{
    size_t search = std::min(end, text.size());
    while (search >= value.size()) {
        const size_t valuePos = text.rfind(value, search - value.size());
        if (valuePos == std::string::npos) {
            return false;
        }
        search = valuePos + value.size() - 1;
        const size_t valueEnd = valuePos + value.size();
        if ((valuePos > 0 && IsIdentifierChar(text[valuePos - 1])) ||
            (valueEnd < text.size() && IsIdentifierChar(text[valueEnd]))) {
            continue;
        }
        size_t pos = valuePos;
        while (pos > 0 && std::isspace(static_cast<unsigned char>(text[pos - 1])) != 0) {
            --pos;
        }
        if (pos > 0 && text[pos - 1] == ':') {
            --pos;
        }
        while (pos > 0 && std::isspace(static_cast<unsigned char>(text[pos - 1])) != 0) {
            --pos;
        }
        if (pos < field.size() || text.compare(pos - field.size(), field.size(), field) != 0 ||
            (pos > field.size() && IsIdentifierChar(text[pos - field.size() - 1]))) {
            continue;
        }
        for (size_t i = pos - field.size(); i < valueEnd; ++i) {
            if (text[i] != '\n') {
                text[i] = ' ';
            }
        }
        return true;
    }
    return false;
}

bool NotAfter(const pb::TextFormat::ParseLocation& a, const pb::TextFormat::ParseLocation& b)
{
    return a.line < b.line || (a.line == b.line && a.column <= b.column);
}

// For each position, the index of the channel 0 zone whose text holds it; -1
// for a position outside every such zone.
std::vector<int> Channel0ZoneIndexes(const pb::TextFormat::ParseInfoTree& locations, const VCA& vca,
                                     const std::vector<pb::TextFormat::ParseLocation>& positions)
{
    std::vector<int> indexes(positions.size(), -1);
    if (vca.ch_size() == 0) {
        return indexes;
    }
    const pb::TextFormat::ParseInfoTree* channel =
        locations.GetTreeForNested(VCA::descriptor()->FindFieldByName("Ch"), 0);
    const pb::FieldDescriptor* zonesField = Channel::descriptor()->FindFieldByName("zones");
    if (channel == nullptr || zonesField == nullptr) {
        return indexes;
    }
    for (int zone = 0; zone < vca.ch(0).zones_size(); ++zone) {
        const pb::TextFormat::ParseLocationRange range = channel->GetLocationRange(zonesField, zone);
        for (size_t i = 0; i < positions.size(); ++i) {
            if (range.start.line >= 0 && NotAfter(range.start, positions[i]) &&
                !NotAfter(range.end, positions[i])) {
                indexes[i] = zone;
            }
        }
    }
    return indexes;
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
    Parse(text);
    if (hasNul) {
        const int line = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        const size_t lineStart = text.rfind('\n');
        const size_t column = lineStart == std::string::npos ? text.size() : text.size() - lineStart - 1;
        SetNotWhole(line + 1, static_cast<int>(column) + 1,
                    QCoreApplication::translate("VcaConfigReader", "a NUL byte"));
    }
}

void VcaConfigReader::Parse(std::string text)
{
    pb::TextFormat::Parser parser;
    parser.AllowUnknownField(true);
    parser.AllowPartialMessage(true);
    std::unique_ptr<pb::TextFormat::ParseInfoTree> locations;
    std::vector<pb::TextFormat::ParseLocation> skippedAt;
    for (int attempt = 0;; ++attempt) {
        FirstError error;
        parser.RecordErrorsTo(&error);
        locations = std::make_unique<pb::TextFormat::ParseInfoTree>();
        parser.WriteLocationsTo(locations.get());
        vca_->Clear();
        if (parser.ParseFromString(text, vca_.get()) || !error.found) {
            break;
        }
        // The parser has no option for enum values it does not know: such an
        // assignment is blanked and the text read again.
        SkippedValue skipped;
        if (attempt < kMaxSkippedEnumValues &&
            ParseUnknownEnumError(error.message, skipped.field, skipped.value) &&
            BlankAssignment(text, OffsetOf(text, error.line, error.column), skipped.field, skipped.value)) {
            skipped.line = error.line + 1;
            skippedEnumValues_.push_back(std::move(skipped));
            skippedAt.emplace_back(error.line, error.column);
            continue;
        }
        // At the end of a text cut short the parser names no token.
        if (error.message.size() >= 5 && error.message.compare(error.message.size() - 5, 5, "got: ") == 0) {
            error.message += "the end of the text";
        }
        SetNotWhole(error.line + 1, error.column + 1, QString::fromStdString(error.message));
        break;
    }
    skippedInZone_ = Channel0ZoneIndexes(*locations, *vca_, skippedAt);
}

VcaConfigReader::~VcaConfigReader() = default;

void VcaConfigReader::SetNotWhole(int line, int column, const QString& reason)
{
    notWholeLine_ = line;
    notWholeColumn_ = column;
    notWholeReason_ = reason;
    notWholeMessage_ = NotWholeText(line, column, reason);
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
    for (int index = 0; index < channel.zones_size(); ++index) {
        const Zone& zone = channel.zones(index);
        ZoneSettings values;
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
        for (size_t i = 0; i < skippedEnumValues_.size(); ++i) {
            if (skippedInZone_[i] == index) {
                const SkippedValue& skipped = skippedEnumValues_[i];
                if (skipped.field == "type") {
                    values.skippedType = skipped.value;
                } else if (skipped.field == "style") {
                    values.skippedStyle = skipped.value;
                }
            }
        }
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
