// Tab 0, system setup. The program without re-streaming has a QUALITY SETTING item in front
// (menu_setup_has_quality is defined per program).
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "periph/app_actions.h"
#include "periph/app_status.h"
#include "ui/menu.h"
#include "ui/widget.h"

extern const bool menu_setup_has_quality;

namespace {

std::atomic<int> g_reset_pause_ms{5000};

int u8(int i) { return app_status[i].load(std::memory_order_relaxed); }
void set_u8(int i, int v) { app_status[i].store(static_cast<uint8_t>(v), std::memory_order_relaxed); }

void preselect(MENU_ITEM* it, int value) {
    it->cur_sel = 0;
    for (int i = 0; i < it->sel_count; ++i)
        if (it->sel[i].value == value) it->cur_sel = i;
}

int init_fan(MENU_ITEM* it) { preselect(it, u8(4)); return 0; }
int init_language(MENU_ITEM* it) { preselect(it, u8(3)); return 0; }
int init_quality(MENU_ITEM* it) { preselect(it, u8(6)); return 0; }
int init_mic(MENU_ITEM* it) { preselect(it, u8(44)); return 0; }
int init_return(MENU_ITEM* it) { preselect(it, 0); return 0; }

int open_quick(MENU_ITEM* it) {
    MENU_TAB* t = app_widget_menu_get_tab(0);
    const int n = static_cast<int>(it - t->items);
    app_widget_menu_quick_set_item(0, n);
    return app_widget_on(WIDGET_MENU_QUICK, n);
}
int set_back(MENU_ITEM*) {
    set_u8(12, 1);
    return 0;
}

int sel_fan(MENU_ITEM*, int v) { set_u8(4, v); return app_save_sys_info_fan(v); }
int sel_language(MENU_ITEM*, int v) { set_u8(3, v); return app_save_sys_info_language(v); }
int sel_quality(MENU_ITEM*, int v) { set_u8(6, v); return app_save_sys_info_video_quality(v); }
int sel_pair(MENU_ITEM*, int) { return u8(41) == 1 ? app_quit_the_pairing() : 0; }
int sel_talkback(MENU_ITEM*, int) { set_u8(42, 0); return 0; }
int sel_earphone(MENU_ITEM*, int) { return app_save_sys_info_earphone_volume(); }
int sel_mic(MENU_ITEM*, int v) {
    set_u8(44, v);
    app_set_microphone_volume_onoff();
    return app_save_sys_info_microphone_volume_onoff();
}
int sel_upgrade(MENU_ITEM*, int) { return 0; }  // the quick menu runs the upgrade check
int sel_reset(MENU_ITEM*, int v) {
    if (v != 1) return 0;
    app_factory_reset();
    usleep(static_cast<useconds_t>(g_reset_pause_ms.load()) * 1000);
    return 0;
}
int sel_wifi(MENU_ITEM*, int) { return app_wifi_onoff(); }

constexpr uint32_t kShown = MENU_FLAG_SHOWN, kChoices = MENU_FLAG_HAS_SEL;
constexpr MENU_SEL kOnOff[2] = {{kShown, 22, 1}, {kShown, 23, 0}};
constexpr MENU_SEL kConfirm[2] = {{kShown, 19, 1}, {kShown, 20, 0}};

const MENU_ITEM kQuality = {0, kShown | kChoices, 6, 3, {{kShown, 7, 0}, {kShown, 8, 1}, {kShown, 9, 2}},
                            0, init_quality, open_quick, sel_quality};
const MENU_ITEM kItems[10] = {
    {0, kShown | kChoices, 10, 2, {kOnOff[0], kOnOff[1]}, 0, init_fan, open_quick, sel_fan},
    {1, kShown | kChoices, 11, 2, {{kShown, 13, 0}, {kShown, 12, 1}}, 0, init_language, open_quick, sel_language},
    {2, 0, 35, 0, {}, 0, nullptr, open_quick, sel_pair},
    {3, 0, 24, 0, {}, 0, nullptr, open_quick, sel_talkback},
    {4, 0, 40, 0, {}, 0, nullptr, open_quick, sel_earphone},
    {5, kChoices, 41, 2, {kOnOff[0], kOnOff[1]}, 0, init_mic, open_quick, sel_mic},
    {6, kShown | kChoices, 15, 2, {kConfirm[0], kConfirm[1]}, 1, init_return, open_quick, sel_upgrade},
    {7, kShown | kChoices, 18, 2, {kConfirm[0], kConfirm[1]}, 1, init_return, open_quick, sel_reset},
    {8, kChoices, 21, 2, {kOnOff[0], kOnOff[1]}, 0, nullptr, open_quick, sel_wifi},
    {9, kShown, 27, 0, {}, 0, nullptr, set_back, nullptr},
};

MENU_ITEM g_items[11];
MENU_TAB g_tab = {0, 0, 0, 0, 2, nullptr, g_items};

MENU_TAB* get_tab() {
    static bool built = [] {
        int n = 0;
        if (menu_setup_has_quality) g_items[n++] = kQuality;
        for (const MENU_ITEM& it : kItems) {
            g_items[n] = it;
            g_items[n].id = n;
            ++n;
        }
        g_tab.item_count = n;
        return true;
    }();
    (void)built;
    return &g_tab;
}

} // namespace

namespace hdext::ui {
void set_factory_reset_pause_ms(int ms) { g_reset_pause_ms.store(ms); }
} // namespace hdext::ui

const MENU_TAB_CTRL menu_setup_ctrl = {get_tab, nullptr, nullptr, nullptr, nullptr};
