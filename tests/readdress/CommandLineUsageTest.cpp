// The tool's command line before any command runs, without a display: what
// prints the help, what is refused as a usage error, and that Qt's own
// options still reach Qt. Nothing here sends anything.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kToolTimeoutMs = 30000;

struct Run {
    bool finished = false;
    bool crashed = false;
    int exitCode = -1;
    QString out;
    QString err;
};

Run Tool(const QStringList& arguments)
{
    // The window's log folder goes to the working directory.
    QTemporaryDir workDir;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QLatin1String(name));
    }
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workDir.path());
    process.start(QStringLiteral(QEL_TOOL_PATH), arguments);
    process.closeWriteChannel();
    Run run;
    run.finished = process.waitForFinished(kToolTimeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray Text(const QStringList& arguments, const Run& run)
{
    return QStringLiteral("%1: exit %2%3\nstdout: %4\nstderr: %5")
        .arg(arguments.join(QLatin1Char(' ')))
        .arg(run.exitCode)
        .arg(run.crashed ? QStringLiteral(" (crashed)") : QString())
        .arg(run.out, run.err)
        .toUtf8();
}

} // namespace

class CommandLineUsageTest : public QObject {
    Q_OBJECT
private slots:
    // A word that is no command, and an option that is neither the logging
    // library's nor Qt's, is refused: exit 2, the usage on standard error,
    // no window (which would abort here, without a display).
    void unknownArgumentsAreUsageErrors()
    {
        const struct {
            QStringList arguments;
            QString error;
        } cases[] = {
            {{QStringLiteral("frobnicate")}, QStringLiteral("Unknown command or option: frobnicate")},
            {{QStringLiteral("serach")}, QStringLiteral("Unknown command or option: serach")},
            {{QStringLiteral("-v"), QStringLiteral("--x")}, QStringLiteral("Unknown command or option: --x")},
            {{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("search")},
             QStringLiteral("Unknown command or option: search")},
            {{QStringLiteral("-style")}, QStringLiteral("-style needs a value")},
            // A terminal would run it: the argument is echoed without it.
            {{QStringLiteral("a\x1b[2Jb")}, QStringLiteral("Unknown command or option: a\uFFFD[2Jb")},
        };
        for (const auto& c : cases) {
            const Run run = Tool(c.arguments);
            QVERIFY2(run.finished && !run.crashed && run.exitCode == 2 && run.out.isEmpty() &&
                         run.err.startsWith(c.error + QStringLiteral("\nUsage: QelIpTool [options]")) &&
                         run.err.contains(QStringLiteral("\n       QelIpTool COMMAND [options]")),
                     Text(c.arguments, run).constData());
        }
    }

    void helpWordsPrintTheHelp()
    {
        for (const QStringList& arguments :
             {QStringList{QStringLiteral("-h")}, QStringList{QStringLiteral("help")},
              QStringList{QStringLiteral("--help")},
              QStringList{QStringLiteral("-v"), QStringLiteral("-h")}}) {
            const Run run = Tool(arguments);
            QVERIFY2(run.finished && !run.crashed && run.exitCode == 0 && run.err.isEmpty() &&
                         run.out.startsWith(QStringLiteral("Usage: QelIpTool [options]")) &&
                         run.out.contains(QStringLiteral("search [--seconds S] [--format csv|json]")),
                     Text(arguments, run).constData());
        }
    }

    // Logging and Qt options are the window's: Qt gets the platform asked
    // for (none such here, so it gives up on its own).
    void windowOptionsReachQt()
    {
        const QStringList arguments{QStringLiteral("-v"),        QStringLiteral("--v=2"),
                                    QStringLiteral("-style"),    QStringLiteral("Fusion"),
                                    QStringLiteral("-platform"), QStringLiteral("qel-none")};
        const Run run = Tool(arguments);
        QVERIFY2(run.finished && (run.crashed || run.exitCode != 0) && run.exitCode != 2 &&
                     run.err.contains(QStringLiteral("\"qel-none\"")) &&
                     !run.err.contains(QStringLiteral("Unknown command")),
                 Text(arguments, run).constData());
    }
};

QTEST_GUILESS_MAIN(CommandLineUsageTest)
#include "CommandLineUsageTest.moc"
