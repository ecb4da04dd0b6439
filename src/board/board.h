// The board's file system as the program sees it. On a unit the root is "/"; on a simulated
// board it is the directory named by HDEXT_BOARD_ROOT (read once, on first use). Every path the
// program opens and every command text that names a board file is built with path().
#pragma once
#include <string>
#include <string_view>

namespace hdext::board {

// Maps an absolute board path ("/userdata/wifi.ini") to the host path under the root.
// Any thread; returns a new string; never blocks for long.
std::string path(std::string_view board_path);

// The root directory without a trailing slash ("" on a unit, so path() is the identity there).
std::string root();

// True when running on a simulated board (HDEXT_BOARD_ROOT was set when the root was chosen).
bool simulated();

// Re-reads HDEXT_BOARD_ROOT. For tests that switch boards inside one process; call it only
// while no other thread uses the board layer.
void reload_root();

} // namespace hdext::board
