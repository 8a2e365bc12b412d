// The tool's command line before any command runs, without a display: what
// prints the help, what is refused as a usage error, and that Qt's own
// options still reach Qt. Nothing here sends anything.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    bool crashed = true;
    int exitCode = -1;
    QString out;
    QString err;
    QByteArray Text() const { return QStringLiteral("exit %1\n%2\n%3").arg(exitCode).arg(out, err).toUtf8(); }
};

Run Tool(const QStringList& arguments)
{
    QTemporaryDir workDir; // for the window's log folder
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QLatin1String(name));
    }
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workDir.path());
    process.start(QStringLiteral(QEL_TOOL_PATH), arguments);
    Run run;
    if (process.waitForFinished(30000)) {
        run = {process.exitStatus() == QProcess::CrashExit, process.exitCode(),
               QString::fromUtf8(process.readAllStandardOutput()),
               QString::fromUtf8(process.readAllStandardError())};
    }
    return run;
}

} // namespace

class CommandLineUsageTest : public QObject {
    Q_OBJECT
private slots:
    // A word that is no command, or an option that is neither the logging
    // library's nor Qt's, is refused: exit 2, the usage on standard error, no
    // window (which would abort here). -h and help print the help.
    void unknownArgumentsAreRefusedAndHelpWordsAnswer()
    {
        const QStringList usage{QStringLiteral("frobnicate"), QStringLiteral("-v --x"),
                                QStringLiteral("-platform offscreen search"), QStringLiteral("-style")};
        const QStringList errors{QStringLiteral("Unknown command or option: frobnicate"),
                                 QStringLiteral("Unknown command or option: --x"),
                                 QStringLiteral("Unknown command or option: search"),
                                 QStringLiteral("-style needs a value")};
        for (int i = 0; i < usage.size(); ++i) {
            const Run run = Tool(usage.at(i).split(QLatin1Char(' ')));
            QVERIFY2(!run.crashed && run.exitCode == 2 && run.out.isEmpty() &&
                         run.err.startsWith(errors.at(i) + QStringLiteral("\nUsage: QelIpTool [options] ")),
                     run.Text().constData());
        }
        // The terminal would run what the argument holds: it is echoed without.
        const Run escape = Tool({QStringLiteral("a\x1b]0;x\x07")});
        QVERIFY2(escape.exitCode == 2 &&
                     escape.err.startsWith(QStringLiteral("Unknown command or option: a\uFFFD]0;x\uFFFD\n")),
                 escape.Text().constData());

        for (const QString& help : {QStringLiteral("-h"), QStringLiteral("help"), QStringLiteral("-v -h")}) {
            const Run run = Tool(help.split(QLatin1Char(' ')));
            QVERIFY2(!run.crashed && run.exitCode == 0 && run.err.isEmpty() &&
                         run.out.startsWith(QStringLiteral("Usage: QelIpTool [options] ")) &&
                         run.out.contains(QStringLiteral("search [--seconds S] [--format csv|json]")),
                     run.Text().constData());
        }
    }

    // Logging and Qt options are the window's: Qt gets the platform asked
    // for (none such here, so it gives up by itself).
    void windowOptionsReachQt()
    {
        const Run run =
            Tool({QStringLiteral("-v"), QStringLiteral("--v=2"), QStringLiteral("-style"),
                  QStringLiteral("Fusion"), QStringLiteral("-platform"), QStringLiteral("qel-none")});
        QVERIFY2(run.exitCode != 2 && run.err.contains(QStringLiteral("\"qel-none\"")) &&
                     !run.err.contains(QStringLiteral("Unknown command")),
                 run.Text().constData());
    }
};

QTEST_GUILESS_MAIN(CommandLineUsageTest)
#include "CommandLineUsageTest.moc"
