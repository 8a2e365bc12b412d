#include "SimOptions.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

void SimOptions::AddSection(const std::string& title)
{
    sections_.push_back(title);
}

void SimOptions::AddValue(const std::string& name, const std::string& valueName, const std::string& help,
                          ValueHandler handler)
{
    options_.push_back({name, valueName, help, std::move(handler), nullptr,
                        sections_.empty() ? std::string() : sections_.back()});
}

void SimOptions::AddOptionalValue(const std::string& name, const std::string& valueName,
                                  const std::string& help, ValueHandler handler)
{
    AddValue(name, valueName, help, std::move(handler));
    options_.back().valueOptional = true;
}

void SimOptions::AddFlag(const std::string& name, const std::string& help, FlagHandler handler)
{
    options_.push_back({name, std::string(), help, nullptr, std::move(handler),
                        sections_.empty() ? std::string() : sections_.back()});
}

const SimOptions::Option* SimOptions::Find(const std::string& name) const
{
    for (const Option& option : options_) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

SimOptions::ParseResult SimOptions::Parse(int argc, const char* const* argv, std::string& error) const
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return ParseResult::Help;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            error = "unexpected argument '" + arg + "' (options start with --; see --help)";
            return ParseResult::Error;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const Option* option = Find(name);
        if (option == nullptr) {
            error = "unknown option --" + name + " (see --help)";
            return ParseResult::Error;
        }
        if (option->onFlag) {
            if (eq != std::string::npos) {
                error = "option --" + name + " takes no value";
                return ParseResult::Error;
            }
            option->onFlag();
            continue;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (option->valueOptional) {
            if (i + 1 < argc && std::string(argv[i + 1]).compare(0, 2, "--") != 0) {
                value = argv[++i];
            }
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            error = "option --" + name + " needs a value " + option->valueName;
            return ParseResult::Error;
        }
        std::string why;
        if (!option->onValue(value, why)) {
            error = "bad value '" + value + "' for --" + name + ": " + why;
            return ParseResult::Error;
        }
    }
    return ParseResult::Run;
}

std::string SimOptions::HelpText(const std::string& program) const
{
    std::ostringstream out;
    out << "Usage: " << program << " [OPTION]...\n"
        << "Plays one or more devices of the QEL family on the local network.\n"
        << "Prints \"qel-device-sim: ready\" on standard output once every part serves,\n"
        << "and runs until SIGINT or SIGTERM (or --run-seconds).\n";
    std::vector<std::string> order = sections_;
    if (std::any_of(options_.begin(), options_.end(), [](const Option& o) { return o.section.empty(); })) {
        order.insert(order.begin(), std::string());
    }
    for (const std::string& section : order) {
        out << '\n' << (section.empty() ? std::string("General") : section) << ":\n";
        for (const Option& option : options_) {
            if (option.section != section) {
                continue;
            }
            std::string head = "  --" + option.name;
            if (!option.valueName.empty()) {
                head += option.valueOptional ? " [" + option.valueName + "]" : ' ' + option.valueName;
            }
            out << head;
            if (head.size() < 32) {
                out << std::string(32 - head.size(), ' ');
            } else {
                out << '\n' << std::string(32, ' ');
            }
            out << option.help << '\n';
        }
    }
    out << "\n  --help                        this text\n";
    return out.str();
}

namespace simopt {

bool ParseUnsigned(const std::string& text, uint64_t min, uint64_t max, uint64_t& value, std::string& error)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        error = "expected a whole number";
        return false;
    }
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed < min || parsed > max) {
        error = "expected a number from " + std::to_string(min) + " to " + std::to_string(max);
        return false;
    }
    value = parsed;
    return true;
}

bool ParseIpv4(const std::string& text, uint32_t& ip, std::string& error)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        error = "expected a dotted IPv4 address such as 10.77.0.11";
        return false;
    }
    ip = address.s_addr;
    return true;
}

SimOptions::ValueHandler Ipv4TextInto(std::string& target)
{
    return [&target](const std::string& value, std::string& error) {
        uint32_t ip = 0;
        if (!ParseIpv4(value, ip, error)) {
            return false;
        }
        target = value;
        return true;
    };
}

std::string Ipv4Text(uint32_t ip)
{
    in_addr address{};
    address.s_addr = ip;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool ParseMac(const std::string& text, uint8_t (&mac)[6], std::string& error)
{
    error = "expected six hex pairs such as 02:51:45:4C:00:01";
    if (text.size() != 17) {
        return false;
    }
    uint8_t parsed[6] = {};
    for (size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[i * 3 - 1] != ':' && text[i * 3 - 1] != '-') {
            return false;
        }
        unsigned value = 0;
        for (size_t k = 0; k < 2; ++k) {
            const char c = text[i * 3 + k];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        parsed[i] = static_cast<uint8_t>(value);
    }
    std::copy(parsed, parsed + 6, mac);
    error.clear();
    return true;
}

} // namespace simopt
