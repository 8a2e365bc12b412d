#include "NumberText.h"

#include <array>
#include <charconv>

QString ExactNumberText(double value)
{
    // The longest shortest form of a double, "-2.2250738585072014e-308", has 24 characters.
    std::array<char, 32> buffer{};
    const std::to_chars_result result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    QString text = QString::fromLatin1(buffer.data(), static_cast<int>(result.ptr - buffer.data()));
    text.replace(QStringLiteral("e+"), QStringLiteral("e"));
    return text;
}
