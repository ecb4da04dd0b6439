// Media platform facade: the INTF_ functions and the TX input switching.
#pragma once
#include <atomic>
#include <cstdint>
#include <pthread.h>

extern std::atomic<uint8_t> VencEn; // 1 while the encoder runs
extern std::atomic<int> audio_en;   // audio capture command, written under audio_mutex
extern pthread_mutex_t audio_mutex; // created by start-up

int INTF_CodecInit();
int INTF_CodecExit();

void hdmi_turn_on_video();
void hdmi_turn_off_video();
void sdi_turn_on_video();
void sdi_turn_off_video();
void hdmi_turn_on_audio();
void hdmi_turn_off_audio();
void sdi_turn_on_audio();
void sdi_turn_off_audio();
void audio_restart();
void audio_sdi_form_hdmi();
