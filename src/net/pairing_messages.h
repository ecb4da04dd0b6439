// The pairing messages on TCP 6666, as bytes: the RX's 46-byte request or acknowledgement and
// the TX's 69-byte credentials reply. Pure functions, any thread.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr size_t kPairingRequestLen = 46;
inline constexpr size_t kPairingReplyLen = 69;
inline constexpr uint8_t kPairingKindRequest = 0xDD;
inline constexpr uint8_t kPairingKindDone = 0xEE;
inline constexpr uint16_t kPairingType = 0x1002;
inline constexpr uint16_t kPairingSubCode = 0x1003;
inline constexpr uint16_t kPairingSubCredentials = 0x1004;
// Request: kind, 5 zero bytes, type and sub-type big-endian, the client identifier text.
inline constexpr size_t kPairingTypeOffset = 6;
inline constexpr size_t kPairingSubOffset = 8;
inline constexpr size_t kPairingUuidOffset = 10;
inline constexpr size_t kPairingUuidLen = 36;
static_assert(kPairingSubOffset == kPairingTypeOffset + 2 && kPairingUuidOffset == kPairingSubOffset + 2);
static_assert(kPairingUuidOffset + kPairingUuidLen == kPairingRequestLen);
// Reply: the network name and the passphrase, each a zero-padded 32-byte field, end it.
inline constexpr size_t kPairingSsidOffset = 5;
inline constexpr size_t kPairingPasswordOffset = 37;
inline constexpr size_t kPairingFieldLen = 32;
static_assert(kPairingPasswordOffset == kPairingSsidOffset + kPairingFieldLen);
static_assert(kPairingPasswordOffset + kPairingFieldLen == kPairingReplyLen);

struct PairingRequest {
    uint8_t kind = 0;
    uint16_t type = 0;
    uint16_t sub = 0;
    char uuid[kPairingUuidLen + 1] = {};  // the client identifier text, always terminated
};

// Reads the first n bytes of a request (bytes beyond n read as zero, beyond 46 are ignored).
PairingRequest pairing_parse_request(const uint8_t* data, size_t n);

// Fills the 69-byte answer to a request: credentials (each cut to its 32-byte field) for a
// credentials request, the "0" marker for a code query. false when the request gets no answer.
bool pairing_build_reply(const PairingRequest& req, const char* ssid, const char* password,
                         uint8_t reply[kPairingReplyLen]);

struct PairingCredentials {
    char ssid[kPairingFieldLen + 1] = {};
    char password[kPairingFieldLen + 1] = {};
};

// Checks what a TX answered (n bytes received in one read): exactly 69 bytes, a name of 1 to 32
// and a WPA passphrase of 8 to 32 printable characters (a field may fill its 32 bytes), both
// storable in wifi.ini. true and the texts, or false with a message on standard output.
bool pairing_parse_reply(const uint8_t* data, size_t n, PairingCredentials* out);
