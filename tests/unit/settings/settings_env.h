// Shared set-up of the parameter store tests: one core runtime per process, a temporary board
// with /userdata, a recording shell, no pauses, and a recorded video restart.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/role.h"
#include "board/shell.h"
#include "core/task.h"
#include "settings/param_config.h"
#include "support/board_root.h"
#include "support/recording_tasks.h"

namespace hdext::test {

// A stand-in network task (module 0x3000) records what the store forwards; reading the
// messages first waits until everything sent so far has arrived.
inline std::vector<RecordedMsg> network_messages() { return Recorders::get().messages(kMidNetwork); }
inline void clear_network_messages() {
    Recorders::get().drain(kMidNetwork);
    Recorders::get().clear();
}

// Section -> key -> value of an INI file's text (no comments in files the store writes).
std::map<std::string, std::map<std::string, std::string>> parse_ini(const std::string& text);

class ParamStoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the store's start-up for a role, with an optional MAC for wlan0.
    void start(EQUIPMENT_MODEL_E role, const char* mac = "02:00:5e:0a:1b:2c");
    std::map<std::string, std::string> wifi() { return parse_ini(board->get("/userdata/wifi.ini"))["AP"]; }
    std::map<std::string, std::string> sys() {
        return parse_ini(board->get("/userdata/system.ini"))["sys_info"];
    }
    // The Wi-Fi record the store holds in memory.
    static ABS_WIFI_AP_CONFIG_t held_wifi() {
        ABS_WIFI_AP_CONFIG_t w{};
        CParamConfig::Instance()->GetWifiInfo(&w);
        return w;
    }
    void send(uint32_t id, const void* data, uint32_t len) {
        CParamConfig::Instance()->HandleMessage(id, data, len);
    }

    std::unique_ptr<TempBoardRoot> board;
    std::shared_ptr<hdext::board::RecordingShell> shell;
    static std::atomic<int> restarts;
};

} // namespace hdext::test
