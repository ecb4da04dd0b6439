#include "settings/bitrate.h"

std::atomic<int> BitRate{6};
std::atomic<uint8_t> RESET_EN{0};
