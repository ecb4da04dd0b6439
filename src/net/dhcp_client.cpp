// The DHCP exchange on a link-level packet socket, and the interface set-up that applies a lease.
#include "net/dhcp_client.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/route.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <thread>

#include "board/board.h"

namespace {

std::mutex g_timing_lock;
DhcpTiming g_timing;

constexpr int kDiscoverAttempts = 8;
constexpr int kRequestAttempts = 8;

uint32_t next_xid() {
    // Not seeded with the time alone: stations started in the same second on one access point
    // would share transaction ids and take each other's broadcast offers.
    static std::mutex lock;
    static std::mt19937 gen(std::random_device{}() ^ static_cast<uint32_t>(time(nullptr)));
    std::lock_guard<std::mutex> g(lock);
    return gen();
}

bool stopped(DhcpStop stop) { return stop && stop(); }

// Sleeps in short steps, so a stop is noticed within one of them.
void rest(std::chrono::milliseconds d, DhcpStop stop) {
    constexpr std::chrono::milliseconds kStep{100};
    for (auto end = std::chrono::steady_clock::now() + d; !stopped(stop);) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()) return;
        std::this_thread::sleep_for(std::min(left, kStep));
    }
}

// Set while the interface is missing: the start line and the failure are said once.
std::atomic<bool> g_no_interface{false};

void dhcp_param_init(dhcp_lease* lease, const char* ifname) {
    std::memset(lease, 0, sizeof *lease);
    std::snprintf(lease->ifname, sizeof lease->ifname, "%s", ifname);
    if_set_ip_up(ifname);
    lease->xid = next_xid();
}

int creat_dhcp_socket() {
    int fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
    if (fd < 0) return -1;
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_IP);
    sll.sll_ifindex = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int read_interface(dhcp_lease* lease) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", lease->ifname);
    int rc = -1;
    if (ioctl(fd, SIOCGIFINDEX, &ifr) == 0) {
        lease->ifindex = ifr.ifr_ifindex;
        if (ioctl(fd, SIOCGIFHWADDR, &ifr) == 0) {
            std::memcpy(lease->mac, ifr.ifr_hwaddr.sa_data, 6);
            rc = 0;
        }
    }
    close(fd);
    return rc;
}

// One frame to the broadcast hardware address on its own packet socket.
int send_frame(const dhcp_lease* lease, int type) {
    dhcp_message m;
    dhcp_build_message(&m, lease, type);
    uint8_t frame[kDhcpFrameLen];
    dhcp_build_frame(frame, &m);
    int fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
    if (fd < 0) return -1;
    sockaddr_ll dst{};
    dst.sll_family = AF_PACKET;
    dst.sll_protocol = htons(ETH_P_IP);
    dst.sll_ifindex = lease->ifindex;
    dst.sll_halen = 6;
    std::memset(dst.sll_addr, 0xFF, 6);
    int rc = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&dst), sizeof dst) == 0 &&
        sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst) ==
            static_cast<ssize_t>(sizeof frame))
        rc = 0;
    close(fd);
    return rc;
}

// One received DHCP message, copied into a zeroed record; msg_len is what really arrived.
struct Received {
    dhcp_message m;
    size_t len;
};

int get_packet(int fd, Received* out) {
    uint8_t buf[2048];
    sockaddr_ll from{};
    socklen_t fl = sizeof from;
    ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
    if (n < 0) return -1;
    if (from.sll_pkttype == PACKET_OUTGOING) return -2;  // our own frames
    size_t off = 0, len = 0;
    if (dhcp_payload(buf, static_cast<size_t>(n), &off, &len) != 0) return -2;
    std::memset(&out->m, 0, sizeof out->m);
    std::memcpy(&out->m, buf + off, len);
    out->len = len;
    return 0;
}

uint32_t opt_addr(const Received& r, int code, uint32_t def, int index = 0) {
    int len = 0;
    const uint8_t* p = get_option(&r.m, r.len, code, &len);
    if (!p || len < 4 * (index + 1)) return def;
    uint32_t v;
    std::memcpy(&v, p + 4 * index, 4);
    return v;
}

int msg_type(const Received& r) {
    int len = 0;
    const uint8_t* p = get_option(&r.m, r.len, 53, &len);
    return p && len >= 1 ? p[0] : -1;
}

// Replies are broadcast to every station on the link: ours carry our id and our address.
bool for_us(const dhcp_lease* lease, const Received& r) {
    return r.m.xid == lease->xid && std::memcmp(r.m.chaddr, lease->mac, sizeof lease->mac) == 0;
}

// 1 = accepted, 0 = keep waiting.
int deal_resp_discover(dhcp_lease* lease, const Received& r) {
    if (!for_us(lease, r) || r.m.op != 2 || msg_type(r) != 2) return 0;
    int len = 0;
    const uint8_t* sid = get_option(&r.m, r.len, 54, &len);
    if (!sid || len < 4) return 0;
    std::memcpy(&lease->server_id, sid, 4);
    lease->offered = r.m.yiaddr;
    lease->state = 1;
    return 1;
}

int deal_request_ip(dhcp_lease* lease, const Received& r) {
    if (!for_us(lease, r)) return 0;
    int type = msg_type(r);
    if (type < 0) return 0;
    if (r.m.op != 2) {
        std::printf("packet op code wrong !!!!!!!!!!!!\n");
        return 0;
    }
    std::printf("###### ###### ###### message ::: %d\n", type);
    if (type == 5) {
        std::printf(">>>>>> >>>>>> >>>>>> dhcp_process_ack \n");
        int len = 0;
        if (!get_option(&r.m, r.len, 1, &len) || len < 4) std::printf("set default SUBNET\n");
        lease->mask = opt_addr(r, 1, htonl(0xFFFFFF00));
        lease->router = opt_addr(r, 3, htonl(INADDR_BROADCAST));
        lease->dns1 = opt_addr(r, 6, 0, 0);
        lease->dns2 = opt_addr(r, 6, 0, 1);
        const uint8_t* lt = get_option(&r.m, r.len, 51, &len);
        if (lt && len >= 4) {
            uint32_t v;
            std::memcpy(&v, lt, 4);
            lease->lease_time = ntohl(v);
        } else {
            lease->lease_time = 3600;
        }
        lease->state = 2;
        return 1;
    }
    if (type == 6) {
        std::printf("DHCPC :::::: Received DHCP NAK\n");
        lease->state = 0;
    }
    return 0;
}

// Waits up to `limit` units for a packet the handler accepts: 0, or -1 on timeout, error or stop.
int dhcp_waiting_msg(int fd, dhcp_lease* lease, int limit, int (*handler)(dhcp_lease*, const Received&),
                     DhcpStop stop) {
    const DhcpTiming t = dhcp_timing();
    const auto begin = std::chrono::steady_clock::now();
    for (;;) {
        auto passed = std::chrono::steady_clock::now() - begin;
        if (passed / t.unit > limit || stopped(stop)) return -1;
        fd_set r;
        FD_ZERO(&r);
        FD_SET(fd, &r);
        timeval tv{};
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(t.unit).count();
        tv.tv_sec = us / 1000000;
        tv.tv_usec = us % 1000000;
        int n = select(fd + 1, &r, nullptr, nullptr, &tv);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) continue;
        Received pkt;
        int rc = get_packet(fd, &pkt);
        if (rc == -1 && handler == deal_request_ip) std::printf("deal_request_ip get packet error\n");
        if (rc == 0 && handler(lease, pkt)) return 0;
    }
}

} // namespace

void dhcp_set_timing(const DhcpTiming& t) {
    std::lock_guard<std::mutex> g(g_timing_lock);
    g_timing = t;
}

DhcpTiming dhcp_timing() {
    std::lock_guard<std::mutex> g(g_timing_lock);
    return g_timing;
}

int dhcp_set_ip(dhcp_lease* lease, const char* ifname, DhcpStop stop) {
    const bool quiet = g_no_interface.load();
    if (!quiet) std::printf("DHCP client set IP start ...... ...... ......\n");
    const DhcpTiming t = dhcp_timing();
    dhcp_param_init(lease, ifname);
    int passes = t.passes;
    for (;;) {
        int fd = creat_dhcp_socket();
        if (fd < 0 || read_interface(lease) != 0) {
            if (fd >= 0) close(fd);
            if (!g_no_interface.exchange(true)) std::printf("interface isn't exist\n");
            rest(t.discover_fail_sleep, stop);
            return -1;
        }
        if (g_no_interface.exchange(false)) std::printf("DHCP client set IP start ...... ...... ......\n");
        bool offered = false;
        for (int n = 0; n < kDiscoverAttempts && !offered && !stopped(stop); ++n) {
            std::printf("send discovery  msg ...... ......\n");
            if (send_frame(lease, 1) == 0) {
                if (dhcp_waiting_msg(fd, lease, t.discover_wait[n], deal_resp_discover, stop) == 0)
                    offered = true;
                else
                    std::printf("waiting offer msg failed ...... ......\n");
            } else {
                std::printf("can't send discovery msg\n");
                rest(t.discover_fail_sleep, stop);
            }
        }
        if (!offered) {
            close(fd);
            if (!stopped(stop)) std::printf("packet_num==DHCPC_DISCOVERY_TIME, dhcp fail to set ip \n");
            return -1;
        }
        for (int n = 0; n < kRequestAttempts && !stopped(stop); ++n) {
            std::printf("send request_ip msg ...... ......\n");
            if (send_frame(lease, 3) == 0) {
                if (dhcp_waiting_msg(fd, lease, t.request_wait, deal_request_ip, stop) == 0) {
                    close(fd);
                    return 0;
                }
                std::printf("waiting ACK msg failed ...... ......\n");
            } else {
                rest(t.request_fail_sleep, stop);
                std::printf("can't send request_ip msg\n");
            }
        }
        rest(t.pass_sleep, stop);
        if (stopped(stop)) {
            close(fd);
            return -1;
        }
        std::printf("BOUND =get_resp_packet_msg\n");
        if (--passes <= 0) {
            close(fd);
            std::printf("err_times > 10, dhcp fail to set ip\n");
            return -1;
        }
        dhcp_param_init(lease, ifname);
        close(fd);
    }
}

int if_set_ip_up(const char* ifname) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", ifname);
    int rc = -1;
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
        rc = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0 ? 0 : -1;
    }
    close(fd);
    return rc;
}

namespace {

// An IPv4 address (network order) into a request's generic address field, copied in: the
// field's type promises less alignment than sockaddr_in needs.
void put_ipv4(sockaddr* sa, uint32_t addr) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    std::memcpy(sa, &sin, sizeof sin);
}

} // namespace

int if_set_ip(uint32_t addr, const char* ifname) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", ifname);
    put_ipv4(&ifr.ifr_addr, addr);
    int rc = ioctl(fd, SIOCSIFADDR, &ifr) == 0 ? 0 : -1;
    close(fd);
    return rc;
}

int if_set_gateway(uint32_t router, uint32_t mask, const char* ifname) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    rtentry rt{};
    put_ipv4(&rt.rt_dst, router & mask);
    put_ipv4(&rt.rt_genmask, mask);
    put_ipv4(&rt.rt_gateway, router);
    rt.rt_flags = RTF_UP | RTF_GATEWAY;
    char dev[IFNAMSIZ];
    std::snprintf(dev, sizeof dev, "%s", ifname);
    rt.rt_dev = dev;
    int rc = ioctl(fd, SIOCADDRT, &rt) == 0 || errno == EEXIST ? 0 : -1;
    close(fd);
    return rc;
}

int set_dns_server(uint32_t dns1, uint32_t dns2) {
    FILE* f = std::fopen(hdext::board::path("/etc/resolv.conf").c_str(), "w");
    if (!f) return -1;
    char a[INET_ADDRSTRLEN], b[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &dns1, a, sizeof a);
    inet_ntop(AF_INET, &dns2, b, sizeof b);
    std::fprintf(f, "nameserver %s\n", a);
    std::fprintf(f, "nameserver %s\n", b);
    std::fclose(f);
    return 0;
}
