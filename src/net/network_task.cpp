// The network task (module 0x3000): its message table, the link start and restart, and the
// interface and socket utilities the link and pairing code share.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "board/board.h"
#include "board/shell.h"
#include "core/dump_print.h"
#include "core/event.h"
#include "net/network_entry.h"
#include "net/network_task.h"
#include "settings/param_config.h"

std::atomic<THR_TASK*> gpTask{nullptr};

namespace {

std::mutex g_timing_lock;
NetTiming g_timing;

void settle() { std::this_thread::sleep_for(CNetworkTask::Timing().settle); }

bool unpaired(const ABS_WIFI_AP_CONFIG_t& w) { return strcmp(w.ssid, kDefaultSsid) == 0; }

void start_sta_daemon(const char* conf, const char* retry_fmt) {
    char cmd[256];
    const std::string file = hdext::board::path(conf);
    snprintf(cmd, sizeof cmd, "%s -D nl80211 -i %s -c %s -B", "wpa_supplicant", kWlanIf, file.c_str());
    printf("STA connection command :::::: :::::: %s\n\n", cmd);
    daemon_popen(Daemon::wpa_supplicant, cmd);
    settle();
    daemon_watch(Daemon::wpa_supplicant, "wpa_supplicant", kWirelessDir, cmd, retry_fmt);
}

} // namespace

ABS_WIFI_AP_CONFIG_t stored_wifi() {
    ABS_WIFI_AP_CONFIG_t w{};
    CParamConfig::Instance()->GetWifiInfo(&w);
    w.ssid[sizeof w.ssid - 1] = '\0';
    w.password[sizeof w.password - 1] = '\0';
    w.ip[sizeof w.ip - 1] = '\0';
    return w;
}

void CNetworkTask::SetTiming(const NetTiming& t) {
    std::lock_guard<std::mutex> g(g_timing_lock);
    g_timing = t;
}

NetTiming CNetworkTask::Timing() {
    std::lock_guard<std::mutex> g(g_timing_lock);
    return g_timing;
}

// The link start runs on the link thread, so start-up does not wait for the daemons or the
// lease and the network task serves requests (pairing above all) meanwhile. The status reads
// "starting" from the moment this returns.
int Init_Network(int mode) {
    CNetworkTask* net = CNetworkTask::Instance();
    net->mode = mode == 0 ? WIRELESS_MODE_AP : WIRELESS_MODE_STA;
    CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTING);
    if (!register_task(kMidNetwork, nullptr, CNetworkTask::InitNetworkTask, 0)) return -1;
    return net->StartLink();
}

void CNetworkTask::InitNetworkTask(THR_TASK* task) {
    register_msg_handler(task, onNetworkUtilityHandler);
    gpTask.store(task, std::memory_order_relaxed);
}

void CNetworkTask::onNetworkUtilityHandler(THR_TASK* task, MQ_LIST* msg) {
    printf("onNetworkUtilityHandler-------------\n");
    if (!msg) return;
    CNetworkTask* net = Instance();
    // A link change takes the link over from the link thread, and hands an RX left without a
    // lease back to it.
    const bool change = msg->msg_id == LOCAL_MSG_CHANGE_WIFI_CHANNEL || msg->msg_id == LOCAL_MSG_NETWORK_PAIRING ||
                        msg->msg_id == LOCAL_MSG_NETWORK_RECONNECT || msg->msg_id == LOCAL_MSG_NETWORK_CALIBRATION;
    if (change) StopLinkWork();
    switch (msg->msg_id) {
    case LOCAL_MSG_CHANGE_WIFI_CHANNEL:
        printf("LOCAL_MSG_CHANGE_WIFI_CHANNEL 22222222222 \n");
        net->ChangeChn();
        break;
    case LOCAL_MSG_NETWORK_PAIRING:
        printf("LOCAL_MSG_NETWORK_PAIRING 22222222222 \n");
        net->Pairing();
        break;
    case LOCAL_MSG_NETWORK_RECONNECT:
        printf("LOCAL_MSG_NETWORK_RECONNECT 22222222222 \n");
        net->Restart();
        break;
    case LOCAL_MSG_NETWORK_CALIBRATION:
        net->WirelessCalibration();
        break;
    case LOCAL_MSG_NETWORK_PAIR_ACK_WRITE:
        add_event_handle(task, 0, EV_WRITE);
        break;
    case LOCAL_MSG_NETWORK_LINK_RETRY:
        RetryLinkWork(task);
        break;
    case LOCAL_MSG_NETWORK_PAIR_RELEASE:
        // The handler registry belongs to this thread, so leaving pairing from the panel
        // marks the pairing listener deleted here rather than from the panel's thread.
        unregister_event_list(task, get_event_handler(task, g_pairing_accept_id.load(std::memory_order_relaxed)));
        break;
    default:
        break;
    }
    if (change) net->ResumeLeaseWait();
}

int CNetworkTask::Start() {
    SetWirelessStatus(WIRELESS_STATUS_STARTING);
    const std::string dir = hdext::board::path(kWirelessDir);
    struct stat st{};
    if (stat(dir.c_str(), &st) != 0) {
        printf("Create wireless dir\n");
        mkdir(dir.c_str(), 0777);
    }
    const ABS_WIFI_AP_CONFIG_t w = stored_wifi();
    system_cmd("ifconfig wlan0 up", 10);
    settle();
    if (mode == WIRELESS_MODE_AP) {
        DUMP(3, "WIFI channel is : %d", w.channel);
        SetIP(kWlanIf, w.ip[0] ? w.ip : kApAddress);
        WIRELESS_FREQUENCY_TYPE band = WIRELESS_FREQUENCY_5G;
        if (w.channel >= 1 && w.channel <= 14) {
            printf("Start 2.4G WIFI\n");
            band = WIRELESS_FREQUENCY_24G;
        } else {
            printf("Start 5G WIFI\n");
        }
        StartAP(band, false);
        SetWirelessStatus(WIRELESS_STATUS_STARTED);
        return 0;
    }
    if (unpaired(w)) {
        printf("need to be paired at first\n");
        SetWirelessStatus(WIRELESS_STATUS_STOP);
        return 0;
    }
    // A pairing request that came during the first pause takes over before the station starts.
    if (LinkWorkStopping()) return 0;
    SetWirelessStatus(WIRELESS_STATUS_STARTED);
    StartSTA(WPA_FILE_TYPE_PSK, false);
    wait_for_lease();
    return 0;
}

int CNetworkTask::Restart() {
    if (mode == WIRELESS_MODE_AP) {
        daemon_close(Daemon::hostapd);
        create_hostapd_ac_conf(WIRELESS_FREQUENCY_5G, false, 0);
        char cmd[256];
        snprintf(cmd, sizeof cmd, "%s %s -B", "hostapd", hdext::board::path(kHostapd5GConf).c_str());
        printf("AP channge startup command :::::: :::::: %s\n", cmd);
        daemon_popen(Daemon::hostapd, cmd);
        settle();
        daemon_watch(Daemon::hostapd, "hostapd", kWirelessDir, cmd, "run hostapd at time : %d\n");
    } else {
        const ABS_WIFI_AP_CONFIG_t w = stored_wifi();
        if (unpaired(w)) {
            SetWirelessStatus(WIRELESS_STATUS_STOP);
            SetPairingStatus(PAIRING_STATUS_FINISHED);
            printf("exit pair, need to be paired at first\n");
            return 0;
        }
        daemon_close(Daemon::wpa_supplicant);
        create_wpa_config();
        start_sta_daemon(kWpaConf, "run wpa_supplicant at time : %d\n");
    }
    SetPairingStatus(PAIRING_STATUS_FINISHED);
    return 0;
}

int CNetworkTask::StartSTA(WPA_FILE_TYPE_E, bool) {
    daemon_close(Daemon::wpa_supplicant);
    create_wpa_config();
    char cmd[256];
    snprintf(cmd, sizeof cmd, "%s -D nl80211 -i %s -c %s -B", "wpa_supplicant", kWlanIf,
             hdext::board::path(kWpaConf).c_str());
    printf("STA connection command :::::: :::::: %s\n\n", cmd);
    settle();
    // The old daemon was just killed, so the loop's first retry is the first start.
    daemon_watch(Daemon::wpa_supplicant, "wpa_supplicant", kWirelessDir, cmd,
                 "run wpa_supplicant at time : %d\n");
    return 0;
}

int CNetworkTask::StartPairingSTA() {
    create_pairing_config();
    daemon_close(Daemon::wpa_supplicant);
    std::this_thread::sleep_for(Timing().kill_settle);
    start_sta_daemon(kWpaPairingConf, "run wpa_supplicant at %d time(s)\n");
    return 0;
}

int CNetworkTask::SetIP(const char* name, const char* addr) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        printf("creat socked fail\n");
        return -1;
    }
    ifreq ifr{};
    snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", name);
    sockaddr_in sin{};  // copied in: ifr_addr's type is less aligned than sockaddr_in
    sin.sin_family = AF_INET;
    inet_pton(AF_INET, addr, &sin.sin_addr);
    std::memcpy(&ifr.ifr_addr, &sin, sizeof sin);
    if (ioctl(fd, SIOCSIFADDR, &ifr) < 0) {
        close(fd);
        printf("SIOCSIFADDR fail\n");
        return -1;
    }
    close(fd);
    settle();
    return 0;
}

int CNetworkTask::GetMac(const char* name, unsigned char* bytes) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        perror("socket");
        return -1;
    }
    ifreq ifr{};
    snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", name);
    if (ioctl(fd, SIOCGIFHWADDR, &ifr) < 0) {
        perror("ioctl");
        close(fd);
        return -1;
    }
    memcpy(bytes, ifr.ifr_hwaddr.sa_data, 6);
    close(fd);
    return 0;
}

int CNetworkTask::create_tcp_socket(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        DUMP(3, "socket Faild");
        return -1;
    }
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) {
        DUMP(3, "setsockopt faild ");
        close(fd);
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        DUMP(3, "bind %d Faild ", port);
        close(fd);
        return -1;
    }
    if (listen(fd, 1) < 0) {
        DUMP(3, "listen %d Faild ", port);
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

int CNetworkTask::connet_server_noblock(const char* address, int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    printf("fd=%d, connect server %s:%d\n", fd, address, port);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 && errno != EINPROGRESS) {
        printf("connect FAIL\n");
        close(fd);
        return -1;
    }
    return fd;
}

int CNetworkTask::connect_within(int fd, const sockaddr_in& to, std::chrono::milliseconds limit) {
    char dev[IFNAMSIZ] = {};
    socklen_t dev_len = sizeof dev;
    // Only the length said tells whether a name came back (qemu's user mode, for one, leaves
    // other bytes in the buffer for an unbound socket).
    if (getsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, dev, &dev_len) == 0 && dev_len > 0 && dev[0]) {
        ifreq ifr{};
        snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", dev);
        if (ioctl(fd, SIOCGIFADDR, &ifr) < 0) {
            errno = ENETUNREACH;
            return -1;
        }
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    int rc = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (rc < 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        const auto end = std::chrono::steady_clock::now() + limit;
        int n;
        do {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            n = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        } while (n < 0 && errno == EINTR);
        int err = ETIMEDOUT;
        socklen_t len = sizeof err;
        if (n > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
        rc = err == 0 ? 0 : -1;
        errno = err;
    }
    const int saved = errno;
    fcntl(fd, F_SETFL, flags);
    errno = saved;
    return rc;
}
