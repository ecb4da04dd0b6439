#include "periph/usb_state.h"

std::atomic<uint8_t> UsbEn{0};
std::atomic<uint8_t> RtmpEn{0};
std::atomic<int32_t> usb_detection_state{0};
