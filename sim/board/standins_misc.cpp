// Stand-ins for the board's DHCP server and system commands inside a world. The system
// commands only record their command line in the unit's sim/commands.log.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "sim/board/command.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace {

constexpr const char* kUdhcpd = "/usr/sbin/udhcpd";

std::string board_root_env() {
    const char* r = std::getenv("HDEXT_BOARD_ROOT");
    return r ? r : "";
}

int record(int argc, char** argv) {
    const std::string root = board_root_env();
    if (root.empty()) {
        std::fprintf(stderr, "%s: HDEXT_BOARD_ROOT is not set\n", argv[0]);
        return 1;
    }
    std::string line = argv[0];
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    std::ofstream(root + "/sim/commands.log", std::ios::app) << line << "\n";
    return 0;
}

// The interface's IPv4 address in host order, 0 when it has none.
uint32_t if_address(const char* ifname) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 0;
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", ifname);
    uint32_t a = 0;
    if (ioctl(fd, SIOCGIFADDR, &ifr) == 0) {
        sockaddr_in sin;  // copied out: ifr_addr's type is less aligned than sockaddr_in
        std::memcpy(&sin, &ifr.ifr_addr, sizeof sin);
        a = ntohl(sin.sin_addr.s_addr);
    }
    close(fd);
    return a;
}

std::string dotted(uint32_t host_order) {
    in_addr a{htonl(host_order)};
    return inet_ntoa(a);
}

// "dhcpd IFACE": busybox udhcpd with a generated configuration, in the background. On wlan0 the
// kit's plan (pool .100-.200 of 192.168.168.0/24, router .1); on another interface the same
// pool in the /24 of that interface's address, with the interface as router.
int dhcpd(int argc, char** argv) {
    const std::string root = board_root_env();
    if (root.empty() || argc < 2) {
        std::fprintf(stderr, "usage: dhcpd IFACE (on a simulated board)\n");
        return 1;
    }
    record_daemon("dhcpd", argc, argv);
    const char* ifname = argv[argc - 1];
    uint32_t router = 0xC0A8A801;  // 192.168.168.1
    if (std::strcmp(ifname, "wlan0") != 0) {
        router = if_address(ifname);
        if (!router) {
            std::fprintf(stderr, "dhcpd: %s has no address\n", ifname);
            return 1;
        }
    }
    const uint32_t net = router & 0xFFFFFF00;
    const std::string conf = root + "/sim/udhcpd-" + ifname + ".conf";
    std::ofstream(conf) << "start " << dotted(net | 100) << "\n"
                        << "end " << dotted(net | 200) << "\n"
                        << "interface " << ifname << "\n"
                        << "max_leases 101\n"
                        << "option subnet 255.255.255.0\n"
                        << "option router " << dotted(router) << "\n"
                        << "option dns " << dotted(router) << "\n"
                        << "option lease 864000\n"
                        << "lease_file " << root << "/sim/udhcpd-" << ifname << ".leases\n"
                        << "pidfile " << root << "/var/run/dhcpd.pid\n";
    std::ofstream(root + "/sim/udhcpd-" + std::string(ifname) + ".leases", std::ios::app).flush();
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid > 0) return 0;
    setsid();
    int out = open((root + "/sim/udhcpd-" + ifname + ".log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    execl(kUdhcpd, "udhcpd", "-f", conf.c_str(), static_cast<char*>(nullptr));
    std::perror(kUdhcpd);
    _exit(127);
}

const CommandRegistration reg_dhcpd("dhcpd", "IFACE (stand-in: busybox udhcpd)", dhcpd);
const CommandRegistration reg_insmod("insmod", "ARGS (stand-in: recorded)", record);
const CommandRegistration reg_reboot("reboot", "ARGS (stand-in: recorded)", record);

} // namespace
} // namespace hdext::sim
