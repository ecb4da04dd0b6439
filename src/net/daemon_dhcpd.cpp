// Placeholder until the daemon starts land: the DHCP server is started once, not watched.
#include <string>

#include "board/shell.h"
#include "net/network_task.h"

int CNetworkTask::start_daemon_dhcpd(const char* ifname) {
    system_cmd((std::string("dhcpd ") + ifname).c_str(), 10);
    return 0;
}
