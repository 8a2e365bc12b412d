#include "ClientMainForm.h"
#include "CommandLine.h"
#include "CommandLineText.h"
#include "LogSetup.h"
#include "ToolVersion.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStatusBar>

#include <easylogging++.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <iterator>

namespace {

const char kUsage[] =
    "Usage: QelIpTool [options]            opens the window\n"
    "       QelIpTool COMMAND [options]    runs search, readdress or config without a display";

// Qt's own options as QApplication takes them on Linux (xcb and the others):
// with them the window opens as without any. Qt also reads them with "--".
const char* const kQtOptionsWithValue[] = {"-platform",
                                           "-platformpluginpath",
                                           "-platformtheme",
                                           "-plugin",
                                           "-qwindowgeometry",
                                           "-geometry",
                                           "-qwindowicon",
                                           "-icon",
                                           "-qwindowtitle",
                                           "-title",
                                           "-session",
                                           "-style",
                                           "-stylesheet",
                                           "-display",
                                           "-name",
                                           "-visual",
                                           "-qmljsdebugger"};
// Of those, the ones Qt also takes as "-option=VALUE".
const char* const kQtOptionsWithEquals[] = {"-style=", "-stylesheet=", "-qmljsdebugger="};
const char* const kQtFlags[] = {"-reverse", "-testability", "-widgetcount", "-nograb", "-dograb"};

void PrintHelp()
{
    std::cout << kUsage << "\n"
              << kToolName << " " << kToolVersion
              << ": finds the video-analytics devices of the local network and sets them up.\n"
                 "\n"
                 "Options:\n"
                 "  -h, --help, help         show this help and exit\n"
                 "  --version                show the version and exit\n"
                 "  -v, --verbose            write every tracing record to the log\n"
                 "  --v=N                    write tracing records up to verbose level N (1 to 9)\n"
                 "  -vmodule=PATTERN=N,...   verbose levels per source file\n"
                 "  --default-log-file=FILE  log to FILE instead of logs/myeasylog.log\n"
                 "                           under the working directory\n"
                 "\n"
              << CommandsHelp()
              << "\n"
                 "Qt's own options, such as -platform NAME, -style NAME or -display DISPLAY, are\n"
                 "accepted as well when the window opens. Any other argument is refused with exit\n"
                 "code 2, before anything is sent.\n";
}

bool Is(const char* argument, const char* option)
{
    return std::strcmp(argument, option) == 0;
}

// Index of the first argument that is not a logging option; argc when none.
int FirstWordAt(int argc, char* argv[])
{
    int at = 1;
    while (at < argc && cli::IsLoggingOption(QString::fromLocal8Bit(argv[at]))) {
        ++at;
    }
    return at;
}

// --help and --version anywhere, -h and help in the place of a command, are
// answered before the logging library or Qt see the command line, so they
// need no display. Returns whether one was answered.
bool AnswerInfoOption(int argc, char* argv[])
{
    const int first = FirstWordAt(argc, argv);
    if (first < argc && (Is(argv[first], "-h") || Is(argv[first], "help"))) {
        PrintHelp();
        return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (Is(argv[i], "--help")) {
            PrintHelp();
            return true;
        }
        if (Is(argv[i], "--version")) {
            std::cout << kToolName << " " << kToolVersion << "\n";
            return true;
        }
    }
    return false;
}

// What stops the command line from opening the window: an argument that is
// neither a logging option nor one of Qt's. A typo of a command must not
// open the window, nor abort without a display. Empty when the window may open.
QString WindowArgumentsProblem(int argc, char* argv[])
{
    auto tr = [](const char* text) { return QCoreApplication::translate("CommandLine", text); };
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (cli::IsLoggingOption(argument)) {
            continue;
        }
        const char* option = argv[i][0] == '-' && argv[i][1] == '-' ? argv[i] + 1 : argv[i];
        const auto any = [option](const auto& names, auto matches) {
            return std::any_of(std::begin(names), std::end(names),
                               [&](const char* name) { return matches(option, name); });
        };
        const auto prefix = [](const char* text, const char* start) {
            return std::strncmp(text, start, std::strlen(start)) == 0;
        };
        if (any(kQtFlags, Is) || any(kQtOptionsWithEquals, prefix)) {
            continue;
        }
        if (any(kQtOptionsWithValue, Is)) {
            if (i + 1 == argc) {
                return tr("%1 needs a value").arg(argument);
            }
            ++i;
            continue;
        }
        return tr("Unknown command or option: %1").arg(argument);
    }
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    if (AnswerInfoOption(argc, argv)) {
        // A full disk or a closed pipe is not a success.
        return std::cout.flush() ? 0 : 1;
    }
    // The logging options may come first: the command is the first other word.
    const int commandAt = FirstWordAt(argc, argv);
    const bool isCommand = commandAt < argc && IsCommand(argv[commandAt]);
    if (!isCommand) {
        const QString problem = WindowArgumentsProblem(argc, argv);
        if (!problem.isEmpty()) {
            return cli::UsageError(problem + QLatin1Char('\n') + QLatin1String(kUsage));
        }
    }
    el::Helpers::setArgs(argc, argv);
    const std::string logProblem = ConfigureLogging();
    if (isCommand) {
        // No display: the commands run over ssh and in scripts.
        QCoreApplication app(argc, argv);
        return RunCommand(QCoreApplication::arguments().mid(commandAt));
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("qel-ip-tool"));
    ClientMainForm window;
    // Until the first search replaces it.
    window.statusBar()->showMessage(QString::fromLocal8Bit(logProblem.c_str()));
    window.show();
    return app.exec();
}
