// Placeholder until the media facade lands: start-up and the settings can call these.
#include "media/codec.h"

std::atomic<uint8_t> VencEn{0};
std::atomic<int> audio_en{3};
pthread_mutex_t audio_mutex;

int INTF_CodecInit() { return 0; }
int INTF_CodecExit() { return 0; }
void hdmi_turn_on_video() {}
void hdmi_turn_off_video() {}
void sdi_turn_on_video() {}
void sdi_turn_off_video() {}
void hdmi_turn_on_audio() {}
void hdmi_turn_off_audio() {}
void sdi_turn_on_audio() {}
void sdi_turn_off_audio() {}
void audio_restart() {}
void audio_sdi_form_hdmi() {}
