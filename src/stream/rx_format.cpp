#include "stream/rx_format.h"

std::atomic<int> MaxW_ATT{1920};
std::atomic<int> MaxH_ATT{1080};
std::atomic<int> FrameRate{60};
std::atomic<int> AudioSampling{48000};
