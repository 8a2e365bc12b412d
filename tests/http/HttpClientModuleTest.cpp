// HttpClientModule against the device simulator on loopback.
#include "HttpClientModule.h"

#include "HttpFailureText.h"
#include "LogCapture.h"
#include "LoopbackSim.h"
#include "TestHelpers.h"
#include "VcaConfigReader.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {

const std::string kConfigPath = "/qel-cgi/admin/getconfig.fcgi";
const std::string kCamPath = "/qel-cgi/admin/getcam.fcgi";
const std::string kRemoveZonesPath = "/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*";
const std::string kZoneTimeoutPath = "/qel-cgi/admin/setzonetimeout.fcgi?timeout=5";
constexpr int kWaitMs = 10000;

// Everything a module reported, in order, as "Done:<body>" or "Failed:<text>".
class Recorder : public QObject {
public:
    explicit Recorder(HttpClientModule& module)
    {
        connect(&module, &HttpClientModule::Done, this, [this](const QByteArray& content) {
            events.push_back(QStringLiteral("Done:") + QString::fromUtf8(content));
        });
        connect(&module, &HttpClientModule::Failed, this,
                [this](const QString& text) { events.push_back(QStringLiteral("Failed:") + text); });
    }
    bool WaitFor(int count, int timeoutMs = kWaitMs) const
    {
        return QTest::qWaitFor([&] { return events.size() >= count; }, timeoutMs);
    }
    QStringList events;
};

int SentCount(const LogCapture& log)
{
    int count = 0;
    for (const std::string& message : log.Messages()) {
        count += message.rfind(kHttpSent, 0) == 0 ? 1 : 0;
    }
    return count;
}

// The zones in the configuration a "Done:" event carries; -1 when it carries none.
int ZoneCount(const QString& event)
{
    ZonesMap zones;
    QString error;
    const QString done = QStringLiteral("Done:");
    if (!event.startsWith(done) ||
        !VcaConfigReader(event.mid(done.size()).toUtf8()).ReadZones(zones, error)) {
        return -1;
    }
    return static_cast<int>(zones.size());
}

} // namespace

class HttpClientModuleTest : public QObject {
    Q_OBJECT
private slots:
    void doneCarriesTheWholeBody();
    void emptyBodyIsDone();
    void errorStatusAndRefusedConnectionFail();
    void authenticationChallengeFailsWithItsOwnText();
    void challengeToAnotherModulesReplyIsIgnored();
    void redirectionGivesTheResolvedUrl();
    void startLaterTwiceSendsOnlyTheSecond();
    void startWhileInFlightIsQueued();
    void startFromInsideDoneRunsNext();
    void abortAndDestructionInFlight();
    void answerPastTheSizeLimitFailsAndTheNextUrlGoesOut();
    void failedNthWriteChangesNothingAndOnlyItFails();
    void writeAnsweredTooLateHasTakenEffectForTheNextRequest();
};

void HttpClientModuleTest::doneCarriesTheWholeBody()
{
    LoopbackSim sim;
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    QSignalSpy done(&module, &HttpClientModule::Done);
    module.Start(sim.Url(kConfigPath));
    QVERIFY(done.wait(kWaitMs));
    const QByteArray body = done.at(0).at(0).toByteArray();
    QVERIFY(body.startsWith("Ch {"));
    QVERIFY(body.endsWith("}\n"));
    ZonesMap zones;
    QString error;
    QVERIFY(VcaConfigReader(body).ReadZones(zones, error));
    QCOMPARE(zones.size(), size_t{1});
}

void HttpClientModuleTest::emptyBodyIsDone()
{
    LoopbackSim sim({QStringLiteral("--http-status"), QStringLiteral("200")});
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    Recorder recorder(module);
    module.Start(sim.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(1));
    QCOMPARE(recorder.events, QStringList{QStringLiteral("Done:")});
}

void HttpClientModuleTest::errorStatusAndRefusedConnectionFail()
{
    LoopbackSim sim({QStringLiteral("--http-status"), QStringLiteral("500")});
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    Recorder recorder(module);
    module.Start(sim.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(1));
    QVERIFY(recorder.events.at(0).startsWith(QStringLiteral("Failed:HTTP request failed: ")));
    QVERIFY(recorder.events.at(0).contains(QStringLiteral("Internal Server Error")));

    module.StartLater("http://127.0.0.1:" + std::to_string(LoopbackSim::FreeTcpPort()) + kConfigPath);
    QVERIFY(recorder.WaitFor(2));
    QCOMPARE(recorder.events.at(1), QStringLiteral("Failed:HTTP request failed: Connection refused"));
}

void HttpClientModuleTest::authenticationChallengeFailsWithItsOwnText()
{
    const QString expected = QStringLiteral("Failed:Authentication required, not implemented");
    {
        LoopbackSim sim({QStringLiteral("--http-reject-auth")});
        QVERIFY(sim.IsReady());
        HttpClientModule module(nullptr);
        Recorder recorder(module);
        module.Start(sim.Url(kConfigPath));
        QVERIFY(recorder.WaitFor(1));
        QCOMPARE(recorder.events, QStringList{expected});
    }
    // A write command asks for Digest credentials; none are offered, so the
    // device keeps its zones.
    LoopbackSim sim;
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    Recorder recorder(module);
    module.Start(sim.Url("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*"));
    module.StartLater(sim.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(2));
    QCOMPARE(recorder.events.at(0), expected);
    ZonesMap zones;
    QString error;
    QVERIFY(VcaConfigReader(recorder.events.at(1).mid(5).toUtf8()).ReadZones(zones, error));
    QCOMPARE(zones.size(), size_t{1});
}

void HttpClientModuleTest::challengeToAnotherModulesReplyIsIgnored()
{
    LoopbackSim slowSim({QStringLiteral("--http-delay-ms"), QStringLiteral("700")});
    LoopbackSim sim;
    QVERIFY(slowSim.IsReady() && sim.IsReady());
    HttpClientModule reader(nullptr);
    HttpClientModule writer(nullptr);
    Recorder readerEvents(reader);
    Recorder writerEvents(writer);
    reader.Start(slowSim.Url(kCamPath));
    writer.Start(sim.Url("/qel-cgi/admin/setzonetimeout.fcgi?timeout=5"));
    QVERIFY(writerEvents.WaitFor(1));
    QCOMPARE(writerEvents.events.at(0), QStringLiteral("Failed:Authentication required, not implemented"));
    QVERIFY(readerEvents.events.isEmpty());
    QVERIFY(readerEvents.WaitFor(1));
    QVERIFY(readerEvents.events.at(0).startsWith(QStringLiteral("Done:model=axis\r\nhost=")));
}

void HttpClientModuleTest::redirectionGivesTheResolvedUrl()
{
    const std::string prefix = "Failed:Failed. Redirection is not supported. New URL: ";
    LoopbackSim absolutePath({QStringLiteral("--http-redirect"), QStringLiteral("/other/place.cgi?x=1")});
    LoopbackSim relativePath({QStringLiteral("--http-redirect"), QStringLiteral("next.cgi")});
    QVERIFY(absolutePath.IsReady() && relativePath.IsReady());
    HttpClientModule module(nullptr);
    Recorder recorder(module);
    module.Start(absolutePath.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(1));
    QCOMPARE(recorder.events.at(0),
             QString::fromStdString(prefix + absolutePath.Url("/other/place.cgi?x=1")));
    module.Start(relativePath.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(2));
    QCOMPARE(recorder.events.at(1),
             QString::fromStdString(prefix + relativePath.Url("/qel-cgi/admin/next.cgi")));
}

void HttpClientModuleTest::startLaterTwiceSendsOnlyTheSecond()
{
    LoopbackSim sim({QStringLiteral("--http-delay-ms"), QStringLiteral("200")});
    QVERIFY(sim.IsReady());
    LogCapture log;
    HttpClientModule module(nullptr);
    Recorder recorder(module);
    module.StartLater(sim.Url(kConfigPath));
    QCOMPARE(SentCount(log), 1); // idle: sent at once
    module.StartLater(sim.Url("/qel-cgi/admin/unknown.cgi"));
    module.StartLater(sim.Url(kCamPath));
    QCOMPARE(SentCount(log), 1);
    QVERIFY(recorder.WaitFor(2));
    QVERIFY(recorder.events.at(0).startsWith(QStringLiteral("Done:Ch {")));
    QVERIFY(recorder.events.at(1).startsWith(QStringLiteral("Done:model=")));
    QTest::qWait(400); // a third request would have answered by now
    QCOMPARE(recorder.events.size(), 2);
    QCOMPARE(SentCount(log), 2);
    QVERIFY(log.Contains(kHttpSent + sim.Url(kCamPath)));
}

void HttpClientModuleTest::startWhileInFlightIsQueued()
{
    LoopbackSim sim({QStringLiteral("--http-delay-ms"), QStringLiteral("200")});
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    Recorder recorder(module);
    module.Start(sim.Url(kCamPath));
    module.Start(sim.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(2));
    QVERIFY(recorder.events.at(0).startsWith(QStringLiteral("Done:model=")));
    QVERIFY(recorder.events.at(1).startsWith(QStringLiteral("Done:Ch {")));
}

void HttpClientModuleTest::startFromInsideDoneRunsNext()
{
    LoopbackSim sim;
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    Recorder recorder(module);
    bool chained = false;
    connect(&module, &HttpClientModule::Done, &module, [&] {
        if (!chained) {
            chained = true;
            module.Start(sim.Url(kCamPath));
        }
    });
    module.Start(sim.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(2));
    QVERIFY(recorder.events.at(1).startsWith(QStringLiteral("Done:model=")));
}

void HttpClientModuleTest::abortAndDestructionInFlight()
{
    LoopbackSim sim({QStringLiteral("--http-delay-ms"), QStringLiteral("500")});
    QVERIFY(sim.IsReady());
    const QString aborted = QStringLiteral("Failed:HTTP request is aborted by user");
    HttpClientModule idle(nullptr);
    Recorder idleEvents(idle);
    idle.Abort(); // nothing in flight: nothing happens
    QCOMPARE(idleEvents.events.size(), 0);

    LogCapture log;
    QStringList events;
    {
        HttpClientModule module(nullptr);
        connect(&module, &HttpClientModule::Failed, &idle,
                [&events](const QString& text) { events.push_back(QStringLiteral("Failed:") + text); });
        module.Start(sim.Url(kConfigPath));
        module.Abort();
        QCOMPARE(events, QStringList{aborted});
        module.Start(sim.Url(kConfigPath));
        module.StartLater(sim.Url(kCamPath));
    }
    // The queued URL is dropped with the module, not sent from its destructor.
    QCOMPARE(events, (QStringList{aborted, aborted}));
    QCOMPARE(SentCount(log), 2);
    QVERIFY(log.Contains("Will call Abort() from destructor..."));
}

void HttpClientModuleTest::answerPastTheSizeLimitFailsAndTheNextUrlGoesOut()
{
    const QString tooLarge = QStringLiteral("Failed:HTTP request failed: the answer is larger than 4 MiB");
    const QString limit = QString::number(4 * 1024 * 1024);
    LoopbackSim endless({QStringLiteral("--http-endless"), QStringLiteral("getconfig.fcgi")});
    LoopbackSim atLimit({QStringLiteral("--http-endless"), QStringLiteral("getconfig.fcgi"),
                         QStringLiteral("--http-endless-bytes"), limit});
    LoopbackSim pastLimit({QStringLiteral("--http-endless"), QStringLiteral("getconfig.fcgi"),
                           QStringLiteral("--http-endless-bytes"), QString::number(limit.toLongLong() + 1)});
    QVERIFY(endless.IsReady() && atLimit.IsReady() && pastLimit.IsReady());
    HttpClientModule module(nullptr);
    Recorder recorder(module);

    // A body that never ends, then a load queued behind it.
    module.Start(endless.Url(kConfigPath));
    module.StartLater(endless.Url(kCamPath));
    QVERIFY(recorder.WaitFor(2));
    QCOMPARE(recorder.events.at(0), tooLarge);
    QVERIFY(recorder.events.at(1).startsWith(QStringLiteral("Done:model=")));

    // A body of exactly the limit is whole; one byte more is announced too large.
    module.Start(atLimit.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(3));
    QCOMPARE(recorder.events.at(2).size(), 5 + limit.toInt());
    module.Start(pastLimit.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(4));
    QCOMPARE(recorder.events.at(3), tooLarge);
}

void HttpClientModuleTest::failedNthWriteChangesNothingAndOnlyItFails()
{
    // Every write passes a challenge first; only accepted writes count, so
    // the second write is the zone removal.
    LoopbackSim sim({QStringLiteral("--http-fail-nth-write"), QStringLiteral("2")});
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    module.SetCredentials(QStringLiteral("root"), QStringLiteral("kqzt"));
    Recorder recorder(module);
    for (const std::string& path :
         {kZoneTimeoutPath, kRemoveZonesPath, kConfigPath, kRemoveZonesPath, kConfigPath}) {
        module.Start(sim.Url(path));
        QVERIFY(recorder.WaitFor(recorder.events.size() + 1));
    }
    QVERIFY(recorder.events.at(0).startsWith(QStringLiteral("Done:")));
    QVERIFY(recorder.events.at(1).startsWith(QStringLiteral("Failed:HTTP request failed: ")));
    QVERIFY(recorder.events.at(1).contains(QStringLiteral("Internal Server Error")));
    QCOMPARE(ZoneCount(recorder.events.at(2)), 1);
    QVERIFY(recorder.events.at(3).startsWith(QStringLiteral("Done:")));
    QCOMPARE(ZoneCount(recorder.events.at(4)), 0);
}

void HttpClientModuleTest::writeAnsweredTooLateHasTakenEffectForTheNextRequest()
{
    LoopbackSim sim({QStringLiteral("--http-write-after-timeout"), QStringLiteral("1")});
    QVERIFY(sim.IsReady());
    HttpClientModule module(nullptr);
    module.SetCredentials(QStringLiteral("root"), QStringLiteral("kqzt"));
    Recorder recorder(module);
    module.Start(sim.Url(kRemoveZonesPath));
    QVERIFY(recorder.WaitFor(1, kHttpTransferTimeoutMs + kWaitMs));
    QVERIFY(recorder.events.at(0).startsWith(QStringLiteral("Failed:")));
    QVERIFY(recorder.events.at(0).contains(QStringLiteral("timed out")));
    // Sent at once: the device need not have noticed the client give up.
    module.Start(sim.Url(kConfigPath));
    QVERIFY(recorder.WaitFor(2));
    QCOMPARE(ZoneCount(recorder.events.at(1)), 0);
    // Only that write is held.
    module.Start(sim.Url(kZoneTimeoutPath));
    QVERIFY(recorder.WaitFor(3));
    QVERIFY(recorder.events.at(2).startsWith(QStringLiteral("Done:")));
}

QTEST_GUILESS_MAIN(HttpClientModuleTest)
#include "HttpClientModuleTest.moc"
