// The menu engine and its contents: tabs of items shown in windows of four rows, the quick
// menu for one item's choices, and the dialog. OSD thread only.
#pragma once
#include <cstdint>

inline constexpr uint32_t MENU_FLAG_HAS_SEL = 1, MENU_FLAG_SHOWN = 2, MENU_FLAG_LOCKED = 4;
inline constexpr int kMenuMaxTabs = 4, kMenuMaxItems = 12, kMenuMaxSels = 3, kMenuRows = 4;

struct MENU_SEL {
    uint32_t flags;
    int str;
    int value;
};

struct MENU_ITEM;
using menu_item_fn = int (*)(MENU_ITEM* item);
using menu_sel_fn = int (*)(MENU_ITEM* item, int value);

struct MENU_ITEM {
    int id;
    uint32_t flags;
    int title;
    int sel_count;
    MENU_SEL sel[kMenuMaxSels];
    int cur_sel;
    menu_item_fn init;
    menu_item_fn set;
    menu_sel_fn sel_set;
};

struct MENU_TAB {
    int id;
    uint32_t flags;
    int item_count;
    int cur_item;
    int title;
    const unsigned char* highlight;
    MENU_ITEM* items;
};

// A tab's control table: where its tab object is and how it behaves in item mode.
struct MENU_TAB_CTRL {
    MENU_TAB* (*get_tab)();
    void (*init)();                  // tab entry: rebuild the shown items, preselect choices
    int (*enter_items)();            // item mode entered (null: nothing); -1 refuses
    int (*draw_items)();             // own item-mode drawing (null: the item list)
    int (*run_item)(MENU_ITEM* item); // MENU in item mode (null: the item's set operation)
};
extern const MENU_TAB_CTRL menu_setup_ctrl, menu_pair_ctrl, menu_device_ctrl, menu_exit_ctrl,
    menu_search_channel_ctrl, menu_diagnose_ctrl;

struct menu_t {
    int tab_count, cur_tab, first_tab, shown_tabs, hl_tab;
    int first_item, shown_items, hl_item;
    MENU_TAB* tabs[kMenuMaxTabs];
    const MENU_TAB_CTRL* ctrl[kMenuMaxTabs];
    int (*gui)(int command, int a, int b);
    int item_mode;
    int pair_ticks, pair_result_ticks;
};
extern menu_t menu;
extern int menu_switch_tab_item;

// Engine.
int app_widget_menu_reset();
int app_widget_menu_register_tab(int index);
int menu_widget_reflush_item();
int app_widget_menu_get_disp_item_cur();
MENU_TAB* app_widget_menu_get_tab(int tab);
MENU_ITEM* app_widget_menu_get_item(int tab, int item);
MENU_SEL* app_widget_menu_get_sel(int tab, int item, int sel);
int app_widget_menu_set_sel_table(int tab, int item, const MENU_SEL* sels, int count);
int app_widget_menu_lock_tab(int tab);
int app_widget_menu_unlock_tab(int tab);
int app_widget_menu_enable_item(int tab, int item);
int app_widget_menu_disable_item(int tab, int item);
int app_widget_menu_lock_item(int tab, int item);
int app_widget_menu_unlock_item(int tab, int item);
int app_widget_menu_enable_sel(int tab, int item, int sel);
int app_widget_menu_disable_sel(int tab, int item, int sel);
int app_widget_menu_lock_sel(int tab, int item, int sel);
int app_widget_menu_unlock_sel(int tab, int item, int sel);
// The inactivity timer's end: first item, tab 0, quick menu and menu closed.
void menu_close_for_inactivity();
// Back to tab level with the current tab reset to 0 (pairing left, exit tab).
void menu_back_to_tabs(int tab);

// Drawing. Menu: 0 clear, 1 row a shows string b, 2 / 3 marker on / off row a, 5 title b
// centred on the top row. Quick menu: 0 clear, 1 title b, 2 choice row a shows string b,
// 3 / 4 marker on / off row a. Dialog: 0 clear, 1 title b, 2 subject b, 3 a dots, 4 choice a
// shows string b, 5 marker of choice a on (b != 0) or off. Other commands print
// "Undefined GUI command" and return -1.
int gui_menu_func(int command, int a, int b);
int gui_menu_quick_func(int command, int a, int b);
int gui_dialog_func(int command, int a, int b);
// Draws string id `str` with its left edge at x on the row starting at page (English texts
// too wide for the 8x16 font fall back to 6x8).
void gui_menu_text(int x, int page, int str);
void gui_menu_ascii(int x, int page, const char* text);

// Quick menu.
int app_widget_menu_quick_set_item(int tab, int item);
// Dialog: type 3 best-channel search, 4 pairing; subject indexes dialog_subject_str_tbl.
inline constexpr int DIALOG_TYPE_SEARCH = 3, DIALOG_TYPE_PAIRING = 4;
using dialog_callback = void (*)(int choice);
int app_widget_dialog_set_dialog(int type, int subject, dialog_callback cb);
int app_widget_dialog_set_dialog_table(const int* table);
extern const int dialog_subject_str_tbl[10];

namespace hdext::ui {
// Pause after a confirmed factory reset (5 s on a unit) and the pairing timer's period code
// (1000 = 1 s); tests shorten the first.
void set_factory_reset_pause_ms(int ms);
} // namespace hdext::ui

// Pairing tab state, for the quick menu and the setup item.
int menu_pair_leave();
bool menu_pair_active();
