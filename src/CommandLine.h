#pragma once

#include <QStringList>

// The tool's commands without a display, for scripts and for work over ssh:
// "search", "readdress", "config save" and "config apply". Their results are
// plain text on standard output and their errors go to standard error; the
// change records go to the log, as from the window.

constexpr int kExitSucceeded = 0;
// The search could not run, or a device asked for was not readdressed and
// confirmed.
constexpr int kExitFailed = 1;
// The command line or its values cannot be used; nothing was sent.
constexpr int kExitUsage = 2;

// Whether `word` names one of the commands.
bool IsCommand(const char* word);

// The commands' part of --help.
const char* CommandsHelp();

// Runs the command `arguments[0]` with the options after it and returns the
// exit code. Needs a QCoreApplication; runs its event loop until done.
int RunCommand(const QStringList& arguments);
