#include "CsvText.h"

namespace {

bool NeedsQuotes(const QString& field)
{
    if (field.isEmpty()) {
        return false;
    }
    return field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
           field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')) ||
           field.front().isSpace() || field.back().isSpace();
}

// A spreadsheet takes a cell that begins with one of these as a formula and
// runs it; device names come from the network.
bool StartsFormula(const QString& field)
{
    return !field.isEmpty() && QStringLiteral("=+-@\t\r").contains(field.front());
}

} // namespace

QString CsvRecord(const QStringList& fields)
{
    QString record;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            record += QLatin1Char(',');
        }
        const QString field = StartsFormula(fields.at(i)) ? QLatin1Char('\'') + fields.at(i) : fields.at(i);
        if (NeedsQuotes(field)) {
            QString quoted = field;
            quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
            record += QLatin1Char('"') + quoted + QLatin1Char('"');
        } else {
            record += field;
        }
    }
    record += QLatin1String("\r\n");
    return record;
}
