// The tool's commands as scripts run them, in the virtual LAN: QelIpTool as a
// child process without a terminal, the password in its environment; what
// it prints, its exit codes, and what the simulated devices hold afterwards.
#include "ConfigTemplate.h"
#include "SimDevice.h"
#include "TestHelpers.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

namespace {

constexpr int kCommandTimeoutMs = 60000;

// The configuration that "config save" makes a template of: zones with a
// name that needs escaping and points at the edges, and a video source with a
// password that no template may carry.
const QByteArray kTemplateSource =
    "Ch {\n"
    "  zones { id: 1 points { x: 10 y: 20 } points { x: 30000 y: 20 } points { x: 10 y: 40000 }\n"
    "          enable: true name: \"Tor & Weg\" style: POLYGON }\n"
    "  zones { id: 5 points { x: 1 y: 2 } points { x: 65535 y: 4 } points { x: 3 y: 65535 }\n"
    "          enable: false name: \"Aus\" style: POLYGON }\n"
    "  campos { FOV: 30 camangle: 20 height: 5.5 }\n"
    "  timeout: 42\n"
    "  objectClasses { minArea: 0.5 maxArea: 2.25 minHeight: 1 maxHeight: 2 }\n"
    "  objectClasses { minArea: 4 maxArea: 9 minHeight: 1 maxHeight: 3 }\n"
    "  encoder { fps: 15 bitrate: 1000000 }\n"
    "  mog { history: 500 }\n"
    "}\n"
    "videoSource { model: \"m\" host: \"10.0.0.5\" login: \"admin\" password: \"pw-tpl-src\" }\n";

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run Tool(const QStringList& arguments, const QString& password = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QEL_ADMIN_PASSWORD"));
    if (!password.isNull()) {
        environment.insert(QStringLiteral("QEL_ADMIN_PASSWORD"), password);
    }
    // No display: the commands must not need one.
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QEL_TOOL_PATH), arguments);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(kCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The CSV rows of this test's devices (MAC 02-C1-...), each as its cells;
// the rows hold no quoted commas here.
QList<QStringList> Rows(const QString& csv)
{
    QList<QStringList> rows;
    for (const QString& line : csv.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const QStringList cells = line.split(QLatin1Char(','));
        if (cells.value(3).startsWith(QLatin1String("02-C1-"))) {
            rows << cells;
        }
    }
    return rows;
}

QString Lines(const Run& run)
{
    return QStringLiteral("exit %1\n%2\n%3").arg(run.exitCode).arg(run.out, run.err);
}

// What a simulated device answers to getconfig.fcgi, read without the tool.
QByteArray DeviceConfig(const QString& address)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(
        QNetworkRequest(QUrl(QStringLiteral("http://%1/qel-cgi/admin/getconfig.fcgi").arg(address))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kCommandTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->isFinished() ? reply->readAll() : QByteArray();
    delete reply;
    return body;
}

// A device's zones, timeout, classes, encoder and camera position as text
// that compares whole.
QString Parts(const VcaConfigReader& config)
{
    ZonesMap zones;
    ZoneSettingsMap settings;
    ClassifierValues classifier;
    EncoderValues encoder;
    CamposValues campos;
    QString error;
    if (!config.ReadZones(zones, error) || !config.ReadZoneSettings(settings, error) ||
        !config.ReadClassifier(classifier, error) || !config.ReadEncoder(encoder, error) ||
        !config.ReadCampos(campos, error)) {
        return error;
    }
    QString text;
    for (const auto& zone : zones) {
        text += QStringLiteral("zone %1 %2 %3")
                    .arg(zone.first)
                    .arg(settings[zone.first].name)
                    .arg(settings[zone.first].enable);
        for (const auto& point : zone.second) {
            text += QStringLiteral(" %1,%2").arg(point.first).arg(point.second);
        }
        text += QStringLiteral("; ");
    }
    text += QStringLiteral("timeout %1; ").arg(classifier.timeoutSeconds);
    for (const ObjectClassValues& c : classifier.classes) {
        text += QStringLiteral("class %1 %2 %3 %4; ")
                    .arg(c.minArea)
                    .arg(c.maxArea)
                    .arg(c.minHeight)
                    .arg(c.maxHeight);
    }
    text += QStringLiteral("encoder %1 %2; ").arg(encoder.fps).arg(encoder.bitrate);
    text += QStringLiteral("campos %1 %2 %3").arg(campos.fov).arg(campos.camangle).arg(campos.heightMetres);
    return text;
}

} // namespace

class CommandLineLanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!SimDevice::Available()) {
            QSKIP("needs the virtual LAN (run through ctest)");
        }
    }

    // Three devices share 10.77.0.200 (two with one password, one with
    // another), one sits outside the workstation's network. The search
    // names both problems in its last column. Values that cut a device off
    // and a missing password are refused with exit 2 before anything is
    // sent. --conflicting readdresses the three from 10.77.0.100 on: two
    // confirmed, the one with another password stays "invalid password"
    // (no terminal to ask), exit 1. --mac, in either form, then moves the
    // two others, skipping the addresses now held. No password is printed.
    void searchAndReaddressAsScriptsDo()
    {
        // One simulator per namespace: a device per process, all at one address.
        auto device = [](const char* ns, const char* mac, const char* ip, const char* name,
                         const char* password) {
            return std::make_unique<SimDevice>(
                QString::fromLatin1(ns),
                QStringList{QStringLiteral("--mac"), QString::fromLatin1(mac), QStringLiteral("--ip"),
                            QString::fromLatin1(ip), QStringLiteral("--name"), QString::fromUtf8(name),
                            QStringLiteral("--password"), QString::fromLatin1(password)},
                QStringLiteral("udp"));
        };
        const std::unique_ptr<SimDevice> devices[] = {
            device("dev1", "02:C1:00:00:01:01", "10.77.0.200", "Eingang", "pw-cl-group"),
            device("dev2", "02:C1:00:00:01:02", "10.77.0.200", "Eingang", "pw-cl-group"),
            device("dev3", "02:C1:00:00:02:01", "10.77.0.200", "Hof, Nord", "pw-cl-own"),
            device("dev4", "02:C1:00:00:03:01", "192.168.7.5", "Lager", "pw-cl-own"),
        };
        for (const auto& sim : devices) {
            QVERIFY(sim->IsReady());
        }

        Run search = Tool({QStringLiteral("search"), QStringLiteral("--seconds"), QStringLiteral("2")});
        QVERIFY2(search.exitCode == 0, qPrintable(Lines(search)));
        QVERIFY(search.out.startsWith(
            QStringLiteral("Product name,Device name,IP address,MAC address,Network "
                           "mask,Gateway,Static/DHCP,Firmware,Serial number,Problems\r\n")));
        QVERIFY2(search.out.contains(QStringLiteral(",\"Hof, Nord\",10.77.0.200,02-C1-00-00-02-01,")),
                 qPrintable(search.out));
        QList<QStringList> rows = Rows(search.out);
        QCOMPARE(rows.size(), 3); // the quoted name's row splits apart; the others are whole
        for (const QStringList& row : rows) {
            QCOMPARE(row.last(), row.at(2) == QLatin1String("10.77.0.200")
                                     ? QStringLiteral("Shares 10.77.0.200 with 2 other devices")
                                     : QStringLiteral("Not in this workstation's networks (10.77.0.0/24)"));
        }

        const QStringList conflicting{QStringLiteral("readdress"), QStringLiteral("--first"),
                                      QStringLiteral("10.77.0.100"), QStringLiteral("--conflicting")};
        const struct {
            QStringList extra;
            QString password;
            QString error;
        } refusals[] = {
            {{QStringLiteral("--mask"), QStringLiteral("255.0.255.0")},
             QStringLiteral("pw-cl-group"),
             QStringLiteral(
                 "The network mask 255.0.255.0 is not valid: its ones must all come before its zeros")},
            {{QStringLiteral("--gateway"), QStringLiteral("10.99.0.1")},
             QStringLiteral("pw-cl-group"),
             QStringLiteral("The gateway 10.99.0.1 is outside the device's network 10.77.0.0/24")},
            {{},
             QString(),
             QStringLiteral("No administrator password: set QEL_ADMIN_PASSWORD or run the command on a "
                            "terminal")},
        };
        for (const auto& refusal : refusals) {
            const Run refused = Tool(conflicting + refusal.extra, refusal.password);
            QVERIFY2(refused.exitCode == 2 && refused.err.contains(refusal.error),
                     qPrintable(Lines(refused)));
        }
        const QStringList outside{QStringLiteral("readdress"), QStringLiteral("--first"),
                                  QStringLiteral("10.77.0.100"), QStringLiteral("--outside"),
                                  QStringLiteral("--dry-run")};
        const Run dryRun = Tool(outside);
        QVERIFY2(dryRun.exitCode == 0, qPrintable(Lines(dryRun)));
        QCOMPARE(dryRun.out,
                 QString::fromUtf8("Plan: static addressing; DNS: none \u2014 the devices' current DNS "
                                   "cannot be read, and will be cleared; confirming for up to 10 s\n"
                                   "Device name  MAC address        Current IP address  New IP address\n"
                                   "eth0: mask 255.255.255.0, gateway none\n"
                                   "  Lager      02-C1-00-00-03-01  192.168.7.5         10.77.0.100\n"));
        // A gateway or DNS given is never handed to a device.
        const Run given =
            Tool(outside + QStringList{QStringLiteral("--gateway"), QStringLiteral("10.77.0.100"),
                                       QStringLiteral("--dns"), QStringLiteral("10.77.0.53")});
        QVERIFY2(given.exitCode == 0 && given.out.startsWith(QStringLiteral(
                                            "Plan: static addressing; DNS: 10.77.0.53 (given); confirming")),
                 qPrintable(Lines(given)));
        QVERIFY2(given.out.endsWith(QStringLiteral("eth0: mask 255.255.255.0, gateway 10.77.0.100\n"
                                                   "  Lager      02-C1-00-00-03-01  192.168.7.5         "
                                                   "10.77.0.101\n")),
                 qPrintable(given.out));

        // Nothing was sent so far: all four are still at the shared address.
        const Run readdress = Tool(conflicting, QStringLiteral("pw-cl-group"));
        QVERIFY2(readdress.exitCode == 1, qPrintable(Lines(readdress)));
        const QStringList lines = readdress.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + 5 + 3 + 1);
        QVERIFY2(lines.at(5).startsWith(QStringLiteral("  Hof, Nord  02-C1-00-00-02-01  10.77.0.200         "
                                                       "10.77.0.102")),
                 qPrintable(readdress.out));
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(lines.at(6 + i),
                     QStringLiteral("Readdress of device 02-C1-00-00-01-0%1 at 10.77.0.200 "
                                    "\"Eingang\": IP address 10.77.0.10%2, mask 255.255.255.0, "
                                    "gateway 10.77.0.1, DNS 0.0.0.0, static: confirmed")
                         .arg(i + 1)
                         .arg(i));
        }
        QVERIFY(
            lines.at(8).endsWith(QStringLiteral("\"Hof, Nord\": IP address 10.77.0.102, mask 255.255.255.0, "
                                                "gateway 10.77.0.1, DNS 0.0.0.0, static: invalid password")));
        QCOMPARE(lines.at(9), QStringLiteral("2 of 3 devices readdressed and confirmed; 1 failed"));

        const Run both =
            Tool({QStringLiteral("readdress"), QStringLiteral("--first"), QStringLiteral("10.77.0.100"),
                  QStringLiteral("--mac"), QStringLiteral("02:c1:00:00:02:01"), QStringLiteral("--mac"),
                  QStringLiteral("02-C1-00-00-03-01")},
                 QStringLiteral("pw-cl-own"));
        QVERIFY2(both.exitCode == 0, qPrintable(Lines(both)));
        QVERIFY2(both.out.endsWith(QStringLiteral("2 of 2 devices readdressed and confirmed\n")),
                 qPrintable(both.out));

        search = Tool({QStringLiteral("search"), QStringLiteral("--seconds"), QStringLiteral("2")});
        QVERIFY2(search.exitCode == 0, qPrintable(Lines(search)));
        QStringList after;
        for (const QStringList& row : Rows(search.out)) {
            after << row.at(1) + QLatin1Char(' ') + row.at(2) + QLatin1Char(' ') + row.at(6) +
                         QLatin1Char(' ') + row.last();
        }
        after.sort();
        // Names kept, static addressing, no problem left; "Hof, Nord" at
        // 10.77.0.102 is quoted and checked in the text.
        QCOMPARE(after, QStringList({QStringLiteral("Eingang 10.77.0.100 static "),
                                     QStringLiteral("Eingang 10.77.0.101 static "),
                                     QStringLiteral("Lager 10.77.0.103 static ")}));
        QVERIFY2(search.out.contains(QStringLiteral(",\"Hof, Nord\",10.77.0.102,02-C1-00-00-02-01,")),
                 qPrintable(search.out));

        for (const Run& run : {readdress, both}) {
            QVERIFY(!(run.out + run.err).contains(QLatin1String("pw-cl-")));
        }
    }

    // A device heard on the second port is planned in that port's network:
    // a plain --first serves only the first port's devices, and the rest are
    // refused until they get a first address of their own. Two devices with
    // one MAC are listed apart and refused by it; nothing is sent to them.
    void eachPortGetsItsOwnPlanAndOneMacIsRefused()
    {
        const auto sim = [](const char* ns, const char* mac, const char* ip, const char* serial) {
            return std::make_unique<SimDevice>(
                QString::fromLatin1(ns),
                QStringList{QStringLiteral("--mac"), QString::fromLatin1(mac), QStringLiteral("--ip"),
                            QString::fromLatin1(ip), QStringLiteral("--serial"), QString::fromLatin1(serial)},
                QStringLiteral("udp"));
        };
        const std::unique_ptr<SimDevice> devices[] = {
            sim("dev1", "02:C8:00:00:00:01", "10.77.0.120", "QS-1"),
            sim("s2dev1", "02:C8:00:00:00:02", "10.78.0.120", "QS-2"),
            sim("dev2", "02:C8:00:00:00:09", "10.77.0.121", "QS-A"),
            sim("dev3", "02:C8:00:00:00:09", "10.77.0.122", "QS-B"),
        };
        for (const auto& device : devices) {
            QVERIFY(device->IsReady());
        }
        const QStringList two{QStringLiteral("readdress"),         QStringLiteral("--mac"),
                              QStringLiteral("02-C8-00-00-00-01"), QStringLiteral("--mac"),
                              QStringLiteral("02-C8-00-00-00-02"), QStringLiteral("--first"),
                              QStringLiteral("10.77.0.130")};
        const Run refused = Tool(two, QStringLiteral("admin"));
        QVERIFY2(refused.exitCode == 2 &&
                     refused.err.contains(
                         QStringLiteral("Nothing sent: 1 of the devices answered on eth1 (10.78.0.0/24); "
                                        "give --first eth1=ADDRESS for them")),
                 qPrintable(Lines(refused)));
        const Run both =
            Tool(two + QStringList{QStringLiteral("--first"), QStringLiteral("eth1=10.78.0.130")},
                 QStringLiteral("admin"));
        QVERIFY2(both.exitCode == 0, qPrintable(Lines(both)));
        QVERIFY2(both.out.contains(QStringLiteral("eth1: mask 255.255.255.0, gateway 10.78.0.1\n")) &&
                     both.out.contains(QStringLiteral("IP address 10.77.0.130, mask 255.255.255.0, gateway "
                                                      "10.77.0.1, DNS 0.0.0.0, static: confirmed")) &&
                     both.out.contains(QStringLiteral("IP address 10.78.0.130, mask 255.255.255.0, gateway "
                                                      "10.78.0.1, DNS 0.0.0.0, static: confirmed")),
                 qPrintable(both.out));

        const Run twins =
            Tool({QStringLiteral("readdress"), QStringLiteral("--mac"), QStringLiteral("02-C8-00-00-00-09"),
                  QStringLiteral("--first"), QStringLiteral("10.77.0.140")},
                 QStringLiteral("admin"));
        QVERIFY2(twins.exitCode == 2 && twins.err.contains(QStringLiteral("Two devices answer with MAC "
                                                                          "02-C8-00-00-00-09; a change would "
                                                                          "reach both")),
                 qPrintable(Lines(twins)));
        const Run search = Tool({QStringLiteral("search"), QStringLiteral("--seconds"), QStringLiteral("2")});
        QVERIFY2(search.out.contains(QStringLiteral(",10.77.0.121,02-C8-00-00-00-09,")) &&
                     search.out.contains(QStringLiteral(",10.77.0.122,02-C8-00-00-00-09,")) &&
                     search.out.contains(QStringLiteral("Shares its MAC address with QEL Sim (QS-B)")),
                 qPrintable(search.out));
    }

    // "config save" writes the device's configuration as a template that
    // reads back whole and holds neither the video source nor its password;
    // a configuration cut short is refused with the reader's text and leaves
    // no file; an address that is not numeric IPv4 is a usage error.
    void configSaveWritesTemplateOnlyFromWholeConfiguration()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString seed = WriteFile(dir, QStringLiteral("seed.txt"), kTemplateSource);
        QVERIFY(!seed.isEmpty());
        const QString saved = dir.filePath(QStringLiteral("gate.qeltemplate"));
        {
            SimDevice sim(QStringLiteral("dev1"),
                          {QStringLiteral("--mac"), QStringLiteral("02:C1:00:00:07:01"),
                           QStringLiteral("--http-config-file"), seed},
                          QStringLiteral("http"));
            QVERIFY(sim.IsReady());
            const Run usage =
                Tool({QStringLiteral("config"), QStringLiteral("save"), QStringLiteral("10.77.11"), saved});
            QVERIFY2(usage.exitCode == 2 &&
                         usage.err.startsWith(QStringLiteral("Not an IPv4 address: 10.77.11\n")),
                     qPrintable(Lines(usage)));
            const Run run =
                Tool({QStringLiteral("config"), QStringLiteral("save"), QStringLiteral("10.77.0.11"), saved});
            QVERIFY2(run.exitCode == 0, qPrintable(Lines(run)));
            QCOMPARE(run.out, QStringLiteral(
                                  "Saved the configuration of 10.77.0.11 to %1: 2 zones, 2 object classes\n")
                                  .arg(saved));
        }
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.startsWith("# QEL IP Tool template\n"), text.constData());
        QVERIFY2(text.contains("# Source IP address: 10.77.0.11\n"), text.constData());
        QVERIFY(!text.contains("password") && !text.contains("pw-tpl-src") && !text.contains("videoSource"));
        QVERIFY(text.contains("name: \"Aus\"") && text.contains("timeout: 42") && text.contains("x: 30000"));
        std::unique_ptr<VcaConfigReader> reader;
        QString error;
        QVERIFY2(ReadConfigTemplate(text, reader, error), qPrintable(error));

        const QString refused = dir.filePath(QStringLiteral("cut.qeltemplate"));
        SimDevice cut(QStringLiteral("dev1"),
                      {QStringLiteral("--mac"), QStringLiteral("02:C1:00:00:07:01"),
                       QStringLiteral("--http-config-fault"), QStringLiteral("cut")},
                      QStringLiteral("http"));
        QVERIFY(cut.IsReady());
        const Run run =
            Tool({QStringLiteral("config"), QStringLiteral("save"), QStringLiteral("10.77.0.11"), refused});
        QVERIFY2(run.exitCode == 1 && run.out.isEmpty() &&
                     run.err.startsWith(
                         QStringLiteral("The device's configuration could not be read whole (line ")),
                 qPrintable(Lines(run)));
        QVERIFY(!QFile::exists(refused));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left either
    }

    // "config save" names the source device by its own search reply: not by
    // a reply from elsewhere that claims its address, nor by another device's.
    void configSaveNamesTheSourceDevice()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString seed = WriteFile(dir, QStringLiteral("seed.txt"), kTemplateSource);
        const QString saved = dir.filePath(QStringLiteral("north.qeltemplate"));
        // The source answers last, so that a search taking the first reply
        // would name it after another.
        SimDevice source(QStringLiteral("dev1"),
                         {QStringLiteral("--mac"), QStringLiteral("02:C1:00:00:09:01"),
                          QStringLiteral("--name"), QStringLiteral("Gate North"),
                          QStringLiteral("--http-config-file"), seed, QStringLiteral("--discovery-delay-ms"),
                          QStringLiteral("400")},
                         QStringLiteral("udp,http"));
        // Another host that answers in the source's name and address.
        SimDevice claims(QStringLiteral("dev2"),
                         {QStringLiteral("--mac"), QStringLiteral("02:C1:00:00:09:02"),
                          QStringLiteral("--name"), QStringLiteral("Decoy"), QStringLiteral("--ip"),
                          QStringLiteral("10.77.0.11"), QStringLiteral("--reply-from"),
                          QStringLiteral("10.77.0.12")},
                         QStringLiteral("udp"));
        SimDevice other(QStringLiteral("dev3"),
                        {QStringLiteral("--mac"), QStringLiteral("02:C1:00:00:09:03"),
                         QStringLiteral("--name"), QStringLiteral("Other")},
                        QStringLiteral("udp"));
        QVERIFY(source.IsReady() && claims.IsReady() && other.IsReady());
        const Run run =
            Tool({QStringLiteral("config"), QStringLiteral("save"), QStringLiteral("10.77.0.11"), saved});
        QVERIFY2(run.exitCode == 0, qPrintable(Lines(run)));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("# Source device: Gate North\n"), text.constData());
        QVERIFY2(text.contains("# Source MAC address: 02-C1-00-00-09-01\n"), text.constData());
        QVERIFY2(text.contains("# Source IP address: 10.77.0.11\n"), text.constData());
    }

    // "config apply" over three devices, the middle one refusing its second
    // write (the first zone added after the removal): its zones are put back
    // and read back, the batch carries on, the devices before and after it
    // hold the source's zones (names, points, enable state), timeout, classes
    // and encoder, their camera position and video source password are
    // untouched; the summary names the failure and the exit code is 1. A
    // second apply of the camera position alone moves it too. A device whose
    // configuration does not read whole is sent nothing: its zones stay.
    void configApplyCarriesOnPastFailureAndNeverWritesBlind()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString sourceSeed = WriteFile(dir, QStringLiteral("source.txt"), kTemplateSource);
        // The targets' own: another zone, class and encoder, a camera
        // position the template must not move, a source password it must keep.
        const QByteArray targetText =
            "Ch {\n"
            "  zones { id: 7 points { x: 100 y: 100 } points { x: 200 y: 100 } points { x: 200 y: 200 }\n"
            "          enable: true name: \"Keep\" style: POLYGON }\n"
            "  zones { id: 8 points { x: 5 y: 5 } points { x: 6 y: 5 } points { x: 6 y: 6 }\n"
            "          enable: true name: \"Other\" style: POLYGON }\n"
            "  campos { FOV: 40 camangle: 12 height: 3 }\n"
            "  timeout: 60\n"
            "  objectClasses { minArea: 1 maxArea: 2 minHeight: 1 maxHeight: 2 }\n"
            "  encoder { fps: 25 bitrate: 2500000 }\n"
            "  mog { history: 2000 }\n"
            "}\n"
            "videoSource { model: \"m\" host: \"10.0.0.5\" login: \"admin\" password: \"pw-tpl-target\" }\n";
        const QString targetSeed = WriteFile(dir, QStringLiteral("target.txt"), targetText);
        QVERIFY(!sourceSeed.isEmpty() && !targetSeed.isEmpty());
        auto device = [&](const char* ns, const char* mac, const QString& seed, const QStringList& faults) {
            return std::make_unique<SimDevice>(QString::fromLatin1(ns),
                                               QStringList{QStringLiteral("--mac"), QString::fromLatin1(mac),
                                                           QStringLiteral("--http-config-file"), seed} +
                                                   faults,
                                               QStringLiteral("http"));
        };
        const auto source = device("dev1", "02:C1:00:00:08:01", sourceSeed, {});
        auto first = device("dev2", "02:C1:00:00:08:02", targetSeed, {});
        auto failing = device("dev3", "02:C1:00:00:08:03", targetSeed,
                              {QStringLiteral("--http-fail-nth-write"), QStringLiteral("2")});
        const auto last = device("dev4", "02:C1:00:00:08:04", targetSeed, {});
        QVERIFY(source->IsReady() && first->IsReady() && failing->IsReady() && last->IsReady());

        const QString saved = dir.filePath(QStringLiteral("gate.qeltemplate"));
        const Run save =
            Tool({QStringLiteral("config"), QStringLiteral("save"), QStringLiteral("10.77.0.11"), saved});
        QVERIFY2(save.exitCode == 0, qPrintable(Lines(save)));
        const QStringList targets{QStringLiteral("10.77.0.12"), QStringLiteral("10.77.0.13"),
                                  QStringLiteral("10.77.0.14")};
        // A template cut short is refused before anything is sent.
        QFile savedFile(saved);
        QVERIFY(savedFile.open(QIODevice::ReadOnly));
        const QByteArray savedText = savedFile.readAll();
        const QString broken =
            WriteFile(dir, QStringLiteral("broken.qeltemplate"), savedText.left(savedText.indexOf("campos")));
        const Run refused = Tool({QStringLiteral("config"), QStringLiteral("apply"), broken, targets.at(0)});
        QVERIFY2(refused.exitCode == 1 && refused.out.isEmpty() &&
                     refused.err.startsWith(broken +
                                            QStringLiteral(": The template could not be read whole (line ")),
                 qPrintable(Lines(refused)));
        QCOMPARE(Parts(VcaConfigReader(DeviceConfig(targets.at(0)))), Parts(VcaConfigReader(targetText)));

        const Run apply =
            Tool(QStringList{QStringLiteral("config"), QStringLiteral("apply"), saved} + targets);
        QVERIFY2(apply.exitCode == 1, qPrintable(Lines(apply)));
        const QStringList lines = apply.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3 * 3 + 1);
        const QStringList parts{QStringLiteral("zones"), QStringLiteral("classifier and timeout"),
                                QStringLiteral("encoder")};
        for (int part = 0; part < 3; ++part) {
            QCOMPARE(lines.at(part), QStringLiteral("10.77.0.12 %1: matches").arg(parts.at(part)));
            QCOMPARE(lines.at(6 + part), QStringLiteral("10.77.0.14 %1: matches").arg(parts.at(part)));
        }
        QVERIFY2(lines.at(3).startsWith(QStringLiteral("10.77.0.13 zones: failed: at zone 1 'Tor & Weg': the "
                                                       "device's zones were put back as they were (checked). "
                                                       "Cause: HTTP request failed: ")) &&
                     lines.at(3).endsWith(QLatin1String("server replied: Internal Server Error")),
                 qPrintable(apply.out));
        QCOMPARE(lines.at(4), QStringLiteral("10.77.0.13 classifier and timeout: matches"));
        QCOMPARE(lines.at(5), QStringLiteral("10.77.0.13 encoder: matches"));
        QVERIFY2(lines.last().startsWith(QStringLiteral("2 of 3 devices match the template; not matching: "
                                                        "10.77.0.13 (zones: failed: ")),
                 qPrintable(apply.out));
        const VcaConfigReader sourceConfig(DeviceConfig(QStringLiteral("10.77.0.11")));
        const VcaConfigReader targetBefore(targetText);
        QString expected = Parts(sourceConfig);
        const QString targetCampos = Parts(targetBefore).section(QStringLiteral("; "), -1);
        expected = expected.section(QStringLiteral("; "), 0, -2) + QStringLiteral("; ") + targetCampos;
        for (const QString& address : {targets.at(0), targets.at(2)}) {
            const QByteArray text = DeviceConfig(address);
            const VcaConfigReader target(text);
            QVERIFY2(target.IsWhole(), text.constData());
            QCOMPARE(Parts(target), expected);
            QVERIFY(text.contains("password: \"pw-tpl-target\""));
        }
        const auto zones = [](const QString& all) { return all.section(QStringLiteral("; timeout"), 0, 0); };
        QCOMPARE(zones(Parts(VcaConfigReader(DeviceConfig(targets.at(1))))), zones(Parts(targetBefore)));

        const Run camera = Tool({QStringLiteral("config"), QStringLiteral("apply"), QStringLiteral("--parts"),
                                 QStringLiteral("camera"), saved, targets.at(0)});
        QVERIFY2(camera.exitCode == 0, qPrintable(Lines(camera)));
        QCOMPARE(camera.out, QStringLiteral("10.77.0.12 camera position: matches\n"
                                            "1 of 1 devices match the template\n"));
        QCOMPARE(Parts(VcaConfigReader(DeviceConfig(targets.at(0)))), Parts(sourceConfig));

        // The cut answer ends after the first zone: a removal would have
        // taken "Keep" away with the rest.
        failing.reset();
        const auto cut = device("dev3", "02:C1:00:00:08:03", targetSeed,
                                {QStringLiteral("--http-config-fault"), QStringLiteral("cut")});
        QVERIFY(cut->IsReady());
        const Run blind = Tool({QStringLiteral("config"), QStringLiteral("apply"), saved, targets.at(1)});
        QVERIFY2(blind.exitCode == 1 && blind.out.startsWith(QStringLiteral(
                                            "10.77.0.13 zones: not sent: The device's configuration "
                                            "could not be read whole (line ")),
                 qPrintable(Lines(blind)));
        const QByteArray cutText = DeviceConfig(targets.at(1));
        QVERIFY2(cutText.contains("name: \"Keep\"") && !cutText.contains("Tor"), cutText.constData());
    }

    // A device name made to rewrite the operator's terminal (a title
    // escape, a bell, a line break, an erase and a C1 control): the CSV
    // shows each as U+FFFD in the name's own cell of the device's one line,
    // the JSON keeps the name whole in JSON escapes; neither writes a raw
    // control character. The JSON lists each problem apart, none as [].
    // An unknown format is refused before anything is sent.
    void searchWritesNoDeviceControlCharacters()
    {
        const QByteArray hostile = "Cam\x1b]0;owned\x07\r\n\x1b[2K\xc2\x9b";
        auto device = [&](const char* ns, const char* mac, const char* ip, const QByteArray& name) {
            return std::make_unique<SimDevice>(QString::fromLatin1(ns),
                                               QStringList{QStringLiteral("--mac"), QString::fromLatin1(mac),
                                                           QStringLiteral("--ip"), QString::fromLatin1(ip),
                                                           QStringLiteral("--name"), QString::fromUtf8(name)},
                                               QStringLiteral("udp"));
        };
        const std::unique_ptr<SimDevice> devices[] = {
            device("dev1", "02:C7:00:00:00:01", "192.168.7.9", hostile),
            device("dev2", "02:C7:00:00:00:02", "192.168.7.9", "Hof"),
            device("dev3", "02:C7:00:00:00:03", "10.77.0.237", "Tor"),
        };
        for (const auto& sim : devices) {
            QVERIFY(sim->IsReady());
        }
        // Any control character but a line feed and the CR of a CSV record's CR LF.
        const QRegularExpression rawControl(
            QStringLiteral("[\\x{0}-\\x{9}\\x{b}\\x{c}\\x{e}-\\x{1f}\\x{7f}-\\x{9f}]|\\r(?!\\n)"));
        const QStringList search{QStringLiteral("search"), QStringLiteral("--seconds"), QStringLiteral("2")};

        const Run csv = Tool(search);
        QVERIFY2(csv.exitCode == 0 && !(csv.out + csv.err).contains(rawControl), qPrintable(Lines(csv)));
        QStringList names;
        for (const QString& line : csv.out.split(QStringLiteral("\r\n"))) {
            const QStringList cells = line.split(QLatin1Char(','));
            if (cells.value(3).startsWith(QLatin1String("02-C7-"))) {
                names << cells.value(3) + QLatin1Char(' ') + cells.value(1);
            }
        }
        names.sort();
        QCOMPARE(names,
                 QStringList(
                     {QStringLiteral("02-C7-00-00-00-01 Cam\uFFFD]0;owned\uFFFD\uFFFD\uFFFD\uFFFD[2K\uFFFD"),
                      QStringLiteral("02-C7-00-00-00-02 Hof"), QStringLiteral("02-C7-00-00-00-03 Tor")}));

        const Run json = Tool(search + QStringList{QStringLiteral("--format"), QStringLiteral("json")});
        QVERIFY2(json.exitCode == 0 && !(json.out + json.err).contains(rawControl), qPrintable(Lines(json)));
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(json.out.toUtf8(), &error);
        QVERIFY2(document.isArray(), qPrintable(error.errorString() + QLatin1Char('\n') + json.out));
        std::map<QString, QJsonObject> ours;
        for (const QJsonValue& value : document.array()) {
            const QJsonObject object = value.toObject();
            if (object.value(QLatin1String("mac_address")).toString().startsWith(QLatin1String("02-C7-"))) {
                ours[object.value(QLatin1String("mac_address")).toString()] = object;
            }
        }
        QCOMPARE(ours.size(), size_t{3});
        const QJsonObject named = ours[QStringLiteral("02-C7-00-00-00-01")];
        QCOMPARE(named.keys(),
                 QStringList({QStringLiteral("addressing"), QStringLiteral("device_name"),
                              QStringLiteral("firmware"), QStringLiteral("gateway"),
                              QStringLiteral("ip_address"), QStringLiteral("mac_address"),
                              QStringLiteral("network_mask"), QStringLiteral("problems"),
                              QStringLiteral("product_name"), QStringLiteral("serial_number")}));
        QCOMPARE(named.value(QLatin1String("device_name")).toString(), QString::fromUtf8(hostile));
        QCOMPARE(named.value(QLatin1String("ip_address")).toString(), QStringLiteral("192.168.7.9"));
        QCOMPARE(named.value(QLatin1String("problems")).toArray(),
                 QJsonArray({QStringLiteral("Shares 192.168.7.9 with 1 other device"),
                             QStringLiteral("Not in this workstation's networks (10.77.0.0/24)")}));
        const QJsonValue none = ours[QStringLiteral("02-C7-00-00-00-03")].value(QLatin1String("problems"));
        QVERIFY(none.isArray() && none.toArray().isEmpty());

        const Run refused = Tool(search + QStringList{QStringLiteral("--format"), QStringLiteral("xml")});
        QVERIFY2(refused.exitCode == 2 && refused.out.isEmpty() &&
                     refused.err.startsWith(QStringLiteral("--format takes csv or json\n")),
                 qPrintable(Lines(refused)));
    }
};

QTEST_GUILESS_MAIN(CommandLineLanTest)
#include "CommandLineLanTest.moc"
