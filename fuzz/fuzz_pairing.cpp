// The pairing messages on TCP 6666 as each side reads them from the air: the same bytes as an
// RX's request to a TX (and the reply it builds) and as a TX's credentials reply to an RX.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/pairing_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const PairingRequest req = pairing_parse_request(data, size);
    if (strlen(req.uuid) > 36) abort();
    uint8_t reply[kPairingReplyLen];
    pairing_build_reply(req, "QUENDOR_0A1B2C", "518T302B46", reply);

    PairingCredentials c;
    if (pairing_parse_reply(data, size, &c)) {
        const size_t s = strlen(c.ssid), p = strlen(c.password);
        if (s < 1 || s > kPairingFieldLen || p < 8 || p > kPairingFieldLen) abort();
    }
    return 0;
}
