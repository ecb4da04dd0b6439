// The menu widget: tabs and their items in windows of four rows.
#include <cstdio>
#include <cstring>

#include "periph/app_status.h"
#include "ui/menu.h"
#include "ui/menu_strings.h"
#include "ui/oled.h"
#include "ui/osd_manager.h"
#include "ui/widget.h"

menu_t menu{};
int menu_switch_tab_item = 0;

namespace {

int g_disp[kMenuMaxItems];  // indexes of the current tab's shown items
int g_disp_count = 0;
int g_last_tab_id = 0;

int u8(int i) { return app_status[i].load(std::memory_order_relaxed); }
void set_u8(int i, int v) { app_status[i].store(static_cast<uint8_t>(v), std::memory_order_relaxed); }

MENU_TAB* cur_tab() { return menu.tab_count ? menu.tabs[menu.cur_tab] : nullptr; }
const MENU_TAB_CTRL* cur_ctrl() { return menu.tab_count ? menu.ctrl[menu.cur_tab] : nullptr; }

void list_items() {
    g_disp_count = 0;
    MENU_TAB* t = cur_tab();
    if (!t) return;
    for (int i = 0; i < t->item_count && g_disp_count < kMenuMaxItems; ++i)
        if (t->items[i].flags & MENU_FLAG_SHOWN) g_disp[g_disp_count++] = i;
}

// Window of four rows around `cur` of `total`; returns true when the window moved.
bool window(int cur, int total, int* first, int* shown, int* hl) {
    const int f = (cur / kMenuRows) * kMenuRows;
    const bool moved = f != *first;
    *first = f;
    *shown = total - f < kMenuRows ? total - f : kMenuRows;
    *hl = cur % kMenuRows;
    return moved;
}

void draw_tabs(bool full) {
    const int old_hl = menu.hl_tab;
    const bool moved = window(menu.cur_tab, menu.tab_count, &menu.first_tab, &menu.shown_tabs, &menu.hl_tab);
    if (full || moved) {
        gui_menu_func(0, 0, 0);
        for (int r = 0; r < menu.shown_tabs; ++r) gui_menu_func(1, r, menu.tabs[menu.first_tab + r]->title);
    } else {
        gui_menu_func(3, old_hl, 0);
    }
    gui_menu_func(2, menu.hl_tab, 0);
}

void draw_items(bool full) {
    const MENU_TAB_CTRL* c = cur_ctrl();
    if (c && c->draw_items) {
        c->draw_items();
        return;
    }
    MENU_TAB* t = cur_tab();
    int cur = 0;
    for (int i = 0; i < g_disp_count; ++i)
        if (g_disp[i] == t->cur_item) cur = i;
    const int old_hl = menu.hl_item;
    const bool moved = window(cur, g_disp_count, &menu.first_item, &menu.shown_items, &menu.hl_item);
    if (full || moved) {
        gui_menu_func(0, 0, 0);
        for (int r = 0; r < menu.shown_items; ++r)
            gui_menu_func(1, r, t->items[g_disp[menu.first_item + r]].title);
    } else {
        gui_menu_func(3, old_hl, 0);
    }
    gui_menu_func(2, menu.hl_item, 0);
}

void enter_tab() {
    const MENU_TAB_CTRL* c = cur_ctrl();
    if (c && c->init) c->init();
    MENU_TAB* t = cur_tab();
    for (int i = 0; t && i < t->item_count; ++i)
        if (t->items[i].init) t->items[i].init(&t->items[i]);
    list_items();
    if (t && g_disp_count) {
        bool present = false;
        for (int i = 0; i < g_disp_count; ++i) present |= g_disp[i] == t->cur_item;
        if (!present) t->cur_item = g_disp[0];
    }
}

int enter_item_mode() {
    MENU_TAB* t = cur_tab();
    if (!t || (t->flags & MENU_FLAG_LOCKED)) return -1;
    enter_tab();
    const MENU_TAB_CTRL* c = cur_ctrl();
    menu.item_mode = 1;
    menu.first_item = -1;
    if (!c || !c->enter_items) {
        draw_items(true);
        return 0;
    }
    if (c->enter_items() < 0) {  // the tab drew itself or closed the menu
        menu.item_mode = 0;
        return -1;
    }
    return 0;
}

int open_menu(int) {
    int found = 0;
    for (int i = 0; i < menu.tab_count; ++i)
        if (menu.tabs[i]->id == g_last_tab_id) found = i;
    menu.cur_tab = found;
    enter_tab();
    menu.item_mode = 0;
    menu.first_tab = -1;
    draw_tabs(true);
    if (u8(13) == 1) {
        set_u8(13, 0);
        enter_item_mode();
    }
    return 0;
}

int close_menu(int, int) {
    if (MENU_TAB* t = cur_tab()) g_last_tab_id = t->id;
    menu.item_mode = 0;
    return 0;
}

void step_item(int dir) {
    MENU_TAB* t = cur_tab();
    if (!g_disp_count) return;
    int cur = 0;
    for (int i = 0; i < g_disp_count; ++i)
        if (g_disp[i] == t->cur_item) cur = i;
    cur = (cur + dir + g_disp_count) % g_disp_count;
    t->cur_item = g_disp[cur];
    draw_items(false);
}

int run_item() {
    MENU_TAB* t = cur_tab();
    if (!t || !g_disp_count) return -1;
    MENU_ITEM* item = &t->items[t->cur_item];
    if ((t->flags & MENU_FLAG_LOCKED) || (item->flags & MENU_FLAG_LOCKED)) return -1;
    std::puts("menu_button_set");
    const MENU_TAB_CTRL* c = cur_ctrl();
    const int r = c && c->run_item ? c->run_item(item) : (item->set ? item->set(item) : 0);
    if (app_widget_get_cur() == WIDGET_MENU && u8(12) == 1) {
        set_u8(12, 0);
        g_last_tab_id = t->id;  // rebuilt on the tab the item belongs to
        open_menu(0);
    }
    return r;
}

int menu_on_message(uint32_t id, const void*, uint32_t) {
    switch (id) {
    case HMSG_USER_UP_BUTTON:
    case HMSG_USER_DOWN_BUTTON: {
        const int dir = id == HMSG_USER_UP_BUTTON ? -1 : 1;
        if (menu.item_mode) {
            step_item(dir);
        } else if (menu.tab_count) {
            menu.cur_tab = (menu.cur_tab + dir + menu.tab_count) % menu.tab_count;
            draw_tabs(false);
        }
        return 0;
    }
    case HMSG_USER_MENU_BUTTON:
        if (menu.item_mode) run_item();
        else enter_item_mode();
        return 0;
    case HMSG_USER_UP_BUTTON_CLR:
    case HMSG_USER_DOWN_BUTTON_CLR:
    case HMSG_USER_MENU_BUTTON_CLR:
        return 0;
    default:
        return kWidgetNotConsumed;
    }
}

MENU_ITEM* item_at(int tab, int item) {
    MENU_TAB* t = app_widget_menu_get_tab(tab);
    return t && item >= 0 && item < t->item_count ? &t->items[item] : nullptr;
}

int set_flag(MENU_ITEM* it, uint32_t f, bool on) {
    if (!it) return -1;
    it->flags = on ? (it->flags | f) : (it->flags & ~f);
    return 0;
}

int set_sel_flag(int tab, int item, int sel, uint32_t f, bool on) {
    MENU_SEL* s = app_widget_menu_get_sel(tab, item, sel);
    if (!s) return -1;
    s->flags = on ? (s->flags | f) : (s->flags & ~f);
    return 0;
}

} // namespace

const widget_ops widget_menu = {open_menu, close_menu, menu_on_message};

int app_widget_menu_reset() {
    menu = {};
    menu.gui = gui_menu_func;
    menu.first_tab = menu.first_item = -1;
    g_last_tab_id = 0;
    g_disp_count = 0;
    return 0;
}

int app_widget_menu_register_tab(int index) {
    static const MENU_TAB_CTRL* const kTabs[4] = {&menu_setup_ctrl, &menu_pair_ctrl,
                                                  &menu_device_ctrl, &menu_exit_ctrl};
    if (menu.tab_count >= kMenuMaxTabs || index < 0 || index >= 4) return -1;
    menu.ctrl[menu.tab_count] = kTabs[index];
    menu.tabs[menu.tab_count] = kTabs[index]->get_tab();
    menu.tabs[menu.tab_count]->cur_item = 0;  // a rebuilt menu starts on each tab's first item
    ++menu.tab_count;
    return 0;
}

int menu_widget_reflush_item() {
    list_items();
    if (menu.item_mode) draw_items(true);
    else draw_tabs(true);
    return 0;
}

int app_widget_menu_get_disp_item_cur() {
    MENU_TAB* t = cur_tab();
    for (int i = 0; t && i < g_disp_count; ++i)
        if (g_disp[i] == t->cur_item) return i;
    return 0;
}

MENU_TAB* app_widget_menu_get_tab(int tab) {
    return tab >= 0 && tab < menu.tab_count ? menu.tabs[tab] : nullptr;
}
MENU_ITEM* app_widget_menu_get_item(int tab, int item) { return item_at(tab, item); }
MENU_SEL* app_widget_menu_get_sel(int tab, int item, int sel) {
    MENU_ITEM* it = item_at(tab, item);
    return it && sel >= 0 && sel < it->sel_count ? &it->sel[sel] : nullptr;
}
int app_widget_menu_set_sel_table(int tab, int item, const MENU_SEL* sels, int count) {
    MENU_ITEM* it = item_at(tab, item);
    if (!it || count < 0 || count > kMenuMaxSels) return -1;
    std::memcpy(it->sel, sels, sizeof(MENU_SEL) * static_cast<size_t>(count));
    it->sel_count = count;
    return 0;
}
int app_widget_menu_lock_tab(int tab) {
    MENU_TAB* t = app_widget_menu_get_tab(tab);
    return t ? (t->flags |= MENU_FLAG_LOCKED, 0) : -1;
}
int app_widget_menu_unlock_tab(int tab) {
    MENU_TAB* t = app_widget_menu_get_tab(tab);
    return t ? (t->flags &= ~MENU_FLAG_LOCKED, 0) : -1;
}
int app_widget_menu_enable_item(int tab, int item) { return set_flag(item_at(tab, item), MENU_FLAG_SHOWN, true); }
int app_widget_menu_disable_item(int tab, int item) { return set_flag(item_at(tab, item), MENU_FLAG_SHOWN, false); }
int app_widget_menu_lock_item(int tab, int item) { return set_flag(item_at(tab, item), MENU_FLAG_LOCKED, true); }
int app_widget_menu_unlock_item(int tab, int item) { return set_flag(item_at(tab, item), MENU_FLAG_LOCKED, false); }
int app_widget_menu_enable_sel(int tab, int item, int sel) { return set_sel_flag(tab, item, sel, MENU_FLAG_SHOWN, true); }
int app_widget_menu_disable_sel(int tab, int item, int sel) { return set_sel_flag(tab, item, sel, MENU_FLAG_SHOWN, false); }
int app_widget_menu_lock_sel(int tab, int item, int sel) { return set_sel_flag(tab, item, sel, MENU_FLAG_LOCKED, true); }
int app_widget_menu_unlock_sel(int tab, int item, int sel) { return set_sel_flag(tab, item, sel, MENU_FLAG_LOCKED, false); }

void menu_back_to_tabs(int tab) {
    menu.cur_tab = tab < menu.tab_count ? tab : 0;
    if (MENU_TAB* t = cur_tab()) g_last_tab_id = t->id;
    if (app_widget_get_cur() == WIDGET_MENU) open_menu(0);
}

void menu_close_for_inactivity() {
    if (MENU_TAB* t = cur_tab()) {
        list_items();
        if (g_disp_count) t->cur_item = g_disp[0];
    }
    if (menu_pair_active()) menu_pair_leave();
    menu.cur_tab = 0;
    g_last_tab_id = menu.tab_count ? menu.tabs[0]->id : 0;
    set_u8(12, 0);
    menu_switch_tab_item = 0;
    if (app_widget_get_cur() == WIDGET_MENU_QUICK) app_widget_off(WIDGET_MENU_QUICK, -1);
    if (app_widget_get_cur() == WIDGET_MENU) app_widget_off(WIDGET_MENU, 0);
}
