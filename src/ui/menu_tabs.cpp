// Tabs 1-3 (wireless pairing, device information, exit) and the two unregistered tabs.
#include <cstdio>
#include <cstring>

#include "app/version.h"
#include "board/gpio.h"
#include "core/dump_print.h"
#include "decode/video_decoder.h"
#include "net/network_task.h"
#include "periph/app_actions.h"
#include "periph/app_status.h"
#include "settings/param_config.h"
#include "ui/menu.h"
#include "ui/menu_strings.h"
#include "ui/oled.h"
#include "ui/osd_manager.h"
#include "ui/widget.h"

namespace {

constexpr int kPairTimeoutTicks = 120;  // seconds without success before pairing has failed
constexpr int kPairResultTicks = 5;     // seconds a result stays on screen
constexpr int kTxPairMenuTicks = 4;     // a TX ignores MENU this long after pairing starts

bool g_pair_active = false;
bool g_pair_failed = false;
bool g_pair_success_shown = false;

int u8(int i) { return app_status[i].load(std::memory_order_relaxed); }
bool is_rx() { return u8(0) == 1; }
bool rx_linked() { return is_rx() && CNetworkTask::RxLinked(); }

void decoder_picture(int32_t value) {
    notify_decoding_task(0x4000, kMsgDecodeShowPicture, reinterpret_cast<char*>(&value), 4);
}

// ---- tab 1: wireless pairing ----
MENU_ITEM g_pair_items[2] = {
    {0, MENU_FLAG_SHOWN, 35, 0, {}, 0, nullptr, nullptr, nullptr},
    {1, MENU_FLAG_SHOWN, 5, 0, {}, 0, nullptr, nullptr, nullptr},
};
MENU_TAB g_pair_tab = {1, 0, 2, 0, 35, nullptr, g_pair_items};

// The status line under the pairing rows (pages 4-5).
void pair_status(const char* english, int chinese_str) {
    app_oled_fill_area(0, 4, 128, 6, 0);
    if (menu_language_chinese()) gui_menu_text(16, 4, chinese_str);
    else gui_menu_ascii(8, 4, english);
}

int pair_draw() {
    app_oled_fill_area(0, 0, 128, 4, 0);  // the status line (pages 4-5) stays
    app_oled_fill_area(0, 6, 128, 8, 0);
    gui_menu_func(1, 0, g_pair_items[0].title);
    gui_menu_func(1, 3, g_pair_items[1].title);
    gui_menu_func(2, g_pair_tab.cur_item == 0 ? 0 : 3, 0);
    return 0;
}

void pairing_timer() {
    const int status = CNetworkTask::GetGuiPairingStatus();
    std::printf("pairing_timer m_eStatus: %d\n", status);
    if (status == GUI_PAIRING_STATUS_SUCCESS) {
        pair_status("PAIRING SUCCESSFUL", 37);
        if (!g_pair_success_shown && is_rx()) decoder_picture(1);
        g_pair_success_shown = true;
        if (++menu.pair_result_ticks >= kPairResultTicks) menu_pair_leave();
        return;
    }
    if (status == GUI_PAIRING_STATUS_LINKED) {
        pair_status("PLEASE RESET DEVICE", 18);
        return;
    }
    ++menu.pair_ticks;
    if (g_pair_failed) {
        if (++menu.pair_result_ticks >= kPairResultTicks) menu_pair_leave();
    } else if (menu.pair_ticks >= kPairTimeoutTicks) {
        g_pair_failed = true;
        pair_status("PAIRING FAILED", 38);
        CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_TIMEOUT);
        if (is_rx()) decoder_picture(3);
    }
}

int pair_enter() {
    std::printf("#####app#####-type:enter pairing mode \n");
    g_pair_active = true;
    g_pair_failed = g_pair_success_shown = false;
    menu.pair_ticks = menu.pair_result_ticks = 0;
    g_pair_tab.cur_item = 0;
    pair_draw();
    if (rx_linked()) {
        CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_LINKED);
        std::puts("WIRELESS_STATUS_STARTED start pair");
    } else {
        if (is_rx()) decoder_picture(4);
        CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_REQUESTED);
        int32_t zero = 0;
        CNetworkTask::Notify(4096, LOCAL_MSG_NETWORK_PAIRING, &zero, 4);
        pair_status("PAIRING", 36);
    }
    hdext::ui::osd_timer_start(0, 1000, pairing_timer);
    return 0;
}

int pair_run(MENU_ITEM* item) {
    if (item->id == 1) {
        if (g_pair_active) menu_pair_leave();
        DUMP(3, "pair pag quit menu\n");
        app_widget_off(WIDGET_MENU, 0);
        menu_back_to_tabs(0);
        return 0;
    }
    if (!is_rx() && menu.pair_ticks < kTxPairMenuTicks) return -1;
    if (is_rx() && CNetworkTask::GetGuiPairingStatus() == GUI_PAIRING_STATUS_REQUESTED) return -1;
    return menu_pair_leave();
}

MENU_TAB* pair_tab() { return &g_pair_tab; }

// ---- tab 2: device information ----
MENU_ITEM g_device_items[1] = {{0, MENU_FLAG_SHOWN, 3, 0, {}, 0, nullptr, nullptr, nullptr}};
MENU_TAB g_device_tab = {2, 0, 1, 0, 3, nullptr, g_device_items};

int device_draw() {
    gui_menu_func(0, 0, 0);
    gui_menu_func(5, 0, 3);
    char mac_text[16] = "000000000000";
    unsigned char mac[6] = {0};
    if (hdext::board::read_mac("wlan0", mac))
        std::snprintf(mac_text, sizeof mac_text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2],
                      mac[3], mac[4], mac[5]);
    if (is_rx()) {
        app_oled_showstring_6x8_8x16(26, 4, mac_text, 2);
        app_oled_showstring_6x8_8x16(36, 6, g_SystemVersion, 2);
        return 0;
    }
    ABS_SYS_INFO_CONFIG sys{};
    CParamConfig::Instance()->GetSystemInfo(&sys);
    char pin[16];
    std::snprintf(pin, sizeof pin, "Pin:%.4s", sys.pincode);
    app_oled_showstring_6x8_8x16(36, 2, pin, 2);
    app_oled_showstring_6x8_8x16(36, 4, g_SystemVersion, 2);
    app_oled_showstring_6x8_8x16(27, 6, mac_text, 2);
    return 0;
}

int device_run(MENU_ITEM*) {
    app_status[12].store(1, std::memory_order_relaxed);
    return 0;
}

MENU_TAB* device_tab() { return &g_device_tab; }

// ---- tab 3: exit ----
MENU_TAB g_exit_tab = {3, 0, 0, 0, 5, nullptr, nullptr};
MENU_TAB* exit_tab() { return &g_exit_tab; }
int exit_enter() {
    app_widget_off(WIDGET_MENU, 0);
    menu_back_to_tabs(0);
    return -1;
}

// ---- not registered ----
MENU_TAB g_search_tab = {4, MENU_FLAG_LOCKED, 0, 0, 1, nullptr, nullptr};
MENU_TAB g_diagnose_tab = {5, MENU_FLAG_LOCKED, 0, 0, 0, nullptr, nullptr};
MENU_TAB* search_tab() { return &g_search_tab; }
MENU_TAB* diagnose_tab() { return &g_diagnose_tab; }

} // namespace

bool menu_pair_active() { return g_pair_active; }

int menu_pair_leave() {
    const int ws = CNetworkTask::GetWirelessStatus();
    std::printf("#####app#####-type:enter quit pairing mode GetWirelessStatus: %d\n", ws);
    g_pair_active = false;
    hdext::ui::osd_timer_stop(0);
    if (is_rx() && ws == WIRELESS_STATUS_STARTED) {
        CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_NONE);
        std::puts("WIRELESS_STATUS_STARTED quit pair");
    } else {
        hdext::periph::release_pairing_handlers();
        if (is_rx() && CNetworkTask::GetGuiPairingStatus() == GUI_PAIRING_STATUS_SUCCESS)
            CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTED);
        int32_t zero = 0;
        CNetworkTask::Notify(4096, LOCAL_MSG_NETWORK_RECONNECT, &zero, 4);
        CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_NONE);
    }
    menu_back_to_tabs(0);
    return 0;
}

const MENU_TAB_CTRL menu_pair_ctrl = {pair_tab, nullptr, pair_enter, pair_draw, pair_run};
const MENU_TAB_CTRL menu_device_ctrl = {device_tab, nullptr, device_draw, device_draw, device_run};
const MENU_TAB_CTRL menu_exit_ctrl = {exit_tab, nullptr, exit_enter, nullptr, nullptr};
const MENU_TAB_CTRL menu_search_channel_ctrl = {search_tab, nullptr, nullptr, nullptr, nullptr};
const MENU_TAB_CTRL menu_diagnose_ctrl = {diagnose_tab, nullptr, nullptr, nullptr, nullptr};
