#include <algorithm>
#include <cstddef>
// The DHCP client on a veth pair inside the test's own network namespace: against busybox
// udhcpd, and against a scripted server that NAKs, stays silent or sends malformed packets.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>

#include "net/dhcp_client.h"
#include "net_env.h"
#include "support/child_process.h"

namespace hdext::test {
namespace {

uint32_t ip(const char* s) { return inet_addr(s); }

// A scripted server on srv0: sees every discover and request, answers with raw packets.
class FakeServer {
public:
    using Script = std::function<std::vector<std::vector<uint8_t>>(int type, uint32_t xid)>;

    explicit FakeServer(Script script) : m_script(std::move(script)) {
        m_fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
        sockaddr_ll sll{};
        sll.sll_family = AF_PACKET;
        sll.sll_protocol = htons(ETH_P_IP);
        sll.sll_ifindex = static_cast<int>(if_nametoindex("srv0"));
        m_index = sll.sll_ifindex;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0)
            throw std::runtime_error("fake server socket");
        timeval tv{0, 50000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        m_thread = std::thread([this] { loop(); });
    }
    ~FakeServer() {
        m_stop = true;
        m_thread.join();
        close(m_fd);
    }
    int discovers() const { return m_discovers; }
    int requests() const { return m_requests; }

private:
    void loop() {
        uint8_t buf[2048];
        while (!m_stop) {
            sockaddr_ll from{};
            socklen_t fl = sizeof from;
            ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
            if (n < 28 + static_cast<ssize_t>(kDhcpFixedLen) || from.sll_pkttype == PACKET_OUTGOING) continue;
            if (buf[9] != IPPROTO_UDP || (buf[22] << 8 | buf[23]) != 67) continue;
            dhcp_message m{};
            std::memcpy(&m, buf + 28, std::min<size_t>(sizeof m, static_cast<size_t>(n) - 28));
            int len = 0;
            const uint8_t* t = get_option(&m, static_cast<size_t>(n) - 28, 53, &len);
            if (!t || len < 1) continue;
            (t[0] == 1 ? m_discovers : m_requests)++;
            for (auto pkt : m_script(t[0], m.xid)) {
                // Addressed to the asking station unless the script named another one.
                uint8_t* chaddr = pkt.data() + 28 + offsetof(dhcp_message, chaddr);
                if (std::all_of(chaddr, chaddr + 6, [](uint8_t b) { return b == 0; }))
                    std::memcpy(chaddr, m.chaddr, 6);
                send(pkt);
            }
        }
    }
    void send(const std::vector<uint8_t>& pkt) {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(ETH_P_IP);
        to.sll_ifindex = m_index;
        to.sll_halen = 6;
        std::memset(to.sll_addr, 0xFF, 6);
        sendto(m_fd, pkt.data(), pkt.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    std::atomic<bool> m_stop{false};
    Script m_script;
    int m_fd = -1;
    int m_index = 0;
    std::thread m_thread;
    std::atomic<int> m_discovers{0}, m_requests{0};
};

// A server reply as an IPv4/UDP packet: op 2, the given yiaddr and options. udp_extra makes
// the UDP length claim more bytes than the packet holds.
std::vector<uint8_t> reply(uint32_t xid, const char* yiaddr, std::vector<uint8_t> options, int udp_extra = 0) {
    dhcp_message m{};
    m.op = 2;
    m.htype = 1;
    m.hlen = 6;
    m.xid = xid;
    m.yiaddr = ip(yiaddr);
    m.cookie = htonl(kDhcpMagic);
    std::vector<uint8_t> pkt(28 + kDhcpFixedLen + options.size());
    std::memcpy(pkt.data() + 28, &m, kDhcpFixedLen);
    std::memcpy(pkt.data() + 28 + kDhcpFixedLen, options.data(), options.size());
    iphdr iph{};
    iph.version = 4;
    iph.ihl = 5;
    iph.ttl = 64;
    iph.protocol = IPPROTO_UDP;
    iph.tot_len = htons(static_cast<uint16_t>(pkt.size()));
    iph.saddr = ip("192.168.168.1");
    iph.daddr = ip("255.255.255.255");
    std::memcpy(pkt.data(), &iph, sizeof iph);
    udphdr udp{};
    udp.source = htons(67);
    udp.dest = htons(68);
    udp.len = htons(static_cast<uint16_t>(pkt.size() - 20 + udp_extra));
    std::memcpy(pkt.data() + 20, &udp, sizeof udp);
    return pkt;
}

std::vector<uint8_t> opts(std::initializer_list<uint8_t> b) { return b; }

class DhcpClient : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        if (!in_private_netns()) return;
        ASSERT_EQ(sh("ip link add wlan0 type veth peer name srv0 && ip link set srv0 up && "
                     "ip addr add 192.168.168.1/24 dev srv0 && ip link set wlan0 up"), 0);
        DhcpTiming t;
        t.unit = std::chrono::milliseconds(20);
        t.discover_fail_sleep = t.request_fail_sleep = t.pass_sleep = std::chrono::milliseconds(0);
        dhcp_set_timing(t);
    }
    void TearDown() override {
        if (in_private_netns()) sh("ip link del wlan0 2>/dev/null");
        NetTest::TearDown();
    }
    dhcp_lease lease{};
};

TEST_F(DhcpClient, LeaseFromUdhcpdIsAppliedWithMaskRouterAndDns) {
    NEED_NETNS();
    board->put("/udhcpd.conf", "start 192.168.168.100\nend 192.168.168.200\ninterface srv0\n"
                               "option subnet 255.255.255.0\noption router 192.168.168.1\n"
                               "option dns 192.168.168.1 192.168.168.2\nlease_file " +
                                   board->host("/leases") + "\npidfile " + board->host("/udhcpd.pid") + "\n");
    board->put("/leases", "");
    // The server side in a namespace of its own, so the router is not a local address here.
    const std::string ns = "hdxt-dhcp-" + std::to_string(getpid());
    struct NsGuard {
        std::string name;
        ~NsGuard() { sh("ip netns del " + name + " 2>/dev/null"); }
    } guard{ns};
    ASSERT_EQ(sh("ip netns add " + ns + " && ip link set srv0 netns " + ns + " && ip -n " + ns +
                 " link set srv0 up && ip -n " + ns + " addr add 192.168.168.1/24 dev srv0"), 0);
    ChildProcess server("/usr/sbin/ip", {}, board->host("/udhcpd.log"),
                        {"netns", "exec", ns, "/usr/sbin/udhcpd", "-f", board->host("/udhcpd.conf")});
    DhcpTiming t = dhcp_timing();
    t.unit = std::chrono::milliseconds(200);
    dhcp_set_timing(t);
    ASSERT_EQ(dhcp_set_ip(&lease, "wlan0"), 0) << server.output();
    EXPECT_EQ(lease.state, 2);
    EXPECT_EQ(lease.mask, ip("255.255.255.0"));
    EXPECT_EQ(lease.router, ip("192.168.168.1"));
    EXPECT_EQ(lease.dns1, ip("192.168.168.1"));
    EXPECT_EQ(lease.dns2, ip("192.168.168.2"));
    const uint32_t host = ntohl(lease.offered) & 0xFF;
    EXPECT_TRUE(host >= 100 && host <= 200) << host;

    apply_lease(lease, "route failed %s");
    char addr[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &lease.offered, addr, sizeof addr);
    EXPECT_NE(capture_output("ip -4 addr show wlan0").find(std::string("inet ") + addr + "/24"), std::string::npos);
    EXPECT_NE(capture_output("ip route").find("192.168.168.0/24 via 192.168.168.1 dev wlan0"), std::string::npos)
        << capture_output("ip route");
    EXPECT_EQ(board->get("/etc/resolv.conf"), "nameserver 192.168.168.1\nnameserver 192.168.168.2\n");
    EXPECT_EQ(shell->commands().back(), "route add default gw 192.168.168.1");
}

// A silent server costs one pass of eight discovers; one NAKing every request costs ten passes.
TEST_F(DhcpClient, NoLeaseFromASilentOrNakingServer) {
    NEED_NETNS();
    using Packets = std::vector<std::vector<uint8_t>>;
    const FakeServer::Script silent = [](int, uint32_t) { return Packets{}; };
    const FakeServer::Script nak = [](int type, uint32_t xid) {
        return Packets{type == 1 ? reply(xid, "192.168.168.150", opts({53, 1, 2, 54, 4, 192, 168, 168, 1, 255}))
                                 : reply(xid, "0.0.0.0", opts({53, 1, 6, 54, 4, 192, 168, 168, 1, 255}))};
    };
    for (auto [script, discovers, requests] : {std::tuple{silent, 8, 0}, {nak, 10, 80}}) {
        FakeServer server(script);
        EXPECT_EQ(dhcp_set_ip(&lease, "wlan0"), -1);
        EXPECT_EQ(server.discovers(), discovers);
        EXPECT_EQ(server.requests(), requests);
        EXPECT_EQ(lease.state, 0);
    }
}

TEST_F(DhcpClient, MalformedRepliesAreIgnoredAndMissingOptionsDefault) {
    NEED_NETNS();
    FakeServer odd([](int type, uint32_t xid) {
        std::vector<std::vector<uint8_t>> out;
        if (type == 1) {
            // UDP length beyond the packet; option 54 running past the end; a lone option code
            // at the very end; an overload into a file field of garbage lengths; an offer for
            // another transaction, and one for another station with our transaction id. None of them may be taken.
            out.push_back(reply(xid, "192.168.168.66", opts({53, 1, 2, 54, 4, 192, 168, 168, 1, 255}), 300));
            out.push_back(reply(xid, "192.168.168.67", opts({53, 1, 2, 54, 200, 192, 168})));
            out.push_back(reply(xid, "192.168.168.68", opts({53, 1, 2, 54})));
            auto overload = reply(xid, "192.168.168.69", opts({53, 1, 2, 52, 1, 3, 255}));
            std::memset(overload.data() + 28 + 108, 0xFE, 128);
            out.push_back(overload);
            out.push_back(reply(xid + 1, "192.168.168.70", opts({53, 1, 2, 54, 4, 192, 168, 168, 1, 255})));
            auto other_station = reply(xid, "192.168.168.71", opts({53, 1, 2, 54, 4, 192, 168, 168, 1, 255}));
            std::memcpy(other_station.data() + 28 + offsetof(dhcp_message, chaddr), "\x02\x00\x5e\x0a\x1b\x2d", 6);
            out.push_back(other_station);
            out.push_back(reply(xid, "192.168.168.150", opts({53, 1, 2, 54, 4, 192, 168, 168, 1, 255})));
        } else {
            out.push_back(reply(xid, "192.168.168.150", opts({53, 1, 5, 54, 4, 192, 168, 168, 1, 1, 4, 255})));
            out.push_back(reply(xid, "192.168.168.150", opts({53, 1, 5, 54, 4, 192, 168, 168, 1, 255})));
        }
        return out;
    });
    ASSERT_EQ(dhcp_set_ip(&lease, "wlan0"), 0);
    EXPECT_EQ(lease.offered, ip("192.168.168.150"));
    EXPECT_EQ(lease.server_id, ip("192.168.168.1"));
    EXPECT_EQ(lease.mask, ip("255.255.255.0"));
    EXPECT_EQ(lease.router, ip("255.255.255.255"));
    EXPECT_EQ(lease.dns1, 0u);
    EXPECT_EQ(lease.dns2, 0u);
    EXPECT_EQ(lease.lease_time, 3600u);
    ASSERT_EQ(set_dns_server(lease.dns1, lease.dns2), 0);
    EXPECT_EQ(board->get("/etc/resolv.conf"), "nameserver 0.0.0.0\nnameserver 0.0.0.0\n");
}

TEST(DhcpFrame, DiscoverFrameHasValidChecksumsAndTheOptionsInOrder) {
    dhcp_lease l{};
    l.xid = 0x12345678;
    std::memcpy(l.mac, "\x02\x00\x5e\x0a\x1b\x2c", 6);
    dhcp_message m;
    dhcp_build_message(&m, &l, 1);
    alignas(4) uint8_t buf[kDhcpFrameLen + 1];
    uint8_t* const f = buf + 1;  // the frame may start at any address
    dhcp_build_frame(f, &m);
    EXPECT_EQ(ip_checksum(f, 20), 0);  // a correct header sums to zero
    // UDP over the pseudo-header: 0.0.0.0, 255.255.255.255, protocol 17, length 556.
    uint32_t pseudo = 0xFFFF + 0xFFFF + 17 + 556;
    EXPECT_EQ(ip_checksum(f + 20, 556, pseudo), 0);
    EXPECT_EQ((f[2] << 8 | f[3]), 576);
    EXPECT_EQ((f[24] << 8 | f[25]), 556);
    const uint8_t expect[] = {53, 1, 1, 60, 15, 'N', 'P', 'E', ' ', 'd', 'h', 'c', 'p', ' ', 'c', 'l', 'i',
                              'e', 'n', 't', 116, 1, 1, 57, 2, 0x05, 0xDC, 12, 8, 'I', 'P', 'C', 'a', 'm',
                              'e', 'r', 'a', 55, 9, 1, 33, 3, 6, 15, 28, 51, 58, 59, 255};
    EXPECT_EQ(std::memcmp(f + 28 + kDhcpFixedLen, expect, sizeof expect), 0);
}

} // namespace
} // namespace hdext::test
