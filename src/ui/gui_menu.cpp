// Drawing of the menu, the quick menu and the dialog: four rows of 16 pixels (pages 0-1, 2-3,
// 4-5, 6-7), text at x 16, the highlight marker at x 2.
#include <cstdio>
#include <cstring>

#include "ui/menu.h"
#include "ui/menu_strings.h"
#include "ui/oled.h"

namespace {

constexpr int kTextX = 16, kMarkX = 2, kChoiceX = 24;

int page_of(int row) { return 2 * row; }

// Width in pixels of a text as gui_menu_text draws it.
int text_width(const char* s) {
    const size_t n = std::strlen(s);
    if (static_cast<unsigned char>(s[0]) >= 0x80) {
        int w = 0;
        size_t i = 0;
        for (; i + 1 < n && static_cast<unsigned char>(s[i]) >= 0x80; i += 2) w += 16;
        return w + static_cast<int>(n - i) * 8;
    }
    return static_cast<int>(n) * 8;
}

int centred(const char* s) {
    const int w = text_width(s);
    return w >= 128 ? 0 : (128 - w) / 2;
}

void clear_row(int row, int x0) { app_oled_fill_area(x0, page_of(row), 128, page_of(row) + 2, 0); }

void marker(int row, bool on) {
    if (on) app_oled_showstring_6x8_8x16(kMarkX, page_of(row), ">", 2);
    else app_oled_fill_area(kMarkX, page_of(row), kMarkX + 9, page_of(row) + 2, 0);
}

} // namespace

void gui_menu_ascii(int x, int page, const char* text) {
    const int n = static_cast<int>(std::strlen(text));
    if (x + 8 * n <= 128) app_oled_showstring_6x8_8x16(x, page, text, 2);
    else app_oled_showstring_6x8_8x16(x, page, text, 1);  // too wide for the large font
}

void gui_menu_text(int x, int page, int str) {
    const char* s = menu_string(str);
    if (static_cast<unsigned char>(s[0]) < 0x80) {
        gui_menu_ascii(x, page, s);
        return;
    }
    app_oled_showhz_16x16(x, page, s);
    size_t i = 0;
    while (s[i] && static_cast<unsigned char>(s[i]) >= 0x80) i += 2;
    if (s[i]) app_oled_showstring_6x8_8x16(x + 8 * static_cast<int>(i), page, s + i, 2);
}

int gui_menu_func(int command, int a, int b) {
    switch (command) {
    case 0: return app_oled_clear();
    case 1:
        clear_row(a, kTextX);
        gui_menu_text(kTextX, page_of(a), b);
        return 0;
    case 2: marker(a, true); return 0;
    case 3: marker(a, false); return 0;
    case 5:
        clear_row(0, 0);
        gui_menu_text(centred(menu_string(b)), 0, b);
        return 0;
    default: std::puts("Undefined GUI command"); return -1;
    }
}

int gui_menu_quick_func(int command, int a, int b) {
    switch (command) {
    case 0: return app_oled_clear();
    case 1:  // title on the top row
        clear_row(0, 0);
        gui_menu_text(centred(menu_string(b)), 0, b);
        return 0;
    case 2:  // choice row a (1-3)
        clear_row(a, kChoiceX);
        gui_menu_text(kChoiceX, page_of(a), b);
        return 0;
    case 3: marker(a, true); return 0;
    case 4: marker(a, false); return 0;
    default: std::puts("Undefined GUI command"); return -1;
    }
}

int gui_dialog_func(int command, int a, int b) {
    switch (command) {
    case 0: return app_oled_clear();
    case 1:  // title
        clear_row(0, 0);
        gui_menu_text(centred(menu_string(b)), 0, b);
        return 0;
    case 2:  // subject on pages 3-4
        app_oled_fill_area(0, 3, 128, 5, 0);
        gui_menu_text(centred(menu_string(b)), 3, b);
        return 0;
    case 3: {  // a dots (0-3) at x 52, page 5
        static const char* const kDots[4] = {"", ".", ". .", ". . ."};
        app_oled_fill_area(52, 5, 128, 6, 0);
        app_oled_showstring_6x8_8x16(52, 5, kDots[a < 0 || a > 3 ? 0 : a], 1);
        return 0;
    }
    case 4:  // choice a (0-1) with string b, on rows 2 and 3
        clear_row(2 + a, kChoiceX);
        gui_menu_text(kChoiceX, page_of(2 + a), b);
        return 0;
    case 5: marker(2 + a, b != 0); return 0;
    default: std::puts("Undefined GUI command"); return -1;
    }
}
