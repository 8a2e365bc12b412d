#include "ClientMainForm.h"
#include "CommandLine.h"
#include "LogSetup.h"
#include "ToolVersion.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStatusBar>

#include <easylogging++.h>

#include <cstring>
#include <iostream>

namespace {

void PrintHelp()
{
    std::cout << "Usage: QelIpTool [options]\n"
              << "       QelIpTool COMMAND [options]\n"
              << kToolName << " " << kToolVersion
              << ": finds the video-analytics devices of the local network and sets them up.\n"
                 "\n"
                 "Options:\n"
                 "  --help                   show this help and exit\n"
                 "  --version                show the version and exit\n"
                 "  -v, --verbose            write every tracing record to the log\n"
                 "  --v=N                    write tracing records up to verbose level N (1 to 9)\n"
                 "  -vmodule=PATTERN=N,...   verbose levels per source file\n"
                 "  --default-log-file=FILE  log to FILE instead of logs/myeasylog.log\n"
                 "                           under the working directory\n"
                 "\n"
              << CommandsHelp()
              << "\n"
                 "Qt's own options, such as -platform NAME, are accepted as well.\n";
}

// --help and --version are answered before the logging library or Qt see the
// command line, so they need no display; any other command line is left to
// them unchanged. Returns whether one was answered.
bool AnswerInfoOption(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintHelp();
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << kToolName << " " << kToolVersion << "\n";
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (AnswerInfoOption(argc, argv)) {
        // A full disk or a closed pipe is not a success.
        return std::cout.flush() ? 0 : 1;
    }
    el::Helpers::setArgs(argc, argv);
    const std::string logProblem = ConfigureLogging();
    if (argc > 1 && IsCommand(argv[1])) {
        // No display: the commands run over ssh and in scripts.
        QCoreApplication app(argc, argv);
        return RunCommand(QCoreApplication::arguments().mid(1));
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("qel-ip-tool"));
    ClientMainForm window;
    // Until the first search replaces it.
    window.statusBar()->showMessage(QString::fromLocal8Bit(logProblem.c_str()));
    window.show();
    return app.exec();
}
