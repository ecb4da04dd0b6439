// The adapter check: which interface is chosen, what is run on it, and that the server starts
// once however often the adapter comes back.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "board/shell.h"
#include "periph/usb_state.h"
#include "rtsp/rtsp_check.h"

namespace {

constexpr const char* kCount = "ifconfig -a | grep Ethernet  | wc -l";
constexpr const char* kNames = "ifconfig -a | grep Ethernet  | awk '{print $1}'";

std::vector<std::string> g_dhcp;
std::atomic<int> g_servers{0};
int fake_dhcpd(const char* ifname) { return g_dhcp.emplace_back(ifname), 0; }
void* fake_server(void*) { return g_servers.fetch_add(1), nullptr; }

class AdapterCheck : public ::testing::Test {
protected:
    void SetUp() override {
        hdext::board::set_shell(shell);
        g_dhcp.clear();
        g_servers = 0;
        UsbEn = 1;
        RtmpEn = 0;
    }
    void TearDown() override { hdext::board::set_shell(nullptr), UsbEn = 0, RtmpEn = 0; }
    std::vector<std::string> configured() const {
        std::vector<std::string> out;
        for (const auto& c : shell->commands())
            if (c.find(" 192.168.0.1 up") != std::string::npos) out.push_back(c);
        return out;
    }
    std::shared_ptr<hdext::board::RecordingShell> shell = std::make_shared<hdext::board::RecordingShell>();
    CRtspCheck check{RtspCheckOptions{std::chrono::milliseconds(0), fake_dhcpd, fake_server}};
};

TEST_F(AdapterCheck, NothingIsConfiguredWithoutPowerOrWithoutAThirdUsableInterface) {
    UsbEn = 0;
    shell->reply(kCount, "3\n");
    EXPECT_TRUE(check.step());
    EXPECT_TRUE(shell->commands().empty()) << "an unpowered port is not even looked at";
    UsbEn = 1;
    shell->reply(kCount, "2\n");
    shell->reply(kNames, "eth0\nwlan0\n");
    EXPECT_TRUE(check.step());
    shell->reply(kCount, "3\n");
    shell->reply(kNames, "eth0\nwlan0\neth0.5\n");
    EXPECT_TRUE(check.step()) << "waits before looking again";
    EXPECT_TRUE(configured().empty());
    EXPECT_TRUE(g_dhcp.empty());
    EXPECT_EQ(RtmpEn, 0);
}

TEST_F(AdapterCheck, TheAdapterGetsTheAddressAndDhcpAndReplugDoesNotStartASecondServer) {
    shell->reply(kCount, "3\n");
    shell->reply(kNames, "wlan0\neth0\neth1\n");
    EXPECT_FALSE(check.step());
    EXPECT_EQ(configured(), std::vector<std::string>{"ifconfig eth1 192.168.0.1 up"});
    EXPECT_EQ(g_dhcp, std::vector<std::string>{"eth1"});
    EXPECT_EQ(RtmpEn, 1);
    EXPECT_TRUE(check.step()) << "configured: nothing more to do";

    RtmpEn = 0; // unplugged: the port monitor clears it
    shell->reply(kNames, "eth0\nwlan0\nusb0\n");
    EXPECT_FALSE(check.step());
    EXPECT_EQ(configured().back(), "ifconfig usb0 192.168.0.1 up");
    EXPECT_EQ(g_dhcp, (std::vector<std::string>{"eth1", "usb0"}));
    EXPECT_EQ(RtmpEn, 1);
    for (int i = 0; i < 100 && g_servers == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g_servers, 1);
}

} // namespace
