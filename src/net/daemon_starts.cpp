// Daemon starts: each daemon is started through a read pipe that is kept in its slot, then
// watched in the process list until it runs with its configuration file.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "board/board.h"
#include "board/shell.h"
#include "net/network_task.h"

namespace {

std::mutex g_slot_lock;
std::unique_ptr<hdext::board::CommandPipe> g_slots[3];

const char* daemon_name(Daemon d) {
    switch (d) {
    case Daemon::hostapd: return "hostapd";
    case Daemon::wpa_supplicant: return "wpa_supplicant";
    case Daemon::dhcpd: return "dhcpd";
    }
    return "";
}

void settle() { std::this_thread::sleep_for(CNetworkTask::Timing().settle); }

void remove_dhcpd_pid() {
    std::string cmd = "rm " + hdext::board::path("/var/run/dhcpd.pid");
    system_cmd(cmd.c_str(), 10);
}

void start_hostapd(const char* conf, const char* banner, const char* retry_fmt) {
    char cmd[256];
    snprintf(cmd, sizeof cmd, "%s %s -B", "hostapd", hdext::board::path(conf).c_str());
    printf(banner, cmd);
    daemon_popen(Daemon::hostapd, cmd);
    settle();
    daemon_watch(Daemon::hostapd, "hostapd", kWirelessDir, cmd, retry_fmt);
}

} // namespace

int daemon_popen(Daemon d, const char* cmd) {
    auto pipe = hdext::board::shell()->open(cmd);
    if (!pipe) {
        int err = errno;
        perror(cmd);
        printf("popen error: %s \n", strerror(err));
        return -1;
    }
    std::unique_ptr<hdext::board::CommandPipe> old;
    {
        std::lock_guard<std::mutex> g(g_slot_lock);
        old = std::move(g_slots[static_cast<int>(d)]);
        g_slots[static_cast<int>(d)] = std::move(pipe);
    }
    if (old && old->close() != 0) printf("close popen file pointer fp error! \n");
    return 0;
}

void daemon_pclose(Daemon d) {
    std::unique_ptr<hdext::board::CommandPipe> p;
    {
        std::lock_guard<std::mutex> g(g_slot_lock);
        p = std::move(g_slots[static_cast<int>(d)]);
    }
    if (p && p->close() != 0) printf("close popen file pointer fp error! \n");
}

void daemon_close(Daemon d) {
    printf("Close daemon ::: %s\n", daemon_name(d));
    daemon_pclose(d);
    char cmd[64];
    snprintf(cmd, sizeof cmd, "killall -9 %s", daemon_name(d));
    system_cmd(cmd, 10);
}

void daemon_watch(Daemon d, const char* name, const char* text, const char* cmd, const char* retry_fmt,
                  void (*before_retry)()) {
    for (int attempt = 1; !CheckAppExist(name, text); ++attempt) {
        daemon_pclose(d);
        if (before_retry) before_retry();
        daemon_popen(d, cmd);
        printf(retry_fmt, attempt);
        settle();
    }
}

int CNetworkTask::start_daemon_dhcpd(const char* ifname) {
    bool kept = false;
    {
        std::lock_guard<std::mutex> g(g_slot_lock);
        kept = g_slots[static_cast<int>(Daemon::dhcpd)] != nullptr;
    }
    if (kept) {
        daemon_pclose(Daemon::dhcpd);
        remove_dhcpd_pid();
    }
    char cmd[64];
    snprintf(cmd, sizeof cmd, "%s %s", "dhcpd", ifname);
    printf("AP startup command :::::: :::::: %s\n", cmd);
    daemon_popen(Daemon::dhcpd, cmd);
    settle();
    daemon_watch(Daemon::dhcpd, "dhcpd", ifname, cmd, "run hostapd at time : %d\n", [] {
        remove_dhcpd_pid();
        settle();
    });
    return 0;
}

int CNetworkTask::StartAP(WIRELESS_FREQUENCY_TYPE band, bool hidden) {
    start_daemon_dhcpd(kWlanIf);
    create_hostapd_ac_conf(band, hidden, 0);
    start_hostapd(band == WIRELESS_FREQUENCY_5G ? kHostapd5GConf : kHostapd24GConf,
                  "AP startup command :::::: :::::: %s\n", "run hostapd at time : %d\n");
    return 0;
}

int CNetworkTask::StartPairingAP() {
    create_hostapd_pairing_conf();
    daemon_close(Daemon::hostapd);
    std::this_thread::sleep_for(Timing().kill_settle);
    start_hostapd(kHostapdPairingConf, "AP pairing startup command :::::: :::::: %s\n",
                  "run hostapd at %d time(s)\n");
    return 0;
}
