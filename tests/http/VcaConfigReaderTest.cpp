#include "VcaConfigReader.h"

#include "ConfigTextScan.h"
#include "VCA.pb.h"
#include "VcaConfigState.h"

#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

namespace {

const char kChannelTail[] = "  encoder { fps: 25 }\n  mog { history: 100 }\n}\n";

QByteArray Config(const std::string& channelBody)
{
    return QByteArray::fromStdString("Ch {\n" + channelBody + kChannelTail);
}

ZonesMap Zones(const QByteArray& content)
{
    ZonesMap zones;
    QString error;
    EXPECT_TRUE(VcaConfigReader(content).ReadZones(zones, error)) << error.toStdString();
    return zones;
}

CamposValues ReadCampos(const QByteArray& content)
{
    CamposValues campos{0, 0, 0};
    QString error;
    EXPECT_TRUE(VcaConfigReader(content).ReadCampos(campos, error)) << error.toStdString();
    return campos;
}

// The parser complains on stderr about texts it rejects; the tests feed it
// such texts on purpose.
class VcaConfigReaderTest : public ::testing::Test {
    google::protobuf::LogSilencer silencer_;
};

} // namespace

TEST_F(VcaConfigReaderTest, ReadsZonesInOrderAndLaterDuplicateIdsWin)
{
    const ZonesMap zones =
        Zones(Config("  zones { id: 3 points { x: 1 y: 2 } points { x: 3 y: 4 } enable: true name: \"a\" "
                     "style: POLYGON }\n"
                     "  zones { id: 1 points { x: 5 y: 6 } enable: true name: \"b\" style: POLYGON }\n"
                     "  zones { id: 3 points { x: 7 y: 8 } enable: false name: \"c\" style: LINE }\n"
                     "  campos { }\n"));
    const ZonesMap expected{{1, {{5, 6}}}, {3, {{7, 8}}}};
    EXPECT_EQ(zones, expected);
}

// Name, enable state, type, style and colour of each zone; a type or style
// the reader skipped is named for the zone it stood in, and only for it.
TEST_F(VcaConfigReaderTest, ReadsWhatEachZoneHoldsBesidesItsPoints)
{
    const VcaConfigReader reader(
        Config("  zones { id: 3 enable: true name: \"old\" style: POLYGON }\n"
               "  zones { id: 3 enable: false name: \"Door & \\303\\251\" type: NONDETECTION style: LINE "
               "color { r: 255 g: 0 b: 9 } }\n"
               "  zones { id: 5 name: \"Gate\" type: LOITERING }  zones { id: 6 enable: true name: \"Hall\" "
               "style: CURVE }\n"
               "  zones {\n    id: 8\n    enable: true\n    name: \"Yard\"\n    type: PREALARM\n  }\n"
               "  campos { }\n"));
    ASSERT_TRUE(reader.IsWhole()) << reader.NotWholeMessage().toStdString();
    ZoneSettingsMap zones;
    QString error;
    ASSERT_TRUE(reader.ReadZoneSettings(zones, error));
    ASSERT_EQ(zones.size(), 4u);

    const ZoneSettings& door = zones.at(3);
    EXPECT_EQ(door.name, QStringLiteral("Door & \u00e9"));
    EXPECT_FALSE(door.enable);
    EXPECT_EQ(door.type, ZoneSettings::Type::NonDetection);
    EXPECT_EQ(door.style, ZoneSettings::Style::Line);
    EXPECT_TRUE(door.hasColour);
    EXPECT_EQ(door.red, 255u);
    EXPECT_EQ(door.blue, 9u);
    EXPECT_TRUE(door.skippedType.empty() && door.skippedStyle.empty());

    // No enable given reads as off, no style as a polygon, no type as an alarm.
    const ZoneSettings& gate = zones.at(5);
    EXPECT_FALSE(gate.enable);
    EXPECT_EQ(gate.style, ZoneSettings::Style::Polygon);
    EXPECT_EQ(gate.skippedType, "LOITERING");
    EXPECT_TRUE(gate.skippedStyle.empty());
    EXPECT_FALSE(gate.hasColour);
    EXPECT_EQ(zones.at(6).skippedStyle, "CURVE");
    EXPECT_TRUE(zones.at(6).skippedType.empty());
    EXPECT_EQ(zones.at(8).type, ZoneSettings::Type::PreAlarm);
    EXPECT_TRUE(zones.at(8).skippedType.empty());

    // A value skipped outside channel 0's zones belongs to none of them.
    const VcaConfigReader other(Config("  zones { id: 1 enable: true name: \"a\" style: POLYGON }\n") +
                                "Ch { zones { id: 1 type: LOITERING } }\n");
    ASSERT_TRUE(other.IsWhole());
    ASSERT_EQ(other.SkippedEnumValues().size(), 1u);
    ASSERT_TRUE(other.ReadZoneSettings(zones, error));
    EXPECT_TRUE(zones.at(1).skippedType.empty());
}

TEST_F(VcaConfigReaderTest, PointsAbove65535WrapToSixteenBits)
{
    const ZonesMap zones = Zones(
        Config("  zones { id: 0 points { x: 65536 y: 65535 } points { x: 70000 y: 4294967295 } enable: true "
               "name: \"z\" style: POLYGON }\n  campos { }\n"));
    const ZonesMap expected{{0, {{0, 65535}, {70000 - 65536, 65535}}}};
    EXPECT_EQ(zones, expected);
}

TEST_F(VcaConfigReaderTest, MissingCamposFieldsReadAsDefaults)
{
    CamposValues campos = ReadCampos(Config("  campos { FOV: 40 camangle: 25 }\n"));
    EXPECT_EQ(campos.fov, 40);
    EXPECT_EQ(campos.camangle, 25);
    EXPECT_EQ(campos.heightMetres, 3);

    campos = ReadCampos(Config("")); // no campos block: a required field is missing
    EXPECT_EQ(campos.fov, 18);
    EXPECT_EQ(campos.camangle, 10);
    EXPECT_EQ(campos.heightMetres, 3);
}

TEST_F(VcaConfigReaderTest, KeepsWhatWasReadBeforeAParseError)
{
    const QByteArray text = "Ch {\n zones { id: 7 points { x: 10 y: 20 } }\n campos { FOV: 33 height: 2.5 }\n"
                            " timeout: oops\n zones { id: 8 }\n}\n";
    const ZonesMap expected{{7, {{10, 20}}}};
    EXPECT_EQ(Zones(text), expected);
    const CamposValues campos = ReadCampos(text);
    EXPECT_EQ(campos.fov, 33);
    EXPECT_EQ(campos.camangle, 10);
    EXPECT_EQ(campos.heightMetres, 2.5);
    const VcaConfigReader reader(text);
    EXPECT_FALSE(reader.IsWhole());
    EXPECT_EQ(
        reader.NotWholeMessage(),
        QStringLiteral("The device's configuration could not be read whole (line 4, column 11: Expected "
                       "integer, got: oops); nothing will be written back from it"));
}

TEST_F(VcaConfigReaderTest, TextEndsAtTheFirstNulAndIsNotWhole)
{
    QByteArray text = Config("  campos { FOV: 50 }\n");
    text.insert(text.indexOf("FOV"), '\0');
    EXPECT_EQ(ReadCampos(text).fov, 18);
    const VcaConfigReader reader(text);
    EXPECT_FALSE(reader.IsWhole());
    EXPECT_TRUE(reader.NotWholeMessage().contains(QStringLiteral("(line 2, column 12: a NUL byte)")));
}

// A newer firmware's fields and enum values are skipped and the rest is read;
// a text cut short is not whole, however much of it was read.
TEST_F(VcaConfigReaderTest, UnknownFieldsAndValuesAreSkippedACutTextIsNotWhole)
{
    const QByteArray text = Config("  zones { id: 4 points { x: 1 y: 2 } enable: false name: \"Door\" "
                                   "dwell { seconds: 5 } type: LOITERING style: POLYGON }\n"
                                   "  zones { id: 5 enable: true name: \"Gate\" type:NONDETECTION style: "
                                   "CURVE }\n"
                                   "  campos { FOV: 40 tiltMode: AUTO }\n  timeout: 45\n  newSetting: 3\n");
    const VcaConfigReader reader(text);
    EXPECT_TRUE(reader.IsWhole()) << reader.NotWholeMessage().toStdString();
    ClassifierValues classifier;
    QString error;
    ASSERT_TRUE(reader.ReadClassifier(classifier, error));
    EXPECT_EQ(classifier.timeoutSeconds, 45u);
    EXPECT_EQ(ReadCampos(text).fov, 40);
    const Channel& channel = reader.Config().ch(0);
    ASSERT_EQ(channel.zones_size(), 2);
    EXPECT_FALSE(channel.zones(0).has_type());
    EXPECT_EQ(channel.zones(1).type(), Zone::NONDETECTION);
    EXPECT_FALSE(channel.zones(1).has_style());
    ASSERT_EQ(reader.SkippedEnumValues().size(), 2u);
    EXPECT_EQ(reader.SkippedEnumValues()[0].value, "LOITERING");
    EXPECT_EQ(reader.SkippedEnumValues()[1].field, "style");
    EXPECT_EQ(reader.SkippedEnumValues()[1].line, 3);

    const QByteArray whole =
        Config("  zones { id: 1 enable: true name: \"a\" style: POLYGON }\n"
               "  zones { id: 2 enable: true name: \"b\" style: POLYGON }\n  timeout: 45\n");
    const VcaConfigReader cut(whole.left(whole.indexOf("zones { id: 2") + 13));
    EXPECT_FALSE(cut.IsWhole());
    EXPECT_EQ(cut.Config().ch(0).zones(0).name(), "a");
    EXPECT_TRUE(cut.NotWholeMessage().contains(
        QStringLiteral("(line 3, column 16: Expected identifier, got: the end of the text)")));
}

TEST_F(VcaConfigReaderTest, NoChannelIsAClearFailure)
{
    for (const QByteArray& text : {QByteArray(), QByteArray("videoSource { model: \"axis\" }"),
                                   QByteArray("garbage {{{"), QByteArray("\0Ch { }", 7)}) {
        const VcaConfigReader reader(text);
        ZonesMap zones{{1, {{1, 1}}}};
        CamposValues campos{1, 2, 3};
        QString error;
        EXPECT_FALSE(reader.ReadZones(zones, error));
        EXPECT_EQ(error, QStringLiteral("The device's configuration has no channel 0"));
        EXPECT_EQ(zones.size(), 1u);
        error.clear();
        EXPECT_FALSE(reader.ReadCampos(campos, error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(campos.fov, 1);
    }
}

// The simulator prints its state with the same schema: what it keeps is what
// the reader gives, and its spoilt answers are read as the tool expects.
TEST_F(VcaConfigReaderTest, ReadsTheSimulatorsConfiguration)
{
    VcaConfigState state;
    ASSERT_EQ(state
                  .Execute("vca.cgi", {{"action", "update"},
                                       {"group", "VCA.Ch0"},
                                       {"object", "campos"},
                                       {"FOV", "42"},
                                       {"camangle", "12"},
                                       {"height", "2.75"}})
                  .status,
              200);
    const QByteArray text = QByteArray::fromStdString(state.ConfigText());
    const CamposValues campos = ReadCampos(text);
    EXPECT_EQ(campos.fov, 42);
    EXPECT_EQ(campos.camangle, 12);
    EXPECT_EQ(campos.heightMetres, 2.75);
    EXPECT_EQ(Zones(text).size(), 1u);
    EXPECT_TRUE(VcaConfigReader(text).Config().IsInitialized());

    const VcaConfigReader malformed(
        QByteArray::fromStdString(state.ConfigText(VcaConfigState::ConfigFault::Malformed)));
    ZonesMap zones;
    QString error;
    EXPECT_TRUE(malformed.ReadZones(zones, error));
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_EQ(zones.begin()->first, 1u);
    EXPECT_LE(zones.begin()->second.size(), 1u); // at most the point the error is in

    const VcaConfigReader noChannels(
        QByteArray::fromStdString(state.ConfigText(VcaConfigState::ConfigFault::NoChannels)));
    EXPECT_FALSE(noChannels.ReadZones(zones, error));
    EXPECT_EQ(noChannels.Config().videosource().model(), "axis");

    // A newer firmware's fields in the first zone: read whole, its type
    // named as skipped; a text cut after the first zone is not whole.
    ASSERT_EQ(state.Execute("setzonetimeout.fcgi", {{"timeout", "45"}}).status, 200);
    const VcaConfigReader newer(
        QByteArray::fromStdString(state.ConfigText(VcaConfigState::ConfigFault::UnknownFields)));
    EXPECT_TRUE(newer.IsWhole()) << newer.NotWholeMessage().toStdString();
    ZoneSettingsMap settings;
    ASSERT_TRUE(newer.ReadZoneSettings(settings, error));
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings.at(1).skippedType, "LOITERING");
    ClassifierValues classifier;
    ASSERT_TRUE(newer.ReadClassifier(classifier, error));
    EXPECT_EQ(classifier.timeoutSeconds, 45u);

    const VcaConfigReader cut(QByteArray::fromStdString(state.ConfigText(VcaConfigState::ConfigFault::Cut)));
    EXPECT_FALSE(cut.IsWhole());
    EXPECT_TRUE(cut.ReadZones(zones, error));
    EXPECT_EQ(zones, Zones(text));
}

// The simulator's configuration file is strict: anything short of a whole
// configuration is refused with the place, and the state kept.
TEST_F(VcaConfigReaderTest, SimulatorTakesOnlyAWholeConfigurationText)
{
    VcaConfigState state;
    const std::string before = state.ConfigText();
    std::string error;
    EXPECT_FALSE(state.SetConfigText("Ch { zones { id: 1 } }", error));
    EXPECT_NE(error.find("missing required fields"), std::string::npos) << error;
    EXPECT_FALSE(state.SetConfigText(before + "extra: 1\n", error));
    EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
    EXPECT_FALSE(state.SetConfigText("", error));
    EXPECT_EQ(state.ConfigText(), before);

    const std::string name = "name: \"Zone_1\"";
    std::string seeded = before;
    seeded.replace(seeded.find(name), name.size(), "name: \"Door\" type: PREALARM");
    ASSERT_TRUE(state.SetConfigText(seeded, error)) << error;
    ZoneSettingsMap settings;
    QString readError;
    ASSERT_TRUE(
        VcaConfigReader(QByteArray::fromStdString(state.ConfigText())).ReadZoneSettings(settings, readError));
    EXPECT_EQ(settings.at(1).name, QStringLiteral("Door"));
    EXPECT_EQ(settings.at(1).type, ZoneSettings::Type::PreAlarm);
}

namespace {

// "line area[#zone] field[=value]" for each listed unknown setting.
std::vector<std::string> Listed(const VcaConfigReader& reader)
{
    static const char* const kAreas[] = {"Zones", "Classifier", "Encoder", "Camera", "Other"};
    std::vector<std::string> listed;
    for (const VcaConfigReader::UnknownSetting& setting : reader.UnknownSettings()) {
        listed.push_back(std::to_string(setting.line) + " " + kAreas[static_cast<int>(setting.area)] +
                         (setting.zoneIndex >= 0 ? "#" + std::to_string(setting.zoneIndex) : "") + " " +
                         setting.field + (setting.value.empty() ? "" : "=" + setting.value));
    }
    return listed;
}

} // namespace

// Every unknown field and value is listed in one read with its line and the
// part of the configuration a write request would touch.
TEST_F(VcaConfigReaderTest, ListsEachUnknownSettingWithItsLineAndArea)
{
    const VcaConfigReader reader(
        "Ch {\n"
        "  zones { id: 1 name: \"a\" style: POLYGON type: LOITERING\n"
        "    dwell { seconds: 5 } }\n"
        "  zones { id: 2 name: \"b\" style: CURVE points { x: 1 y: 2 z: 3 } }\n"
        "  timeout: 45\n"
        "  objectClasses { minArea: 1 maxArea: 2 minHeight: 0 maxHeight: 2 shape: BOX }\n"
        "  encoder { fps: 25 codec: H265 }\n"
        "  campos { FOV: 40 tiltMode: AUTO }\n"
        "  mog { history: 100 model: 2 }\n"
        "  newSetting: 3\n"
        "}\n"
        "Ch { zones { id: 1 type: LOITERING } }\n"
        "videoSource { model: \"m\" host: \"h\" login: \"l\" password: \"p\" proxy: \"x\" }\n");
    ASSERT_TRUE(reader.IsWhole()) << reader.NotWholeMessage().toStdString();
    const std::vector<std::string> expected{
        "2 Zones#0 type=LOITERING", "3 Zones#0 dwell",         "4 Zones#1 style=CURVE", "4 Zones#1 z",
        "6 Classifier shape",       "7 Encoder codec",         "8 Camera tiltMode",     "9 Other model",
        "10 Other newSetting",      "12 Other type=LOITERING", "13 Other proxy"};
    EXPECT_EQ(Listed(reader), expected);
    ASSERT_EQ(reader.SkippedEnumValues().size(), 3u);
    EXPECT_EQ(reader.SkippedEnumValues()[1].line, 4);
    EXPECT_EQ(reader.SkippedEnumValues()[1].value, "CURVE");
    ZoneSettingsMap zones;
    QString error;
    ASSERT_TRUE(reader.ReadZoneSettings(zones, error));
    EXPECT_EQ(zones.at(1).unknownFields, std::vector<std::string>{"dwell"});
    EXPECT_EQ(zones.at(2).unknownFields, std::vector<std::string>{"z"});
    EXPECT_EQ(zones.at(2).name, QStringLiteral("b"));

    // Each area holds what stands in it, and only that.
    const std::pair<const char*, ConfigArea> blocks[] = {
        {"zones { id: 1 extra: 1 }", ConfigArea::Zones},
        {"timeout: 5 objectClasses { a: 1 }", ConfigArea::Classifier},
        {"encoder { gop: 1 }", ConfigArea::Encoder},
        {"campos { tilt: 1 }", ConfigArea::Camera},
        {"mog { a: 1 } newSetting: 1", ConfigArea::Other}};
    for (const auto& [block, area] : blocks) {
        const VcaConfigReader one(QByteArray("Ch { ") + block + " }");
        for (ConfigArea other : {ConfigArea::Zones, ConfigArea::Classifier, ConfigArea::Encoder,
                                 ConfigArea::Camera, ConfigArea::Other}) {
            EXPECT_EQ(one.HoldsUnknownIn(other), other == area) << block;
        }
    }
}

// Unknown values of any shape are passed over whole: nested blocks, lists,
// strings holding delimiters, bracketed names, numbers as names or values,
// separators after a skipped value.
TEST_F(VcaConfigReaderTest, SkipsUnknownValuesOfAnyShape)
{
    const VcaConfigReader reader("Ch {\n"
                                 "  zones { id: 1 name: \"x\" [ext.name] { a: 1 } style: POLYGON\n"
                                 "    shape: [1, -2.5, 'q{', \"r\\\"}#\", {k: [3]}, <m: -inf>] 7: 0x1F\n"
                                 "    extra: { deep { deeper < note: \"} > ]\" # } {\n"
                                 "    > } } note: \"a\" 'b\\'c' \"#\" type: LOITERING, enable: true }\n"
                                 "  zones { id: 2 type: 9 style: -1; name: \"y\" }\n"
                                 "}\n");
    ASSERT_TRUE(reader.IsWhole()) << reader.NotWholeMessage().toStdString();
    const std::vector<std::string> expected{
        "2 Zones#0 [ext.name]", "3 Zones#0 shape",          "3 Zones#0 7",      "4 Zones#0 extra",
        "5 Zones#0 note",       "5 Zones#0 type=LOITERING", "6 Zones#1 type=9", "6 Zones#1 style=-1"};
    EXPECT_EQ(Listed(reader), expected);
    ZoneSettingsMap zones;
    QString error;
    ASSERT_TRUE(reader.ReadZoneSettings(zones, error));
    EXPECT_EQ(zones.at(1).name, QStringLiteral("x"));
    EXPECT_TRUE(zones.at(1).enable);
    EXPECT_EQ(zones.at(1).skippedType, "LOITERING");
    EXPECT_EQ(zones.at(1).unknownFields,
              (std::vector<std::string>{"[ext.name]", "shape", "7", "extra", "note"}));
    EXPECT_EQ(zones.at(2).name, QStringLiteral("y"));
    EXPECT_EQ(zones.at(2).skippedStyle, "-1");
}

// Skipping never hides what the parser rejects nor moves where it says so;
// what lies past that place is not listed; nesting is bounded.
TEST_F(VcaConfigReaderTest, SkippingKeepsEveryParseErrorInItsPlace)
{
    std::string deep = "Ch {";
    for (int i = 0; i < 100000; ++i) {
        deep += " x {";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"Ch { zones { id: 1 type: PREALARM type: LOITERING } }",
         "(line 1, column 39: Non-repeated field \"type\" is specified multiple times.)"},
        {"Ch { zones { id: 1 type:\x01LOITERING } }",
         "(line 1, column 25: Invalid control characters encountered in text.)"},
        {"Ch { zones { type: 7abc } }", "(line 1, column 21: Need space between number and identifier.)"},
        {"Ch { zones { enable: maybe type: LOITERING } }",
         "(line 1, column 28: Invalid value for boolean field \"enable\". Value: \"maybe\".)"},
        {"Ch { zones { type:\tLOITERING id: x } }", "(line 1, column 39: Expected integer, got: x)"},
        {"Ch {\n  timeout: oops\n  zones { type: LOITERING dwell: 1 }\n}\n",
         "(line 2, column 12: Expected integer, got: oops)"},
        {deep, "(line 1, column 404: blocks nested deeper than 100 levels)"}};
    for (const auto& [text, place] : cases) {
        const VcaConfigReader reader(QByteArray::fromStdString(text));
        EXPECT_FALSE(reader.IsWhole()) << text;
        EXPECT_TRUE(reader.NotWholeMessage().contains(QString::fromStdString(place)))
            << reader.NotWholeMessage().toStdString();
    }
    const VcaConfigReader stopped(QByteArray::fromStdString(cases[5].first)); // unknowns past "oops"
    EXPECT_TRUE(stopped.UnknownSettings().empty());
    EXPECT_FALSE(stopped.HoldsUnknownIn(ConfigArea::Zones));

    std::string deepest = "Ch {";
    for (int i = 1; i < kMaxConfigNesting; ++i) {
        deepest.insert(4, " x {");
        deepest += " }";
    }
    const VcaConfigReader reader(QByteArray::fromStdString(deepest + " }"));
    EXPECT_TRUE(reader.IsWhole()) << reader.NotWholeMessage().toStdString();
    EXPECT_EQ(Listed(reader), std::vector<std::string>{"1 Other x"});
}

// However many unknown settings a text holds, it reads whole in one go; past
// the recorded number the areas still tell, and a skipped enum value is
// always listed for the template check.
TEST_F(VcaConfigReaderTest, ReadsAnyNumberOfUnknownSettings)
{
    std::string text = "Ch {\n";
    for (int i = 0; i < 5000; ++i) {
        text += "  zones { id: " + std::to_string(i) + " dwell { seconds: 5 } }\n";
    }
    for (int i = 0; i < 5000; ++i) {
        text += "  zones { id: " + std::to_string(5000 + i) + " type: LOITERING }\n";
    }
    text += "  encoder { codec: H265 }\n}\n";
    const VcaConfigReader reader(QByteArray::fromStdString(text));
    ASSERT_TRUE(reader.IsWhole()) << reader.NotWholeMessage().toStdString();
    EXPECT_EQ(reader.Config().ch(0).zones_size(), 10000);
    EXPECT_EQ(reader.UnknownSettings().size(), VcaConfigReader::kMaxRecorded);
    ASSERT_EQ(reader.SkippedEnumValues().size(), VcaConfigReader::kMaxRecorded);
    EXPECT_EQ(reader.SkippedEnumValues().front().line, 5002);
    EXPECT_TRUE(reader.HoldsUnknownIn(ConfigArea::Zones));
    EXPECT_TRUE(reader.HoldsUnknownIn(ConfigArea::Encoder));
    EXPECT_FALSE(reader.HoldsUnknownIn(ConfigArea::Camera));
}
