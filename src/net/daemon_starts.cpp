// Daemon starts: each daemon is started through a read pipe that is kept in its slot, then
// watched in the process list until it runs with its configuration file.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

// True when the text names the interface as a word of its own ("dhcpd eth1", "udhcpd-eth1.conf"),
// not as the start of a longer name.
bool names_interface(const char* text, const char* ifname) {
    const size_t n = strlen(ifname);
    for (const char* at = strstr(text, ifname); at; at = strstr(at + 1, ifname)) {
        if ((at == text || !isalnum(static_cast<unsigned char>(at[-1]))) && !isalnum(static_cast<unsigned char>(at[n])))
            return true;
    }
    return false;
}

// Ends every DHCP server on ifname, whoever started it: a server outlives its pipe, so one left
// by an earlier run of the program (or an earlier start in this one) would serve beside the new.
void end_dhcp_servers(const char* ifname) {
    auto pipe = hdext::board::shell()->open("ps | grep  dhcpd |  grep -v grep");
    if (!pipe) return;
    std::vector<int> pids;
    char buf[1024];
    bool line_start = true;
    int pid = 0;
    while (pipe->gets(buf, sizeof buf)) {
        if (line_start) pid = atoi(buf);  // a process line begins with its PID
        if (pid > 0 && names_interface(buf, ifname) && (pids.empty() || pids.back() != pid)) pids.push_back(pid);
        line_start = strchr(buf, '\n') != nullptr;
    }
    pipe->close();
    for (int p : pids) {
        printf("dhcpd: ending the server left on %s (pid %d)\n", ifname, p);
        system_cmd(("kill -9 " + std::to_string(p)).c_str(), 10);
    }
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
                  const std::function<void()>& before_retry) {
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
    end_dhcp_servers(ifname);
    char cmd[64];
    snprintf(cmd, sizeof cmd, "%s %s", "dhcpd", ifname);
    printf("AP startup command :::::: :::::: %s\n", cmd);
    daemon_popen(Daemon::dhcpd, cmd);
    settle();
    // A start that was only slow would still serve beside the next one.
    daemon_watch(Daemon::dhcpd, "dhcpd", ifname, cmd, "run hostapd at time : %d\n", [ifname] {
        remove_dhcpd_pid();
        end_dhcp_servers(ifname);
        settle();
    });
    return 0;
}

int CNetworkTask::StartAP(WIRELESS_FREQUENCY_TYPE band, bool hidden) {
    start_daemon_dhcpd(kWlanIf);
    create_hostapd_ac_conf(band, hidden, 0);
    // One left by an earlier run would keep the access point on its old file (the pairing
    // network, if that run ended while pairing). No pause after it: a start that comes too soon
    // is repeated by the watch.
    daemon_close(Daemon::hostapd);
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
