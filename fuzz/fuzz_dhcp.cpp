// DHCP replies as the client reads them from its packet socket: IPv4/UDP framing, then every
// option looked up, with and without the file/server-name overload.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/dhcp_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t off = 0, len = 0;
    if (dhcp_payload(data, size, &off, &len) != 0) return 0;
    dhcp_message m{};
    std::memcpy(&m, data + off, len);
    for (int code = 0; code < 256; ++code) {
        int optlen = 0;
        const uint8_t* p = get_option(&m, len, code, &optlen);
        if (p) {
            volatile uint8_t sink = 0;
            for (int i = 0; i < optlen; ++i) sink = static_cast<uint8_t>(sink ^ p[i]);
        }
    }
    return 0;
}
