#pragma once

// Applies the tool's log configuration: library defaults, the VERBOSE record
// format, no standard output, and a log file restarted empty at 2 MiB. The
// log file is readable by its user alone (0600).
void ConfigureLogging();

// Creates the default log folder (0700) and file (0600) if they do not exist
// yet, and takes the group's and others' access to them away if they do.
void PrepareDefaultLogFile();
