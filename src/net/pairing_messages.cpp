#include "net/pairing_messages.h"

#include <cstdio>
#include <cstring>

#include "settings/param_config.h"

namespace {

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Copies a zero-padded field; false when its text holds anything but printable ASCII (a line
// feed would end up as a line of its own in the daemons' files).
bool take_field(const uint8_t* field, char (&out)[kPairingFieldLen + 1]) {
    const size_t len = strnlen(reinterpret_cast<const char*>(field), kPairingFieldLen);
    for (size_t i = 0; i < len; ++i)
        if (field[i] < 0x20 || field[i] > 0x7E) return false;
    memcpy(out, field, len);
    out[len] = '\0';
    return true;
}

bool refuse(const char* why) {
    printf("pairing reply refused: %s\n", why);
    return false;
}

} // namespace

PairingRequest pairing_parse_request(const uint8_t* data, size_t n) {
    uint8_t m[kPairingRequestLen] = {};
    if (n) memcpy(m, data, n < sizeof m ? n : sizeof m);
    PairingRequest r;
    r.kind = m[0];
    r.type = be16(m + kPairingTypeOffset);
    r.sub = be16(m + kPairingSubOffset);
    memcpy(r.uuid, m + kPairingUuidOffset, kPairingUuidLen);
    return r;
}

bool pairing_build_reply(const PairingRequest& req, const char* ssid, const char* password,
                         uint8_t reply[kPairingReplyLen]) {
    memset(reply, 0, kPairingReplyLen);
    if (req.sub == kPairingSubCode) {
        reply[1] = 0x30;
        return true;
    }
    if (req.sub != kPairingSubCredentials) return false;
    if (req.kind == kPairingKindRequest) {
        // A text of 32 characters or more fills its field without a terminator.
        memcpy(reply + kPairingSsidOffset, ssid, strnlen(ssid, kPairingFieldLen));
        memcpy(reply + kPairingPasswordOffset, password, strnlen(password, kPairingFieldLen));
    }
    return true;
}

bool pairing_parse_reply(const uint8_t* data, size_t n, PairingCredentials* out) {
    if (n != kPairingReplyLen) return refuse(n > kPairingReplyLen ? "longer than 69 bytes" : "shorter than 69 bytes");
    PairingCredentials c;
    if (!take_field(data + kPairingSsidOffset, c.ssid) || !take_field(data + kPairingPasswordOffset, c.password))
        return refuse("a field holds a control or non-ASCII character");
    if (!c.ssid[0]) return refuse("no network name");
    if (strlen(c.password) < 8) return refuse("a WPA passphrase has at least 8 characters");
    ABS_WIFI_AP_CONFIG_t w{};
    memcpy(w.ssid, c.ssid, sizeof c.ssid);
    memcpy(w.password, c.password, sizeof c.password);
    if (!wifi_storable(w)) return false;
    *out = c;
    return true;
}
