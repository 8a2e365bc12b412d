#pragma once

#include <QString>
#include <QStringList>

// One CSV record: the fields joined by commas, each quoted when it holds a
// comma, a quote, a line break or leading or trailing space (quotes inside
// doubled), ended by CR LF.
QString CsvRecord(const QStringList& fields);
