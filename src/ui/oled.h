// The 128x64 OLED (SSD1306-style controller at 0x3C; bus 0 on a TX, bus 1 on an RX). Drawing
// goes straight to the display; there is no frame buffer. Every drawing operation holds the
// OLED lock for its whole run, so callers on any thread never interleave position and data.
#pragma once
#include <cstdint>

inline constexpr uint8_t kOledAddress = 0x3C;
inline constexpr int kOledColumns = 132; // controller memory; 128 are visible
inline constexpr int kOledPages = 8;

// Opens the bus for the unit's role, sends the controller set-up, creates the lock. 0, or the
// error ("open i2c dev %d fail").
int app_oled_init();
// Display off; the lock stays usable (other threads may still be drawing).
int app_oled_exit();

int init_i2c(int bus);
int deinit_i2c();
// 0 when the shared bus is open (opening "/dev/i2c-<bus>" first when needed), else -1.
int open_i2c_dev(int bus);

// One transfer each: {0x00, cmd} / {0x40, data}. 0, or a negative bus error.
int oled_write_cmd(unsigned char cmd);
int oled_write_data(unsigned char data);
int init_oled();
int deinit_oled();
// One write of length + 1 bytes (reg first) to address on bus number `bus`.
int i2c_write(int bus, unsigned short address, unsigned char reg, const unsigned char* data,
              unsigned int length);

// Whole display to 0 / to value. The result of the first command: a failure (no display on
// the bus) returns at once.
int app_oled_clear();
int app_oled_fill(unsigned char value);
// Columns x0..x1-1 of pages page0..page1-1; nothing unless x0 < x1 <= 132, page0 < page1 <= 8.
void app_oled_fill_area(int x0, int page0, int x1, int page1, unsigned char value);
void app_oled_drawbmp(int x0, int page0, int x1, int page1, const unsigned char* bmp);
// size 1: 6x8 font, size 2: 8x16 font (two pages); other sizes draw nothing.
void app_oled_showstring_6x8_8x16(int x, int page, const char* text, int size);
// GB2312 text with the built-in 16x16 glyphs (two pages).
void app_oled_showhz_16x16(int x, int page, const char* text);

namespace hdext::ui {
// The bus the driver uses, for tests that point it at a fresh simulated bus; null puts the
// role's bus back. Call only while nothing draws.
void oled_use_bus(int bus);
} // namespace hdext::ui
