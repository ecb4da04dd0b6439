// The dialog (widget 16): best-channel search (type 3) and pairing (type 4).
#include <cstdio>

#include "periph/app_status.h"
#include "ui/menu.h"
#include "ui/menu_strings.h"
#include "ui/osd_manager.h"
#include "ui/widget.h"

const int dialog_subject_str_tbl[10] = {0, 29, 30, 31, 32, 33, 34, 36, 37, 38};

namespace {

void do_nothing(int) {}

struct {
    int type = 0;
    int subject = 0;  // string id
    dialog_callback callback = nullptr;
    const int* table = dialog_subject_str_tbl;
    int dots = 0;
    int choices = 0;  // 0 or 2
    int choice_str[2] = {19, 20};
    int hl = 0;
} dialog;

bool animated(int str) { return str == 30 || str == 33 || str == 36; }

void dots_tick() {
    if (!animated(dialog.subject)) return;
    dialog.dots = dialog.dots % 3 + 1;
    gui_dialog_func(3, dialog.dots, 0);
}

void show_subject(int str) {
    dialog.subject = str;
    dialog.dots = 0;
    gui_dialog_func(2, 0, str);
    gui_dialog_func(3, 0, 0);
}

int dialog_on(int) {
    std::printf("=====app_dialog_on====00=dialog.type=%d\n", dialog.type);
    gui_dialog_func(0, 0, 0);
    gui_dialog_func(1, 0, dialog.type == DIALOG_TYPE_PAIRING ? 35 : 1);
    show_subject(dialog.subject);
    for (int i = 0; i < dialog.choices; ++i) gui_dialog_func(4, i, dialog.choice_str[i]);
    if (dialog.choices) gui_dialog_func(5, dialog.hl, 1);
    if (dialog.type == DIALOG_TYPE_SEARCH || dialog.type == DIALOG_TYPE_PAIRING)
        hdext::ui::osd_timer_start(0, 1000, dots_tick);
    return 0;
}

int dialog_off(int, int) {
    std::printf("=====app_dialog_off====dialog.type=%d\n", dialog.type);
    hdext::ui::osd_timer_stop(0);
    return 0;
}

int dialog_on_message(uint32_t id, const void*, uint32_t) {
    const char* name = nullptr;
    switch (id) {
    case AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_SUCCESS:
        name = "AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_SUCCESS";
        show_subject(31);
        dialog.callback = do_nothing;
        break;
    case AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_FAILURE:
        name = "AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_FAILURE";
        show_subject(32);
        break;
    case AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_CHANGE_CHANNEL:
        name = "AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_CHANGE_CHANNEL";
        show_subject(33);
        break;
    case AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_CHANGE_CHANNEL_SUCCESS:
        name = "AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_CHANGE_CHANNEL_SUCCESS";
        show_subject(34);
        break;
    case AMSG_STATE_WIFI_PAIRING_SUCCESS: name = "AMSG_STATE_WIFI_PAIRING_SUCCESS"; break;
    case AMSG_STATE_WIFI_PAIRING_FAIL: name = "AMSG_STATE_WIFI_PAIRING_FAIL"; break;
    case AMSG_STATE_WIFI_PAIRING_EXIT: name = "AMSG_STATE_WIFI_PAIRING_EXIT"; break;
    case HMSG_USER_UP_BUTTON:
    case HMSG_USER_DOWN_BUTTON:
        std::printf("==DIALOG==%s===\n", id == HMSG_USER_UP_BUTTON ? "HMSG_USER_UP_BUTTON" : "HMSG_USER_DOWN_BUTTON");
        if (dialog.choices == 2) {
            gui_dialog_func(5, dialog.hl, 0);
            dialog.hl ^= 1;
            gui_dialog_func(5, dialog.hl, 1);
        }
        return 0;
    case HMSG_USER_MENU_BUTTON: {
        std::printf("==DIALOG==HMSG_USER_MENU_BUTTON===\n");
        std::printf("===dialog_button_set===%d\n", dialog.hl);
        const dialog_callback cb = dialog.callback;
        const int choice = dialog.hl;
        app_widget_off(WIDGET_DIALOG, 0);
        if (cb) cb(choice);
        return 0;
    }
    case HMSG_USER_UP_BUTTON_CLR:
    case HMSG_USER_DOWN_BUTTON_CLR:
    case HMSG_USER_MENU_BUTTON_CLR:
        return 0;
    default:
        return kWidgetNotConsumed;
    }
    std::printf("#####app-dialog#####type:%s\n", name);
    return 0;
}

} // namespace

const widget_ops widget_dialog = {dialog_on, dialog_off, dialog_on_message};

int app_widget_dialog_set_dialog(int type, int subject, dialog_callback cb) {
    dialog.type = type;
    dialog.subject = dialog.table[subject >= 0 && subject < 10 ? subject : 0];
    dialog.callback = cb;
    dialog.hl = 0;
    return 0;
}

int app_widget_dialog_set_dialog_table(const int* table) {
    dialog.table = table ? table : dialog_subject_str_tbl;
    return 0;
}
