// Link work off the network task: the link start and an RX's wait for its lease run on a
// thread of their own, so a pairing request is served while the station waits for a TX that
// may never come back.
#include <arpa/inet.h>
#include <pthread.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "board/shell.h"
#include "net/dhcp_client.h"
#include "net/network_task.h"
#include "settings/param_config.h"

namespace {

std::mutex g_lock;
std::condition_variable g_ended;
bool g_busy = false;            // link work runs (guarded by g_lock)
std::atomic<bool> g_stop{false};
std::atomic<bool> g_leased{false};
std::atomic<bool> g_starting{false};  // StartLink's start has not ended yet

void work_ended() {
    std::lock_guard<std::mutex> g(g_lock);
    g_busy = false;
    g_stop.store(false);
    g_ended.notify_all();
}

// Marks the work busy before it starts, so a link change that follows at once waits for it.
void run_link_work(void (*fn)()) {
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_busy = true;
    }
    try {
        std::thread([fn] {
            pthread_setname_np(pthread_self(), "link");
            fn();
            work_ended();
        }).detach();
    } catch (const std::system_error& e) {
        // No thread to spare: the caller waits for the work itself.
        std::printf("link thread not started (%s): link work runs here\n", e.what());
        fn();
        work_ended();
    }
}

} // namespace

bool wait_for_lease() {
    dhcp_lease lease{};
    while (get_lease(&lease, CNetworkTask::LinkWorkStopping) != 0) {
        if (CNetworkTask::LinkWorkStopping()) {
            std::printf("lease wait stopped: the link is changing\n");
            return false;
        }
    }
    apply_lease(lease, "system_cmd failed(). info:%s");
    return true;
}

void apply_lease(const dhcp_lease& lease, const char* route_fail_fmt) {
    if_set_ip(lease.offered, kWlanIf);
    if_set_gateway(lease.router, lease.mask, kWlanIf);
    set_dns_server(lease.dns1, lease.dns2);
    g_leased.store(true);
    char router[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &lease.router, router, sizeof router);
    std::printf(">>>>>> >>>>>> AddRT: %s\n", router);
    char cmd[64];
    std::snprintf(cmd, sizeof cmd, "route add default gw %s", router);
    if (system_cmd(cmd, 10) != 0) std::fprintf(stderr, route_fail_fmt, cmd);
}

int get_lease(dhcp_lease* lease, bool (*stop)()) {
    const NetHooks hooks = CNetworkTask::Hooks();
    return hooks.get_lease ? hooks.get_lease(lease, kWlanIf, stop) : dhcp_set_ip(lease, kWlanIf, stop);
}

void CNetworkTask::StopLinkWork() {
    std::unique_lock<std::mutex> g(g_lock);
    if (!g_busy) return;
    g_stop.store(true);
    g_ended.wait(g, [] { return !g_busy; });
}

bool CNetworkTask::LinkWorkStopping() { return g_stop.load(); }

bool CNetworkTask::RxLinked() {
    bool (*linked)() = Hooks().rx_linked;
    return linked && linked();
}

bool CNetworkTask::LinkStarting() { return g_starting.load(); }

int CNetworkTask::StartLink() {
    g_starting.store(true);
    run_link_work([] {
        Instance()->Start();
        g_starting.store(false);
    });
    return 0;
}

void CNetworkTask::ResumeLeaseWait() {
    if (mode != WIRELESS_MODE_STA || g_leased.load() || GetPairingStatus() == PAIRING_STATUS_STARTING) return;
    if (strcmp(stored_wifi().ssid, kDefaultSsid) == 0) return;
    std::printf("no lease yet: waiting for one\n");
    run_link_work([] { wait_for_lease(); });
}
