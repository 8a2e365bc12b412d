// The whole tool at the highest verbosity through every path that handles a
// secret (loading a configuration that holds the source password, a failed
// source apply with a typed password, a network change and an apply with HTTP
// credentials, a password change, live video with RTSP credentials) records
// each change sent, and leaves no password, no password digest and no
// Authorization header in its log file, on standard output or on standard
// error. The tool runs in a child process of this test,
// in a folder of its own, so that its log and streams can be read whole.

#include "ClientMainForm.h"
#include "DialogLan.h"
#include "LogSetup.h"
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "SimDevice.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <easylogging++.h>

#include <iostream>
#include <sys/stat.h>

namespace {

const char kChildVariable[] = "QEL_SECRETS_CHILD";
const QString kMacText = QStringLiteral("02-51-45-4C-66-07");
const QString kAdminPassword = QStringLiteral("Adm1n-Cur-Secret");
const QString kNewAdminPassword = QStringLiteral("Adm1n-New-Secret");
const QString kStoredSourcePassword = QStringLiteral("Src-Stored-Secret");
const QString kTypedSourcePassword = QStringLiteral("Src-Typed-Secret");
constexpr int kStepTimeoutMs = 15000;

// A step of the child's run that does not come about is named on standard
// error and fails the run.
bool stepFailed = false;
void Expect(const char* step, const std::function<bool()>& done)
{
    if (!QTest::qWaitFor(done, kStepTimeoutMs)) {
        std::cerr << "step failed: " << step << std::endl;
        stepFailed = true;
    }
}

void DriveDialog(SettingsDialog& dialog)
{
    auto* tabs = Child<QTabWidget>(&dialog, "tabWidget");
    auto* applySource = Child<QPushButton>(&dialog, "pushButtonApply3");
    Expect("source loaded", [&] { return applySource->isEnabled(); });
    Child<QLineEdit>(&dialog, "lineEditSourcePasswprd")->setText(kTypedSourcePassword);
    applySource->click();
    Expect("source apply ended", [&] { return applySource->isEnabled(); });

    tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSettings"));
    Child<QLineEdit>(&dialog, "lineEditDeviceName")->setText(QStringLiteral("Gate North"));
    Child<QLineEdit>(&dialog, "lineEditCurPassword")->setText(kAdminPassword);
    auto* applyNetwork = Child<QPushButton>(&dialog, "pushButtonApply1");
    applyNetwork->click();
    Expect("network changed", [&] { return applyNetwork->isEnabled(); });

    tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabZones"));
    auto* applyZones = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    Expect("zones loaded", [&] { return applyZones->isEnabled(); });
    // A change, so that the apply goes through the modal client.
    Child<QTableWidget>(&dialog, "tableWidgetZones")->selectRow(0);
    Child<QPushButton>(&dialog, "pushButtonRemoveZone")->click();
    applyZones->click();

    tabs->setCurrentWidget(Child<QWidget>(&dialog, "tabSettings"));
    Child<QLineEdit>(&dialog, "lineEditCurPassword2")->setText(kAdminPassword);
    Child<QLineEdit>(&dialog, "lineEditNewPassword")->setText(kNewAdminPassword);
    Child<QLineEdit>(&dialog, "lineEditNewPassword2")->setText(kNewAdminPassword);
    auto* applyPassword = Child<QPushButton>(&dialog, "pushButtonApply2");
    applyPassword->click();
    Expect("password changed", [&] { return applyPassword->isEnabled(); });

    auto* connect = Child<QPushButton>(&dialog, "pushButtonConnect1");
    connect->click();
    QTest::qWait(4000);
    Child<QPushButton>(&dialog, "pushButtonDisconnect1")->click();
    Expect("video stopped", [&] { return connect->isEnabled(); });
}

// The tool as main() builds it, driven through its window.
int RunTool(int argc, char* argv[])
{
    el::Helpers::setArgs(argc, argv);
    ConfigureLogging();
    QApplication app(argc, argv);
    MessageBoxWatcher boxes;
    ClientMainForm window;
    window.show();

    const int row = dialoglan::FindDeviceRow(&window, kMacText);
    if (row < 0) {
        std::cerr << "step failed: device found" << std::endl;
        return 1;
    }
    if (!dialoglan::WithDialog(&window, row, false, DriveDialog)) {
        std::cerr << "step failed: dialog open" << std::endl;
        return 1;
    }
    Expect("failed setcam shown", [&] {
        return !boxes.Texts().filter(QStringLiteral("The video source request (setcam) failed")).isEmpty();
    });
    return stepFailed ? 1 : 0;
}

QByteArray HexWithBlanks(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
}

} // namespace

class SecretsLanTest final : public QObject {
    Q_OBJECT
private slots:
    void verboseRunShowsNoSecret();
};

void SecretsLanTest::verboseRunShowsNoSecret()
{
    if (!SimDevice::Available()) {
        QSKIP("needs the virtual LAN and the simulator (run through ctest)");
    }
    SimDevice device(QStringLiteral("dev3"),
                     {QStringLiteral("--name"), QStringLiteral("Gate"), QStringLiteral("--mac"), kMacText,
                      QStringLiteral("--password"), kAdminPassword, QStringLiteral("--source-password"),
                      kStoredSourcePassword, QStringLiteral("--http-fail"), QStringLiteral("setcam.fcgi")},
                     QStringLiteral("udp,http,rtsp"));
    QVERIFY(device.IsReady());

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    tool.setProcessEnvironment(environment);
    tool.setWorkingDirectory(folder.path());
    tool.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--v=9")});
    QVERIFY(tool.waitForFinished(120000));
    const QByteArray out = tool.readAllStandardOutput();
    const QByteArray err = tool.readAllStandardError();
    QVERIFY2(tool.exitCode() == 0, err.constData());

    QFile logFile(folder.filePath(QStringLiteral("logs/myeasylog.log")));
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const QByteArray log = logFile.readAll();
    // The records that quote the configuration and the settings requests are there.
    QVERIFY(log.contains("videoSource"));
    QVERIFY(log.contains("Attempting to send datagram"));
    QVERIFY(err.contains("Sending request: DESCRIBE"));
    QVERIFY(err.contains("Authorization: ***"));
    // Every change sent is one record: which device, what, how it ended.
    const QByteArray record = "Change: device 02-51-45-4C-66-07 10.77.0.13 ";
    QVERIFY(log.contains(record + "\"Gate\": video source (model \"axis\", host \"192.168.0.90\", login "
                                  "\"admin\", new password): failed: "));
    QVERIFY(log.contains(record + "\"Gate\": network settings (name \"Gate\" -> \"Gate North\"): changed"));
    QVERIFY(log.contains(record + "\"Gate North\": zones (0 zone(s)): changed"));
    QVERIFY(log.contains(record + "\"Gate North\": password: changed"));

    const QByteArray digest = QCryptographicHash::hash(kAdminPassword.toUtf8(), QCryptographicHash::Md5);
    const QList<QByteArray> secrets{kAdminPassword.toUtf8(),
                                    kNewAdminPassword.toUtf8(),
                                    kStoredSourcePassword.toUtf8(),
                                    kTypedSourcePassword.toUtf8(),
                                    "kqzt",
                                    "vbnq",
                                    digest.toHex(),
                                    digest.toHex().toUpper(),
                                    HexWithBlanks(digest),
                                    HexWithBlanks(kNewAdminPassword.toUtf8()),
                                    "response=\""};
    for (const QByteArray& text : {out, err, log}) {
        for (const QByteArray& secret : secrets) {
            QVERIFY2(!text.contains(secret), secret.constData());
        }
        QVERIFY(text.count("Authorization:") == text.count("Authorization: ***"));
    }

    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(folder.filePath(QStringLiteral("logs"))).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
    QCOMPARE(::stat(QFile::encodeName(logFile.fileName()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        return RunTool(argc, argv);
    }
    QApplication app(argc, argv);
    SecretsLanTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SecretsLanTest.moc"
