// Stand-ins for the board's Wi-Fi programs inside a world: hostapd and wpa_supplicant publish
// what they serve or look for to the air and stay running while they do; hostapd_cli moves
// the channel; iwlist and iwconfig report what the air holds.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/board/air_state.h"
#include "sim/board/command.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace {

struct Unit {
    std::string world, name;
    std::string air(const std::string& what) const { return world + "/air/" + what + "-" + name; }
};

bool unit_of(Unit* u, const char* prog) {
    if (own_unit(&u->world, &u->name)) return true;
    std::fprintf(stderr, "%s: not on a simulated world's board (HDEXT_BOARD_ROOT)\n", prog);
    return false;
}

// "key=value" and "\tkey=\"value\"" lines of a daemon configuration.
std::string conf_value(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line.compare(b, key.size() + 1, key + "=") != 0) continue;
        std::string v = line.substr(b + key.size() + 1);
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        return v;
    }
    return "";
}

bool has_flag(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], flag) == 0) return true;
    return false;
}

// Publishes text under path and keeps running while the lock is held. With "-B", the caller
// returns once the daemon has published (as such daemons do). The daemon's command line and
// PID are kept under the board's var/run/, so the world can stop and start it again.
int serve(const char* name, int argc, char** argv, const std::string& path, const std::string& text) {
    const bool background = has_flag(argc, argv, "-B");
    record_daemon(name, argc, argv);
    int ready[2];
    if (background && pipe(ready) != 0) return 1;
    if (background) {
        pid_t pid = fork();
        if (pid < 0) return 1;
        if (pid > 0) {
            close(ready[1]);
            char c = '0';
            if (read(ready[0], &c, 1) != 1) c = '0';
            return c == '1' ? 0 : 1;
        }
        close(ready[0]);
        setsid();
        int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3 && null >= 0; ++fd) dup2(null, fd);
    }
    int fd = publish_locked(path, text);
    if (fd >= 0) record_daemon_pid(name);
    if (background) {
        char c = fd >= 0 ? '1' : '0';
        if (write(ready[1], &c, 1) < 0) _exit(1);
        close(ready[1]);
    }
    if (fd < 0) {
        std::fprintf(stderr, "cannot publish %s\n", path.c_str());
        return 1;
    }
    for (;;) pause();
}

int hostapd(int argc, char** argv) {
    Unit u;
    if (!unit_of(&u, "hostapd")) return 1;
    const char* conf = nullptr;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') conf = argv[i];
    if (!conf) {
        std::fprintf(stderr, "usage: hostapd CONFIG [-B]\n");
        return 1;
    }
    const std::string text = read_text(conf);
    const std::string ssid = conf_value(text, "ssid"), pass = conf_value(text, "wpa_passphrase");
    const std::string channel = conf_value(text, "channel");
    if (ssid.empty() || pass.size() < 8 || channel.empty()) {
        std::fprintf(stderr, "hostapd: %s: missing or bad ssid, wpa_passphrase or channel\n", conf);
        return 1;
    }
    return serve("hostapd", argc, argv, u.air("ap"),
                 "ssid=" + ssid + "\npassphrase=" + pass + "\nchannel=" + channel + "\n");
}

int hostapd_cli(int argc, char** argv) {
    Unit u;
    if (!unit_of(&u, "hostapd_cli")) return 1;
    if (argc < 4 || std::strcmp(argv[1], "chan_switch") != 0) {
        std::fprintf(stderr, "usage: hostapd_cli chan_switch COUNT FREQ_MHZ\n");
        return 1;
    }
    const std::string path = u.air("ap");
    if (!is_live(path)) {
        std::fprintf(stderr, "Failed to connect to hostapd - wpa_ctrl_open: No such file or directory\n");
        return 1;
    }
    int freq = std::atoi(argv[3]);
    int channel = (freq - 5000) / 5;
    if (freq < 5000 || channel < 1 || channel > 200) {
        std::printf("FAIL\n");
        return 1;
    }
    const std::string text = read_text(path);
    rewrite_published(path, "ssid=" + value_of(text, "ssid") + "\npassphrase=" +
                                value_of(text, "passphrase") + "\nchannel=" + std::to_string(channel) + "\n");
    std::printf("OK\n");
    return 0;
}

int wpa_supplicant(int argc, char** argv) {
    Unit u;
    if (!unit_of(&u, "wpa_supplicant")) return 1;
    const char* conf = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-c") == 0) conf = argv[i + 1];
    if (!conf) {
        std::fprintf(stderr, "usage: wpa_supplicant -D DRIVER -i IFACE -c CONFIG [-B]\n");
        return 1;
    }
    const std::string text = read_text(conf);
    const std::string ssid = conf_value(text, "ssid"), psk = conf_value(text, "psk");
    if (ssid.empty() || psk.size() != 64) {
        std::fprintf(stderr, "wpa_supplicant: %s: no network with ssid and psk\n", conf);
        return 1;
    }
    return serve("wpa_supplicant", argc, argv, u.air("sta"), "ssid=" + ssid + "\npsk=" + psk + "\n");
}

struct Cell {
    std::string ssid;
    int channel;
};

std::vector<Cell> visible(const Unit& u) {
    std::vector<Cell> cells;
    for (const auto& a : live_aps(u.world))
        if (a.unit != u.name) cells.push_back({a.ssid, a.channel});
    std::istringstream in(read_text(u.world + "/neighbours"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        Cell c{"", 0};
        if (l >> c.channel) {
            l >> c.ssid;
            cells.push_back(c);
        }
    }
    return cells;
}

// The channel this unit works on: its own access point's, or that of the one it joined.
int current_channel(const Unit& u, std::string* ssid) {
    const auto aps = live_aps(u.world);
    for (const auto& a : aps)
        if (a.unit == u.name) return *ssid = a.ssid, a.channel;
    for (const auto& s : live_stations(u.world))
        if (s.unit == u.name)
            if (const ApInfo* a = ap_for(s, aps)) return *ssid = a->ssid, a->channel;
    return 0;
}

std::string ghz(int channel) {
    char b[32];
    int mhz = channel <= 14 ? 2407 + 5 * channel : 5000 + 5 * channel;
    std::snprintf(b, sizeof b, "%g GHz", mhz / 1000.0);
    return b;
}

// One "Channel" line per cell, so every network counts once in a scan that greps for it.
int iwlist(int argc, char** argv) {
    Unit u;
    if (!unit_of(&u, "iwlist")) return 1;
    if (argc < 3) {
        std::fprintf(stderr, "usage: iwlist IFACE scanning|channel\n");
        return 1;
    }
    if (std::strncmp(argv[2], "scan", 4) == 0) {
        std::printf("%-10sScan completed :\n", argv[1]);
        int n = 0;
        for (const auto& c : visible(u)) {
            ++n;
            std::printf("          Cell %02d - Address: 02:00:00:00:%02X:%02X\n", n, n >> 8, n & 0xFF);
            std::printf("                    Channel:%d\n", c.channel);
            std::printf("                    Frequency:%s\n", ghz(c.channel).c_str());
            std::printf("                    Quality=60/70  Signal level=-50 dBm\n");
            std::printf("                    Encryption key:on\n");
            std::printf("                    ESSID:\"%s\"\n", c.ssid.c_str());
        }
        return 0;
    }
    if (std::strncmp(argv[2], "chan", 4) == 0 || std::strncmp(argv[2], "freq", 4) == 0) {
        static const int chans[] = {36, 40, 44, 48, 149, 153, 157, 161};
        std::printf("%-10s%zu channels in total; available frequencies :\n", argv[1], std::size(chans));
        for (int c : chans) std::printf("          Channel %d : %s\n", c, ghz(c).c_str());
        std::string ssid;
        if (int c = current_channel(u, &ssid)) std::printf("          Current Frequency:%s (Channel %d)\n", ghz(c).c_str(), c);
        return 0;
    }
    std::fprintf(stderr, "iwlist: unknown request %s\n", argv[2]);
    return 1;
}

int iwconfig(int argc, char** argv) {
    Unit u;
    if (!unit_of(&u, "iwconfig")) return 1;
    const char* ifname = argc > 1 ? argv[1] : "wlan0";
    std::string ssid;
    int channel = current_channel(u, &ssid);
    if (!channel) {
        std::printf("%-10sIEEE 802.11  ESSID:off/any\n          Mode:Managed  Access Point: Not-Associated\n\n", ifname);
        return 0;
    }
    std::string root = u.world + "/" + u.name;
    int quality = std::atoi(read_text(root + "/sim/link-quality").c_str());
    std::printf("%-10sIEEE 802.11  ESSID:\"%s\"\n", ifname, ssid.c_str());
    std::printf("          Mode:Managed  Frequency:%s  Access Point: 02:00:00:00:00:01\n", ghz(channel).c_str());
    std::printf("          Link Quality=%d/70  Signal level=%d dBm\n\n", quality, quality - 110);
    return 0;
}

const CommandRegistration reg_hostapd("hostapd", "CONFIG [-B] (stand-in, in a world)", hostapd);
const CommandRegistration reg_hostapd_cli("hostapd_cli", "chan_switch COUNT FREQ (stand-in)", hostapd_cli);
const CommandRegistration reg_wpa("wpa_supplicant", "-D DRV -i IFACE -c CONFIG [-B] (stand-in)", wpa_supplicant);
const CommandRegistration reg_iwlist("iwlist", "IFACE scanning|channel (stand-in)", iwlist);
const CommandRegistration reg_iwconfig("iwconfig", "[IFACE] (stand-in)", iwconfig);

} // namespace
} // namespace hdext::sim
