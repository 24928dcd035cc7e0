// When the LE stack under the module is the simulated one, what its world
// holds: the demo uses it to show what the module's scan filters left out.
#ifndef NOXBLE_SIMWORLD_H
#define NOXBLE_SIMWORLD_H

#include <leapi/leapi.h>
#include <noxb/IBTProvider.h>

#include <string>
#include <vector>

// The records of the simulated world's devices; empty when the stack is
// another one (it lacks the simulated stack's control API).
std::vector<LeDeviceRecord> SimulatedWorld();

// One line per world device the scan reported differently from a plain
// listing: left out, first pass only, or not connectable.
std::vector<std::string> ExplainFilters(const std::vector<LeDeviceRecord>& world,
                                        const std::vector<BleDeviceEntry>& entries);

#endif  // NOXBLE_SIMWORLD_H
