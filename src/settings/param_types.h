// Settings records of the parameter store. The system record and the Wi-Fi record sit back to
// back in one block whose byte offsets the UI status set-up relies on (all fields are bytes, so
// the layout has no padding).
#pragma once
#include <cstddef>
#include <cstdint>

struct ABS_SYS_INFO_CONFIG {
    char pincode[5];   // decimal text, "0" = not generated yet
    uint8_t quality;   // 0, 1, 2
    uint8_t maxclie;   // always 3
    uint8_t fanmode;   // 0 off, 1 on
    uint8_t language;  // 0 or 1
};

struct ABS_WIFI_AP_CONFIG_t {
    uint8_t enable;
    uint8_t mode;
    uint8_t channel;
    uint8_t channel_in_use;  // working copy for channel stepping; not stored
    uint8_t hidden;
    char ssid[36];
    char password[36];
    uint8_t password_modify;
    uint8_t authentication;
    uint8_t bandwidth;
    uint8_t bandwidth_in_use;  // working copy for channel stepping; not stored
    char ip[36];
    uint8_t bridge_authentication;
    uint8_t bridge_encryption;
    uint8_t bridge_encrypt_length;
    uint8_t bridge_default_key_index;
    char bridge_ssid[36];
    char bridge_password[36];
};

// Payload of channel messages; senders may send 4 or 8 bytes, only the first two are read.
struct ABS_WIFI_CHN_INFO_t {
    uint8_t channel;
    uint8_t bandwidth;
};

struct SETTINGS_BLOCK {
    ABS_SYS_INFO_CONFIG sys;
    ABS_WIFI_AP_CONFIG_t wifi;
};

static_assert(offsetof(SETTINGS_BLOCK, sys.quality) == 5);
static_assert(offsetof(SETTINGS_BLOCK, sys.fanmode) == 7);
static_assert(offsetof(SETTINGS_BLOCK, sys.language) == 8);
static_assert(offsetof(SETTINGS_BLOCK, wifi.channel) == 11);
static_assert(offsetof(SETTINGS_BLOCK, wifi.bandwidth) == 88);
static_assert(sizeof(ABS_SYS_INFO_CONFIG) == 9 && sizeof(ABS_WIFI_AP_CONFIG_t) == 193);
static_assert(sizeof(SETTINGS_BLOCK) == 202 && alignof(SETTINGS_BLOCK) == 1);
static_assert(sizeof(ABS_WIFI_CHN_INFO_t) == 2);

// One row of a key table: value type (1 int32, 2 string, 3 uint8, 4 double, 5 int16; 0 ends
// the table), string length (buffer size), section, key, field.
struct INI_HEAD_INFO {
    int type;
    int length;
    const char* section;
    const char* key;
    void* field;
};
