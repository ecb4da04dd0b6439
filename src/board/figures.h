// Figures the program keeps about its own work (how late each receiver is, the bit rate it
// encodes at, pictures dropped for lateness) for whoever watches the unit. On a simulated board
// the simulated devices write them into their status files (the capture's on a TX, the HDMI
// output's on an RX), so the world's tools read them beside the devices' own; a unit keeps
// them in memory only.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace hdext::board {

enum class FigureSheet { capture, display };

// Sets one figure (key: letters, digits and '_'; text: no line breaks). Any thread; never
// blocks for long.
void set_figure(FigureSheet sheet, std::string_view key, int64_t value);
void set_figure(FigureSheet sheet, std::string_view key, std::string_view text);
// Forgets every figure whose key begins with prefix (a receiver that left). Any thread.
void clear_figures(FigureSheet sheet, std::string_view prefix);
// "key=value\n" lines of a sheet in key order ("" when empty). Any thread; a new string.
std::string figure_lines(FigureSheet sheet);

} // namespace hdext::board
