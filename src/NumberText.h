#pragma once

#include <QString>

// The shortest decimal text that reads back (strtod, QString::toDouble) as
// exactly `value`, with a point whatever the locale: 2 is "2", 2.25 is
// "2.25", 1234567 is "1234567", 0.123456789 is "0.123456789". Values go to
// the device in this form so that they arrive as held. An exponent carries
// no '+' (1e21 is "1e21"): in a URL query a '+' reads as a space.
QString ExactNumberText(double value);
