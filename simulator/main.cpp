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

std::vector<std::unique_ptr<SimPart>> MakeParts()
{
    std::vector<std::unique_ptr<SimPart>> parts;
    parts.push_back(std::make_unique<UdpResponder>());
    parts.push_back(std::make_unique<DeviceWebPart>());
    parts.push_back(std::make_unique<DeviceRtspPart>());
    // Further parts (HTTP, RTSP) are added here, one line each.
    return parts;
}

}  // namespace

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
    std::vector<std::unique_ptr<SimPart>> parts = MakeParts();
    for (const auto& part : parts) {
        part->RegisterOptions(options);
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

    DeviceSet devices;
    if (!setup.Build(devices, error)) {
        std::cerr << "qel-device-sim: " << error << '\n';
        return kUsageError;
    }

    size_t started = 0;
    std::string served;
    for (; started < parts.size(); ++started) {
        if (!parts[started]->Start(devices, error)) {
            std::cerr << "qel-device-sim: " << error << '\n';
            break;
        }
        served += (served.empty() ? "" : ", ") + parts[started]->Describe();
    }
    int exitCode = 0;
    if (started == parts.size()) {
        std::cout << "qel-device-sim: ready (" << devices.devices.size() << " device(s); "
                  << served << ")" << std::endl;
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
        parts[--started]->Stop();
    }
    return exitCode;
}
