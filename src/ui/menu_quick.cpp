// The quick menu (widget 2): one setup item's choices, and the USB firmware-upgrade check.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "board/board.h"
#include "periph/app_actions.h"
#include "periph/app_status.h"
#include "ui/menu.h"
#include "ui/menu_strings.h"
#include "ui/oled.h"
#include "ui/osd_manager.h"
#include "ui/widget.h"

namespace {

constexpr int kUpgradeTitle = 15;
constexpr int kUsbMinChecks = 5, kUsbMaxChecks = 50, kUpgradeMaxTicks = 50;

enum class Phase { choices, checking, notice, upgrading };

struct {
    int tab = 0, item = 0, hl = 0;
    Phase phase = Phase::choices;
    int ticks = 0;
} quick;

MENU_ITEM* cur_item() { return app_widget_menu_get_item(quick.tab, quick.item); }
int u8(int i) { return app_status[i].load(std::memory_order_relaxed); }

bool exists(const char* board_path) {
    struct stat st{};
    return stat(hdext::board::path(board_path).c_str(), &st) == 0;
}

// A regular file on the stick named "s1_tx_*.bin", at least 10 characters long.
bool fuzzy_file_match(const char* dir) {
    DIR* d = opendir(hdext::board::path(dir).c_str());
    if (!d) {
        std::puts("fuzzy_file_match opendir failure");
        return false;
    }
    bool found = false;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        struct stat st{};
        const std::string full = hdext::board::path(std::string(dir) + name);
        if (name.size() >= 10 && name.compare(0, 6, "s1_tx_") == 0 &&
            name.compare(name.size() - 4, 4, ".bin") == 0 && stat(full.c_str(), &st) == 0 &&
            S_ISREG(st.st_mode))
            found = true;
    }
    closedir(d);
    return found;
}

void notice(const char* english, int chinese_str) {
    app_oled_fill_area(0, 2, 128, 8, 0);
    if (chinese_str && menu_language_chinese()) gui_menu_text(24, 4, chinese_str);
    else gui_menu_ascii(24, 4, english);
}

void draw_choices() {
    MENU_ITEM* it = cur_item();
    app_oled_fill_area(0, 2, 128, 8, 0);
    for (int i = 0; it && i < it->sel_count; ++i) gui_menu_quick_func(2, i + 1, it->sel[i].str);
    gui_menu_quick_func(3, quick.hl + 1, 0);
}

void usb_check_tick() {
    ++quick.ticks;
    if (u8(5) == 1 && quick.ticks >= kUsbMinChecks) {
        hdext::ui::osd_timer_stop(0);
        if (fuzzy_file_match("/mnt/") || !exists("/mnt/config")) {
            quick.phase = Phase::choices;
            draw_choices();
        } else {
            quick.phase = Phase::notice;
            notice("NOT FIRMWARE", 0);
        }
    } else if (quick.ticks >= kUsbMaxChecks) {
        hdext::ui::osd_timer_stop(0);
        quick.phase = Phase::notice;
        notice("NOT USB", 0);
    }
}

void upgrade_tick() {
    if (fuzzy_file_match("/mnt/") || !exists("/mnt/config")) {
        hdext::ui::osd_timer_stop(0);
        app_factory_reboot();
        return;
    }
    if (++quick.ticks >= kUpgradeMaxTicks) {
        hdext::ui::osd_timer_stop(0);
        quick.phase = Phase::notice;
        notice("Upgrad Failure", 17);
        app_status[13].store(1, std::memory_order_relaxed);
    }
}

int quick_on(int) {
    MENU_ITEM* it = cur_item();
    gui_menu_quick_func(0, 0, 0);
    if (!it) return -1;
    gui_menu_quick_func(1, 0, it->title);
    quick.hl = it->cur_sel < it->sel_count ? it->cur_sel : 0;
    quick.ticks = 0;
    if (it->title == kUpgradeTitle) {
        quick.phase = Phase::checking;
        notice("CHECKING", 0);
        hdext::ui::osd_timer_start(0, 500, usb_check_tick);
    } else {
        quick.phase = Phase::choices;
        draw_choices();
    }
    return 0;
}

int quick_off(int, int) {
    if (quick.phase == Phase::checking || quick.phase == Phase::upgrading) hdext::ui::osd_timer_stop(0);
    quick.phase = Phase::choices;
    return 0;
}

void close_quick() {
    app_status[13].store(1, std::memory_order_relaxed);  // back to the item list
    app_widget_off(WIDGET_MENU_QUICK, 0);
}

void confirm() {
    MENU_ITEM* it = cur_item();
    if (!it || it->sel_count == 0) {
        close_quick();
        return;
    }
    const int value = it->sel[quick.hl].value;
    it->cur_sel = quick.hl;
    if (it->title == kUpgradeTitle && value == 1) {
        quick.phase = Phase::upgrading;
        quick.ticks = 0;
        notice("Upgrading . . .", 16);
        hdext::ui::osd_timer_start(0, 500, upgrade_tick);
        return;
    }
    if (it->sel_set) it->sel_set(it, value);
    close_quick();
}

int quick_on_message(uint32_t id, const void*, uint32_t) {
    switch (id) {
    case HMSG_USER_UP_BUTTON:
    case HMSG_USER_DOWN_BUTTON: {
        const bool up = id == HMSG_USER_UP_BUTTON;
        std::printf("#####app-menu_quick#####====%s===\n", up ? "HMSG_USER_UP_BUTTON" : "HMSG_USER_DOWN_BUTTON");
        MENU_ITEM* it = cur_item();
        if (quick.phase != Phase::choices || !it || it->sel_count == 0) return 0;
        gui_menu_quick_func(4, quick.hl + 1, 0);
        quick.hl = (quick.hl + (up ? -1 : 1) + it->sel_count) % it->sel_count;
        gui_menu_quick_func(3, quick.hl + 1, 0);
        return 0;
    }
    case HMSG_USER_MENU_BUTTON:
        std::printf("#####app-menu_quick#####====HMSG_USER_MENU_BUTTON===\n");
        if (quick.phase == Phase::choices) confirm();
        else if (quick.phase == Phase::notice) close_quick();
        return 0;  // checking or upgrading: the keys are disabled
    case HMSG_USER_UP_BUTTON_CLR:
    case HMSG_USER_DOWN_BUTTON_CLR:
    case HMSG_USER_MENU_BUTTON_CLR:
        return 0;
    case AMSG_STATE_WIFI_PAIRING_SUCCESS:
        std::printf("#####app-menu_quick#####type:AMSG_STATE_WIFI_PAIRING_SUCCESS\n");
        return 0;
    case AMSG_STATE_WIFI_PAIRING_FAIL:
        std::printf("#####app-menu_quick#####type:AMSG_STATE_WIFI_PAIRING_FAIL\n");
        return 0;
    default:
        return kWidgetNotConsumed;
    }
}

} // namespace

const widget_ops widget_menu_quick = {quick_on, quick_off, quick_on_message};

int app_widget_menu_quick_set_item(int tab, int item) {
    quick.tab = tab;
    quick.item = item;
    return 0;
}
