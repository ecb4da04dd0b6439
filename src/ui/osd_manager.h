// The on-screen manager (task 0x8000): owns the OLED, shows the home screen, maps the keys to
// quick actions and hands them to the current widget (menu, quick menu, dialog). All its work
// runs on the task's thread; the interval timers only post ticks to it.
#pragma once
#include <atomic>
#include <cstdint>

#include "periph/buttons.h"

inline constexpr uint32_t AMSG_STATE_WIDGET_CLOSED = 0xf0010201;
inline constexpr uint32_t AMSG_STATE_WIFI_CHANNEL_DISPLAY_REFRESH = 0xf0010202;
inline constexpr uint32_t AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_SUCCESS = 0xf0010203;
inline constexpr uint32_t AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_FAILURE = 0xf0010204;
inline constexpr uint32_t AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_CHANGE_CHANNEL = 0xf0010205;
inline constexpr uint32_t AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_CHANGE_CHANNEL_SUCCESS = 0xf0010206;
inline constexpr uint32_t AMSG_STATE_WIFI_PAIRING_SUCCESS = 0xf0010207;
inline constexpr uint32_t AMSG_STATE_WIFI_PAIRING_FAIL = 0xf0010208;
inline constexpr uint32_t AMSG_STATE_WIFI_PAIRING_EXIT = 0xf0010209;
inline constexpr uint32_t AMSG_STATE_WIFI_RX_CLIENT_NUM_DISPLAY_REFRESH = 0xf001020a;

// Result of a widget's message function when it did not consume the message.
inline constexpr int kWidgetNotConsumed = 10;

extern std::atomic<int32_t> button_up_counter, button_down_counter, button_menu_counter;
extern std::atomic<int32_t> button_up_down_counter;

using osd_action_fn = void (*)();
struct osd_manager_t {
    int channel_change_active;
    int button_up_timer_cnt, button_down_timer_cnt, button_menu_timer_cnt;
    int (*osd_manager_func)(int command, int argument);
    int (*gui_osd_manager_func)(int command, int a, int b, int c);
    osd_action_fn osd_manager_op[6];  // UP short/long, DOWN short/long, MENU press/long
};
extern osd_manager_t osd_manager;

// Start-up: keys, OLED, battery gauge, widgets; without a display prints "There is no OLED. "
// and returns the error. Otherwise shows the home screen, registers task 0x8000 and the DC
// thread. 0.
int app_osd_manager_init();
int app_osd_manager_exit();
// Posts {source, 0x8000, id, length, data}. Any thread.
int app_osd_manager_notify_message(uint32_t source, uint32_t id, const void* data, uint32_t length);

// 0 reset the menu and register its tabs, 1 home timer + home screen, 2 menu mode (home timer
// off, inactivity timer on), 3 back to the home screen, 4 redraw the channel. OSD thread.
int osd_manager_func(int command, int argument);
// Home-screen drawing commands; above 30 returns -1. OSD thread.
int gui_osd_manager_func(int command, int a, int b, int c);

namespace hdext::ui {

// One TX client for the home screen: present, signal bars 0-5.
struct OsdClient {
    bool present;
    int level;
};
// Where the TX home screen reads its client table (up to 3 entries; returns how many were
// filled). Wired by start-up to the stream sender; the default shows app_status byte 7 clients.
void set_client_table_reader(int (*reader)(OsdClient* out, int max));

// The interval timers of the UI (slot 0 = timer 1, slot 1 = timer 2) run `tick` on the OSD
// thread: a tick of a timer stopped or replaced meanwhile is dropped.
void osd_timer_start(int slot, int code, void (*tick)());
void osd_timer_stop(int slot);

// Blocks until the OSD task has handled every message posted before the call. Any thread but
// the OSD task's own.
void osd_sync();

// Draws the whole home screen (what osd_manager_func(1) shows). OSD thread or tests.
void draw_home_screen();
// Pauses after posting a channel or a long press (100 ms on a unit).
void set_osd_post_pause_ms(int ms);

} // namespace hdext::ui
