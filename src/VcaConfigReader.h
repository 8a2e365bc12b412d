#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class VCA;

// A zone's points in absolute picture coordinates (0..65535 per axis), in the
// order of the configuration text.
using ZonePoints = std::vector<std::pair<uint16_t, uint16_t>>;
// Zones of channel 0 by id; a later zone with the same id replaces an earlier one.
using ZonesMap = std::map<unsigned int, ZonePoints>;

// What a zone of channel 0 holds besides its points. Type and style carry the
// schema's numbers.
struct ZoneSettings {
    enum class Type { PreAlarm = 1, Alarm = 2, NonDetection = 3 };
    enum class Style { Line = 1, Polygon = 2 };

    QString name;
    bool enable = false; // a zone that does not say is off, as the device reads it
    Type type = Type::Alarm;
    Style style = Style::Polygon; // also when the text gives none
    bool hasColour = false;
    uint32_t red = 0;
    uint32_t green = 0;
    uint32_t blue = 0;
    // A type or style value the schema does not know: skipped by the reader,
    // so `type` or `style` above does not tell what the device holds.
    std::string skippedType;
    std::string skippedStyle;
    // Fields the schema does not know standing in the zone (also inside its
    // points or colour), each name once, in text order.
    std::vector<std::string> unknownFields;
};
// By zone id, as ZonesMap.
using ZoneSettingsMap = std::map<unsigned int, ZoneSettings>;

// Camera position of channel 0; a field the text lacks reads as its schema default.
struct CamposValues {
    double fov = 18;      // degrees
    double camangle = 10; // degrees
    double heightMetres = 3;
};

// One object class of channel 0: areas in square metres, heights in metres.
struct ObjectClassValues {
    double minArea = 0;
    double maxArea = 0;
    double minHeight = 0;
    double maxHeight = 0;
};

// Equal numbers, a NaN equal to a NaN: what the device holds against what
// was read or sent.
bool SameNumber(double a, double b);
// The same classes in the same order, each value by SameNumber.
bool SameClasses(const std::vector<ObjectClassValues>& a, const std::vector<ObjectClassValues>& b);

// Zone detection timeout and object classes of channel 0, in the text's order.
struct ClassifierValues {
    unsigned int timeoutSeconds = 60;
    std::vector<ObjectClassValues> classes;
};

// Encoder of channel 0; a field the text lacks reads as its schema default.
struct EncoderValues {
    unsigned int fps = 30;
    unsigned int bitrate = 2500000;
};

// Where in the configuration a setting stands, grouped as the device's write
// requests group them: channel 0's zones, its zone timeout and object
// classes, its encoder, its camera position; Other for everything else
// (other channels, the background model, the video source, fields the
// channel itself does not know, ...).
enum class ConfigArea { Zones, Classifier, Encoder, Camera, Other };

// Reads a device's configuration text (the getconfig answer) into what the
// pages use: channel 0's zones, camera position, classifier and encoder.
// Fields and enum values the schema does not know (a newer firmware's) are
// skipped, in one pass however many, and listed with where they stand;
// missing required fields are no error. Anything else the parser rejects (a
// syntax error, a text that breaks off, a NUL byte, blocks nested more than
// 100 deep) leaves the configuration read in part: what was read before is
// still given, but IsWhole() is false, and nothing may be written back from
// it. A configuration without any channel is reported as a failure with a
// user text, never read past.
class VcaConfigReader final {
public:
    explicit VcaConfigReader(const QByteArray& content);
    ~VcaConfigReader();
    VcaConfigReader(const VcaConfigReader&) = delete;
    VcaConfigReader& operator=(const VcaConfigReader&) = delete;

    bool ReadZones(ZonesMap& zones, QString& errorMessage) const;
    bool ReadZoneSettings(ZoneSettingsMap& settings, QString& errorMessage) const;
    bool ReadCampos(CamposValues& campos, QString& errorMessage) const;
    bool ReadClassifier(ClassifierValues& classifier, QString& errorMessage) const;
    bool ReadEncoder(EncoderValues& encoder, QString& errorMessage) const;

    // The whole parsed message, for callers that need other fields.
    const VCA& Config() const { return *vca_; }

    // The text was read to its end (unknown fields and enum values skipped).
    bool IsWhole() const { return notWholeMessage_.isEmpty(); }
    // Empty when whole; otherwise the user text that names where the text
    // could not be read.
    const QString& NotWholeMessage() const { return notWholeMessage_; }
    // Where the text stopped being read (1-based) and the parser's reason,
    // for callers that word the refusal themselves; 0 and empty when whole.
    int NotWholeLine() const { return notWholeLine_; }
    int NotWholeColumn() const { return notWholeColumn_; }
    const QString& NotWholeReason() const { return notWholeReason_; }

    // An enum value the schema does not know, skipped so that the rest reads;
    // the field it was given for keeps its default (and has_ is false).
    struct SkippedValue {
        int line = 0; // 1-based
        std::string field;
        std::string value;
    };
    const std::vector<SkippedValue>& SkippedEnumValues() const { return skippedEnumValues_; }

    // A field the schema does not know, or an enum value it does not know
    // (then `value` is set); both are skipped so that the rest reads.
    struct UnknownSetting {
        int line = 0; // 1-based
        ConfigArea area = ConfigArea::Other;
        int zoneIndex = -1; // within Zones: the index of channel 0's zone (in text order) it stands in
        std::string field;  // the field name as written, e.g. "dwell" or "type"
        std::string value;  // the skipped enum value; empty for an unknown field
    };
    // In text order, as far as the text was read. A hostile text could hold
    // any number: past kMaxRecorded of them (and past kMaxRecorded skipped
    // enum values) no more are listed, nor given to the zones' settings, but
    // HoldsUnknownIn still knows of them.
    const std::vector<UnknownSetting>& UnknownSettings() const { return unknownSettings_; }
    // Some setting in `area` was skipped.
    bool HoldsUnknownIn(ConfigArea area) const;
    static constexpr size_t kMaxRecorded = 4096;

private:
    bool HasChannel0(QString& errorMessage) const;
    void Parse(std::string text);
    void SetNotWhole(int line, int column, const QString& reason);

    std::unique_ptr<VCA> vca_;
    QString notWholeMessage_;
    int notWholeLine_ = 0;
    int notWholeColumn_ = 0;
    QString notWholeReason_;
    std::vector<SkippedValue> skippedEnumValues_;
    std::vector<UnknownSetting> unknownSettings_;
    static constexpr size_t kAreaCount = static_cast<size_t>(ConfigArea::Other) + 1;
    bool holdsUnknown_[kAreaCount] = {};
};
