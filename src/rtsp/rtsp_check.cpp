#include "rtsp/rtsp_check.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "board/shell.h"
#include "net/network_task.h"
#include "periph/usb_state.h"
#include "rtsp/rtsp_server.h"

namespace {

constexpr const char* kCountCmd = "ifconfig -a | grep Ethernet  | wc -l";
constexpr const char* kNamesCmd = "ifconfig -a | grep Ethernet  | awk '{print $1}'";

} // namespace

CRtspCheck::CRtspCheck(RtspCheckOptions opt) : m_Opt(opt) {
    if (!m_Opt.start_dhcpd) m_Opt.start_dhcpd = CNetworkTask::start_daemon_dhcpd;
    if (!m_Opt.server) m_Opt.server = rtmp_init;
}

bool CRtspCheck::step() {
    if (UsbEn.load(std::memory_order_relaxed) == 0 || RtmpEn.load(std::memory_order_relaxed) == 1) return true;
    if (popen_read(kCountCmd, 10) < kRtspMinEthernetIfs) return true;
    // A listing without a usable adapter is retried after the pause too, rather than
    // starting shells back to back.
    return !configure();
}

bool CRtspCheck::configure() {
    auto pipe = hdext::board::shell()->open(kNamesCmd);
    if (!pipe) return false;
    std::string name;
    char line[128];
    while (pipe->gets(line, sizeof line)) {
        if (strstr(line, "wlan0") || strstr(line, "eth0")) continue;
        name = line;
        name = name.substr(0, name.find('\n'));
        if (!name.empty()) break;
    }
    if (name.empty()) {
        pipe->close();
        return false;
    }
    system_cmd(("ifconfig " + name + " " + kRestreamAddress + " up").c_str(), 10);
    m_Opt.start_dhcpd(name.c_str());
    if (!m_ServerStarted) {
        pthread_t t;
        if (pthread_create(&t, nullptr, m_Opt.server, nullptr) == 0) {
            pthread_detach(t);
            m_ServerStarted = true;
        }
    }
    RtmpEn.store(1, std::memory_order_relaxed);
    pipe->close();
    return true;
}

void* rtsp_check(void*) {
    printf("###### ###### rtsp_check thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    CRtspCheck check;
    for (;;) {
        if (check.step()) std::this_thread::sleep_for(check.options().idle);
    }
    return nullptr;
}
