// The on-screen manager's two interval timers. Each runs on its own thread and calls its
// handler with 10 (timer 1) or 12 (timer 2) at every expiry, 1 once when registered and 2 when
// unregistered. Interval codes: 500 = 500 ms, 30 = 30 s, anything else 1 s.
#pragma once

using app_timer_handler = void (*)(int);

int app_timer_register(int code, app_timer_handler handler);
int app_timer_register_2(int code, app_timer_handler handler);
int app_timer_unregister(int unused, app_timer_handler handler);
int app_timer_unregister_2(int unused, app_timer_handler handler);
int app_timer_unregister_all();

namespace hdext::periph {
// The handler timer 1 (slot 0) or timer 2 (slot 1) calls now, or null.
app_timer_handler app_timer_current(int slot);
// Divides every interval by `factor` (tests run the 30 s timer in milliseconds). 1 = real time.
void set_app_timer_speedup(int factor);
// Manual mode (tests): registered timers never expire by themselves; app_timer_fire runs one
// expiry of slot 0 or 1 on the caller's thread. Set before registering.
void set_app_timer_manual(bool manual);
void app_timer_fire(int slot);
} // namespace hdext::periph
