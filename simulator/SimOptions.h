#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Command-line options of the simulator. Each part of the simulator registers
// its own options (with a section title for --help) before the command line is
// parsed; a handler receives the option's value and reports a bad one as text.
class SimOptions final {
public:
    using ValueHandler = std::function<bool(const std::string& value, std::string& error)>;
    using FlagHandler = std::function<void()>;

    enum class ParseResult { Run, Help, Error };

    // Starts a new group of options in the --help text.
    void AddSection(const std::string& title);
    // An option written --name VALUE or --name=VALUE.
    void AddValue(const std::string& name, const std::string& valueName, const std::string& help,
                  ValueHandler handler);
    // An option written --name, --name VALUE or --name=VALUE; without a value
    // (or when the next argument is another option) the handler gets "".
    void AddOptionalValue(const std::string& name, const std::string& valueName, const std::string& help,
                          ValueHandler handler);
    // An option without a value; given twice, the handler runs twice.
    void AddFlag(const std::string& name, const std::string& help, FlagHandler handler);

    ParseResult Parse(int argc, const char* const* argv, std::string& error) const;
    std::string HelpText(const std::string& program) const;

private:
    struct Option {
        std::string name;
        std::string valueName; // empty for a flag
        std::string help;
        ValueHandler onValue;
        FlagHandler onFlag;
        std::string section;
        bool valueOptional = false;
    };
    const Option* Find(const std::string& name) const;

    std::vector<Option> options_;
    std::vector<std::string> sections_;
};

// Value readers for option handlers; each writes a user-facing error on failure.
namespace simopt {
bool ParseUnsigned(const std::string& text, uint64_t min, uint64_t max, uint64_t& value, std::string& error);
// Dotted IPv4 text into network byte order, and back.
bool ParseIpv4(const std::string& text, uint32_t& ip, std::string& error);
std::string Ipv4Text(uint32_t ip);
// Six hex pairs separated by ':' or '-'.
bool ParseMac(const std::string& text, uint8_t (&mac)[6], std::string& error);

// A value handler that checks a dotted IPv4 address and stores its text.
SimOptions::ValueHandler Ipv4TextInto(std::string& target);

// A value handler that stores an unsigned number in [min, max] into `target`.
template <typename Number> SimOptions::ValueHandler UnsignedInto(Number& target, uint64_t min, uint64_t max)
{
    return [&target, min, max](const std::string& value, std::string& error) {
        uint64_t n = 0;
        if (!ParseUnsigned(value, min, max, n, error)) {
            return false;
        }
        target = static_cast<Number>(n);
        return true;
    };
}
} // namespace simopt
