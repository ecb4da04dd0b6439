// Stand-in i2cget / i2cset for the simulated board's fuel gauge (0x64): registers 2 and 3 read
// the high and low byte of the reading in <root>/sim/battery (decimal or 0x hex; a full battery
// when the file is missing). Writes are accepted and appended to <root>/sim/i2cset.log.
// "hdext-board battery READING" sets the reading from outside.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "sim/board/board_inputs.h"
#include "sim/board/command.h"

namespace hdext::sim {
namespace {

constexpr long kFullBattery = 13000;

// Drops the "-f" and "-y" flags; returns the remaining arguments' start.
int skip_flags(int argc, char** argv) {
    int i = 1;
    while (i < argc && argv[i][0] == '-') ++i;
    return i;
}

long battery_reading(const std::string& root) {
    std::ifstream in(root + "/sim/battery");
    std::string text;
    if (!(in >> text)) return kFullBattery;
    return std::strtol(text.c_str(), nullptr, 0);
}

// Why a text is not a fuel-gauge reading; "" when it is one.
std::string reading_error(const std::string& reading) {
    char* end = nullptr;
    const long v = std::strtol(reading.c_str(), &end, 0);
    if (reading.empty() || !std::isdigit(static_cast<unsigned char>(reading[0])) || *end != '\0' || v < 0 || v > 0xFFFF)
        return "not a reading: \"" + reading + "\" (0 to 65535, decimal or 0x hex)";
    return "";
}

int i2cget(int argc, char** argv) {
    const std::string root = board_root(argc, argv);
    const int i = skip_flags(argc, argv);
    if (argc - i < 3) {
        std::fprintf(stderr, "Usage: i2cget [-f] [-y] I2CBUS CHIP-ADDRESS [DATA-ADDRESS]\n");
        return 1;
    }
    const long chip = std::strtol(argv[i + 1], nullptr, 0);
    const long reg = std::strtol(argv[i + 2], nullptr, 0);
    if (chip != 0x64) {
        std::fprintf(stderr, "Error: Read failed\n");
        return 2;
    }
    const long r = battery_reading(root);
    const long value = reg == 2 ? (r >> 8) & 0xFF : reg == 3 ? r & 0xFF : 0;
    std::printf("0x%02lx\n", value);
    return 0;
}

int i2cset(int argc, char** argv) {
    const std::string root = board_root(argc, argv);
    std::ofstream log(root + "/sim/i2cset.log", std::ios::app);
    for (int i = 1; i < argc; ++i) log << (i > 1 ? " " : "") << argv[i];
    log << "\n";
    return 0;
}

int battery(int argc, char** argv) {
    const std::string root = board_root(argc, argv);
    if (root.empty() || argc != 2) {
        std::fprintf(stderr, "%s: give --root DIR (or HDEXT_BOARD_ROOT) and the reading (e.g. 12000)\n", argv[0]);
        return 2;
    }
    if (std::string bad = reading_error(argv[1]); !bad.empty()) {
        std::fprintf(stderr, "%s: %s\n", argv[0], bad.c_str());
        return 2;
    }
    const std::string err = set_battery(root, argv[1]);
    if (err.empty()) return 0;
    std::fprintf(stderr, "%s: %s\n", argv[0], err.c_str());
    return 1;
}

const CommandRegistration reg_battery("battery", "[--root DIR] READING (fuel gauge, e.g. 12000 or 0x2EE0)", battery);
const CommandRegistration reg_get("i2cget", "[-f] [-y] BUS CHIP REG (stand-in: the fuel gauge)", i2cget);
const CommandRegistration reg_set("i2cset", "[-f] [-y] BUS CHIP REG VALUE (stand-in: accepted)", i2cset);

} // namespace

std::string set_battery(const std::string& root, const std::string& reading) {
    if (std::string bad = reading_error(reading); !bad.empty()) return bad;
    std::ofstream out(root + "/sim/battery");
    out << reading << "\n";
    return out ? "" : "cannot write " + root + "/sim/battery";
}

} // namespace hdext::sim
