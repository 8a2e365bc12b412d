#pragma once

// What the benchmarks that run against simulated devices share.

// Points the simulator helpers at this build tree's simulator and sources,
// unless the environment names others already (as under ctest).
void UseThisBuildsSimulator();

class SimDevice;

// True when running as root on the virtual LAN's workstation (10.77.0.1):
// the only place where a benchmark may broadcast. Otherwise says that the
// benchmark named `bench` is skipped, and how to run it.
bool OnVirtualLanWorkstation(const char* bench);

// True when the simulator in the virtual LAN started; otherwise says so.
bool SimulatorStarted(const SimDevice& simulator, const char* bench);
