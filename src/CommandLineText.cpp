#include "CommandLineText.h"

#include "CommandLine.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("CommandLine", text);
}

int g_signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    static_cast<void>(written);
}

// Whatever reaches the terminal: the line breaks and tabs the commands
// write themselves stay, every other control character becomes U+FFFD, so
// that no text from a device (a name, a reply quoted in an error) can reach
// the terminal as a command. A carriage return only stays in the CR LF that
// ends a CSV record; alone it would let a text hide the line before it.
QByteArray TerminalText(QString text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool layout =
            c == QLatin1Char('\n') || c == QLatin1Char('\t') ||
            (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'));
        if (c.category() == QChar::Other_Control && !layout) {
            text[i] = QChar::ReplacementCharacter;
        }
    }
    return text.toUtf8();
}

} // namespace

void Out(const QString& text)
{
    const QByteArray bytes = TerminalText(text);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void Err(const QString& line)
{
    const QByteArray bytes = TerminalText(line + QLatin1Char('\n'));
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

QString Printable(QString text)
{
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control) {
            c = QChar::ReplacementCharacter;
        }
    }
    return text;
}

int UsageError(const QString& text)
{
    Err(text);
    Err(Tr("Run QelIpTool --help for the commands and their options."));
    return kExitUsage;
}

int Finish(int code)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Err(Tr("Cannot write the output: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return kExitFailed;
    }
    return code;
}

bool IsLoggingOption(const QString& argument)
{
    return argument == QLatin1String("-v") || argument == QLatin1String("--verbose") ||
           argument.startsWith(QLatin1String("--v=")) || argument.startsWith(QLatin1String("-vmodule=")) ||
           argument.startsWith(QLatin1String("--vmodule=")) ||
           argument.startsWith(QLatin1String("--default-log-file="));
}

StopSignals::StopSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
    installed_ = true;
}

StopSignals::~StopSignals()
{
    if (installed_) {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
}

int StopSignals::ReadEnd() const
{
    return installed_ ? g_signalPipe[0] : -1;
}

bool StopSignals::Raised() const
{
    char byte = 0;
    return installed_ && ::read(g_signalPipe[0], &byte, 1) == 1;
}

} // namespace cli
