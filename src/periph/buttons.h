// Front-panel keys: a detached thread reads Linux input events from "/dev/input/event0" and
// turns them into press/release messages for the on-screen manager (module 0x8000).
#pragma once
#include <cstdint>

inline constexpr uint32_t HMSG_USER_UP_BUTTON = 0xD8010000;
inline constexpr uint32_t HMSG_USER_DOWN_BUTTON = 0xD8010001;
inline constexpr uint32_t HMSG_USER_MENU_BUTTON = 0xD8010002;
inline constexpr uint32_t HMSG_USER_UP_BUTTON_CLR = 0xD8010800;
inline constexpr uint32_t HMSG_USER_DOWN_BUTTON_CLR = 0xD8010801;
inline constexpr uint32_t HMSG_USER_MENU_BUTTON_CLR = 0xD8010802;
inline constexpr uint32_t kButtonSender = 0x8001;

inline constexpr uint16_t kKeyUp = 103, kKeyDown = 108, kKeyMenu = 102;
inline constexpr const char* kButtonsDevice = "/dev/input/event0";

// Starts the detached key thread. 0.
int app_buttons_init();
int app_buttons_exit();
void* pthread_buttons_handler(void* arg);

namespace hdext::periph {
// The message for one input event (type, code, value), or 0 when it means nothing.
uint32_t button_message(uint16_t type, uint16_t code, int32_t value);
// Reads events from fd and sends their messages until a read fails or ends. Returns then.
void buttons_read_events(int fd);
// Pause before the key thread retries a device it could not open or read. Tests shorten it.
void set_buttons_retry_ms(int ms);
} // namespace hdext::periph
