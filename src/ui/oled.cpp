#include "ui/oled.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "board/i2c.h"
#include "board/role.h"
#include "ui/fonts.h"

namespace {

constexpr uint8_t kCmdPrefix = 0x00, kDataPrefix = 0x40;
constexpr int kRunMax = kOledColumns;

std::atomic<int> g_bus{-1};
std::mutex g_oled_lock;

const uint8_t kInitSequence[29] = {0xAE, 0x20, 0x10, 0xB0, 0xC0, 0x00, 0x10, 0x40, 0x81, 0xFF,
                                   0xA1, 0xA6, 0xA8, 0x3F, 0xA4, 0xD3, 0x00, 0xD5, 0xF0, 0xD9,
                                   0x22, 0xDA, 0x12, 0xDB, 0x20, 0x8D, 0x14, 0x00, 0xAF};

hdext::board::I2cBus* bus() {
    const int b = g_bus.load(std::memory_order_relaxed);
    return b < 0 ? nullptr : hdext::board::i2c_bus(b);
}

int role_bus() { return g_EquipmentModel.load(std::memory_order_relaxed) == EQUIPMENT_MODEL_RX ? 1 : 0; }

// One data transfer for a run of bytes on the current page: the controller keeps advancing the
// column, so a run costs one bus transaction instead of one per byte.
int write_run(const uint8_t* data, int n) {
    auto* b = bus();
    if (!b) return -1;
    uint8_t buf[kRunMax + 1];
    buf[0] = kDataPrefix;
    while (n > 0) {
        const int k = n < kRunMax ? n : kRunMax;
        std::memcpy(buf + 1, data, static_cast<size_t>(k));
        if (int r = b->write(kOledAddress, buf, static_cast<size_t>(k) + 1); r != 0) return r;
        data += k;
        n -= k;
    }
    return 0;
}

// Page and column commands. The low column command keeps bits 1-3 of x and sets bit 0, as the
// panels were laid out with it; every drawing position in the UI is chosen with this rule.
int set_pos(int x, int page) {
    if (int r = oled_write_cmd(static_cast<unsigned char>(0xB0 + page)); r != 0) return r;
    oled_write_cmd(static_cast<unsigned char>(0x10 | (x >> 4)));
    return oled_write_cmd(static_cast<unsigned char>((x & 0x0E) | 0x01));
}

int fill_all(uint8_t value) {
    std::lock_guard<std::mutex> g(g_oled_lock);
    uint8_t row[kOledColumns];
    std::memset(row, value, sizeof row);
    for (int page = 0; page < kOledPages; ++page) {
        const int r = oled_write_cmd(static_cast<unsigned char>(0xB0 + page));
        if (r != 0) return r;
        oled_write_cmd(0x00);
        oled_write_cmd(0x10);
        write_run(row, kOledColumns);
    }
    return 0;
}

bool area_ok(int x0, int page0, int x1, int page1) {
    return x0 >= 0 && page0 >= 0 && x0 < x1 && x1 <= kOledColumns && page0 < page1 &&
           page1 <= kOledPages;
}

} // namespace

namespace hdext::ui {
void oled_use_bus(int b) { g_bus.store(b, std::memory_order_relaxed); }
} // namespace hdext::ui

int open_i2c_dev(int b) {
    if (g_bus.load(std::memory_order_relaxed) < 0) g_bus.store(b, std::memory_order_relaxed);
    if (!bus()) {
        std::printf("open i2c %d dev \n", b);
        return -1;
    }
    return 0;
}

int init_i2c(int b) {
    if (open_i2c_dev(b) != 0) return -1;
    for (uint8_t c : kInitSequence) oled_write_cmd(c);
    return 0;
}

int deinit_i2c() { return oled_write_cmd(0xAE); }

int app_oled_init() {
    const int b = role_bus();
    if (int r = init_i2c(b); r != 0) {
        std::printf("open i2c dev %d fail\n", b);
        return r;
    }
    return 0;
}

int app_oled_exit() {
    std::lock_guard<std::mutex> g(g_oled_lock);
    return deinit_i2c();
}

int oled_write_cmd(unsigned char cmd) {
    auto* b = bus();
    const uint8_t buf[2] = {kCmdPrefix, cmd};
    return b ? b->write(kOledAddress, buf, 2) : -1;
}

int oled_write_data(unsigned char data) {
    auto* b = bus();
    const uint8_t buf[2] = {kDataPrefix, data};
    return b ? b->write(kOledAddress, buf, 2) : -1;
}

int init_oled() { return oled_write_cmd(0xAF); }
int deinit_oled() { return oled_write_cmd(0xAE); }

int i2c_write(int b, unsigned short address, unsigned char reg, const unsigned char* data,
              unsigned int length) {
    auto* dev = hdext::board::i2c_bus(b);
    if (!dev) return -1;
    uint8_t buf[1 + 256];
    if (length > 256) return -1;
    buf[0] = reg;
    if (length) std::memcpy(buf + 1, data, length);
    return dev->write(static_cast<uint8_t>(address), buf, length + 1);
}

int app_oled_clear() { return fill_all(0); }
int app_oled_fill(unsigned char value) { return fill_all(value); }

void app_oled_fill_area(int x0, int page0, int x1, int page1, unsigned char value) {
    if (!area_ok(x0, page0, x1, page1)) return;
    std::lock_guard<std::mutex> g(g_oled_lock);
    uint8_t row[kOledColumns];
    std::memset(row, value, sizeof row);
    for (int page = page0; page < page1; ++page) {
        set_pos(x0, page);
        write_run(row, x1 - x0);
    }
}

void app_oled_drawbmp(int x0, int page0, int x1, int page1, const unsigned char* bmp) {
    if (!bmp || !area_ok(x0, page0, x1, page1)) return;
    std::lock_guard<std::mutex> g(g_oled_lock);
    for (int page = page0; page < page1; ++page) {
        set_pos(x0, page);
        write_run(bmp, x1 - x0);
        bmp += x1 - x0;
    }
}

void app_oled_showstring_6x8_8x16(int x, int page, const char* text, int size) {
    if (!text || page > 7 || page < 0 || (size != 1 && size != 2)) return;
    std::lock_guard<std::mutex> g(g_oled_lock);
    for (const char* p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (size == 1) {
            const int i = (c >= 0x20 && c <= 0x7B) ? c - 0x20 : 0;
            if (x >= 127) {  // wrap to the next page
                x = 0;
                ++page;
            }
            if (page > 7) break;
            set_pos(x, page);
            write_run(FONT6x8ASCII[i], 6);
            x += 6;
        } else {
            const int i = (c >= 0x20 && c <= 0x7E) ? c - 0x20 : 0;
            if (x >= 125) {  // wrap two pages lower
                x = 0;
                page += 2;
            }
            if (page > 7) break;
            set_pos(x, page);
            write_run(FONT8x16ASCII[i], 8);
            set_pos(x, page + 1);
            write_run(FONT8x16ASCII[i] + 8, 8);
            x += 8;
        }
    }
}

void app_oled_showhz_16x16(int x, int page, const char* text) {
    if (!text || page > 7 || page < 0) return;
    auto s = reinterpret_cast<const unsigned char*>(text);
    if (s[0] < 0x80) return;
    std::lock_guard<std::mutex> g(g_oled_lock);
    for (; s[0] >= 0x80 && s[1] != 0; s += 2) {
        int k = 0;
        for (int i = 0; i < kHzEntries; ++i)
            if (HZIndex[i][0] == s[0] && HZIndex[i][1] == s[1]) {
                k = i;
                break;
            }
        set_pos(x, page);
        write_run(HZTable[k], 16);
        set_pos(x, page + 1);
        write_run(HZTable[k] + 16, 16);
        x += 16;
    }
}
