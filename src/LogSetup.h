#pragma once

// Applies the tool's log configuration: library defaults, the VERBOSE record
// format, no standard output, and a log file restarted empty at 2 MiB.
void ConfigureLogging();
