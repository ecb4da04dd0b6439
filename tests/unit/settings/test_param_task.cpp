// The parameter store as a running task: messages sent with ParamNotify reach it and a TX
// channel change travels on to the network task.
#include <gtest/gtest.h>

#include "settings_env.h"

using namespace hdext::test;

TEST_F(ParamStoreTest, RunningTaskForwardsChannelChangeToNetworkTask) {
    g_EquipmentModel.store(EQUIPMENT_MODEL_TX);
    board->put("/sys/class/net/wlan0/address", "02:00:5e:0a:1b:2c\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(CreateParamTask(CParamConfig::Instance()), 0);
    clear_network_messages();
    uint8_t eight[8] = {161, 0};  // the menus send the channel record in 8 bytes
    ASSERT_EQ(CParamConfig::ParamNotify(0x1000, LOCAL_MSG_CHANGE_WIFI_CHANNEL, eight, 8), 1);
    // Hang guard only: the task forwards within a few ticks.
    for (int i = 0; i < 3000 && network_messages().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("g_pParamConfig->Init finish"), std::string::npos);
    auto msgs = network_messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].src, kMidParam);
    EXPECT_EQ(msgs[0].msg_id, LOCAL_MSG_CHANGE_WIFI_CHANNEL);
    EXPECT_EQ(wifi()["channel"], "161");
    EXPECT_EQ(g_pParamConfig, CParamConfig::Instance());
}
