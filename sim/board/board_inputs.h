// What a person changes on a simulated unit from outside, shared by the hdext-board commands and
// the browser front panel: the front-panel keys and the fuel-gauge reading. (The video sources
// are in sim/devices/world_capture.h.) Each returns "" or why the change could not be made.
#pragma once
#include <string>

namespace hdext::sim {

// One key transition ("up", "down", "menu"; pressed or released) into the unit's
// dev/input/event0 FIFO. Does not block: a unit that is not running is an error.
std::string key_event(const std::string& root, const std::string& key, bool pressed);

// Writes the reading the stand-in i2cget answers for the fuel gauge (decimal or 0x hex, 0 to
// 0xFFFF) to <root>/sim/battery.
std::string set_battery(const std::string& root, const std::string& reading);

} // namespace hdext::sim
