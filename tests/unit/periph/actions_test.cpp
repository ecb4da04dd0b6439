#include "periph/app_actions.h"

#include <gtest/gtest.h>

#include "board/shell.h"
#include "decode/video_decoder.h"
#include "net/network_task.h"
#include "periph/app_status.h"
#include "settings/param_config.h"
#include "support/board_root.h"
#include "support/recording_tasks.h"

namespace hdext::test {
namespace {

class ActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t mid : {kMidParam, kMidNetwork, kMidVideoDecode}) Recorders::get().start(mid);
        Recorders::get().clear();
        app_status_init(nullptr);
    }
    void TearDown() override { CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STOP); }
    Recorders& rec = Recorders::get();
};

bool g_linked = false;

// A linked RX ignores the request; one whose TX is gone (its station still started) shows the
// pairing picture and asks the network task.
TEST_F(ActionsTest, PairingOnAnRxIsAskedOnlyWhileItHasNoLinkToItsTransmitter) {
    NetHooks hooks;
    hooks.rx_linked = [] { return g_linked; };
    CNetworkTask::SetHooks(hooks);
    app_status[0] = 1;
    CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTED);
    g_linked = true;
    EXPECT_EQ(app_start_pairing(), -1);
    EXPECT_TRUE(rec.messages(kMidVideoDecode).empty());
    EXPECT_TRUE(rec.messages(kMidNetwork).empty());

    g_linked = false;
    EXPECT_EQ(app_start_pairing(), 0);
    CNetworkTask::SetHooks(NetHooks{});
    auto dec = rec.messages(kMidVideoDecode);
    ASSERT_EQ(dec.size(), 1u);
    EXPECT_EQ(dec[0].src, 0x4000u);
    EXPECT_EQ(dec[0].msg_id, 0x7001u);
    EXPECT_EQ(dec[0].int_payload(), 4);
    auto net = rec.messages(kMidNetwork);
    ASSERT_EQ(net.size(), 1u);
    EXPECT_EQ(net[0].src, 0x1000u);
    EXPECT_EQ(net[0].msg_id, 0x3001u);
}

TEST_F(ActionsTest, QuitPairingResetRebootAndSavesSendTheirMessages) {
    TempBoardRoot root;
    app_quit_the_pairing();
    app_factory_reset();
    app_factory_reboot();
    app_save_sys_info_fan(1);
    app_save_sys_info_video_quality(2);
    app_save_sys_info_language(1);
    app_save_sys_info_earphone_volume();
    auto net = rec.messages(kMidNetwork);
    ASSERT_EQ(net.size(), 1u);
    EXPECT_EQ(net[0].msg_id, 0x3002u);
    std::vector<std::tuple<uint32_t, uint32_t, std::string>> got;
    for (auto& m : rec.messages(kMidParam)) got.emplace_back(m.src, m.msg_id, m.data);
    using namespace std::string_literals;
    const std::vector<std::tuple<uint32_t, uint32_t, std::string>> want = {
        {0x1000, 0x2008, "\0\0\0\0"s}, {0x1000, 0x2009, "\0\0\0\0"s}, {0x3000, 0x2005, "\1\0\0\0"s},
        {0x3000, 0x2006, "\2\0\0\0"s}, {0x3000, 0x2007, "\1\0\0\0"s}, {0x3000, 0x2001, ""s}};
    EXPECT_EQ(got, want);
}

TEST_F(ActionsTest, ResetReleasesTheDcLineFirst) {
    TempBoardRoot root;
    auto shell = std::make_shared<hdext::board::RecordingShell>();
    hdext::board::set_shell(shell);
    app_status[0] = 0;  // TX: DC on line 2
    root.put("/sys/class/gpio/gpio2/value", "1\n");
    app_factory_reset();
    hdext::board::set_shell(nullptr);
    ASSERT_EQ(shell->commands().size(), 1u);
    EXPECT_EQ(shell->commands()[0], "echo 2 > " + root.host("/sys/class/gpio/unexport"));
}

} // namespace
} // namespace hdext::test
