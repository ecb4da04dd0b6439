// "hdext-board world panel": a browser front panel for a world, served on loopback only. The page
// shows every unit live (OLED, HDMI output snapshot and status, link state, CPU and memory) and
// drives it: keys held and released, the TX's HDMI and SDI sources, the battery reading and the
// air's fault commands. Runs until SIGINT or SIGTERM.
#pragma once
#include <string>

namespace hdext::sim {

struct PanelOptions {
    std::string bind = "127.0.0.1";  // refused unless a loopback address
    int port = 8470;                 // 0: any free port
};

// Prints "panel: http://ADDR:PORT/" once it listens. 0 after a signal, 1 when it cannot listen,
// 2 for a bad option or a missing world.
int serve_panel(const std::string& world_dir, const PanelOptions& opt);

} // namespace hdext::sim
