#include "ui/widget.h"

#include <cstdio>

#include "core/task.h"
#include "ui/osd_manager.h"

namespace {

struct widget_t {
    int flags;
    int cur;
    const widget_ops* ops[6];  // by bit: menu, quick, adjust, time, dialog, calibration
} widget{};

int slot(int id) {
    switch (id) {
    case WIDGET_MENU: return 0;
    case WIDGET_MENU_QUICK: return 1;
    case WIDGET_MENU_ADJUST: return 2;
    case WIDGET_MENU_TIME: return 3;
    case WIDGET_DIALOG: return 4;
    case WIDGET_MENU_CALIBRATION: return 5;
    default: return -1;
    }
}

const char* hidden_text(int id) {
    switch (id) {
    case WIDGET_MENU: return "Menu is hidden for widget %d";
    case WIDGET_MENU_QUICK: return "Quick menu is hidden for widget %d";
    case WIDGET_MENU_ADJUST: return "Adjusting menu is hidden for widget %d";
    case WIDGET_MENU_TIME: return "Time menu is hidden for widget %d";
    default: return "LDWS calibration menu is hidden for widget %d";
    }
}

// Opens id without touching the current one (it has been hidden or closed already).
int show(int id, int argument) {
    const widget_ops* ops = widget.ops[slot(id)];
    widget.flags |= id;
    if (ops && ops->on) ops->on(id == WIDGET_MENU_QUICK ? argument : 0);
    widget.cur = id;
    return 0;
}

} // namespace

int app_widget_init() {
    widget = {};
    widget.ops[0] = &widget_menu;
    widget.ops[1] = &widget_menu_quick;
    widget.ops[4] = &widget_dialog;
    return 0;
}

int app_widget_get_cur() { return widget.cur; }
int app_widget_get_flags() { return widget.flags; }
int app_widget_image_bg_show() { return 0; }

int app_widget_on(int id, int argument) {
    std::printf("====app_widget_on====%d, %d\n", id, argument);
    if (slot(id) < 0) {
        std::puts("Unknown widget!!!");
        return -1;
    }
    if (widget.cur) {
        if (widget.cur == WIDGET_DIALOG) {
            std::puts("Dialog should be decided!!!");
            return -1;
        }
        std::printf(hidden_text(widget.cur), id);
        std::printf("\n");
        const widget_ops* cur = widget.ops[slot(widget.cur)];
        if (cur && cur->off) cur->off(0, 0);
        widget.cur = 0;
    }
    return show(id, argument);
}

int app_widget_off(int id, int argument) {
    if (id == -1) {
        const int order[6] = {WIDGET_DIALOG, WIDGET_MENU_TIME, WIDGET_MENU_ADJUST,
                              WIDGET_MENU_QUICK, WIDGET_MENU_CALIBRATION, WIDGET_MENU};
        for (int w : order) {
            if (!(widget.flags & w)) continue;
            const widget_ops* ops = widget.ops[slot(w)];
            if (ops && ops->off) ops->off(argument, 0);
        }
        widget.flags = 0;
        widget.cur = 0;
        if (argument >= 0) app_osd_manager_notify_message(kMidOsd, AMSG_STATE_WIDGET_CLOSED, nullptr, 0);
        return 0;
    }
    if (id != widget.cur || slot(id) < 0) {
        std::puts("Should not close non-current widget");
        return -1;
    }
    widget.flags &= ~id;
    const widget_ops* ops = widget.ops[slot(id)];
    if (ops && ops->off) ops->off(argument, 0);
    widget.cur = 0;
    if (widget.flags) {
        std::puts("Some other widgets are still ON");
        const int order[6] = {WIDGET_DIALOG, WIDGET_MENU_TIME, WIDGET_MENU_ADJUST,
                              WIDGET_MENU_QUICK, WIDGET_MENU_CALIBRATION, WIDGET_MENU};
        for (int w : order)
            if (widget.flags & w) return show(w, 0);
    }
    if (argument >= 0) app_osd_manager_notify_message(kMidOsd, AMSG_STATE_WIDGET_CLOSED, nullptr, 0);
    return 0;
}

int app_widget_on_message(uint32_t id, const void* data, uint32_t length) {
    if (!widget.cur) return kWidgetNotConsumed;
    const int s = slot(widget.cur);
    if (s < 0 || !widget.ops[s] || !widget.ops[s]->on_message) {
        std::puts("Unknown current widget");
        return -1;
    }
    return widget.ops[s]->on_message(id, data, length);
}
