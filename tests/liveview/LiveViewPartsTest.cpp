// The live view's parts without a device: the source page's requests, the
// log form of their URLs, the frame hand-over from the video thread (and its
// bound when the GUI thread falls behind), the decoding thread, the
// handler that stops a device on its first error, the stream facts of the
// caption, and snapshot files.
#include "AnnexB.h"
#include "FrameHandOver.h"
#include "H264Sps.h"
#include "LiveDecoder.h"
#include "LogCapture.h"
#include "PictureToImage.h"
#include "RtspDevice.h"
#include "RtspDeviceStopOnErrorHandler.h"
#include "RtspFrameReceiver.h"
#include "SnapshotFile.h"
#include "SourceRequests.h"
#include "StreamFacts.h"
#include "UrlLogText.h"
#include "X264Decoder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

QString QueryValue(const QUrl& url, const QString& key)
{
    return QUrlQuery(url).queryItemValue(key, QUrl::FullyDecoded);
}

TEST(SetCamUrl, PlainValuesAreSentAsTyped)
{
    EXPECT_EQ(ComposeSetCamUrl(QStringLiteral("10.77.0.12"), QStringLiteral("axis"),
                               QStringLiteral("192.168.0.90"), QStringLiteral("admin"),
                               QStringLiteral("secret_1-2.3~"))
                  .toStdString(),
              "http://10.77.0.12/qel-cgi/admin/setcam.fcgi?model=axis&host=192.168.0.90&login=admin"
              "&password=secret_1-2.3~");
}

TEST(SetCamUrl, EveryValueArrivesWholeWhateverItHolds)
{
    const QString model = QStringLiteral("v4l2 & co");
    const QString host = QStringLiteral("cam?x=1#top");
    const QString login = QStringLiteral("ad=min+1");
    const QString password = QStringLiteral("p&w=1#2%3 4+5/;\u00e9\u043f");
    const QUrl url(ComposeSetCamUrl(QStringLiteral("10.77.0.12"), model, host, login, password));
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.host().toStdString(), "10.77.0.12");
    EXPECT_EQ(url.path().toStdString(), "/qel-cgi/admin/setcam.fcgi");
    EXPECT_TRUE(url.fragment().isEmpty()) << "a '#' of a value must not cut the query";
    EXPECT_EQ(QUrlQuery(url).queryItems().size(), 4) << "a value must not add parameters";
    EXPECT_EQ(QueryValue(url, QStringLiteral("model")), model);
    EXPECT_EQ(QueryValue(url, QStringLiteral("host")), host);
    EXPECT_EQ(QueryValue(url, QStringLiteral("login")), login);
    EXPECT_EQ(QueryValue(url, QStringLiteral("password")), password);
}

TEST(EncoderPath, SentOnlyForAPositiveBitrateAndOneToThirtyFps)
{
    struct Case {
        const char* bitrate;
        const char* fps;
        const char* path; // null: nothing is sent
    };
    const Case cases[] = {
        {"2048", "25", "/qel-cgi/admin/encoder.fcgi?bitrate=2048&fps=25"},
        {"1", "1", "/qel-cgi/admin/encoder.fcgi?bitrate=1&fps=1"},
        {"4096", "30", "/qel-cgi/admin/encoder.fcgi?bitrate=4096&fps=30"},
        {"2048", "31", nullptr},
        {"2048", "0", nullptr},
        {"2048", "abc", nullptr},
        {"2048", "-5", nullptr},
        {"2048", "", nullptr},
        {"2048", "25.5", nullptr},
        {"0", "25", nullptr},
        {"-1", "25", nullptr},
        {"", "25", nullptr},
        {"2k", "25", nullptr},
        {"99999999999", "25", nullptr},
    };
    for (const Case& c : cases) {
        std::string path = "untouched";
        const bool sent =
            ComposeEncoderPath(QString::fromLatin1(c.bitrate), QString::fromLatin1(c.fps), path);
        if (c.path != nullptr) {
            EXPECT_TRUE(sent) << c.bitrate << " / " << c.fps;
            EXPECT_EQ(path, c.path);
        } else {
            EXPECT_FALSE(sent) << c.bitrate << " / " << c.fps;
            EXPECT_EQ(path, "untouched");
        }
    }
}

TEST(UrlLogText, PasswordValuesAreHiddenAndAllElseKept)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://1.2.3.4/qel-cgi/admin/setcam.fcgi?model=axis&host=h&login=l&password=p%26w%3D1",
         "http://1.2.3.4/qel-cgi/admin/setcam.fcgi?model=axis&host=h&login=l&password=***"},
        {"http://1.2.3.4/a?password=x&login=l", "http://1.2.3.4/a?password=***&login=l"},
        {"http://1.2.3.4/a?password=&b=1", "http://1.2.3.4/a?password=***&b=1"},
        {"http://1.2.3.4/a?password=x&password=y", "http://1.2.3.4/a?password=***&password=***"},
        // Only the parameter named "password" is hidden.
        {"http://1.2.3.4/a?oldpassword=x&passwords=y", "http://1.2.3.4/a?oldpassword=x&passwords=y"},
        {"http://1.2.3.4/qel-cgi/admin/getcam.fcgi", "http://1.2.3.4/qel-cgi/admin/getcam.fcgi"},
        {"http://1.2.3.4/a?", "http://1.2.3.4/a?"},
        {"http://1.2.3.4/a?b=1&&c=2", "http://1.2.3.4/a?b=1&&c=2"},
        {"http://1.2.3.4/a?password=x#frag", "http://1.2.3.4/a?password=***#frag"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlLogText(c.first), c.second);
    }
}

// A frame lent by the video thread only for the call.
class LentFrame final : public kro::IVideoFrame {
public:
    LentFrame(std::vector<unsigned char>& bytes, const kro::ImageDescr& descriptor)
        : bytes_(bytes), descriptor_(descriptor)
    {
    }
    const void* getData() const override { return bytes_.data(); }
    uint64_t getSize() const override { return bytes_.size(); }
    kro::ImageDescr getDescriptor() const override { return descriptor_; }

private:
    std::vector<unsigned char>& bytes_;
    kro::ImageDescr descriptor_;
};

TEST(RtspFrameReceiver, FramesFromTheVideoThreadArriveQueuedAsCopies)
{
    RtspFrameReceiver receiver(nullptr);
    struct Received {
        QByteArray bytes;
        kro::UnitKind kind = kro::UnitKind::Other;
        std::thread::id thread;
    };
    std::vector<Received> received;
    QObject guiSide;
    QObject::connect(&receiver, &RtspFrameReceiver::FrameReceived, &guiSide,
                     [&received](const QByteArray& b, kro::UnitKind kind) {
                         received.push_back({b, kind, std::this_thread::get_id()});
                     });

    std::thread video([&receiver] {
        std::vector<unsigned char> buffer = {0, 0, 0, 1, 0x65, 0x88, 0x84};
        kro::ImageDescr descriptor;
        descriptor.format = kro::MediaFormat::VideoH264;
        {
            const LentFrame frame(buffer, descriptor);
            receiver.NotifyDataReceived(&frame, kro::UnitKind::KeyFrame);
        }
        // The sink reuses its buffer for the next unit at once.
        buffer.assign({0, 0, 0, 1, 0x41, 0x9a});
        {
            const LentFrame frame(buffer, descriptor);
            receiver.NotifyDataReceived(&frame, kro::UnitKind::Picture);
        }
        // Only H.264 is decoded: anything else is not handed on.
        kro::ImageDescr other;
        const LentFrame unknown(buffer, other);
        receiver.NotifyDataReceived(&unknown, kro::UnitKind::Picture);
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        buffer.clear();
        const LentFrame empty(buffer, descriptor);
        receiver.NotifyDataReceived(&empty, kro::UnitKind::Other);
    });
    video.join();
    EXPECT_TRUE(received.empty()) << "frames must be queued, not delivered on the video thread";

    QElapsedTimer waited;
    waited.start();
    while (received.size() < 3 && waited.elapsed() < 5000) {
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    ASSERT_EQ(received.size(), 3u);
    for (const Received& r : received) {
        EXPECT_EQ(r.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(received[0].bytes, QByteArray::fromHex("00000001658884"));
    EXPECT_EQ(received[0].kind, kro::UnitKind::KeyFrame);
    EXPECT_EQ(received[1].bytes, QByteArray::fromHex("00000001419a"));
    EXPECT_EQ(received[1].kind, kro::UnitKind::Picture);
    EXPECT_TRUE(received[2].bytes.isEmpty());
}

// Units as the sink hands them on, each pushed with the kind the sink gives it.
QByteArray Unit(const char* hex)
{
    return QByteArray::fromHex("00000001") + QByteArray::fromHex(hex);
}

std::vector<QByteArray> TakeBytes(FrameHandOver& handOver, bool& more)
{
    std::vector<QByteArray> taken;
    for (const FrameHandOver::Unit& unit : handOver.TakePicture(more)) {
        taken.push_back(unit.bytes);
    }
    return taken;
}

TEST(FrameHandOver, ABackloggedGuiGetsWholePicturesAndSkipsToTheNextKeyFrame)
{
    FrameHandOver handOver;
    using K = kro::UnitKind;
    const auto push = [&handOver](const QByteArray& bytes, K kind) {
        return handOver.Push(bytes.constData(), static_cast<size_t>(bytes.size()), kind);
    };
    const QByteArray sps = Unit("6742001e");
    // A key frame with the SDP's parameter sets in front, in two slices.
    const QByteArray key0 = Unit("6742001e") + Unit("68ce") + Unit("6588aa");
    const QByteArray key0b = Unit("6742001e") + Unit("68ce") + Unit("65448a");
    EXPECT_TRUE(push(sps, K::ParameterSet)) << "the first unit wakes the GUI thread";
    EXPECT_FALSE(push(key0, K::KeyFrame)) << "one wake-up is outstanding already";
    EXPECT_FALSE(push(key0b, K::KeyFrameSlice));
    EXPECT_FALSE(push(Unit("419a01"), K::Picture));
    EXPECT_FALSE(push(Unit("419a02"), K::Picture));
    ASSERT_EQ(FrameHandOver::kMaxPictures, 3u);
    // Full: the next picture, its second slice and every picture up to the
    // next key frame are left out.
    EXPECT_FALSE(push(Unit("419a03"), K::Picture));
    EXPECT_FALSE(push(Unit("414403"), K::PictureSlice));

    bool more = false;
    EXPECT_EQ(TakeBytes(handOver, more), (std::vector<QByteArray>{sps, key0, key0b}));
    EXPECT_TRUE(more);
    EXPECT_FALSE(push(Unit("419a04"), K::Picture)) << "room again, but it refers to a left-out picture";
    EXPECT_EQ(TakeBytes(handOver, more), (std::vector<QByteArray>{Unit("419a01")}));

    // A key frame replaces whatever still waits, but for the parameter sets
    // sent right before it.
    const QByteArray key5 = Unit("6588bb");
    EXPECT_FALSE(push(sps, K::ParameterSet));
    EXPECT_FALSE(push(key5, K::KeyFrame));
    EXPECT_FALSE(push(Unit("419a06"), K::Picture));
    EXPECT_EQ(TakeBytes(handOver, more), (std::vector<QByteArray>{sps, key5}));
    EXPECT_EQ(TakeBytes(handOver, more), (std::vector<QByteArray>{Unit("419a06")}));
    EXPECT_FALSE(more);
    EXPECT_TRUE(push(Unit("419a07"), K::Picture)) << "an emptied queue wakes the GUI thread again";
    EXPECT_EQ(handOver.DroppedPictures(), 3u); // 03, 04 and the waiting 02

    // Whatever the stream, no more than the bound ever waits.
    handOver.Clear();
    const QByteArray big(1024 * 1024, '\x11');
    for (int i = 0; i < 100; ++i) {
        const QByteArray bytes = Unit(i % 10 == 0 ? "6588" : "4188") + big;
        push(bytes, i % 10 == 0 ? K::KeyFrame : K::Picture);
        push(Unit("0601ff"), K::Other); // a flood of small non-picture units
    }
    EXPECT_LE(handOver.PeakBytes(), FrameHandOver::kMaxBytes);
}

// The decoding thread hands the GUI thread each picture as the image that
// the decoder alone makes of it, at the views' size, with one signal per
// picture taken; the picture taken last is there at its own size for a
// snapshot, also after the decoding thread has gone on to later pictures. A
// flood of units is bounded, and the decoder goes while it still has units
// to decode.
TEST(LiveDecoder, PicturesReachTheGuiThreadAsTheViewsImages)
{
    std::vector<std::vector<uint8_t>> units = SplitNalUnits(ReadFileBytes(QEL_LIVEVIEW_TEST_CLIP));
    ASSERT_FALSE(units.empty());
    units.push_back({0, 0, 0, 1, 0x09, 0xF0}); // lets the last picture out
    const QSize viewSize(160, 120);
    H264AvDecoder alone;
    alone.initilalize();
    alone.SetMaxOutputSize(160, 120);

    auto decoder = std::make_unique<LiveDecoder>(viewSize);
    QString error;
    ASSERT_TRUE(decoder->Start(error));
    EXPECT_TRUE(decoder->ShownPictureSize().isEmpty());
    EXPECT_TRUE(decoder->ShownPictureAtOwnSize().isNull());
    std::vector<QImage> taken;
    bool taking = true;
    bool signalled = false;
    const std::thread::id gui = std::this_thread::get_id();
    QObject guiSide;
    QObject::connect(decoder.get(), &LiveDecoder::PictureReady, &guiSide, [&] {
        EXPECT_EQ(std::this_thread::get_id(), gui);
        signalled = true;
        if (taking) {
            taken.push_back(decoder->TakePicture());
        }
    });
    const auto push = [&](const std::vector<uint8_t>& unit) {
        decoder->Push(QByteArray(reinterpret_cast<const char*>(unit.data()), static_cast<int>(unit.size())),
                      H264UnitKind(unit.data() + 4, unit.size() - 4));
    };
    // Paced by the pictures, so that none is dropped.
    size_t pictures = 0;
    for (const auto& unit : units) {
        push(unit);
        if (!alone.DecodePicture(unit.data(), static_cast<uint32_t>(unit.size()))) {
            continue;
        }
        ++pictures;
        QElapsedTimer waited;
        waited.start();
        while (taken.size() < pictures && waited.elapsed() < 10000) {
            QCoreApplication::processEvents();
        }
        ASSERT_EQ(taken.size(), pictures);
        EXPECT_EQ(taken.back().format(), QImage::Format_RGB32);
        EXPECT_EQ(taken.back().size(), viewSize);
        EXPECT_EQ(taken.back(), DecodedPictureToImage(alone)) << "picture " << pictures;
        EXPECT_EQ(decoder->ShownPictureSize(), QSize(320, 240));
        const std::unique_ptr<UYVYFrame> own = alone.LastPictureAtOwnSize();
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(decoder->ShownPictureAtOwnSize(), PictureToImage(*own, QImage::Format_RGB888))
            << "picture " << pictures;
    }
    EXPECT_EQ(pictures, 12u);

    // The decoding thread decodes the clip's first picture again, which is
    // not taken: the snapshot stays the picture shown.
    const QImage lastShown = decoder->ShownPictureAtOwnSize();
    taking = false;
    signalled = false;
    H264AvDecoder again;
    again.initilalize();
    for (const auto& unit : units) {
        push(unit);
        if (again.DecodePicture(unit.data(), static_cast<uint32_t>(unit.size()))) {
            break;
        }
    }
    const std::unique_ptr<UYVYFrame> first = again.LastPictureAtOwnSize();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(PictureToImage(*first, QImage::Format_RGB888), lastShown);
    QElapsedTimer waited;
    waited.start();
    while (!signalled && waited.elapsed() < 10000) {
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(signalled);
    EXPECT_EQ(decoder->ShownPictureAtOwnSize(), lastShown);
    EXPECT_EQ(decoder->TakePicture().size(), viewSize);
    EXPECT_EQ(decoder->ShownPictureAtOwnSize(), PictureToImage(*first, QImage::Format_RGB888));

    for (int i = 0; i < 5; ++i) {
        for (const auto& unit : units) {
            push(unit);
        }
    }
    decoder.reset();
}

TEST(RtspDeviceStopOnErrorHandler, AnErrorStopsTheRunningDeviceAndItsTextStays)
{
    LogCapture log;
    RtspDeviceStopOnErrorHandler handler;
    EXPECT_EQ(handler.GetLastError(), "");

    // Nothing listens on port 1 of loopback: DESCRIBE fails at once and the
    // client reports it; only the handler's stop can end Run.
    const std::string url = "rtsp://127.0.0.1:1/ch0_unicast_firststream";
    for (int connection = 0; connection < 2; ++connection) {
        RtspDevice device(url.c_str(), "root", "vbnq", 0, nullptr, 0);
        device.SetErrorHandler(&handler);
        auto run = std::async(std::launch::async, [&device] { device.Run(); });
        ASSERT_EQ(run.wait_for(std::chrono::seconds(20)), std::future_status::ready)
            << "the handler did not stop the loop";
    }
    const std::string text = handler.GetLastError();
    EXPECT_EQ(text.rfind(url + " Failed to get a SDP description: ", 0), 0u) << text;
    EXPECT_TRUE(log.Contains("Error occured: " + text));
}

TEST(StreamFacts, RatesCountTheLastTwoSecondsOrTheStreamsAgeIfShorter)
{
    StreamFacts facts;
    EXPECT_EQ(facts.PicturesPerSecond(1000), 0.0) << "nothing yet";

    // A young stream: one second at 25 pictures/s is 25, not half of it.
    for (int64_t t = 1000; t <= 2000; t += 40) {
        facts.AddBytes(t, 5000);
        facts.AddPicture(t);
    }
    EXPECT_DOUBLE_EQ(facts.PicturesPerSecond(2000), 25.0);
    EXPECT_DOUBLE_EQ(facts.KilobitsPerSecond(2000), 1000.0);

    // Steady: 50 pictures of 5000 bytes in the last 2 s.
    for (int64_t t = 2040; t <= 5960; t += 40) {
        facts.AddBytes(t, 5000);
        facts.AddPicture(t);
    }
    EXPECT_DOUBLE_EQ(facts.PicturesPerSecond(5960), 25.0);
    EXPECT_DOUBLE_EQ(facts.KilobitsPerSecond(5960), 1000.0);

    // The rate doubles with half the bytes per picture: after 2 s only the
    // new rate counts.
    for (int64_t t = 5980; t <= 7960; t += 20) {
        facts.AddBytes(t, 2500);
        facts.AddPicture(t);
    }
    EXPECT_DOUBLE_EQ(facts.PicturesPerSecond(7960), 50.0);
    EXPECT_DOUBLE_EQ(facts.KilobitsPerSecond(7960), 1000.0);

    // The stream stalls: the rates fall to half after 1 s, to 0 after 2 s.
    EXPECT_DOUBLE_EQ(facts.PicturesPerSecond(8960), 25.0);
    EXPECT_DOUBLE_EQ(facts.PicturesPerSecond(9960), 0.0);
    EXPECT_DOUBLE_EQ(facts.KilobitsPerSecond(9960), 0.0);

    // Bytes that complete no picture still count as bit rate.
    for (int64_t t = 10000; t <= 12000; t += 100) {
        facts.AddBytes(t, 1000);
    }
    EXPECT_DOUBLE_EQ(facts.PicturesPerSecond(12000), 0.0);
    EXPECT_DOUBLE_EQ(facts.KilobitsPerSecond(12000), 80.0);

    // A new connection counts from its own first event.
    facts.Reset();
    EXPECT_EQ(facts.KilobitsPerSecond(12000), 0.0);
    facts.AddBytes(20000, 1000);
    facts.AddPicture(20000);
    EXPECT_EQ(facts.PicturesPerSecond(20000), 0.0) << "one instant has no rate";
    facts.AddPicture(20500);
    EXPECT_DOUBLE_EQ(facts.PicturesPerSecond(20500), 2.0);
}

TEST(StreamFacts, CaptionTextIsTheSameInEveryLocale)
{
    const QString expected = QStringLiteral("1920x1080 \u00b7 25.0 fps \u00b7 4096 kbit/s \u00b7 UDP");
    EXPECT_EQ(StreamFacts::CaptionText(1920, 1080, 25.0, 4095.6, QStringLiteral("UDP")), expected);
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(StreamFacts::CaptionText(1920, 1080, 24.96, 4096.4, QStringLiteral("UDP")), expected);
    QLocale::setDefault(previous);
    EXPECT_EQ(StreamFacts::CaptionText(720, 576, 0.0, 0.0, QStringLiteral("TCP")),
              QStringLiteral("720x576 \u00b7 0.0 fps \u00b7 0 kbit/s \u00b7 TCP"));
}

TEST(SnapshotFile, NameIsTheDevicesMadeSafeThenTheLocalTime)
{
    const QDateTime when(QDate(2026, 12, 8), QTime(9, 5, 7));
    EXPECT_EQ(SnapshotFileName(QStringLiteral("Gate"), QStringLiteral("10.77.0.12"), when),
              QStringLiteral("Gate-20261208-090507.png"));
    EXPECT_EQ(SnapshotFileName(QStringLiteral("Tor S\u00fcd 2"), QStringLiteral("10.77.0.12"), when),
              QStringLiteral("Tor S\u00fcd 2-20261208-090507.png"));
    // No way out of the folder, no control characters, no hidden file.
    EXPECT_EQ(
        SnapshotFileName(QStringLiteral("../a/b\\c\x01\x7f\u0085d\n"), QStringLiteral("10.77.0.12"), when),
        QStringLiteral("_._a_b_c___d-20261208-090507.png"));
    EXPECT_EQ(SnapshotFileName(QString(), QStringLiteral("10.77.0.12"), when),
              QStringLiteral("10.77.0.12-20261208-090507.png"));
    EXPECT_EQ(SnapshotFileName(QStringLiteral("  "), QStringLiteral("10.77.0.12"), when),
              QStringLiteral("10.77.0.12-20261208-090507.png"));
    // A long name is cut, never inside a character.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x93\xB7");
    const QString name = SnapshotFileName(QString(63, QLatin1Char('x')) + emoji + emoji, QString(), when);
    EXPECT_EQ(name, QString(63, QLatin1Char('x')) + QStringLiteral("-20261208-090507.png"));
}

TEST(SnapshotFile, SavedWholeNeverOverAnEarlierOneAndAFailureIsSaid)
{
    QImage picture(64, 48, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgb(x * 4, y * 5, (x + y) % 256));
        }
    }
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QString first;
    QString second;
    QString error;
    ASSERT_TRUE(
        SaveSnapshot(picture, folder.path(), QStringLiteral("Gate-20261208-090507.png"), first, error))
        << error.toStdString();
    ASSERT_TRUE(SaveSnapshot(picture.mirrored(), folder.path(), QStringLiteral("Gate-20261208-090507.png"),
                             second, error))
        << error.toStdString();
    EXPECT_EQ(first, QDir(folder.path()).filePath(QStringLiteral("Gate-20261208-090507.png")));
    EXPECT_EQ(second, QDir(folder.path()).filePath(QStringLiteral("Gate-20261208-090507-2.png")));
    EXPECT_EQ(QImage(first).convertToFormat(QImage::Format_RGB888), picture);
    EXPECT_EQ(QImage(second).convertToFormat(QImage::Format_RGB888), picture.mirrored());
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2) << "no temporary file stays";

    // A folder nobody may write into (root included), and one that is gone.
    for (const QString& unusable : {QStringLiteral("/sys/kernel"), folder.filePath(QStringLiteral("gone"))}) {
        QString saved = QStringLiteral("unchanged");
        error.clear();
        EXPECT_FALSE(
            SaveSnapshot(picture, unusable, QStringLiteral("Gate-20261208-090507.png"), saved, error))
            << unusable.toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(saved, QStringLiteral("unchanged"));
    }
}

} // namespace
