#pragma once

#include <string>

// Applies the tool's log configuration: library defaults, the VERBOSE record
// format, no standard output, and a log file (the default one, or the one
// --default-log-file= names) restarted empty at 2 MiB. The log file is
// readable by its user alone (0600). A log file that cannot be written loses
// every record, so that is said once on standard error; the same text is
// returned for the user to see, empty when the file is fine.
std::string ConfigureLogging();

// Creates the default log folder (0700) and file (0600) if they do not exist
// yet, and takes the group's and others' access to them away if they do.
void PrepareDefaultLogFile();
