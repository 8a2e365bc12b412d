#pragma once

#include <QString>
#include <QStringList>

// One CSV record: the fields joined by commas, each quoted when it holds a
// comma, a quote, a line break or leading or trailing space (quotes inside
// doubled), ended by CR LF. A field that a spreadsheet would run as a formula
// (one beginning with "=", "+", "-", "@", a tab or a carriage return) is
// written with a leading apostrophe, which makes it text.
QString CsvRecord(const QStringList& fields);

struct DeviceNetworkParams;

// The header of the device list as the search window shows and exports it,
// with the "Problems" column after its nine columns.
QStringList DeviceListHeader();

// One device's row of that list, each cell in the window's form; `problems`
// is its AddressProblem text, empty without one.
QStringList DeviceListFields(const DeviceNetworkParams& params, const QString& problems);
