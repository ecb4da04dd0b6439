#include "periph/input_state.h"

std::atomic<int> vi_mode{0};
std::atomic<uint8_t> init_videc{1};
std::atomic<uint8_t> init_audio{1};
std::atomic<uint8_t> Frame_en{0};
std::atomic<uint8_t> RestartAudio{1};

std::atomic<int> MaxW_6911_ATT{0};
std::atomic<int> MaxH_6911_ATT{0};
std::atomic<int> FrameRate_6911{0};
std::atomic<int> SCAN_MODE_6911{2};
std::atomic<int> VO_SYNC_6911_ATT{49};
std::atomic<int> AudioSampling_6911{96001};

std::atomic<int> MaxW_3471_ATT{0};
std::atomic<int> MaxH_3471_ATT{0};
std::atomic<int> FrameRate_3471{0};
std::atomic<int> SCAN_MODE_3471{2};
std::atomic<int> VO_SYNC_3471_ATT{49};
std::atomic<int> AudioSampling_3471{96001};

std::atomic<int> VO_SYNC_ATT{49};
