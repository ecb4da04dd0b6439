// The RX's own DHCP client: one discover/offer/request/acknowledge exchange on a packet socket,
// run on the calling thread. It applies nothing itself; the caller applies the lease with
// if_set_ip, if_set_gateway and set_dns_server. Addresses are in network byte order.
#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

struct dhcp_lease {
    char ifname[12];
    int ifindex;
    uint8_t mac[6];
    uint32_t xid;
    uint32_t server_id;
    uint32_t offered;
    uint32_t mask;
    uint32_t router;
    uint32_t dns1;
    uint32_t dns2;
    uint32_t lease_time;
    int state;  // 1 after an offer, 2 after an acknowledgement, 0 after a NAK
};

// The BOOTP header, magic cookie and options as they travel in the UDP payload.
struct dhcp_message {
    uint8_t op, htype, hlen, hops;
    uint32_t xid;
    uint16_t secs, flags;
    uint32_t ciaddr, yiaddr, siaddr, giaddr;
    uint8_t chaddr[16];
    uint8_t sname[64];
    uint8_t file[128];
    uint32_t cookie;
    uint8_t options[308];
};
static_assert(sizeof(dhcp_message) == 548);
static_assert(offsetof(dhcp_message, xid) == 4 && offsetof(dhcp_message, ciaddr) == 12 &&
              offsetof(dhcp_message, chaddr) == 28 && offsetof(dhcp_message, sname) == 44 &&
              offsetof(dhcp_message, file) == 108 && offsetof(dhcp_message, cookie) == 236 &&
              offsetof(dhcp_message, options) == 240);

inline constexpr uint32_t kDhcpMagic = 0x63825363;
inline constexpr size_t kDhcpFixedLen = 240;  // header and cookie, in front of the options
static_assert(offsetof(dhcp_message, options) == kDhcpFixedLen);
inline constexpr size_t kDhcpFrameLen = 576;

// Waits of the exchange. The defaults are the unit's; tests shorten `unit` (one "second").
struct DhcpTiming {
    std::array<int, 8> discover_wait{1, 9, 13, 16, 5, 5, 5, 5};  // units after the n-th discover
    int request_wait = 3;                                         // units after each request
    int passes = 10;                                              // whole exchanges before -1
    std::chrono::milliseconds unit{1000};
    std::chrono::milliseconds discover_fail_sleep{2000};
    std::chrono::milliseconds request_fail_sleep{1000};
    std::chrono::milliseconds pass_sleep{1000};
};
void dhcp_set_timing(const DhcpTiming& t);
DhcpTiming dhcp_timing();

// Asked between the waits of an exchange; once it answers true the exchange gives up (-1).
using DhcpStop = bool (*)();

// Runs one exchange on ifname: 0 with the lease filled, or -1. Blocks (up to minutes; within
// a wait unit of `stop` turning true). Without the interface it pauses like a failed send
// before it returns -1, and says so once until the interface is there again.
int dhcp_set_ip(dhcp_lease* lease, const char* ifname, DhcpStop stop = nullptr);

int if_set_ip(uint32_t addr, const char* ifname);
int if_set_ip_up(const char* ifname);
// Route to the router's network (router AND mask) through the router; an existing one is fine.
int if_set_gateway(uint32_t router, uint32_t mask, const char* ifname);
// Rewrites the board's "/etc/resolv.conf" with two nameserver lines; -1 if it cannot be created.
int set_dns_server(uint32_t dns1, uint32_t dns2);

// Option lookup in a received message of len bytes (header included). Honours option 52
// (file and server-name fields). Returns the option's data and its length in *optlen, or
// nullptr when absent or when the options run past the message.
const uint8_t* get_option(const dhcp_message* m, size_t len, int code, int* optlen);

// Builds the UDP payload of a discover (type 1) or request (type 3) for the lease.
void dhcp_build_message(dhcp_message* m, const dhcp_lease* lease, int type);
// Wraps a DHCP message into the 576-byte IPv4/UDP frame (0.0.0.0:68 -> 255.255.255.255:67).
void dhcp_build_frame(uint8_t* frame, const dhcp_message* m);
// The DHCP message of a received IPv4 packet: its offset and length, or -1 when the packet is
// not a whole UDP datagram to port 68 carrying a DHCP message with the magic cookie.
int dhcp_payload(const uint8_t* pkt, size_t len, size_t* off, size_t* msg_len);
uint16_t ip_checksum(const void* data, size_t len, uint32_t sum = 0);
