// Best-channel search through a canned scan, channel switching and next/previous stepping.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "net_env.h"
#include "settings/param_config.h"

namespace hdext::test {
namespace {

class Calibration : public NetTest {
protected:
    // Runs the search with an iwlist that prints one cell per given channel; the chosen channel.
    int search(const std::vector<int>& channels) {
        std::string cells = "wlan0     Scan completed :\n";
        for (int c : channels)
            cells += "          Cell 01 - Address: 02:00:00:00:00:01\n                    Channel:" +
                     std::to_string(c) + "\n                    ESSID:\"n\"\n";
        board->put("/canned.txt", cells);
        board->put("/bin/iwlist", "#!/bin/sh\ncat " + board->host("/canned.txt") + "\n");
        std::filesystem::permissions(board->host("/bin/iwlist"), std::filesystem::perms::owner_all);
        std::filesystem::create_directories(board->host("/tmp"));
        const std::string path = getenv("PATH");
        setenv("PATH", (board->host("/bin") + ":" + path).c_str(), 1);
        hdext::board::set_shell(nullptr);
        clear_param_messages();
        int rc = CNetworkTask::Instance()->WirelessCalibration();
        setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(rc, 0);
        drain_tasks();
        for (const auto& m : param_messages())
            if (m.msg_id == LOCAL_MSG_CHANGE_WIFI_CHANNEL && m.src == kMidNetwork && m.data.size() == 8)
                return static_cast<uint8_t>(m.data[0]);
        return -1;
    }
};

TEST_F(Calibration, ScanExamples) {
    settings(EQUIPMENT_MODEL_RX, "KIT", "12345678", 36);
    EXPECT_EQ(search({}), 161);              // all zero: the last entry wins
    EXPECT_EQ(search({36}), 161);            // 36:4 38:3 40:2 42:1, the rest 0
    EXPECT_EQ(search({36, 161, 157}), 153);  // 157..161 taken: the last free entry before them
    EXPECT_EQ(search({1, 6, 11, 165, 130}), 161);  // 2.4 GHz and unlisted channels score nothing
    // Everything crowded but the DFS channels 52..56, which are not in the stepping table: they
    // are skipped one by one, lowest first, and the lowest stepping channel wins.
    testing::internal::CaptureStdout();
    int got = search({36, 40, 44, 48, 149, 153, 157, 161, 56, 60, 64, 100, 104, 108, 112, 116, 120,
                      124, 128, 132, 136, 140, 144, 46});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(got, 36);
    for (int skipped : {52, 56, 54})
        EXPECT_NE(out.find("Found the best channel is:" + std::to_string(skipped) +
                           ", but we can not support this channel\n"),
                  std::string::npos)
            << out;
    EXPECT_NE(out.find("Found the best channel : 36\n"), std::string::npos);
}

TEST_F(Calibration, ChangeChnSwitchesTheRunningAccessPoint) {
    settings(EQUIPMENT_MODEL_TX, "KIT", "12345678", 36);
    CNetworkTask::Instance()->ChangeChn();
    testing::internal::CaptureStdout();
    for (int ch : {161, 52, 165}) {  // a DFS channel is switched to; 165 is outside the table
        settings(EQUIPMENT_MODEL_TX, "KIT", "12345678", ch);
        CNetworkTask::Instance()->ChangeChn();
    }
    EXPECT_NE(testing::internal::GetCapturedStdout().find("channel 165 is not supported"), std::string::npos);
    EXPECT_EQ(shell->commands(), (std::vector<std::string>{"hostapd_cli chan_switch 5 5180\n",
                                                           "hostapd_cli chan_switch 5 5805\n",
                                                           "hostapd_cli chan_switch 5 5260\n"}));
}

TEST_F(Calibration, SteppingWrapsAroundTheSupportedSet) {
    settings(EQUIPMENT_MODEL_TX, "KIT", "12345678", 161);
    auto* pc = CParamConfig::Instance();
    ABS_WIFI_CHN_INFO_t info{};
    EXPECT_EQ(pc->GetWifiSupportNextChn5G(&info), -1);
    EXPECT_EQ(info.channel, 36);
    for (auto [next, channel] : {std::pair{true, 40}, {false, 36}, {false, 161}, {false, 157}}) {
        next ? pc->GetWifiSupportNextChn5G(&info) : pc->GetWifiSupportPrevChn5G(&info);
        EXPECT_EQ(info.channel, channel);
    }
}

} // namespace
} // namespace hdext::test
