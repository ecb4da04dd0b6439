// The widget stack: at most one widget is current and receives the keys; closing it reopens
// the highest-priority one still open (dialog, time menu, adjusting menu, quick menu,
// calibration menu, menu) or, with none left, posts AMSG_STATE_WIDGET_CLOSED. OSD thread.
#pragma once
#include <cstdint>

inline constexpr int WIDGET_MENU = 1, WIDGET_MENU_QUICK = 2, WIDGET_MENU_ADJUST = 4,
                     WIDGET_MENU_TIME = 8, WIDGET_DIALOG = 16, WIDGET_MENU_CALIBRATION = 32;

struct widget_ops {
    int (*on)(int argument);
    int (*off)(int argument, int extra);
    int (*on_message)(uint32_t id, const void* data, uint32_t length);
};

int app_widget_init();
int app_widget_get_cur();
int app_widget_get_flags();
int app_widget_on(int id, int argument);
int app_widget_off(int id, int argument);
int app_widget_on_message(uint32_t id, const void* data, uint32_t length);
int app_widget_image_bg_show();

extern const widget_ops widget_menu, widget_menu_quick, widget_dialog;
