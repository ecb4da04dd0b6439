#include "ui/osd_manager.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/event.h"
#include "core/task.h"
#include "net/network_task.h"
#include "periph/app_actions.h"
#include "periph/app_status.h"
#include "periph/app_timer.h"
#include "periph/battery.h"
#include "settings/param_config.h"
#include "ui/menu.h"
#include "ui/oled.h"
#include "ui/widget.h"

std::atomic<int32_t> button_up_counter{-1}, button_down_counter{-1}, button_menu_counter{-1};
std::atomic<int32_t> button_up_down_counter{0};
osd_manager_t osd_manager{};

namespace {

constexpr uint32_t kMsgOsdTick = 0xf00102f0;  // {slot, generation}: an interval timer expired
constexpr uint32_t kMsgOsdSync = 0xf00102f1;  // payload: the waiter's sequence number
constexpr int kLongPressTicks = 5;            // held ticks of 500 ms beyond which a press is long
constexpr int kPendingChannelTicks = 7;       // blink ticks before a stepped channel is applied

std::atomic<int> g_post_pause_ms{100};
int overtimr = 0;
int g_home_ticks = 0;
int g_link_drawn = -1;  // RX: 1 "Link OK" on screen, 0 the dotted "Link", -1 not drawn

struct TimerSlot {
    std::atomic<uint32_t> generation{0};
    void (*tick)() = nullptr;  // OSD thread only
};
TimerSlot g_timers[2];

std::mutex g_sync_lock;
std::condition_variable g_sync_cv;
uint64_t g_sync_posted = 0, g_sync_done = 0;

std::atomic<int (*)(hdext::ui::OsdClient*, int)> g_client_reader{nullptr};

int u8(int i) { return app_status[i].load(std::memory_order_relaxed); }
void set_u8(int i, int v) { app_status[i].store(static_cast<uint8_t>(v), std::memory_order_relaxed); }
bool is_rx() { return u8(0) == 1; }
void post_pause() { usleep(static_cast<useconds_t>(g_post_pause_ms.load()) * 1000); }

template <int Slot>
void tick_trampoline(int signo) {
    if (signo == 1 || signo == 2) return;  // set-up and tear-down calls
    const uint32_t payload[2] = {Slot, g_timers[Slot].generation.load()};
    app_osd_manager_notify_message(kMidOsd, kMsgOsdTick, payload, sizeof payload);
}

void post_channel(int channel) {
    int32_t data[2] = {channel, 0};
    ABS_WIFI_CHN_INFO_t info{static_cast<uint8_t>(channel), static_cast<uint8_t>(u8(32))};
    std::memcpy(data, &info, sizeof info);
    CParamConfig::ParamNotify(4096, LOCAL_MSG_CHANGE_WIFI_CHANNEL, data, 8);
}

// Home actions.
void change_channel(bool up) {
    if (CNetworkTask::GetWirelessStatus() == WIRELESS_STATUS_STARTING) return;
    ABS_WIFI_CHN_INFO_t info{static_cast<uint8_t>(u8(31)), static_cast<uint8_t>(u8(32))};
    CParamConfig* p = CParamConfig::Instance();
    if (up) p->GetWifiSupportNextChn5G(&info);
    else p->GetWifiSupportPrevChn5G(&info);
    std::printf("###111 app###app_change_channel : %d, updown=%d\n", info.channel, up ? 1 : 0);
    std::printf("###app###app_change_channel : %d, bandwidth=%d\n", info.channel, info.bandwidth);
    set_u8(31, info.channel);
    set_u8(32, info.bandwidth);
    osd_manager.channel_change_active = 1;
}
void up_short() { change_channel(true); }
void down_short() { change_channel(false); }
// The channel found comes back as a channel refresh; no dialog waits for it.
void search_best_channel() {
    std::printf("#####app#####-type:searching best channel ");
    if (CNetworkTask::GetWirelessStatus() == WIRELESS_STATUS_STARTING) return;
    int32_t zero = 0;
    CNetworkTask::Notify(4096, LOCAL_MSG_NETWORK_CALIBRATION, &zero, 4);
}
void menu_press() {
    if (u8(31) == u8(33)) return;
    set_u8(33, u8(31));
    gui_osd_manager_func(13, 0, 0, 0);
    gui_osd_manager_func(14, u8(33), 0, 0);
    post_channel(u8(31));
    button_up_down_counter.store(0);
    post_pause();
}
void menu_long() {
    osd_manager_func(2, 0);
    app_widget_on(WIDGET_MENU, 0);
}

int default_clients(hdext::ui::OsdClient* out, int max) {
    const int n = u8(7) < max ? u8(7) : max;
    for (int i = 0; i < n; ++i) out[i] = {true, 5};
    return n;
}

void draw_clients() {
    if (is_rx()) {
        if (u8(14) == 1) gui_osd_manager_func(23, 1, 0, 0);
        else gui_osd_manager_func(23, u8(16) ? u8(16) : 1, u8(35), 0);
        return;
    }
    if (u8(14) == 1) {
        gui_osd_manager_func(20, 1, 0, 0);
        gui_osd_manager_func(19, 2, 0, 0);
        return;
    }
    hdext::ui::OsdClient c[3]{};
    auto reader = g_client_reader.load();
    const int n = (reader ? reader : default_clients)(c, 3);
    for (int i = 0; i < n; ++i) gui_osd_manager_func(20, i + 1, c[i].level, 0);
    gui_osd_manager_func(19, n + 1, 0, 0);
}

void draw_power() {
    const int dc = dc_detection_level_state.load(std::memory_order_relaxed);
    if (dc == 1) {
        app_battery_low_power_gpio_handler(1);
        gui_osd_manager_func(5, 6, 0, 0);
    } else {
        const int level = app_battery_low_power_gpio_handler(0);
        gui_osd_manager_func(5, level, 0, 0);
    }
}

void draw_channel_tick() {
    const int sel = u8(31), shown = u8(33);
    if (sel == shown) {
        if (button_up_down_counter.load() > 0) {
            button_up_down_counter.store(0);
            gui_osd_manager_func(13, 0, 0, 0);
            gui_osd_manager_func(14, shown, 0, 0);
            post_channel(sel);
            post_pause();
        } else {
            gui_osd_manager_func(14, shown, 0, 0);
        }
        return;
    }
    const int n = button_up_down_counter.fetch_add(1) + 1;
    if (n % 2) gui_osd_manager_func(13, 0, 0, 0);  // blink: off one tick, on the next
    else gui_osd_manager_func(14, sel, 0, 0);
    set_u8(33, n > kPendingChannelTicks ? sel : 0);
}

void count_long_press() {
    const bool held = button_up_counter.load() >= 0 || button_down_counter.load() >= 0 ||
                      button_menu_counter.load() >= 0;
    if (!held) {
        osd_manager.button_up_timer_cnt = osd_manager.button_down_timer_cnt =
            osd_manager.button_menu_timer_cnt = 0;
        return;
    }
    ++osd_manager.button_up_timer_cnt;
    ++osd_manager.button_down_timer_cnt;
    ++osd_manager.button_menu_timer_cnt;
    if (osd_manager.button_up_timer_cnt > 254 || osd_manager.button_down_timer_cnt > 254 ||
        osd_manager.button_menu_timer_cnt > 254) {
        button_up_counter.store(-1);
        button_down_counter.store(-1);
        button_menu_counter.store(-1);
        return;
    }
    uint32_t clr = 0;
    if (button_menu_counter.load() >= 0 && osd_manager.button_menu_timer_cnt > kLongPressTicks)
        clr = HMSG_USER_MENU_BUTTON_CLR;
    else if (button_up_counter.load() >= 0 && osd_manager.button_up_timer_cnt > kLongPressTicks)
        clr = HMSG_USER_UP_BUTTON_CLR;
    else if (button_down_counter.load() >= 0 && osd_manager.button_down_timer_cnt > kLongPressTicks)
        clr = HMSG_USER_DOWN_BUTTON_CLR;
    if (clr) {
        app_osd_manager_notify_message(kButtonSender, clr, nullptr, 0);
        post_pause();
    }
}

// RX: "Link OK" once linked, else "Link" with one to three dots that move every tick.
void draw_link(int tick) {
    const int linked = u8(14) == 1 ? 0 : 1;
    if (linked && g_link_drawn == 1) return;
    gui_osd_manager_func(24, linked ? 0 : 1, tick % 3 + 1, 0);
    g_link_drawn = linked;
}

void home_tick() {
    if (app_widget_get_flags() != 0) return;
    draw_channel_tick();
    draw_clients();
    if (is_rx()) draw_link(g_home_ticks);
    gui_osd_manager_func(29, u8(5), 0, 0);
    if (g_home_ticks++ % 2 == 0) draw_power();
    gui_osd_manager_func(9, u8(2), 0, 0);
    count_long_press();
}

void inactivity_tick() {
    if (overtimr++ > 19) {
        overtimr = 0;
        menu_close_for_inactivity();
    }
}

void release(std::atomic<int32_t>& counter, int held, const char* fmt, osd_action_fn shortfn,
             osd_action_fn longfn) {
    if (counter.load() >= 0) {
        std::printf(fmt, counter.load(), held);
        (held < kLongPressTicks + 1 ? shortfn : longfn)();
    }
    counter.store(-1);
}

void handle_home(uint32_t id, const uint8_t* data, uint32_t len) {
    auto& op = osd_manager.osd_manager_op;
    const char* name = nullptr;
    switch (id) {
    case HMSG_USER_UP_BUTTON:
        name = "HMSG_USER_UP_BUTTON";
        button_up_counter.store(0);
        osd_manager.button_up_timer_cnt = 0;
        break;
    case HMSG_USER_DOWN_BUTTON:
        name = "HMSG_USER_DOWN_BUTTON";
        button_down_counter.store(0);
        osd_manager.button_down_timer_cnt = 0;
        break;
    case HMSG_USER_MENU_BUTTON:
        name = "HMSG_USER_MENU_BUTTON";
        button_menu_counter.store(0);
        osd_manager.button_menu_timer_cnt = 0;
        op[4]();
        break;
    case HMSG_USER_UP_BUTTON_CLR:
        name = "HMSG_USER_UP_BUTTON_CLR";
        release(button_up_counter, osd_manager.button_up_timer_cnt,
                "button_up_counter: %d, sd_manager.button_up_timer_cnt: %d\n", op[0], op[1]);
        break;
    case HMSG_USER_DOWN_BUTTON_CLR:
        name = "HMSG_USER_DOWN_BUTTON_CLR";
        release(button_down_counter, osd_manager.button_down_timer_cnt,
                "button_down_counter: %d, sd_manager.button_down_timer_cnt: %d\n", op[2], op[3]);
        break;
    case HMSG_USER_MENU_BUTTON_CLR:
        name = "HMSG_USER_MENU_BUTTON_CLR";
        if (button_menu_counter.load() >= 0 && osd_manager.button_menu_timer_cnt > kLongPressTicks) op[5]();
        button_menu_counter.store(-1);
        break;
    case AMSG_STATE_WIDGET_CLOSED:
        name = "AMSG_STATE_WIDGET_CLOSED";
        osd_manager_func(3, 0);
        break;
    case AMSG_STATE_WIFI_CHANNEL_DISPLAY_REFRESH:
        name = "AMSG_STATE_WIFI_CHANNEL_DISPLAY_REFRESH";
        if (data && len >= 2) {
            set_u8(31, data[0]);
            set_u8(33, data[0]);
            set_u8(32, data[1]);
            set_u8(34, data[1]);
        }
        osd_manager_func(4, 0);
        break;
    case AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_SUCCESS:
        name = "AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_SUCCESS";
        osd_manager_func(4, 0);
        break;
    case AMSG_STATE_WIFI_RX_CLIENT_NUM_DISPLAY_REFRESH:
        name = "AMSG_STATE_WIFI_RX_CLIENT_NUM_DISPLAY_REFRESH";
        if (data && len >= 6) set_u8(36, data[5]);
        break;
    default:
        return;
    }
    std::printf("#####app-osd_manager#####type:%s \n", name);
}

void on_osd_message(THR_TASK*, MQ_LIST* m) {
    const auto* data = static_cast<const uint8_t*>(m->data);
    if (m->msg_id == kMsgOsdSync) {
        std::lock_guard<std::mutex> g(g_sync_lock);
        uint64_t seq = 0;
        std::memcpy(&seq, data, sizeof seq);
        if (seq > g_sync_done) g_sync_done = seq;
        g_sync_cv.notify_all();
        return;
    }
    if (m->msg_id == kMsgOsdTick) {
        uint32_t p[2];
        std::memcpy(p, data, sizeof p);
        auto& slot = g_timers[p[0] & 1];
        if (p[1] == slot.generation.load() && slot.tick) slot.tick();
        return;
    }
    overtimr = 0;
    if (app_widget_on_message(m->msg_id, m->data, m->len) != kWidgetNotConsumed) return;
    if (app_widget_get_flags() != 0 && (m->msg_id == AMSG_STATE_WIFI_CHANNEL_DISPLAY_REFRESH ||
                                        m->msg_id == AMSG_STATE_WIFI_SEARCH_BEST_CHANNEL_SUCCESS))
        return;
    handle_home(m->msg_id, data, m->len);
}

void osd_task_init(THR_TASK* task) {
    pthread_setname_np(pthread_self(), "osd_manager");
    std::printf("###### ###### osd_manager_task_init thread PID=%lX\n",
                static_cast<unsigned long>(pthread_self()));
    register_msg_handler(task, on_osd_message);
}

} // namespace

namespace hdext::ui {

void set_client_table_reader(int (*reader)(OsdClient*, int)) { g_client_reader.store(reader); }
void set_osd_post_pause_ms(int ms) { g_post_pause_ms.store(ms); }

void osd_timer_start(int slot, int code, void (*tick)()) {
    auto& t = g_timers[slot & 1];
    t.generation.fetch_add(1);
    t.tick = tick;
    if (slot == 0) app_timer_register(code, tick_trampoline<0>);
    else app_timer_register_2(code, tick_trampoline<1>);
}

void osd_timer_stop(int slot) {
    auto& t = g_timers[slot & 1];
    t.generation.fetch_add(1);
    t.tick = nullptr;
    if (slot == 0) app_timer_unregister(0, tick_trampoline<0>);
    else app_timer_unregister_2(0, tick_trampoline<1>);
}

void osd_sync() {
    uint64_t seq;
    {
        std::lock_guard<std::mutex> g(g_sync_lock);
        seq = ++g_sync_posted;
    }
    app_osd_manager_notify_message(kMidOsd, kMsgOsdSync, &seq, sizeof seq);
    std::unique_lock<std::mutex> lk(g_sync_lock);
    g_sync_cv.wait(lk, [&] { return g_sync_done >= seq; });
}

void draw_home_screen() {
    gui_osd_manager_func(1, 0, 0, 0);
    gui_osd_manager_func(25, 0, 0, 0);
    draw_clients();
    gui_osd_manager_func(14, u8(33), 0, 0);
    gui_osd_manager_func(9, u8(2), 0, 0);
    gui_osd_manager_func(29, u8(5), 0, 0);
    gui_osd_manager_func(26, u8(4), 0, 0);
    draw_power();
    g_link_drawn = -1;
    if (is_rx()) draw_link(2);
    else gui_osd_manager_func(17, 0, 0, 0);
}

} // namespace hdext::ui

int osd_manager_func(int command, int) {
    switch (command) {
    case 0:
        app_widget_menu_reset();
        for (int i = 0; i < 4; ++i) app_widget_menu_register_tab(i);
        break;
    case 1:
        hdext::ui::osd_timer_start(0, 500, home_tick);
        hdext::ui::draw_home_screen();
        break;
    case 2:
        hdext::ui::osd_timer_stop(0);
        overtimr = 0;
        hdext::ui::osd_timer_start(1, 30, inactivity_tick);
        break;
    case 3:
        hdext::ui::osd_timer_stop(1);
        hdext::ui::osd_timer_start(0, 500, home_tick);
        hdext::ui::draw_home_screen();
        break;
    case 4:
        gui_osd_manager_func(13, 0, 0, 0);
        gui_osd_manager_func(14, u8(33), 0, 0);
        break;
    default:
        std::puts("The function is not defined");
        return -1;
    }
    return 0;
}

int app_osd_manager_notify_message(uint32_t source, uint32_t id, const void* data, uint32_t length) {
    MSG_INFO m{source, kMidOsd, id, length, data};
    return send_msg(&m);
}

int app_osd_manager_init() {
    osd_manager.osd_manager_func = osd_manager_func;
    osd_manager.gui_osd_manager_func = gui_osd_manager_func;
    osd_action_fn ops[6] = {up_short, search_best_channel, down_short, search_best_channel,
                            menu_press, menu_long};
    std::memcpy(osd_manager.osd_manager_op, ops, sizeof ops);
    app_buttons_init();
    app_oled_init();
    app_battery_low_power_gpio_init();
    app_widget_init();
    app_widget_dialog_set_dialog_table(dialog_subject_str_tbl);
    hdext::periph::set_factory_reset_display_clear(app_oled_clear);
    if (int r = app_oled_clear(); r != 0) {
        std::printf("There is no OLED. ");
        return r;
    }
    osd_manager_func(0, 0);
    osd_manager_func(1, 0);
    register_task(kMidOsd, nullptr, osd_task_init, 0);
    hdext::periph::start_dc_detection_thread();
    return 0;
}

int app_osd_manager_exit() {
    app_buttons_exit();
    app_oled_exit();
    app_battery_low_power_gpio_exit();
    return 0;
}
