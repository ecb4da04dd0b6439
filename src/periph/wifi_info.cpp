#include "periph/wifi_info.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board/board.h"
#include "board/shell.h"

namespace {

// The last output line of cmd without its line feed; false when it cannot be started.
bool last_line(const std::string& cmd, std::string* out) {
    auto pipe = hdext::board::shell()->open(cmd);
    if (!pipe) return false;
    char buf[256];
    out->clear();
    while (pipe->gets(buf, sizeof buf)) {
        std::string line = buf;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (!line.empty()) *out = line;
    }
    pipe->close();
    return true;
}

} // namespace

int get_wpa_ssid(char* ssid) {
    std::string line;
    last_line("grep -rn ssid=\\\"  " + hdext::board::path("/etc/Wireless/wpa_supplicant.conf") +
                  " | cut -d \\\" -f2",
              &line);
    std::snprintf(ssid, 36, "%s", line.c_str());
    const int len = static_cast<int>(std::strlen(ssid));
    std::printf("\n\n SSID=%s len = %d \n", ssid, len);
    return len;
}

int get_wifi_info2(char* out) {
    out[0] = 0;
    std::string line;
    if (!last_line("iwconfig wlan0 | grep level| awk '{print $4}'|cut -d - -f2", &line) ||
        line.empty()) {
        std::puts("\n get_wifi_level error");
        return -1;
    }
    std::snprintf(out, 10, "%s", line.c_str());
    return 0;
}

int get_wifi_channel() {
    std::string line;
    if (!last_line("iwlist wlan0 channel | grep Channel: | awk '{print $2}'|cut -d : -f2", &line) ||
        line.empty())
        return -1;
    return std::atoi(line.c_str());
}

int search_wifi_signal(const char* ssid) {
    std::string line;
    const std::string cmd = std::string("iwlist wlan0 scanning |grep  -B 2 ") + ssid +
                            " | grep level|awk '{print $3}'|cut -d = -f2";
    if (!last_line(cmd, &line) || line.empty()) return -1;
    return std::atoi(line.c_str());
}
