#!/usr/bin/env python3
"""Generates src/ui/icon_tables.cpp: the home-screen and menu icons, page by page (for each
page one byte per column, bit 0 at the top). Text icons are set in GNU Unifont's 8x16 glyphs
or the drawn 5x7 font of gen_fonts.py; the rest are drawn below.

    tools/gen_icons.py [/usr/share/unifont/unifont.hex] > src/ui/icon_tables.cpp
"""
import sys

from gen_fonts import FONT5X7, load_hex


def blank(w, h):
    return [[0] * w for _ in range(h)]


def art(text):
    rows = [r for r in text.strip("\n").split("\n")]
    w = max(len(r) for r in rows)
    return [[1 if c == "#" else 0 for c in r.ljust(w)] for r in rows]


def paste(dst, src, x, y):
    for r, row in enumerate(src):
        for c, v in enumerate(row):
            if v and 0 <= y + r < len(dst) and 0 <= x + c < len(dst[0]):
                dst[y + r][x + c] = 1


def small_text(s):
    cols = [[int(x, 16) for x in g.split()] for g in FONT5X7.replace("\n", "|").split("|") if g.strip()]
    out = blank(6 * len(s) - 1, 7)
    for i, ch in enumerate(s):
        for c, b in enumerate(cols[ord(ch) - 0x20]):
            for r in range(7):
                if b >> r & 1:
                    out[r][6 * i + c] = 1
    return out


def big_glyph(glyphs, ch):
    bits = glyphs[ord(ch)]
    return [[int(bits[2 * r:2 * r + 2], 16) >> (7 - c) & 1 for c in range(8)] for r in range(16)]


def to_bytes(px):
    h, w = len(px), len(px[0])
    assert h % 8 == 0
    return [sum(px[p * 8 + r][c] << r for r in range(8)) for p in range(h // 8) for c in range(w)]


def format_icon(label):
    px = blank(52, 16)
    for c in range(52):
        px[0][c] = px[15][c] = 1
    for r in range(16):
        px[r][0] = px[r][51] = 1
    t = small_text(label)
    tall = [row for row in t for _ in (0, 1)]  # 5x7 doubled in height
    paste(px, tall, (52 - len(t[0])) // 2, 1)
    return px


def digit(glyphs, d):
    px = blank(12, 16)
    paste(px, big_glyph(glyphs, str(d)), 2, 0)
    return px


def bars(n):
    px = blank(9, 16)
    for i in range(5):
        h = 3 + 2 * i
        for r in range(15 - h, 15):
            if i < n:
                px[r][2 * i] = 1
            elif r == 14:
                px[r][2 * i] = 1
    return px


def device(n):
    px = art("""
......
######
#....#
#....#
#....#
#....#
######
..##..
######
""")
    out = blank(6, 16)
    paste(out, px, 0, 0)
    paste(out, small_text(str(n)), 1, 9)
    return out


def battery(level):
    px = art("""
.............
#############
#...........#
#...........##
#...........##
#...........##
#...........#
#############
""")
    out = blank(15, 16)
    paste(out, px, 0, 4)
    for i in range(level):
        for r in range(7, 10):
            for c in (2 + 2 * i, 3 + 2 * i):
                out[r][c] = 1
    return out


ICONS_ART = {
    "BMP_POWER_DC_ICON": """
......#........
.....##........
....###........
...#####.......
..#######......
.....###.......
....###........
...##..........
..#............
""",
    "BMP_USB": """
....#....
...###...
....#.#..
.#..#.#..
###.#.#..
.#..###..
.##.#....
..###....
....#....
...###...
...###...
""",
    "BMP_FAN_ICON": """
.....###.....
....####.....
....###......
....##.......
##..##..###..
####.##.####.
..######.....
.####.##.####
..###..##..##
.......##....
......###....
.....####....
.....###.....
""",
    "BMP_HEADPHONES": """
.....######.....
...##......##...
..#..........#..
.#............#.
.#............#.
#..............#
#..............#
####........####
#####......#####
#####......#####
#####......#####
####........####
""",
}


def fixed(name, w, h):
    out = blank(w, h)
    paste(out, art(ICONS_ART[name]), 0, 1)
    return out


def volume(sign):
    px = art("""
...#......
..##......
####......
####......
####......
..##......
...#......
""")
    out = blank(27, 16)
    paste(out, px, 2, 4)
    paste(out, small_text(sign), 14, 4)
    return out


def main():
    glyphs = load_hex(sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unifont/unifont.hex")
    icons = []
    for name, label in [("480P30", "480P30"), ("480P60", "480P60"), ("720P30", "720P30"),
                        ("720P50", "720P50"), ("720P60", "720P60"), ("1080P24", "1080P24"),
                        ("1080P25", "1080P25"), ("1080P30", "1080P30"), ("1080I50", "1080I50"),
                        ("1080P50", "1080P50"), ("1080I60", "1080I60"), ("1080P60", "1080P60"),
                        ("NO_VIDEO", "NO VIDEO")]:
        icons.append((f"BMP_{name}_ICON", format_icon(label)))
    icons.append(("BMP_VOLUME_DECREASE_ICON", volume("-")))
    icons.append(("BMP_VOLUME_INCREASE_ICON", volume("+")))
    for d in range(10):
        icons.append((f"BMP_WIFI_CHANNEL_NUM{d}_STR", digit(glyphs, d)))
    auto = blank(49, 16)
    paste(auto, big_glyph(glyphs, "A"), 0, 0)
    for i, ch in enumerate("UTO"):
        paste(auto, big_glyph(glyphs, ch), 10 + 12 * i, 0)
    icons.append(("BMP_WIFI_AUTO_CHANNE_STR", auto))
    ch = blank(24, 16)
    paste(ch, big_glyph(glyphs, "C"), 2, 0)
    paste(ch, big_glyph(glyphs, "H"), 12, 0)
    icons.append(("BMP_WIFI_CHANNEL_CH_STR", ch))
    for n, name in enumerate(["NO", "ONE", "TWO", "THREE", "FOUR", "FIVE"]):
        icons.append((f"BMP_WIFI_{name}_SIGNAL", bars(n)))
    for n, name in enumerate(["ONE", "TWO", "THREE"], 1):
        icons.append((f"BMP_WIFI_{name}_DEV", device(n)))
    icons.append(("BMP_HEADPHONES", fixed("BMP_HEADPHONES", 16, 16)))
    icons.append(("BMP_USB", fixed("BMP_USB", 9, 16)))
    icons.append(("BMP_POWER_DC_ICON", fixed("BMP_POWER_DC_ICON", 15, 16)))
    icons.append(("BMP_BATTERY_EMPTY", battery(0)))
    for n in range(1, 6):
        icons.append((f"BMP_BATTERY_{n}", battery(n)))
    icons.append(("BMP_FAN_ICON", fixed("BMP_FAN_ICON", 13, 16)))
    box0 = blank(128, 8)
    for c in range(127):
        box0[3][c] = 1
    icons.append(("BMP_PAGE_BOX_0", box0))
    icons.append(("BMP_PAGE_BOX_1", [[1] for _ in range(32)]))

    print("// Generated by tools/gen_icons.py; do not edit by hand. Page by page, bit 0 at the top.")
    print('#include "ui/icons.h"\n')
    for name, px in icons:
        data = to_bytes(px)
        print(f"const unsigned char {name}[{len(data)}] = {{")
        for i in range(0, len(data), 16):
            print("    " + ", ".join(f"0x{b:02X}" for b in data[i:i + 16]) + ",")
        print("};")
    print()


if __name__ == "__main__":
    main()
