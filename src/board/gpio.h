// Board files written and read directly: the sysfs GPIO lines and the kernel's /proc knobs.
// A direct write stands in for an "echo V > FILE" command: the same file receives the same
// value in the same order, without a shell per line. On a simulated board, exporting a line
// creates its gpioN directory with "direction" and "value" files, and every write is also
// appended as "<board path> <value>" to <root>/sim/gpio.log so the order can be checked.
// Any thread; each call blocks only for one small file write.
#pragma once
#include <string>
#include <string_view>

namespace hdext::board {

// Writes text plus a line feed to a board file (path as on a unit). 0, or -1 when the file
// cannot be opened or written.
int write_file(std::string_view board_path, std::string_view text);

namespace gpio {

int export_line(int n);                          // echo n > /sys/class/gpio/export
int set_direction(int n, std::string_view dir);  // "in", "out"
int set_edge(int n, std::string_view edge);      // "none", "rising", "falling", "both"
int set_value(int n, int value);
// The line's level (0 or 1), or -1 when its value file cannot be read.
int get_value(int n);
// Board path of the line's directory, "/sys/class/gpio/gpioN".
std::string line_path(int n);
// True when the line has been exported (its directory exists).
bool exported(int n);

} // namespace gpio

// Hardware address of a network interface ("wlan0"), read from /sys/class/net/<if>/address.
// true and six bytes in mac, or false when it cannot be read or parsed.
bool read_mac(std::string_view ifname, unsigned char mac[6]);

} // namespace hdext::board
