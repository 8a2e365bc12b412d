#include "ConfigTemplate.h"

#include "VCA.pb.h"

#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

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
