#include "BenchLan.h"

#include "Ipv4Networks.h"
#include "SimDevice.h"
#include "DeviceNetworkParams.h"

#include <QtGlobal>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

void UseThisBuildsSimulator()
{
    if (qEnvironmentVariableIsEmpty("QEL_SIM")) {
        qputenv("QEL_SIM", QEL_SIM_PATH);
    }
    if (qEnvironmentVariableIsEmpty("QEL_SOURCE_DIR")) {
        qputenv("QEL_SOURCE_DIR", QEL_SOURCE_PATH);
    }
}

bool OnVirtualLanWorkstation(const char* bench)
{
    uint32_t workstation = 0;
    StringToIpType("10.77.0.1", workstation);
    const std::vector<Ipv4Network> networks = NetworksOf(WorkstationInterfaces(), 0);
    if (::geteuid() == 0 && std::any_of(networks.begin(), networks.end(),
                                        [&](const Ipv4Network& n) { return n.address == workstation; })) {
        return true;
    }
    std::fprintf(stderr,
                 "%s: skipped; run as root inside the virtual LAN's workstation "
                 "(scripts/virtual-lan exec ws ...)\n",
                 bench);
    return false;
}

bool SimulatorStarted(const SimDevice& simulator, const char* bench)
{
    if (simulator.IsReady()) {
        return true;
    }
    std::fprintf(stderr, "%s: the simulator in dev1 did not start (is the virtual LAN up?)\n", bench);
    return false;
}
