// Link start and restart per role, as seen in the commands run, the files written and the
// statuses; and the message table.
#include <gtest/gtest.h>

#include <algorithm>

#include "net_env.h"
#include "support/child_process.h"
#include "settings/param_config.h"

namespace hdext::test {
namespace {

class LinkStart : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        if (in_private_netns()) {
            sh("ip link del wlan0 2>/dev/null");
            sh("ip link add wlan0 type veth peer name wlan0p");
        }
    }
    void TearDown() override {
        if (in_private_netns()) sh("ip link del wlan0 2>/dev/null");
        NetTest::TearDown();
    }
    bool ran(const std::string& cmd) {
        const auto c = shell->commands();
        return std::find(c.begin(), c.end(), cmd) != c.end();
    }
};

TEST_F(LinkStart, NeverPairedReceiverStopsAtOnce) {
    settings(EQUIPMENT_MODEL_RX, kDefaultSsid, "12345678", 36);
    CNetworkTask net(WIRELESS_MODE_STA);
    testing::internal::CaptureStdout();
    EXPECT_EQ(net.Start(), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("need to be paired at first\n"), std::string::npos);
    EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STOP);
    EXPECT_EQ(shell->commands(), std::vector<std::string>{"ifconfig wlan0 up"});
    EXPECT_TRUE(board->exists(kWirelessDir));

    CNetworkTask::SetPairingStatus(PAIRING_STATUS_STARTING);
    net.Restart();
    EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STOP);
    EXPECT_EQ(CNetworkTask::GetPairingStatus(), PAIRING_STATUS_FINISHED);
    EXPECT_EQ(shell->commands().size(), 1u);  // no wpa_supplicant
}

// The record is set here past the store's check; the hostapd files still get channel 36.
TEST_F(LinkStart, TransmitterBandFollowsTheStoredChannelButRestartIsAlwaysFiveGigahertz) {
    NEED_NETNS();
    CNetworkTask net(WIRELESS_MODE_AP);
    settings(EQUIPMENT_MODEL_TX, "KIT", "12345678", 6);
    net.Start();
    EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STARTED);
    EXPECT_TRUE(ran("hostapd " + board->host(kHostapd24GConf) + " -B"));
    EXPECT_NE(board->get(kHostapd24GConf).find("hw_mode=g\nchannel=36\n"), std::string::npos);
    shell->clear();
    settings(EQUIPMENT_MODEL_TX, "KIT", "12345678", 0);
    net.Start();
    EXPECT_TRUE(ran("hostapd " + board->host(kHostapd5GConf) + " -B"));
    shell->clear();
    settings(EQUIPMENT_MODEL_TX, "KIT", "12345678", 11);
    net.Restart();
    EXPECT_EQ(shell->commands().front(), "killall -9 hostapd");
    EXPECT_TRUE(ran("hostapd " + board->host(kHostapd5GConf) + " -B"));
    EXPECT_FALSE(ran("dhcpd wlan0"));
    EXPECT_NE(board->get(kHostapd5GConf).find("hw_mode=a\nchannel=36\n"), std::string::npos);
}

TEST_F(LinkStart, InterfaceUtilities) {
    NEED_NETNS();
    sh("ip link set wlan0 address 02:00:5e:0a:1b:2c");
    unsigned char mac[6] = {};
    ASSERT_EQ(CNetworkTask::GetMac("wlan0", mac), 0);
    EXPECT_EQ(std::vector<int>(mac, mac + 6), (std::vector<int>{0x02, 0x00, 0x5e, 0x0a, 0x1b, 0x2c}));
    EXPECT_EQ(CNetworkTask::GetMac("nosuch0", mac), -1);
    ASSERT_EQ(CNetworkTask::SetIP("wlan0", "192.168.168.1"), 0);
    EXPECT_NE(capture_output("ip -4 addr show wlan0").find("inet 192.168.168.1/24"), std::string::npos);
    EXPECT_EQ(CNetworkTask::SetIP("nosuch0", "10.0.0.1"), -1);
}

} // namespace
} // namespace hdext::test
