#include "ConfigTemplate.h"
#include "TemplateParts.h"

#include "VCA.pb.h"

#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// Two zones (the second off and named with a quote), two classes, a camera
// position, an encoder, a background model and a video source with its
// password.
const char kDeviceConfig[] =
    "Ch {\n"
    "  zones { id: 1 points { x: 100 y: 200 } points { x: 65535 y: 0 } points { x: 300 y: 65535 }\n"
    "          enable: true name: \"Gate\" type: PREALARM style: POLYGON color { r: 255 g: 0 b: 10 } }\n"
    "  zones { id: 7 points { x: 1 y: 2 } points { x: 3 y: 4 } enable: false\n"
    "          name: \"Side \\\"B\\\"\" type: NONDETECTION style: LINE }\n"
    "  campos { FOV: 40 camangle: 25 height: 4.5 }\n"
    "  timeout: 17\n"
    "  objectClasses { minArea: 0.5 maxArea: 2 minHeight: 1 maxHeight: 2.2 }\n"
    "  objectClasses { minArea: 3 maxArea: 12 minHeight: 1.2 maxHeight: 4 }\n"
    "  reinitThreshold: 0.3\n"
    "  encoder { fps: 12 bitrate: 1500000 }\n"
    "  mog { history: 100 }\n"
    "}\n"
    "videoSource { model: \"cam\" host: \"10.0.0.9\" port: 554 login: \"admin\" password: \"s3cret-src\" }\n";

class ConfigTemplateTest : public ::testing::Test {
    google::protobuf::LogSilencer silencer_;
};

QByteArray MakeTemplate(const QByteArray& config, const TemplateSource& source = {})
{
    const VcaConfigReader reader(config);
    QByteArray text;
    QString error;
    EXPECT_TRUE(MakeConfigTemplate(reader, source, text, error)) << error.toStdString();
    return text;
}

QString Refusal(const QByteArray& text)
{
    std::unique_ptr<VcaConfigReader> reader;
    QString error;
    EXPECT_FALSE(ReadConfigTemplate(text, reader, error));
    EXPECT_EQ(reader, nullptr);
    return error;
}

} // namespace

// The template's channel reads back equal to the device's channel 0 without
// its background model and reinit threshold; the video source and its
// password stay out;
// a device name with a line break cannot add fields through the header.
TEST_F(ConfigTemplateTest, HoldsChannelZeroAndReadsBackEqualWithoutSource)
{
    const TemplateSource source{QStringLiteral("Hall\nCh { timeout: 1 }"),
                                QStringLiteral("02-C1-00-00-01-01"), QStringLiteral("10.77.0.11"),
                                QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC)};
    const QByteArray text = MakeTemplate(kDeviceConfig, source);
    EXPECT_TRUE(text.startsWith("# QEL IP Tool template\n# Tool version: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("# Source device: Hall\xEF\xBF\xBD"
                              "Ch { timeout: 1 }\n"));
    EXPECT_TRUE(text.contains("# Source MAC address: 02-C1-00-00-01-01\n# Source IP address: 10.77.0.11\n"
                              "# Saved (UTC): 2026-03-04T05:06:07Z\n"));
    EXPECT_FALSE(text.contains("videoSource"));
    EXPECT_FALSE(text.contains("password"));
    EXPECT_FALSE(text.contains("s3cret"));
    EXPECT_FALSE(text.contains("mog"));
    EXPECT_TRUE(text.contains("enable: false"));

    std::unique_ptr<VcaConfigReader> back;
    QString error;
    ASSERT_TRUE(ReadConfigTemplate(text, back, error)) << error.toStdString();
    EXPECT_FALSE(back->Config().has_videosource());
    ASSERT_EQ(back->Config().ch_size(), 1);
    // Field by field, with the disabled zone's enable: false and its quoted name.
    Channel expected = VcaConfigReader(kDeviceConfig).Config().ch(0);
    expected.clear_mog();
    expected.clear_reinitthreshold();
    EXPECT_EQ(back->Config().ch(0).DebugString(), expected.DebugString());
    EXPECT_EQ(back->Config().ch(0).zones(1).name(), "Side \"B\"");
}

// A template is made only from what can be trusted, and read only when it
// reads whole with every point inside the 16-bit picture range.
TEST_F(ConfigTemplateTest, RefusesConfigurationsAndTemplatesThatCannotBeTrusted)
{
    QByteArray text;
    QString error;
    const QByteArray cut = QByteArray(kDeviceConfig).left(200);
    EXPECT_FALSE(MakeConfigTemplate(VcaConfigReader(cut), {}, text, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("The device's configuration could not be read whole")))
        << error.toStdString();
    EXPECT_TRUE(text.isEmpty());
    QByteArray wide = kDeviceConfig;
    wide.replace("x: 3 y: 4", "x: 3 y: 70000");
    EXPECT_FALSE(MakeConfigTemplate(VcaConfigReader(wide), {}, text, error));
    EXPECT_EQ(error, QStringLiteral("Zone 'Side \"B\"' has a point outside 0–65535 (3, 70000)"));
    QByteArray unknownType = kDeviceConfig;
    unknownType.replace("type: PREALARM", "type: TRIPWIRE");
    EXPECT_FALSE(MakeConfigTemplate(VcaConfigReader(unknownType), {}, text, error));
    EXPECT_EQ(error,
              QStringLiteral("The device's configuration holds a value this tool does not know (line 3: "
                             "type TRIPWIRE); a template would not hold it"));
    EXPECT_TRUE(text.isEmpty());

    const QByteArray made = MakeTemplate(kDeviceConfig);
    const QString cutRefusal = Refusal(made.left(made.indexOf("campos") + 12));
    EXPECT_TRUE(cutRefusal.startsWith(QStringLiteral("The template could not be read whole (line ")))
        << cutRefusal.toStdString();
    EXPECT_TRUE(cutRefusal.endsWith(QStringLiteral("the end of the text)"))) << cutRefusal.toStdString();
    QByteArray wideTemplate = made;
    wideTemplate.replace("x: 100", "x: 70000");
    EXPECT_EQ(Refusal(wideTemplate), QStringLiteral("Zone 'Gate' has a point outside 0–65535 (70000, 200)"));
    QByteArray unknownInTemplate = made;
    unknownInTemplate.replace("type: NONDETECTION", "type: TRIPWIRE");
    EXPECT_TRUE(Refusal(unknownInTemplate)
                    .startsWith(QStringLiteral("The template holds a value this tool does not know (line ")));
    EXPECT_EQ(Refusal("# QEL IP Tool template\nvideoSource { model: \"m\" }\n"),
              QStringLiteral("The template holds no channel 0"));
    EXPECT_EQ(
        Refusal("Ch {\n  zones { id: 1 name: \"a\" enable: true style: LINE }\n  timeout: x\n}\n"),
        QStringLiteral("The template could not be read whole (line 3, column 12: Expected integer, got: x)"));
}

// The source's video size travels in the header only when it is known, and
// is read from the header alone.
TEST_F(ConfigTemplateTest, SourceVideoSizeInHeader)
{
    TemplateSource source;
    source.videoWidth = 1920;
    source.videoHeight = 1080;
    int width = 0;
    int height = 0;
    const QByteArray sized = MakeTemplate(kDeviceConfig, source);
    EXPECT_TRUE(sized.contains("\n# Source video size: 1920x1080\n"));
    EXPECT_TRUE(ReadTemplateVideoSize(sized, width, height));
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
    std::unique_ptr<VcaConfigReader> reader;
    QString error;
    EXPECT_TRUE(ReadConfigTemplate(sized, reader, error)) << error.toStdString();

    EXPECT_FALSE(ReadTemplateVideoSize(MakeTemplate(kDeviceConfig), width, height));
    EXPECT_EQ(width, 0);
    EXPECT_FALSE(ReadTemplateVideoSize("Ch {\n}\n# Source video size: 640x480\n", width, height));
}

// The requests of each part are the pages' own texts, a name percent-encoded
// and a disabled zone sent as such; a frame rate the encoder request cannot
// carry is a problem of the part, which then has no requests.
TEST_F(ConfigTemplateTest, PartCommandsAreThePagesRequests)
{
    const VcaConfigReader tmpl{QByteArray(kDeviceConfig)};
    const std::vector<QString> zones = TemplatePartCommands(tmpl, TemplatePart::Zones);
    ASSERT_EQ(zones.size(), 3u);
    EXPECT_EQ(zones[0], QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*"));
    EXPECT_EQ(zones[1], QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=zone&id=1&"
                                       "enable=yes&name=Gate&points=100:200,65535:0,300:65535,"));
    EXPECT_EQ(zones[2], QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=zone&id=7&"
                                       "enable=no&name=Side%20%22B%22&points=1:2,3:4,"));
    EXPECT_EQ(TemplatePartCommands(tmpl, TemplatePart::Classifier),
              (std::vector<QString>{
                  QStringLiteral("/qel-cgi/admin/setzonetimeout.fcgi?timeout=17"),
                  QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Obj*"),
                  QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=objectclass&"
                                 "minArea=0.5&maxArea=2&minHeight=1&maxHeight=2.2"),
                  QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=objectclass&"
                                 "minArea=3&maxArea=12&minHeight=1.2&maxHeight=4")}));
    EXPECT_EQ(TemplatePartCommands(tmpl, TemplatePart::Encoder),
              std::vector<QString>{QStringLiteral("/qel-cgi/admin/encoder.fcgi?bitrate=1500000&fps=12")});
    EXPECT_EQ(TemplatePartCommands(tmpl, TemplatePart::Camera),
              std::vector<QString>{QStringLiteral(
                  "/qel-cgi/admin/"
                  "vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=40&camangle=25&height=4.5")});

    const VcaConfigReader fast{QByteArray("Ch { encoder { fps: 45 bitrate: 1000 } }\n")};
    EXPECT_FALSE(TemplatePartProblem(fast, TemplatePart::Encoder).isEmpty());
    EXPECT_TRUE(TemplatePartCommands(fast, TemplatePart::Encoder).empty());
}

// A part matches when the device holds what its requests write, whatever
// else differs; a device holding two zones of one id, classes in another
// order or no channel at all does not match.
TEST_F(ConfigTemplateTest, PartsMatchWhatTheirRequestsWrite)
{
    const VcaConfigReader tmpl{QByteArray(kDeviceConfig)};
    const auto matches = [&tmpl](QByteArray device, const char* from, const char* to) {
        device.replace(from, to);
        const VcaConfigReader reader(device);
        std::vector<TemplatePart> parts;
        for (const TemplatePart part :
             {TemplatePart::Zones, TemplatePart::Classifier, TemplatePart::Encoder, TemplatePart::Camera}) {
            if (TemplatePartMatches(tmpl, reader, part)) {
                parts.push_back(part);
            }
        }
        return parts;
    };
    const std::vector<TemplatePart> all{TemplatePart::Zones, TemplatePart::Classifier, TemplatePart::Encoder,
                                        TemplatePart::Camera};
    const QByteArray same(kDeviceConfig);
    EXPECT_EQ(matches(same, "history: 100", "history: 7"), all);
    EXPECT_EQ(matches(same, "password: \"s3cret-src\"", "password: \"x\""), all);

    const std::vector<TemplatePart> notZones{TemplatePart::Classifier, TemplatePart::Encoder,
                                             TemplatePart::Camera};
    EXPECT_EQ(matches(same, "name: \"Gate\"", "name: \"Gate2\""), notZones);
    EXPECT_EQ(matches(same, "enable: false", "enable: true"), notZones);
    EXPECT_EQ(matches(same, "x: 3 y: 4", "x: 3 y: 5"), notZones);
    // The add request cannot write a zone's type: a template zone of another
    // type than the device's is not held by the device.
    EXPECT_EQ(matches(same, "type: PREALARM", "type: ALARM"), notZones);
    // A zone of the same id before the template's: it reads as one zone.
    EXPECT_EQ(matches(same, "  zones { id: 7",
                      "  zones { id: 7 points { x: 9 y: 9 } enable: true name: \"Dup\" }\n  zones { id: 7"),
              notZones);

    const std::vector<TemplatePart> notClassifier{TemplatePart::Zones, TemplatePart::Encoder,
                                                  TemplatePart::Camera};
    EXPECT_EQ(matches(same, "timeout: 17", "timeout: 18"), notClassifier);
    EXPECT_EQ(matches(same, "maxHeight: 2.2", "maxHeight: 2.2000001"), notClassifier);
    EXPECT_EQ(matches(same, "objectClasses { minArea: 0.5 maxArea: 2 minHeight: 1 maxHeight: 2.2 }\n", ""),
              notClassifier);

    EXPECT_EQ(
        matches(same, "fps: 12", "fps: 13"),
        (std::vector<TemplatePart>{TemplatePart::Zones, TemplatePart::Classifier, TemplatePart::Camera}));
    EXPECT_EQ(
        matches(same, "height: 4.5", "height: 4.25"),
        (std::vector<TemplatePart>{TemplatePart::Zones, TemplatePart::Classifier, TemplatePart::Encoder}));
    EXPECT_TRUE(
        matches("videoSource { model: \"m\" host: \"h\" login: \"l\" password: \"p\" }\n", "", "").empty());
}

// The command line's part list: exactly the parts named, in sending order;
// an unknown or empty word leaves the choice as it was.
TEST_F(ConfigTemplateTest, PartListOfTheCommandLine)
{
    TemplatePartChoice choice;
    EXPECT_EQ(PrintTemplateParts(choice), QStringLiteral("zones,classifier,encoder"));
    QString error;
    ASSERT_TRUE(ParseTemplateParts(QStringLiteral("camera,zones"), choice, error));
    EXPECT_EQ(choice.Chosen(), (std::vector<TemplatePart>{TemplatePart::Zones, TemplatePart::Camera}));
    for (const char* bad : {"zones,cam", "zones,", ""}) {
        EXPECT_FALSE(ParseTemplateParts(QString::fromLatin1(bad), choice, error)) << bad;
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(PrintTemplateParts(choice), QStringLiteral("zones,camera"));
    }
}
