// DHCP messages and their IPv4/UDP frames: building what the client sends and reading what it
// receives. Everything received is outside input: every length is checked before it is used.
#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>

#include <cstring>

#include "net/dhcp_client.h"

namespace {

constexpr uint8_t kOptPad = 0;
constexpr uint8_t kOptEnd = 255;
constexpr uint8_t kOptOverload = 52;
constexpr char kVendorClass[] = "NPE dhcp client";
constexpr char kHostName[] = "IPCamera";
constexpr uint8_t kParamList[] = {1, 33, 3, 6, 15, 28, 51, 58, 59};

uint8_t* put_opt(uint8_t* p, uint8_t code, const void* data, uint8_t len) {
    *p++ = code;
    *p++ = len;
    std::memcpy(p, data, len);
    return p + len;
}

// Looks for code in one option area; sets *overload from option 52 if it meets it.
const uint8_t* scan(const uint8_t* p, size_t n, int code, int* optlen, int* overload) {
    size_t i = 0;
    while (i < n) {
        uint8_t c = p[i];
        if (c == kOptPad) {
            ++i;
            continue;
        }
        if (c == kOptEnd) return nullptr;
        if (i + 1 >= n) return nullptr;
        size_t len = p[i + 1];
        if (i + 2 + len > n) return nullptr;  // runs past the area: the rest is not trusted
        if (c == code) {
            *optlen = static_cast<int>(len);
            return p + i + 2;
        }
        if (c == kOptOverload && len >= 1 && overload) *overload = p[i + 2];
        i += 2 + len;
    }
    return nullptr;
}

} // namespace

uint16_t ip_checksum(const void* data, size_t len, uint32_t sum) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i + 1 < len; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    if (len & 1) sum += static_cast<uint32_t>(p[len - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

const uint8_t* get_option(const dhcp_message* m, size_t len, int code, int* optlen) {
    if (!m || len < kDhcpFixedLen) return nullptr;
    int overload = 0;
    const uint8_t* base = reinterpret_cast<const uint8_t*>(m);
    size_t opt_len = len - kDhcpFixedLen;
    if (opt_len > sizeof m->options) opt_len = sizeof m->options;
    if (const uint8_t* r = scan(base + kDhcpFixedLen, opt_len, code, optlen, &overload)) return r;
    if (overload & 1)
        if (const uint8_t* r = scan(m->file, sizeof m->file, code, optlen, nullptr)) return r;
    if (overload & 2)
        if (const uint8_t* r = scan(m->sname, sizeof m->sname, code, optlen, nullptr)) return r;
    return nullptr;
}

void dhcp_build_message(dhcp_message* m, const dhcp_lease* lease, int type) {
    std::memset(m, 0, sizeof *m);
    m->op = 1;
    m->htype = 1;
    m->hlen = 6;
    m->xid = lease->xid;
    std::memcpy(m->chaddr, lease->mac, 6);
    m->cookie = htonl(kDhcpMagic);
    uint8_t* p = m->options;
    uint8_t t = static_cast<uint8_t>(type);
    uint16_t max_size = htons(1500);
    p = put_opt(p, 53, &t, 1);
    p = put_opt(p, 60, kVendorClass, sizeof kVendorClass - 1);
    if (type == 1) {
        uint8_t one = 1;
        p = put_opt(p, 116, &one, 1);
    } else {
        p = put_opt(p, 50, &lease->offered, 4);
        p = put_opt(p, 54, &lease->server_id, 4);
    }
    p = put_opt(p, 57, &max_size, 2);
    p = put_opt(p, 12, kHostName, sizeof kHostName - 1);
    p = put_opt(p, 55, kParamList, sizeof kParamList);
    *p = kOptEnd;
}

void dhcp_build_frame(uint8_t* frame, const dhcp_message* m) {
    // The headers are put together apart and copied in: the caller's buffer may sit at any
    // address, and the units' CPU need not take an unaligned header store kindly.
    std::memset(frame, 0, kDhcpFrameLen);
    uint8_t* const udp_at = frame + sizeof(iphdr);
    std::memcpy(udp_at + sizeof(udphdr), m, sizeof *m);
    const uint16_t udp_len = static_cast<uint16_t>(kDhcpFrameLen - sizeof(iphdr));
    udphdr udp{};
    udp.source = htons(68);
    udp.dest = htons(67);
    udp.len = htons(udp_len);
    std::memcpy(udp_at, &udp, sizeof udp);
    // Pseudo-header of the checksum: addresses (0.0.0.0 and 255.255.255.255), protocol, length.
    uint32_t sum = 0xFFFF + 0xFFFF + IPPROTO_UDP + udp_len;
    const uint16_t c = ip_checksum(udp_at, udp_len, sum);
    udp.check = htons(c == 0 ? 0xFFFF : c);
    std::memcpy(udp_at, &udp, sizeof udp);
    iphdr ip{};
    ip.version = 4;
    ip.ihl = 5;
    ip.tot_len = htons(static_cast<uint16_t>(kDhcpFrameLen));
    ip.ttl = 64;
    ip.protocol = IPPROTO_UDP;
    ip.saddr = htonl(INADDR_ANY);
    ip.daddr = htonl(INADDR_BROADCAST);
    ip.check = htons(ip_checksum(&ip, sizeof ip));
    std::memcpy(frame, &ip, sizeof ip);
}

int dhcp_payload(const uint8_t* pkt, size_t len, size_t* off, size_t* msg_len) {
    if (len < sizeof(iphdr)) return -1;
    iphdr ip;
    std::memcpy(&ip, pkt, sizeof ip);
    size_t ihl = static_cast<size_t>(ip.ihl) * 4;
    size_t total = ntohs(ip.tot_len);
    if (ip.version != 4 || ip.protocol != IPPROTO_UDP || ihl < sizeof ip) return -1;
    if (total > len || total < ihl + sizeof(udphdr)) return -1;
    udphdr udp;
    std::memcpy(&udp, pkt + ihl, sizeof udp);
    size_t ulen = ntohs(udp.len);
    if (ntohs(udp.dest) != 68 || ulen < sizeof udp || ihl + ulen > total) return -1;
    size_t n = ulen - sizeof udp;
    if (n < kDhcpFixedLen) return -1;
    uint32_t cookie;
    std::memcpy(&cookie, pkt + ihl + sizeof udp + offsetof(dhcp_message, cookie), 4);
    if (ntohl(cookie) != kDhcpMagic) return -1;
    *off = ihl + sizeof udp;
    *msg_len = n > sizeof(dhcp_message) ? sizeof(dhcp_message) : n;
    return 0;
}
