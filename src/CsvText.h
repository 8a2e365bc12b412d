#pragma once

#include <QString>
#include <QStringList>

// One CSV record: the fields joined by commas, each quoted when it holds a
// comma, a quote, a line break or leading or trailing space (quotes inside
// doubled), ended by CR LF. A field that a spreadsheet would run as a formula
// (one beginning with "=", "+", "-", "@", a tab or a carriage return) is
// written with a leading apostrophe, which makes it text.
QString CsvRecord(const QStringList& fields);
