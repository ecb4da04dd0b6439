// Wi-Fi facts read through the board's tools (wpa_supplicant file, iwconfig, iwlist).
// Any thread; each blocks for one command.
#pragma once

// The station file's SSID into ssid (at least 36 bytes); returns its length.
int get_wpa_ssid(char* ssid);
// The link quality text of "wlan0" into out (at least 10 bytes); 0, or -1 (out empty).
int get_wifi_info2(char* out);
// The channel "wlan0" works on, or -1.
int get_wifi_channel();
// The signal level of a scanned network, or -1.
int search_wifi_signal(const char* ssid);
