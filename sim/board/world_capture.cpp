// World commands for a TX's video inputs: plug, change or remove the HDMI and SDI sources.
#include <cstdio>
#include <string>

#include "sim/board/command.h"
#include "sim/devices/world_capture.h"

namespace hdext::sim {
namespace {

std::string joined(int argc, char** argv, int from) {
    std::string s;
    for (int i = from; i < argc; ++i) s += (s.empty() ? "" : " ") + std::string(argv[i]);
    return s;
}

using Change = std::string (*)(const std::string&, const std::string&);

int run(int argc, char** argv, std::string (*check)(const std::string&), Change plug) {
    const std::string root = board_root(argc, argv);
    if (root.empty() || argc < 2) {
        std::fprintf(stderr, "%s: give --root DIR (or HDEXT_BOARD_ROOT) and the source\n", argv[0]);
        return 2;
    }
    const std::string source = joined(argc, argv, 1);
    if (std::string bad = check(source); !bad.empty()) {
        std::fprintf(stderr, "%s: %s\n", argv[0], bad.c_str());
        return 2;
    }
    const std::string err = plug(root, source);
    if (err.empty()) return 0;
    std::fprintf(stderr, "%s: %s\n", argv[0], err.c_str());
    return 1;
}

int hdmi(int argc, char** argv) { return run(argc, argv, hdmi_source_error, plug_hdmi); }
int sdi(int argc, char** argv) { return run(argc, argv, sdi_code_error, plug_sdi); }

const CommandRegistration reg_hdmi("hdmi", "[--root DIR] WxH{p|i}RATE [audio=RATE|audio=none] | none",
                                   hdmi);
const CommandRegistration reg_sdi("sdi", "[--root DIR] CODE (hex, e.g. 0x2B) | none", sdi);

} // namespace
} // namespace hdext::sim
