// HttpClientDialog against the device simulator on loopback: credentials,
// failures offered to the caller, and a write seen by a later read.
#include "HttpClientDialog.h"

#include "HttpClientModule.h"
#include "LogCapture.h"
#include "LoopbackSim.h"
#include "MessageBoxWatcher.h"
#include "VCA.pb.h"
#include "VcaConfigReader.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <iostream>
#include <sstream>

namespace {

constexpr int kWaitMs = 10000;

QByteArray ReadConfig(const LoopbackSim& sim)
{
    HttpClientModule module(nullptr);
    QSignalSpy done(&module, &HttpClientModule::Done);
    module.Start(sim.Url("/qel-cgi/admin/getconfig.fcgi"));
    if (!done.wait(kWaitMs)) {
        return {};
    }
    return done.at(0).at(0).toByteArray();
}

} // namespace

class HttpClientDialogTest : public QObject {
    Q_OBJECT
private slots:
    void digestWriteIsSeenByTheNextRead();
    void basicCredentialsAreOffered();
    void failuresAreOfferedToTheCaller();
    void urlAndHostLine();
    void earlierReplyDoesNotEndTheNextRequest();
    void sequenceStopsOnlyBetweenRequestsAndKeepsItsPlace();
    void staysHiddenUntilARequest();
    void answersPastTheLimitsFail();
};

void HttpClientDialogTest::digestWriteIsSeenByTheNextRead()
{
    LoopbackSim sim;
    QVERIFY(sim.IsReady());
    HttpClientDialog dialog("127.0.0.1", sim.HttpPort(), "root", "kqzt");
    QVERIFY(dialog.request("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*"));
    QCOMPARE(dialog.content(), std::string("OK\r\n"));
    QVERIFY(dialog.request("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=zone&id=4&enable=yes"
                           "&name=Zone_4&points=100:200,3000:200,3000:4000,"));
    QVERIFY(dialog.request("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=zone&id=7&enable=yes"
                           "&name=Zone_7&points=1:2,70000:3,"));
    QVERIFY(dialog.request(
        "/qel-cgi/admin/vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=42&camangle=12&height=2.5"));
    QVERIFY(dialog.request("/qel-cgi/admin/setzonetimeout.fcgi?timeout=15"));
    QVERIFY(dialog.lastError().isEmpty());

    const VcaConfigReader reader(ReadConfig(sim));
    ZonesMap zones;
    CamposValues campos;
    QString error;
    QVERIFY(reader.ReadZones(zones, error));
    const ZonesMap expected{{4, {{100, 200}, {3000, 200}, {3000, 4000}}}, {7, {{1, 2}, {70000 - 65536, 3}}}};
    QVERIFY(zones == expected);
    QVERIFY(reader.ReadCampos(campos, error));
    QCOMPARE(campos.fov, 42.0);
    QCOMPARE(campos.camangle, 12.0);
    QCOMPARE(campos.heightMetres, 2.5);
    QCOMPARE(reader.Config().ch(0).timeout(), 15u);
}

void HttpClientDialogTest::basicCredentialsAreOffered()
{
    LoopbackSim sim({QStringLiteral("--http-auth"), QStringLiteral("basic")});
    QVERIFY(sim.IsReady());
    HttpClientDialog dialog("127.0.0.1", sim.HttpPort(), "root", "kqzt");
    QVERIFY(dialog.request("/qel-cgi/admin/encoder.fcgi?bitrate=1000000&fps=12"));
    QVERIFY(dialog.request("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Obj*"));
    const VcaConfigReader reader(ReadConfig(sim));
    QCOMPARE(reader.Config().ch(0).encoder().bitrate(), 1000000u);
    QCOMPARE(reader.Config().ch(0).encoder().fps(), 12u);
    QCOMPARE(reader.Config().ch(0).objectclasses_size(), 0);
}

void HttpClientDialogTest::failuresAreOfferedToTheCaller()
{
    const std::string path = "/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*";
    LoopbackSim good;
    LoopbackSim rejecting({QStringLiteral("--http-reject-auth")});
    LoopbackSim redirecting({QStringLiteral("--http-redirect"), QStringLiteral("/elsewhere")});
    LoopbackSim failing({QStringLiteral("--http-status"), QStringLiteral("503")});
    QVERIFY(good.IsReady() && rejecting.IsReady() && redirecting.IsReady() && failing.IsReady());

    HttpClientDialog wrongPassword("127.0.0.1", good.HttpPort(), "root", "wrong");
    QVERIFY(!wrongPassword.request(path));
    QVERIFY(wrongPassword.lastError().startsWith(QStringLiteral("HTTP request failed: ")));

    HttpClientDialog refused("127.0.0.1", rejecting.HttpPort(), "root", "kqzt");
    QVERIFY(!refused.request(path));
    QVERIFY(refused.lastError().startsWith(QStringLiteral("HTTP request failed: ")));

    HttpClientDialog redirected("127.0.0.1", redirecting.HttpPort(), "root", "kqzt");
    QVERIFY(!redirected.request(path));
    QCOMPARE(redirected.lastError(),
             QString::fromStdString("Failed. Redirection is not supported. New URL: " +
                                    redirecting.Url("/elsewhere")));

    HttpClientDialog unavailable("127.0.0.1", failing.HttpPort(), "root", "kqzt");
    QVERIFY(!unavailable.request(path));
    QVERIFY(unavailable.lastError().contains(QStringLiteral("Service Unavailable")));

    HttpClientDialog nobody("127.0.0.1", LoopbackSim::FreeTcpPort(), "root", "kqzt");
    QVERIFY(!nobody.request(path));
    QCOMPARE(nobody.lastError(), QStringLiteral("HTTP request failed: Connection refused"));

    // None of them reached the configuration; a good request clears the error.
    ZonesMap zones;
    QString error;
    QVERIFY(VcaConfigReader(ReadConfig(good)).ReadZones(zones, error));
    QCOMPARE(zones.size(), size_t{1});
    HttpClientDialog dialog("127.0.0.1", good.HttpPort(), "root", "kqzt");
    QVERIFY(!dialog.request("/qel-cgi/admin/nothing.cgi"));
    QVERIFY(dialog.request(path));
    QVERIFY(dialog.lastError().isEmpty());
}

void HttpClientDialogTest::urlAndHostLine()
{
    LoopbackSim sim;
    QVERIFY(sim.IsReady());
    LogCapture log;
    std::ostringstream captured;
    std::streambuf* const original = std::cout.rdbuf(captured.rdbuf());
    // With no port of its own the URL is the host text and the path.
    const std::string hostWithPort = "127.0.0.1:" + std::to_string(sim.HttpPort());
    for (const int port : {-1, 0}) {
        HttpClientDialog dialog(hostWithPort, port, "root", "kqzt");
        QVERIFY(dialog.request("/qel-cgi/admin/getcam.fcgi"));
    }
    HttpClientDialog dialog("127.0.0.1", sim.HttpPort(), "root", "kqzt");
    QVERIFY(dialog.request("/qel-cgi/admin/getcam.fcgi"));
    std::cout.rdbuf(original);
    QCOMPARE(captured.str(), hostWithPort + "\n" + hostWithPort + "\n127.0.0.1\n");
    QVERIFY(log.Contains("HttpClientDialog will send HTTP request to URL " +
                         sim.Url("/qel-cgi/admin/getcam.fcgi")));
    QCOMPARE(dialog.content().substr(0, 6), std::string("model="));
}

void HttpClientDialogTest::earlierReplyDoesNotEndTheNextRequest()
{
    LoopbackSim sim({QStringLiteral("--http-delay-ms"), QStringLiteral("600")});
    QVERIFY(sim.IsReady());
    HttpClientDialog dialog("127.0.0.1", sim.HttpPort(), "root", "kqzt");
    // Closing while the reply is outstanding asks first; the question stays
    // after the reply came, until the user answers it, and No keeps the
    // request.
    QPointer<QMessageBox> question;
    QTimer::singleShot(100, &dialog, &QDialog::close);
    QTimer::singleShot(1500, &dialog, [&question] {
        question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (question != nullptr) {
            question->button(QMessageBox::No)->click();
        }
    });
    QVERIFY(dialog.request("/qel-cgi/admin/getconfig.fcgi"));
    QVERIFY(question.isNull() && QApplication::activeModalWidget() == nullptr);
    // Stopped: one question, and the request ends as cancelled.
    MessageBoxWatcher boxes;
    boxes.SetAnswer(QMessageBox::Yes);
    QTimer::singleShot(100, &dialog, &QDialog::close);
    QVERIFY(!dialog.request("/qel-cgi/admin/getconfig.fcgi"));
    QCOMPARE(boxes.Texts(),
             QStringList{QStringLiteral("Sending a command to 127.0.0.1 is not finished. Stop it? "
                                        "The device may hold part of the change.")});
    QCOMPARE(dialog.lastError(), QStringLiteral("The request was cancelled"));
    QVERIFY(dialog.wasCancelledByUser());
    // The first request was aborted: nothing of it may end the second one's
    // wait or leave its data as the second one's.
    QVERIFY(dialog.request("/qel-cgi/admin/getcam.fcgi"));
    QCOMPARE(dialog.content().substr(0, 6), std::string("model="));
}

void HttpClientDialogTest::sequenceStopsOnlyBetweenRequestsAndKeepsItsPlace()
{
    LoopbackSim sim({QStringLiteral("--http-delay-ms"), QStringLiteral("400")});
    QVERIFY(sim.IsReady());
    HttpClientDialog dialog("127.0.0.1", sim.HttpPort(), "root", "kqzt");
    MessageBoxWatcher boxes;
    boxes.SetAnswer(QMessageBox::Yes);
    dialog.BeginSequence(QStringLiteral("Stop?"));
    QVERIFY(dialog.request("/qel-cgi/admin/getcam.fcgi"));
    const QPoint place = dialog.pos();
    QVERIFY(dialog.isVisible());
    QTimer::singleShot(100, &dialog, &QDialog::reject);
    // The request at work is not aborted; the stop is only noted.
    QVERIFY(dialog.request("/qel-cgi/admin/getconfig.fcgi"));
    QVERIFY(dialog.content().find("zones") != std::string::npos);
    QVERIFY(dialog.StopRequested());
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Stop?")});
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.pos(), place);
    dialog.EndSequence();
    QVERIFY(!dialog.isVisible());
    // Shown again where it was.
    QVERIFY(dialog.request("/qel-cgi/admin/getcam.fcgi"));
    QCOMPARE(dialog.pos(), place);
}

void HttpClientDialogTest::staysHiddenUntilARequest()
{
    HttpClientDialog dialog("127.0.0.1", -1, "root", "kqzt");
    QVERIFY(dialog.isModal());
    // QProgressDialog would show itself after its minimum duration.
    QTest::qWait(dialog.minimumDuration() + 500);
    QVERIFY(!dialog.isVisible());
}

// Both clients at once against answers that never end or trickle: each
// fails with its own text, and a load queued behind a failed one still
// comes. Takes the time limit, about a minute.
void HttpClientDialogTest::answersPastTheLimitsFail()
{
    const std::string config = "/qel-cgi/admin/getconfig.fcgi";
    LoopbackSim endless({QStringLiteral("--http-endless"), QStringLiteral("vca.cgi")});
    // A byte every 2 s never lets the 15 s silence time-out fire.
    LoopbackSim trickling({QStringLiteral("--http-trickle"), QStringLiteral("getconfig.fcgi"),
                           QStringLiteral("--http-trickle-ms"), QStringLiteral("2000")});
    QVERIFY(endless.IsReady() && trickling.IsReady());

    HttpClientDialog dialog("127.0.0.1", endless.HttpPort(), "root", "kqzt");
    QVERIFY(!dialog.request("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*"));
    QCOMPARE(dialog.lastError(), QStringLiteral("HTTP request failed: the answer is larger than 4 MiB"));

    HttpClientModule module(nullptr);
    QStringList events;
    connect(&module, &HttpClientModule::Done, this, [&events](const QByteArray& content) {
        events << QStringLiteral("Done:") + QString::fromUtf8(content.left(6));
    });
    connect(&module, &HttpClientModule::Failed, this,
            [&events](const QString& text) { events << QStringLiteral("Failed:") + text; });
    module.Start(trickling.Url(config));
    module.StartLater(trickling.Url("/qel-cgi/admin/getcam.fcgi"));
    HttpClientDialog slow("127.0.0.1", trickling.HttpPort(), "root", "kqzt");
    const QString tooSlow = QStringLiteral("HTTP request failed: the device took more than 60 s to answer");
    QVERIFY(!slow.request(config));
    QCOMPARE(slow.lastError(), tooSlow);
    QVERIFY(QTest::qWaitFor([&events] { return events.size() >= 2; }, kWaitMs));
    QCOMPARE(events, (QStringList{QStringLiteral("Failed:") + tooSlow, QStringLiteral("Done:model=")}));
}

QTEST_MAIN(HttpClientDialogTest)
#include "HttpClientDialogTest.moc"
