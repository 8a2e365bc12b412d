#pragma once

#include <QString>

#include <csignal>

// What the commands without a display share: their output, their errors and
// the signals that cancel them.
namespace cli {

// The commands' results: plain text on standard output, for scripts. The
// log stays the place of the records; this is the command's answer.
// Out and Err pass line feeds, tabs and the CR of a CR LF; every other
// control character is written as U+FFFD, whatever the text holds: a
// terminal would run it as a command.
void Out(const QString& text);
// Errors and questions for the person running the command: standard error,
// so that standard output stays the answer alone.
void Err(const QString& line);
// Device text (names, replies) in one line or cell: every control character,
// line breaks and tabs too, as U+FFFD, so that it can neither break the
// line it stands in nor reach the terminal as a command.
QString Printable(QString text);
// The error, then where the usage is told; returns kExitUsage.
int UsageError(const QString& text);
// `code`, unless the output could not be written (a full disk, a closed
// pipe): that is not a success.
int Finish(int code);
// The logging library's own switches, which every command lets pass.
bool IsLoggingOption(const QString& argument);

// Ctrl-C during a batch cancels it instead of ending the process between
// two devices without saying which were changed. While alive, SIGINT and
// SIGTERM are noted instead of ending the process, and a blocking read of the
// terminal returns early (no SA_RESTART).
class StopSignals final {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The pipe end that becomes readable when a signal came; -1 when not installed.
    int ReadEnd() const;
    // Takes one noted signal; false when none.
    bool Raised() const;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    bool installed_ = false;
};

} // namespace cli
