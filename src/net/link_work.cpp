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
#include "core/event.h"
#include "net/dhcp_client.h"
#include "net/network_task.h"
#include "settings/param_config.h"
#include "stream/limits.h"

namespace {

std::mutex g_lock;
std::condition_variable g_ended;
bool g_busy = false;            // link work runs (guarded by g_lock)
std::atomic<bool> g_stop{false};
std::atomic<bool> g_leased{false};
std::atomic<bool> g_starting{false};  // StartLink's start has not ended yet
// Work whose thread could not start, and whether the network task's retry timer is armed.
std::atomic<void (*)()> g_pending{nullptr};
bool g_retry_armed = false;  // network task only
hdext::stream::Episode g_no_thread;

void work_ended() {
    std::lock_guard<std::mutex> g(g_lock);
    g_busy = false;
    g_stop.store(false);
    g_ended.notify_all();
}

// Marks the work busy before it starts, so a link change that follows at once waits for it.
// Without a thread the work is not run here: an RX's lease wait on the network task would wait
// for a stop that only that task can give.
void run_link_work(void (*fn)()) {
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_busy = true;
    }
    try {
        if (bool (*refused)() = CNetworkTask::Hooks().link_thread_refused; refused && refused())
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        std::thread([fn] {
            pthread_setname_np(pthread_self(), "link");
            fn();
            work_ended();
        }).detach();
        if (g_no_thread.end()) std::printf("link thread started\n");
        return;
    } catch (const std::system_error& e) {
        if (g_no_thread.begin())
            std::printf("link thread not started (%s): trying again every %lld ms\n", e.what(),
                        static_cast<long long>(CNetworkTask::Timing().link_retry.count()));
    }
    g_pending.store(fn);
    work_ended();
    int zero = 0;
    CNetworkTask::Notify(kMidNetwork, LOCAL_MSG_NETWORK_LINK_RETRY, &zero, sizeof zero);
}

void on_link_retry(THR_TASK* task, EVENT_HANDLER* h) {
    unregister_event_handle(task, h->id);
    g_retry_armed = false;
    if (void (*fn)() = g_pending.exchange(nullptr)) run_link_work(fn);
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

void CNetworkTask::RetryLinkWork(THR_TASK* task) {
    if (g_retry_armed) return;
    EVENT_REG reg{};
    reg.fd = -1;
    reg.flags = EV_TIMER;
    reg.period = static_cast<uint32_t>(Timing().link_retry.count());
    reg.timer_fn = on_link_retry;
    g_retry_armed = register_event_handle(task, &reg) != 0;
}

void CNetworkTask::StopLinkWork() {
    // The change that follows asks an RX's lease again; a TX's start is still owed.
    if (Instance()->mode == WIRELESS_MODE_STA && g_pending.exchange(nullptr)) g_starting.store(false);
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
