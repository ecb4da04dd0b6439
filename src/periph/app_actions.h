// Operations the menus and the companion app call: pairing, factory reset and reboot, saving
// settings, and the Wi-Fi signal level. Each sends its message and returns; the receiving task
// does the work.
#pragma once
#include <cstdint>

int app_start_pairing();
int app_quit_the_pairing();
int app_factory_reset();
int app_factory_reboot();
int app_save_sys_info_video_quality(int value);
int app_save_sys_info_language(int value);
int app_save_sys_info_fan(int value);
int app_save_sys_info_earphone_volume();
int app_save_sys_info_microphone_volume_onoff();
int app_get_microphone_volume_onoff();
int app_wifi_onoff();
int app_set_earphone_volume();
int app_set_microphone_volume_onoff();
// flag 0 measures the link quality; writes the level 1-5 into *out.
int app_get_wifi_signal_level(int flag, uint8_t* out);
// The level for a link quality number n (0-255).
int wifi_level_from_quality(int n);

namespace hdext::periph {
// Clears the display before a factory reset; set by the OLED driver's owner (null = none).
void set_factory_reset_display_clear(int (*fn)());
// Releases the pairing accept handler of the network task; wired by the link code (null = none).
void set_quit_pairing_release(void (*fn)());
// Runs the release wired above (nothing when none is wired).
void release_pairing_handlers();
} // namespace hdext::periph
