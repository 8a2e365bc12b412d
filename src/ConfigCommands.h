#pragma once

#include <QStringList>

// "config save ADDRESS FILE" and "config apply [--parts ...] FILE ADDRESS...":
// a device's analytics configuration as a template file, and a template
// applied to devices. Returns the exit code; needs a QCoreApplication.
int RunConfig(const QStringList& arguments);
