// Runs a unit's parameter store and network task on a simulated board and takes the requests
// the front panel would send from lines on the FIFO <board>/sim/net-driver.in:
//   pair | reconnect | calibrate | chan N | status
// Each line is answered on standard output with "driver: done <line>".
// Options shorten the link's waits: --lease-attempts N (pairing DHCP calls), --dhcp-unit-ms M.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board/board.h"
#include "board/role.h"
#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "core/task.h"
#include "net/dhcp_client.h"
#include "net/network_entry.h"
#include "net/network_task.h"
#include "settings/param_config.h"

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setvbuf(stderr, nullptr, _IOLBF, 0);
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--lease-attempts") == 0) {
            NetTiming t = CNetworkTask::Timing();
            t.pairing_lease_attempts = atoi(argv[i + 1]);
            CNetworkTask::SetTiming(t);
        } else if (strcmp(argv[i], "--dhcp-unit-ms") == 0) {
            DhcpTiming t = dhcp_timing();
            t.unit = std::chrono::milliseconds(atoi(argv[i + 1]));
            dhcp_set_timing(t);
        }
    }
    const EQUIPMENT_MODEL_E role = hdext::board::detect_role();
    g_EquipmentModel.store(role);
    mempool_init();
    init_msg_mgr(1024);
    init_event_handler_mgr(512);
    init_thr_mgr(40);
    init_timer_task(nullptr);
    CreateParamTask(CParamConfig::Instance());
    Init_Network(role == EQUIPMENT_MODEL_TX ? 0 : 1);

    const std::string fifo = hdext::board::path("/sim/net-driver.in");
    mkfifo(fifo.c_str(), 0644);
    FILE* in = fopen(fifo.c_str(), "r+");  // also a writer: never sees the end
    if (!in) {
        perror(fifo.c_str());
        return 1;
    }
    std::printf("driver: ready\n");
    char line[128];
    int zero = 0;
    while (fgets(line, sizeof line, in)) {
        line[strcspn(line, "\n")] = '\0';
        if (strcmp(line, "pair") == 0) {
            CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_REQUESTED);
            CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_PAIRING, &zero, sizeof zero);
        } else if (strcmp(line, "reconnect") == 0) {
            CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_RECONNECT, &zero, sizeof zero);
        } else if (strcmp(line, "calibrate") == 0) {
            CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_CALIBRATION, &zero, sizeof zero);
        } else if (strncmp(line, "chan ", 5) == 0) {
            uint8_t info[8] = {static_cast<uint8_t>(atoi(line + 5)), 0};
            CParamConfig::ParamNotify(0x1000, LOCAL_MSG_CHANGE_WIFI_CHANNEL, info, sizeof info);
        } else if (strcmp(line, "status") == 0) {
            std::printf("status wireless=%d pairing=%d gui=%d\n", CNetworkTask::GetWirelessStatus(),
                        CNetworkTask::GetPairingStatus(), CNetworkTask::GetGuiPairingStatus());
        }
        std::printf("driver: done %s\n", line);
    }
    return 0;
}
