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

// Edges of an input line whose edge mode is set. On a unit the value file is watched with
// epoll (EPOLLPRI); on a simulated board, where it is a plain file, with inotify (a close after
// a write is one edge). Either way, as the kernel does, the watch stays signalled from the open
// and from each edge until level() has read the value: a waiter that reads the line any other
// way wakes up again at once. One thread per watch (open, level, arm and wait).
class EdgeWatch {
public:
    explicit EdgeWatch(int n) : m_line(n) {}
    ~EdgeWatch();
    EdgeWatch(const EdgeWatch&) = delete;
    EdgeWatch& operator=(const EdgeWatch&) = delete;

    // Opens the value file read-write: the descriptor (>= 0), or -1 (errno set).
    int open();
    // Reads the level (up to 10 bytes) and rewinds: 0 or 1, or -1.
    int level();
    // Creates the event wait: 0; -1 when the wait cannot be created, -2 when the file cannot
    // be registered (errno set either way).
    int arm();
    // Blocks up to timeout_ms (-1: no limit): 1 on an edge, 0 on time-out, -1 on an error.
    int wait(int timeout_ms);

private:
    int m_line;
    int m_fd = -1;
    int m_wait_fd = -1;
    bool m_signalled = false;  // simulated board: an edge not yet read
};

// Edges reported by EdgeWatch::wait in this process, for tests that look for a spinning waiter.
unsigned long edge_wakeups();

} // namespace gpio

// Hardware address of a network interface ("wlan0"), read from /sys/class/net/<if>/address.
// true and six bytes in mac, or false when it cannot be read or parsed.
bool read_mac(std::string_view ifname, unsigned char mac[6]);

} // namespace hdext::board
