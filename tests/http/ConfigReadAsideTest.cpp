// A large configuration is read off the GUI thread and handed over on it,
// once, and never to a context that is gone.
#include "ConfigReadAside.h"

#include "VCA.pb.h"
#include "VcaConfigReader.h"

#include <QtTest>
#include <memory>

namespace {

// Parsing under the sanitizers takes many times longer.
constexpr int kReadTimeoutMs = 60000;

// A whole configuration of `zones` zones, past the size read aside.
QByteArray LargeConfig(int zones)
{
    QByteArray text = "Ch {\n";
    for (int id = 1; id <= zones; ++id) {
        text += "  zones { id: " + QByteArray::number(id) +
                " points { x: 100 y: 200 } points { x: 3000 y: 200 } points { x: 3000 y: 4000 }"
                " enable: true name: \"Zone " +
                QByteArray::number(id) + "\" style: POLYGON }\n";
    }
    return text + "  campos { FOV: 30 }\n  encoder { fps: 25 }\n  mog { history: 2 }\n}\n";
}

} // namespace

class ConfigReadAsideTest : public QObject {
    Q_OBJECT
private slots:
    void largeTextIsHandedOverLaterOnce()
    {
        const QByteArray text = LargeConfig(9000);
        QVERIFY(text.size() > configread::kReadAsideBytes);
        QObject context;
        int calls = 0;
        int zones = -1;
        QVERIFY(!configread::ReadThen(&context, text, [&](const VcaConfigReader& reader) {
            ++calls;
            zones = reader.IsWhole() ? reader.Config().ch(0).zones_size() : -1;
        }));
        QCOMPARE(calls, 0);
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, kReadTimeoutMs);
        QCOMPARE(zones, 9000);
        QTest::qWait(50);
        QCOMPARE(calls, 1);
        QCOMPARE(configread::ReadWaiting(text)->Config().ch(0).zones_size(), 9000);

        bool called = false;
        auto gone = std::make_unique<QObject>();
        configread::ReadThen(gone.get(), text, [&called](const VcaConfigReader&) { called = true; });
        gone.reset();
        QTest::qWait(300);
        QVERIFY(!called);

        QVERIFY(
            configread::ReadThen(&context, LargeConfig(2), [&calls](const VcaConfigReader&) { ++calls; }));
        QCOMPARE(calls, 2);
    }
};

QTEST_GUILESS_MAIN(ConfigReadAsideTest)
#include "ConfigReadAsideTest.moc"
