// Home-screen drawing: positions in pixels (x) and pages (y).
#include <cstring>

#include "periph/app_status.h"
#include "settings/param_config.h"
#include "ui/icons.h"
#include "ui/oled.h"
#include "ui/osd_manager.h"

namespace {

const unsigned char* const kBattery[6] = {BMP_BATTERY_EMPTY, BMP_BATTERY_1, BMP_BATTERY_2,
                                          BMP_BATTERY_3,     BMP_BATTERY_4, BMP_BATTERY_5};
const unsigned char* const kBars[6] = {BMP_WIFI_NO_SIGNAL,    BMP_WIFI_ONE_SIGNAL,
                                       BMP_WIFI_TWO_SIGNAL,   BMP_WIFI_THREE_SIGNAL,
                                       BMP_WIFI_FOUR_SIGNAL,  BMP_WIFI_FIVE_SIGNAL};
const unsigned char* const kDevice[3] = {BMP_WIFI_ONE_DEV, BMP_WIFI_TWO_DEV, BMP_WIFI_THREE_DEV};
const unsigned char* const kDigits[10] = {
    BMP_WIFI_CHANNEL_NUM0_STR, BMP_WIFI_CHANNEL_NUM1_STR, BMP_WIFI_CHANNEL_NUM2_STR,
    BMP_WIFI_CHANNEL_NUM3_STR, BMP_WIFI_CHANNEL_NUM4_STR, BMP_WIFI_CHANNEL_NUM5_STR,
    BMP_WIFI_CHANNEL_NUM6_STR, BMP_WIFI_CHANNEL_NUM7_STR, BMP_WIFI_CHANNEL_NUM8_STR,
    BMP_WIFI_CHANNEL_NUM9_STR};
const int kChannels[9] = {36, 40, 44, 48, 149, 153, 157, 161, 165};

int g_format_drawn = -1;  // timing id of the icon on screen (-1 none)

const unsigned char* format_icon(int id) {
    switch (id) {
    case 5: return BMP_480P60_ICON;
    case 9: return BMP_720P50_ICON;
    case 10: return BMP_720P60_ICON;
    case 17: return BMP_1080P24_ICON;
    case 18: return BMP_1080P25_ICON;
    case 19: return BMP_1080P30_ICON;
    case 20: return BMP_1080I50_ICON;
    case 21: return BMP_1080P50_ICON;
    case 22: return BMP_1080I60_ICON;
    case 23: return BMP_1080P60_ICON;
    default: return BMP_NO_VIDEO_ICON;
    }
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

void draw_ssid() {
    ABS_WIFI_AP_CONFIG_t ap{};
    CParamConfig::Instance()->GetWifiInfo(&ap);
    ap.ssid[sizeof ap.ssid - 1] = 0;
    const char* text = "QUENDOR_DEFAULT";
    int x = 20;
    if (std::strstr(ap.ssid, "QUENDOR_DEFAULT")) {
    } else if (std::strstr(ap.ssid, "QUENDOR_TEMP")) {
        text = "QUENDOR_TEMP";
        x = 28;
    } else if (std::strstr(ap.ssid, "QUENDOR_ZELT_TEST")) {
        text = "QUENDOR_ZELT_TEST";
        x = 16;
    } else if (std::strstr(ap.ssid, "QUENDOR_")) {
        text = ap.ssid;
        x = 22;
    }
    app_oled_fill_area(0, 7, 128, 8, 0);
    app_oled_showstring_6x8_8x16(x, 7, text, 1);
}

} // namespace

int gui_osd_manager_func(int command, int a, int b, int) {
    if (command > 30) return -1;
    switch (command) {
    case 1:
        g_format_drawn = -1;
        return app_oled_clear();
    case 5:
    case 6:
        app_oled_drawbmp(110, 0, 125, 2, a >= 6 || a < 0 ? BMP_POWER_DC_ICON : kBattery[a]);
        break;
    case 9:
        if (a != g_format_drawn) app_oled_fill_area(70, 3, 122, 5, 0);
        app_oled_drawbmp(70, 3, 122, 5, format_icon(a));
        g_format_drawn = a;
        break;
    case 13:
        app_oled_fill_area(31, 3, 55, 5, 0);
        break;
    case 14:
        app_oled_drawbmp(7, 3, 31, 5, BMP_WIFI_CHANNEL_CH_STR);
        for (int i = 0; i < 9; ++i)
            if (kChannels[i] == a) {
                app_oled_drawbmp(31, 3, 43, 5, kDigits[0]);
                app_oled_drawbmp(43, 3, 55, 5, kDigits[i + 1]);
            }
        break;
    case 17:
        draw_ssid();
        break;
    case 19:
        if (a == 2) app_oled_fill_area(25, 0, 42, 2, 0);
        if (a == 2 || a == 3) app_oled_fill_area(47, 0, 64, 2, 0);
        break;
    case 20: {
        const int pos = clamp(a, 1, 3), x = 3 + 22 * (pos - 1);
        app_oled_drawbmp(x, 0, x + 6, 2, kDevice[pos - 1]);
        app_oled_drawbmp(x + 7, 0, x + 16, 2, kBars[clamp(b, 0, 5)]);
        break;
    }
    case 22:
        app_oled_fill_area(8, 0, 18, 2, 0);
        break;
    case 23:
        app_oled_drawbmp(3, 0, 9, 2, kDevice[clamp(a, 1, 3) - 1]);
        app_oled_drawbmp(10, 0, 19, 2, kBars[clamp(b, 0, 5)]);
        break;
    case 24: {
        app_oled_fill_area(0, 7, 128, 8, 0);
        static const char* const kLink[4] = {"Link", "Link.", "Link..", "Link..."};
        app_oled_showstring_6x8_8x16(8, 7, a == 0 ? "Link OK" : kLink[clamp(b, 1, 3)], 1);
        break;
    }
    case 25:
        app_oled_drawbmp(0, 2, 127, 3, BMP_PAGE_BOX_0);
        app_oled_drawbmp(0, 6, 127, 7, BMP_PAGE_BOX_0);
        app_oled_drawbmp(64, 2, 65, 6, BMP_PAGE_BOX_1);
        break;
    case 26:
        if (a) app_oled_drawbmp(89, 0, 102, 2, BMP_FAN_ICON);
        else app_oled_fill_area(89, 0, 102, 2, 0);
        break;
    case 27: {
        const char d[3] = {static_cast<char>('0' + clamp(a, 0, 99) / 10),
                           static_cast<char>('0' + clamp(a, 0, 99) % 10), 0};
        app_oled_showstring_6x8_8x16(81, 3, d, 2);
        break;
    }
    case 28:
        app_oled_fill_area(110, 2, 126, 7, 0);
        break;
    case 29:
        if (a == 1 || a == 2) app_oled_drawbmp(72, 0, 81, 2, BMP_USB);
        else app_oled_fill_area(72, 0, 81, 2, 0);
        break;
    case 30: {
        const int page = 2 * (clamp(a, 0, 2) + 1);
        app_oled_drawbmp(110, page, 126, page + 2, BMP_HEADPHONES);
        break;
    }
    default:
        break;
    }
    return 0;
}
