// qel-device-sim: plays one or many devices of the family for the tool's
// tests, demo and benchmarks. Each protocol is a SimPart with its own options
// and thread; this file only wires them to the shared device state.
#include "DeviceSetup.h"
#include "DeviceRtspPart.h"
#include "DeviceWebPart.h"
#include "DeviceState.h"
#include "SimOptions.h"
#include "SimPart.h"
#include "UdpResponder.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// Exit code for a bad command line, distinct from a failure to serve.
constexpr int kUsageError = 2;

struct NamedPart {
    std::string name; // as --only names it
    std::unique_ptr<SimPart> part;
};

std::vector<NamedPart> MakeParts()
{
    std::vector<NamedPart> parts;
    parts.push_back({"udp", std::make_unique<UdpResponder>()});
    parts.push_back({"http", std::make_unique<DeviceWebPart>()});
    parts.push_back({"rtsp", std::make_unique<DeviceRtspPart>()});
    // Further parts are added here, one line each.
    return parts;
}

// Keeps the parts named in a comma-separated list, in their own order.
bool SelectParts(const std::string& list, std::vector<NamedPart>& parts, std::string& error)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        names.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    for (const std::string& name : names) {
        const bool known =
            std::any_of(parts.begin(), parts.end(), [&name](const NamedPart& p) { return p.name == name; });
        if (!known) {
            error = "unknown part '" + name + "'";
            return false;
        }
    }
    parts.erase(std::remove_if(parts.begin(), parts.end(),
                               [&names](const NamedPart& p) {
                                   return std::find(names.begin(), names.end(), p.name) == names.end();
                               }),
                parts.end());
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // The signals that end the simulator are taken by sigwait below; blocking
    // them before any part starts a thread keeps them off the parts' threads.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    SimOptions options;
    DeviceSetup setup;
    uint64_t runSeconds = 0;
    setup.RegisterOptions(options);
    options.AddSection("Run");
    options.AddValue("run-seconds", "S", "stop by itself after S seconds (default: run until signalled)",
                     [&runSeconds](const std::string& v, std::string& e) {
                         return simopt::ParseUnsigned(v, 1, 86400, runSeconds, e);
                     });
    std::vector<NamedPart> parts = MakeParts();
    std::string only;
    options.AddValue("only", "PART[,PART]",
                     "start only these parts: udp, http, rtsp (default: all); e.g. "
                     "--only udp for a thousand devices that need no web or video server",
                     [&only](const std::string& v, std::string& e) {
                         if (v.empty()) {
                             e = "expected a list such as udp,http";
                             return false;
                         }
                         only = v;
                         return true;
                     });
    for (const auto& named : parts) {
        named.part->RegisterOptions(options);
    }

    std::string error;
    switch (options.Parse(argc, argv, error)) {
    case SimOptions::ParseResult::Help:
        std::cout << options.HelpText("qel-device-sim");
        return 0;
    case SimOptions::ParseResult::Error:
        std::cerr << "qel-device-sim: " << error << '\n';
        return kUsageError;
    case SimOptions::ParseResult::Run:
        break;
    }

    if (!only.empty() && !SelectParts(only, parts, error)) {
        std::cerr << "qel-device-sim: bad value '" << only << "' for --only: " << error << '\n';
        return kUsageError;
    }

    DeviceSet devices;
    if (!setup.Build(devices, error)) {
        std::cerr << "qel-device-sim: " << error << '\n';
        return kUsageError;
    }

    size_t started = 0;
    std::string served;
    for (; started < parts.size(); ++started) {
        if (!parts[started].part->Start(devices, error)) {
            std::cerr << "qel-device-sim: " << error << '\n';
            break;
        }
        served += (served.empty() ? "" : ", ") + parts[started].part->Describe();
    }
    int exitCode = 0;
    if (started == parts.size()) {
        std::cout << "qel-device-sim: ready (" << devices.devices.size() << " device(s); " << served << ")"
                  << std::endl;
        if (runSeconds > 0) {
            timespec timeout{static_cast<time_t>(runSeconds), 0};
            while (sigtimedwait(&stopSignals, nullptr, &timeout) < 0 && errno == EINTR) {
            }
        } else {
            int signal = 0;
            sigwait(&stopSignals, &signal);
        }
    } else {
        exitCode = 1;
    }
    while (started > 0) {
        parts[--started].part->Stop();
    }
    return exitCode;
}
