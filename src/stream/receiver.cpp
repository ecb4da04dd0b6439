#include "stream/receiver.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/dump_print.h"
#include "core/event.h"
#include "net/network_task.h"
#include "periph/app_status.h"
#include "stream/heartbeat.h"
#include "stream/protocol.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

CReceiver* pReceiver = nullptr;
std::mutex gr_mutex;
std::atomic<int> FirstLink{0};

namespace {

using hdext::stream::config;

void receiver_task_init(THR_TASK* task) { register_msg_handler(task, onNetworkHandler); }

bool start_detached(void* (*fn)(void*), int* err) {
    *err = hdext::stream::start_thread(fn, nullptr);
    return *err == 0;
}

// A socket with linger off and the link's send (and, for the heartbeat, receive) time-out.
int link_socket(bool heartbeat) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Without the link interface (no Wi-Fi yet) the connect fails and is retried like any other.
    hdext::stream::bind_link_interface(fd);
    hdext::stream::watch_peer(fd);
    const char* failed = nullptr;
    if (hdext::stream::set_linger_off(fd) < 0) failed = "setsockopt m_linger faild ";
    else if (hdext::stream::set_time_out(fd, SO_SNDTIMEO, config().hb_timeout) < 0)
        failed = heartbeat ? "send setsockopt sndtimeout faild " : "setsockopt sndtimeout faild ";
    else if (heartbeat && hdext::stream::set_time_out(fd, SO_RCVTIMEO, config().hb_timeout) < 0)
        failed = "recv setsockopt sndtimeout faild ";
    if (!failed) return fd;
    DUMP(3, "%s", failed);
    close(fd);
    return -2;
}

} // namespace

int CReceiver::ConnectTo(char* address, char* port) {
    const int fd = link_socket(false);
    if (fd == -1) std::printf(" create socket error: %s (errno :%d)\n", strerror(errno), errno);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(port)));
    if (inet_pton(AF_INET, address, &a.sin_addr) <= 0) {
        std::printf("inet_pton error for %s\n", address);
        close(fd);
        return -1;
    }
    if (CNetworkTask::connect_within(fd, a, config().connect_timeout) < 0) {
        std::printf(" connect socket error: %s(errno :%d)\n", strerror(errno), errno);
        close(fd);
        return -1;
    }
    std::lock_guard<std::mutex> g(gr_mutex);
    SetSock(fd);
    return 0;
}

void CReceiver::Init() {
    m_link = 0;
    m_sock = -1;
    m_hbSock = -1;
}

void CReceiver::SetSock(int fd) { m_sock = fd; }
void CReceiver::SetHBSock(int fd) { m_hbSock = fd; }

int CreateReceiver() {
    auto* r = new CReceiver();
    r->Init();
    {
        std::lock_guard<std::mutex> g(gr_mutex);
        pReceiver = r;
    }
    register_task(kMidReceiver, nullptr, receiver_task_init, 0);
    return HB_ProcessRX();
}

int HB_ProcessRX() {
    for (;;) {
        if (CNetworkTask::GetPairingStatus() == PAIRING_STATUS_STARTING) {
            hdext::stream::sleep_for(config().wait_stopped);
            std::printf("GetPairingStatus==PAIRING_STATUS_STARTING\n");
            continue;
        }
        if (CNetworkTask::GetWirelessStatus() == WIRELESS_STATUS_STOP) {
            hdext::stream::sleep_for(config().wait_stopped);
            std::printf("GetWirelessStatus==WIRELESS_STATUS_STOP\n");
            continue;
        }
        // This unit's own link start (its station started anew, then a lease) comes first: a
        // link made meanwhile on the address a previous run left would be cut by it.
        if (CNetworkTask::LinkStarting()) {
            hdext::stream::sleep_for(config().wait_link_start);
            continue;
        }
        const int fd = link_socket(true);
        if (fd == -1) DUMP(3, "HB socket Faild");
        if (fd < 0) return -1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(config().hb_port);
        inet_pton(AF_INET, config().tx_address.c_str(), &a.sin_addr);
        if (CNetworkTask::connect_within(fd, a, config().connect_timeout) < 0) {
            std::printf("HB connect failure \n");
            close(fd);
            hdext::stream::sleep_for(config().wait_retry);
            continue;
        }
        std::printf("-------------- connect success ... ... sockfd: %d\n", fd);
        {
            std::lock_guard<std::mutex> g(gr_mutex);
            pReceiver->m_link = 2;
            pReceiver->SetHBSock(fd);
        }
        int err = 0;
        if (!start_detached(HB_RX_send_data, &err)) {
            std::printf("HB pthread_create failure ret=%d\n", err);
            hdext::stream::link_thread_end("333 send HB data exit, link= %d \n");
        }
        if (!start_detached(HB_RX_recv_data, &err)) {
            std::printf("HB pthread_create failure ret=%d\n", err);
            hdext::stream::link_thread_end("222 recv HB data exit, link= %d \n");
        }
        return 0;
    }
}

int StartReceiver() {
    std::string address = config().tx_address;
    std::string port = std::to_string(config().stream_port);
    for (;;) {
        {
            std::lock_guard<std::mutex> g(gr_mutex);
            if (pReceiver->m_link != 2) {
                std::printf("StartReceiver exit\n");
                return 0;
            }
        }
        if (pReceiver->ConnectTo(address.data(), port.data()) == 0) break;
        hdext::stream::sleep_for(config().wait_retry);
    }
    {
        std::lock_guard<std::mutex> g(gr_mutex);
        if (pReceiver->m_link != 2) {
            r_socket_shutdown(pReceiver->m_sock, SHUT_RDWR);
            pReceiver->m_sock = -1;
            std::printf("StartReceiver exit\n");
            return 0;
        }
        pReceiver->m_link = 3;
        int err = 0;
        if (!start_detached(RecvStreamProc, &err)) {
            std::printf("Receiver pthread_create ret=%d\n", err);
            // Without its reader the stream connection would hold the link count at 3 forever.
            pReceiver->m_link = 2;
            r_socket_shutdown(pReceiver->m_sock, SHUT_RDWR);
            pReceiver->m_sock = -1;
            return -1;
        }
    }
    hdext::stream::sleep_for(config().wait_retry);
    return 0;
}

void* RecvStreamProc(void*) {
    pthread_setname_np(pthread_self(), "RecvStream");
    std::printf("###### ###### RecvStream thread \n");
    int fd;
    {
        std::lock_guard<std::mutex> g(gr_mutex);
        fd = pReceiver->m_sock;
    }
    if (fd > 0) hdext::stream::run_stream_reader(fd);
    hdext::stream::link_thread_end("111 RecvStream dat exit, link= %d \n");
    return nullptr;
}

void onNetworkHandler(THR_TASK*, MQ_LIST* msg) {
    if (!msg || msg->msg_id != kMsgReceiverReconnect) return;
    DUMP(3, "Reconnect TX ...");
    app_status[14].store(1, std::memory_order_relaxed);  // unlinked until a heartbeat arrives
    hdext::stream::sleep_for(config().wait_retry);
    app_status[2].store('1', std::memory_order_relaxed);
    app_status[35].store(0, std::memory_order_relaxed);
    if (FirstLink.load(std::memory_order_relaxed) != 0) FirstLink.store(2, std::memory_order_relaxed);
    HB_ProcessRX();
}

int Notify(int source, int message, char* data, int length) {
    MSG_INFO m{static_cast<uint32_t>(source), kMidReceiver, static_cast<uint32_t>(message),
               static_cast<uint32_t>(length), data};
    return send_msg(&m);
}

namespace hdext::stream {

bool rx_linked() {
    std::lock_guard<std::mutex> g(gr_mutex);
    return pReceiver && pReceiver->m_link >= 2;
}

void link_thread_end(const char* what) {
    int left;
    {
        std::lock_guard<std::mutex> g(gr_mutex);
        left = --pReceiver->m_link;
        DUMP(3, what, left);
        // Wake the other link threads now; the descriptors are released by the last one, so
        // none of them can be reused while another thread still blocks on it.
        wake_socket(pReceiver->m_sock);
        wake_socket(pReceiver->m_hbSock);
        if (left <= 0) {
            if (pReceiver->m_sock > 0) r_socket_shutdown(pReceiver->m_sock, SHUT_RDWR);
            if (pReceiver->m_hbSock > 0) r_socket_shutdown(pReceiver->m_hbSock, SHUT_RDWR);
            pReceiver->m_sock = -1;
            pReceiver->m_hbSock = -1;
        }
    }
    if (left <= 0) Notify(kMidReceiver, kMsgReceiverReconnect, nullptr, 0);
}

} // namespace hdext::stream
