#include "sim/mpi/stages.h"

#include <algorithm>
#include <cstring>

namespace hdext::sim {
namespace {

// Start code, SEI NAL header, payload type 5 (unregistered user data), payload size, and our
// identifier; then three fields of a letter and 16 hex digits, and the RBSP stop bit. No byte
// is 0, so no emulation prevention byte is ever needed, also after a stamp is written in.
constexpr uint8_t kHead[] = {0, 0, 0, 1, 0x06, 0x05, 16 + 3 * 17,
                             'h', 'd', 'e', 'x', 't', '.', 's', 't',
                             'a', 'g', 'e', 's', '.', 'v', '1', '!'};
constexpr size_t kField = 17;
constexpr size_t kSeiBytes = sizeof kHead + 3 * kField + 1;

void put_field(uint8_t* at, char letter, uint64_t v) {
    static const char kHex[] = "0123456789abcdef";
    at[0] = static_cast<uint8_t>(letter);
    for (int i = 16; i >= 1; --i, v >>= 4)
        at[i] = static_cast<uint8_t>(kHex[v & 0xF]);
}

std::optional<uint64_t> get_field(const uint8_t* at, char letter) {
    if (at[0] != static_cast<uint8_t>(letter))
        return std::nullopt;
    uint64_t v = 0;
    for (int i = 1; i <= 16; ++i) {
        const int c = at[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0)
            return std::nullopt;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    return v;
}

} // namespace

std::vector<uint8_t> stage_sei(uint64_t captured, uint64_t encoded) {
    std::vector<uint8_t> nal(kSeiBytes);
    std::memcpy(nal.data(), kHead, sizeof kHead);
    put_field(&nal[sizeof kHead], 'c', captured);
    put_field(&nal[sizeof kHead + kField], 'e', encoded);
    put_field(&nal[sizeof kHead + 2 * kField], 's', 0);
    nal.back() = 0x80;
    return nal;
}

std::optional<size_t> find_stage_sei(const uint8_t* au, size_t len) {
    const uint8_t* end = au + len;
    const uint8_t* at = std::search(au, end, std::begin(kHead), std::end(kHead));
    if (at == end || static_cast<size_t>(end - at) < kSeiBytes)
        return std::nullopt;
    return static_cast<size_t>(at - au);
}

void stamp_sent(uint8_t* au, size_t at, uint64_t sent) {
    put_field(au + at + sizeof kHead + 2 * kField, 's', sent);
}

std::optional<StageStamps> read_stage_sei(const uint8_t* au, size_t len) {
    const auto at = find_stage_sei(au, len);
    if (!at)
        return std::nullopt;
    const uint8_t* f = au + *at + sizeof kHead;
    const auto c = get_field(f, 'c'), e = get_field(f + kField, 'e'),
               s = get_field(f + 2 * kField, 's');
    if (!c || !e || !s)
        return std::nullopt;
    StageStamps st;
    st.captured = *c;
    st.encoded = *e;
    st.sent = *s;
    return st;
}

} // namespace hdext::sim
