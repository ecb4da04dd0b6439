// Pairing: a new RX and the TX meet on the fixed pairing network; the RX asks on TCP 6666 for
// the TX's network name and passphrase, stores them and acknowledges; both return to their
// normal link. Everything here runs on the network task (its handlers and message handler).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/dump_print.h"
#include "core/event.h"
#include "core/mempool.h"
#include "net/dhcp_client.h"
#include "net/network_task.h"
#include "net/pairing_messages.h"
#include "settings/param_config.h"
#include "stream/limits.h"

std::atomic<uint32_t> g_pairing_accept_id{0};
std::atomic<uint32_t> g_pairing_timeout_id{0};

namespace {

std::mutex g_hooks_lock;
NetHooks g_hooks;

int g_timeout_calls = 0;  // network task only

// Anyone on the pairing network can connect (its passphrase is the same on every unit); one
// RX pairs at a time, so a few open connections are plenty. Each has a deadline counted from
// its accept, whatever it sends; when all places are taken, a new connection replaces the
// oldest that has not completed a request. Network task only.
constexpr int kPairingConnMax = 4;
struct PairingConn {
    uint32_t id;  // its event handler
    std::chrono::steady_clock::time_point deadline;
    bool answered;  // it has sent a whole request we answered (or the acknowledgement)
};
std::vector<PairingConn> g_conns;  // in accept order
hdext::stream::LogBrake g_refused_log;
hdext::stream::Episode g_accept_failing;

PairingConn* conn_of(uint32_t id) {
    for (PairingConn& c : g_conns)
        if (c.id == id) return &c;
    return nullptr;
}

void forget_conn(uint32_t id) { std::erase_if(g_conns, [&](const PairingConn& c) { return c.id == id; }); }

// Marks the handler deleted (its destroy closes the socket) and frees its place at once.
void end_conn(THR_TASK* task, uint32_t id, const char* why) {
    if (why && g_refused_log.pass()) printf("pairing connection closed: %s\n", why);
    forget_conn(id);
    unregister_event_handle(task, id);
}

void settle() { std::this_thread::sleep_for(CNetworkTask::Timing().settle); }

void notify_self(uint32_t msgid) {
    int zero = 0;
    CNetworkTask::Notify(kMidNetwork, msgid, &zero, sizeof zero);
}

uint8_t* new_message(uint8_t kind, uint16_t sub) {
    auto* m = static_cast<uint8_t*>(mempool_alloc(kPairingRequestLen));
    if (!m) {
        printf("can not malloc\n");
        return nullptr;
    }
    memset(m, 0, kPairingRequestLen);
    m[0] = kind;
    m[6] = kPairingType >> 8;
    m[7] = kPairingType & 0xFF;
    m[8] = static_cast<uint8_t>(sub >> 8);
    m[9] = static_cast<uint8_t>(sub & 0xFF);
    return m;
}

// ---- TX side ----

void on_TX_pairing_timeout(THR_TASK* task, EVENT_HANDLER* h) {
    if (++g_timeout_calls < CNetworkTask::Timing().pairing_timeout_calls) return;
    g_timeout_calls = 0;
    notify_self(LOCAL_MSG_NETWORK_RECONNECT);
    unregister_event_handle(task, h->id);
    g_pairing_timeout_id.store(0, std::memory_order_relaxed);
}

// A peer that trickles bytes or says nothing would hold one of the few places for as long as
// it likes. The handler's timer is armed once, at the accept.
void on_TX_pairing_deadline(THR_TASK* task, EVENT_HANDLER* h) { end_conn(task, h->id, "its time is up"); }

void on_TX_pairing_read(int fd, THR_TASK* task, EVENT_HANDLER* h) {
    const ABS_WIFI_AP_CONFIG_t w = stored_wifi();
    uint8_t msg[kPairingRequestLen];
    ssize_t n = recv(fd, msg, sizeof msg, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 1) {
        printf("close socket: %d\n\n", fd);
        end_conn(task, h->id, nullptr);
        return;
    }
    const PairingRequest req = pairing_parse_request(msg, static_cast<size_t>(n));
    DUMP(3, "Get a msg from RX : 0x%04X", req.type);
    DUMP(3, "Get a pin msg from RX : 0x%04X", req.sub);
    DUMP(3, "Get app uuid : %s", req.uuid);
    if (req.type != kPairingType) return;
    uint8_t reply[kPairingReplyLen];
    const bool answer = req.kind != kPairingKindDone && pairing_build_reply(req, w.ssid, w.password, reply);
    // Only a whole request that is answered (or the acknowledgement) shows a real exchange.
    if (PairingConn* c = conn_of(h->id); c && n == kPairingRequestLen && (answer || req.kind == kPairingKindDone))
        c->answered = true;
    if (req.kind == kPairingKindDone) {
        CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_SUCCESS);
        notify_self(LOCAL_MSG_NETWORK_RECONNECT);
        notify_self(LOCAL_MSG_NETWORK_PAIR_ACK_WRITE);
        unregister_event_handle(task, g_pairing_accept_id.load(std::memory_order_relaxed));
        settle();
        return;
    }
    if (answer && send(fd, reply, sizeof reply, MSG_NOSIGNAL) < 0) perror("send");
}

void on_TX_pairing_read_destroy(EVENT_HANDLER* h, EVENT_HANDLER*) {
    g_pairing_timeout_id.store(0, std::memory_order_relaxed);
    printf("it will close fd : %d\n", h->fd);
    if (h->fd >= 1) close(h->fd);
    forget_conn(h->id);
}

void on_TX_pairing_accept(int lfd, THR_TASK* task, uint32_t) {
    DUMP(3, "on_TX_pairing_accept a client. fd=%d, ptask=%p", lfd, static_cast<void*>(task));
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(lfd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
        DUMP(3, "accept Faild");
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // The listener stays readable: without a pause the loop would spin until a
            // descriptor is free.
            if (g_accept_failing.begin()) printf("pairing accept paused: %s\n", strerror(errno));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return;
    }
    if (g_accept_failing.end()) printf("pairing accept resumed\n");
    const auto now = std::chrono::steady_clock::now();
    // The deadline timers run only while the task is idle; a busy port is swept here too.
    while (!g_conns.empty() && g_conns.front().deadline <= now) end_conn(task, g_conns.front().id, "its time is up");
    if (g_conns.size() >= kPairingConnMax) {
        const auto idle = std::find_if(g_conns.begin(), g_conns.end(), [](const PairingConn& c) { return !c.answered; });
        if (idle == g_conns.end()) {
            if (g_refused_log.pass()) printf("pairing connection refused: %zu already open\n", g_conns.size());
            close(fd);
            return;
        }
        end_conn(task, idle->id, "the oldest without a request makes room for a new one");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    printf("IpAddr %s:%d fd = %d \n", ip, ntohs(peer.sin_port), fd);
    uint32_t tid = g_pairing_timeout_id.load(std::memory_order_relaxed);
    if (tid > 0) {
        printf("unregister pairing event ......\n");
        unregister_event_handle(task, tid);
        g_pairing_timeout_id.store(0, std::memory_order_relaxed);
    }
    const auto limit = CNetworkTask::Timing().pairing_conn_limit;
    EVENT_REG reg{};
    reg.fd = fd;
    reg.flags = EV_READ | EV_TIMER;
    reg.read_fn = on_TX_pairing_read;
    reg.timer_fn = on_TX_pairing_deadline;
    reg.period = static_cast<uint32_t>(limit.count());
    reg.destroy_fn = on_TX_pairing_read_destroy;
    if (register_event_handle(task, &reg))
        g_conns.push_back({reg.id, now + limit, false});
    else
        close(fd);
}

void on_TX_pairing_accept_destory(EVENT_HANDLER* h, EVENT_HANDLER*) {
    printf("on_TX_pairing_accept_destory ....\n");
    g_pairing_accept_id.store(0, std::memory_order_relaxed);
    printf("it will close fd : %d\n", h->fd);
    if (h->fd >= 1) close(h->fd);
}

// ---- RX side ----

void on_RX_pairing_connected(int fd, THR_TASK* task, EVENT_HANDLER* h) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err != 0) {
        DUMP(3, "on_streamsvr_connect Faild");
        DUMP(3, "on_agentsvr_connect FAIL");
        unregister_event_list(task, h);
        return;
    }
    remove_event_handler_list(task, h, EV_CONNECT);
    DUMP(3, "connect to TX successful fd = %d", fd);
    uint8_t* m = new_message(kPairingKindRequest, kPairingSubCredentials);
    if (!m) return;
    h->user_data = m;
    add_event_handler_list(task, h, EV_WRITE);
}

void on_RX_pairing_write(int fd, THR_TASK* task, EVENT_HANDLER* h) {
    auto* m = static_cast<uint8_t*>(h->user_data);
    if (!m) {
        printf("NULL\n");
        return;
    }
    ssize_t ret = send(fd, m, kPairingRequestLen, MSG_NOSIGNAL);
    printf("send pairing msg to TX, ret = %zd\n", ret);
    remove_event_handler_list(task, h, EV_WRITE);
    if (m[0] == kPairingKindDone) {
        CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_SUCCESS);
        unregister_event_list(task, h);
        notify_self(LOCAL_MSG_NETWORK_RECONNECT);
        CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTED);
        settle();
        return;
    }
    mempool_free(m);
    h->user_data = nullptr;
}

void on_RX_pairing_read(int fd, THR_TASK* task, EVENT_HANDLER* h) {
    // One byte more than a reply, so that an overlong one is seen.
    uint8_t reply[kPairingReplyLen + 1];
    ssize_t ret = recv(fd, reply, sizeof reply, MSG_DONTWAIT);
    if (ret < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    PairingCredentials c;
    if (ret <= 0 || !pairing_parse_reply(reply, static_cast<size_t>(ret), &c)) {
        // Short, closed, overlong or unusable: nothing is stored and the exchange ends here.
        printf("Receive from TX, ret = %zd, reply not usable, pairing exchange ended\n", ret);
        unregister_event_list(task, h);
        return;
    }
    printf("Receive from TX, ret = %zd, TX formal SSID : %s, PASS: %s\n", ret, c.ssid, c.password);
    CParamConfig::ParamNotify(kMidNetwork, kMsgParamWifiCredentials, reply, kPairingReplyLen);
    uint8_t* m = new_message(kPairingKindDone, 0);
    if (!m) return;
    if (h->user_data) mempool_free(h->user_data);
    h->user_data = m;
    add_event_handler_list(task, h, EV_WRITE);
}

void on_RX_pairing_destroy(EVENT_HANDLER* h, EVENT_HANDLER*) {
    DUMP(3, "on_RX_pairing_destroy");
    printf("RX will close fd : %d\n", h->fd);
    if (h->user_data) mempool_free(h->user_data);
    h->user_data = nullptr;
    if (h->fd >= 1) close(h->fd);
}

} // namespace

void CNetworkTask::SetHooks(const NetHooks& h) {
    std::lock_guard<std::mutex> g(g_hooks_lock);
    g_hooks = h;
}

NetHooks CNetworkTask::Hooks() {
    std::lock_guard<std::mutex> g(g_hooks_lock);
    return g_hooks;
}

int CNetworkTask::Pairing() {
    if (mode == WIRELESS_MODE_STA && RxLinked()) {
        printf("pairing request ignored: linked to the TX\n");
        return 0;
    }
    SetWirelessStatus(WIRELESS_STATUS_STARTING);
    SetPairingStatus(PAIRING_STATUS_STARTING);
    if (mode == WIRELESS_MODE_AP) {
        DUMP(3, "WIFI is Pairing ...");
        StartPairingAP();
        SetWirelessStatus(WIRELESS_STATUS_STARTED);
        return start_pairing_exchange();
    }
    StartPairingSTA();
    dhcp_lease lease{};
    int attempts = Timing().pairing_lease_attempts;
    bool leased = false;
    const GUI_PAIRING_STATUS_E screen = GetGuiPairingStatus();
    for (int i = 0; i < attempts && !leased; ++i) {
        // Once the pairing screen has moved on (timed out or left), further attempts would only
        // hold back the restart it asks for.
        if (i > 0 && GetGuiPairingStatus() != screen) break;
        leased = get_lease(&lease, nullptr) == 0;
    }
    if (!leased) return -1;
    apply_lease(lease, "popen failed(). info:%s");
    settle();
    return start_pairing_exchange();
}

int CNetworkTask::start_pairing_exchange() {
    THR_TASK* task = gpTask.load(std::memory_order_relaxed);
    if (mode == WIRELESS_MODE_AP) {
        int lfd = create_tcp_socket(kPairingPort);
        if (lfd < 0) {
            printf("create_tcp_socket : faild errno %d", errno);
            return -1;
        }
        printf("TX accept socket : %d\n", lfd);
        EVENT_REG acc{};
        acc.fd = lfd;
        acc.flags = EV_ACCEPT;
        acc.accept_fn = on_TX_pairing_accept;
        acc.destroy_fn = on_TX_pairing_accept_destory;
        register_event_handle(task, &acc);
        g_pairing_accept_id.store(acc.id, std::memory_order_relaxed);
        set_task_base_timer_calc(task, 1000);
        EVENT_REG tmo{};
        tmo.fd = -1;
        tmo.flags = EV_TIMER;
        tmo.period = 500;
        tmo.timer_fn = on_TX_pairing_timeout;
        register_event_handle(task, &tmo);
        g_pairing_timeout_id.store(tmo.id, std::memory_order_relaxed);
        printf("after register pairing timeout event, ID=%d\n", tmo.id);
        return 0;
    }
    const NetHooks hooks = Hooks();
    int fd = connet_server_noblock(hooks.pairing_server, hooks.pairing_port);
    if (fd < 0) return -1;
    EVENT_REG reg{};
    reg.fd = fd;
    reg.flags = EV_READ | EV_CONNECT;
    reg.read_fn = on_RX_pairing_read;
    reg.write_fn = on_RX_pairing_write;
    reg.connect_fn = on_RX_pairing_connected;
    reg.destroy_fn = on_RX_pairing_destroy;
    if (!register_event_handle(task, &reg)) {
        close(fd);
        return -1;
    }
    return 0;
}
