// Link start and restart per role, as seen in the commands run, the files written and the
// statuses; the link thread beside the network task; the bounded connect.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "net/dhcp_client.h"
#include "net_env.h"
#include "support/child_process.h"
#include "support/wait.h"
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
        CNetworkTask::StopLinkWork();
        drain_tasks();
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

bool said_once(const std::string& text, const std::string& line) {
    return text.find(line) != std::string::npos && text.find(line) == text.rfind(line);
}

std::atomic<int> g_start_leases{0}, g_pairing_leases{0};
std::atomic<bool> g_linked{false};

// No TX answers: every exchange fails after a moment. The link thread's asks can be stopped.
int no_lease(dhcp_lease*, const char*, bool (*stop)()) {
    // The pairing screen times out while pairing's third exchange runs.
    if (!stop && ++g_pairing_leases == 3) CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_TIMEOUT);
    if (stop) ++g_start_leases;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return -1;
}

// A paired RX whose TX is gone waits for a lease beside the network task: pairing asked then
// takes over at once, leaving pairing hands the station back to its wait, and once the RX is
// linked a late request changes nothing.
TEST_F(LinkStart, PairingDuringTheLeaseWaitTakesOverAndLeavingItWaitsAgain) {
    NEED_NETNS();
    g_start_leases = g_pairing_leases = 0;
    settings(EQUIPMENT_MODEL_RX, "KIT", "12345678", 36);
    NetHooks h;
    h.get_lease = no_lease;
    h.rx_linked = [] { return g_linked.load(); };
    CNetworkTask::SetHooks(h);
    CNetworkTask* net = CNetworkTask::Instance();
    net->mode = WIRELESS_MODE_STA;
    net->StartLink();
    ASSERT_TRUE(eventually([] { return g_start_leases >= 2; }));
    EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STARTED);

    int zero = 0;
    CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_REQUESTED);
    CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_PAIRING, &zero, 4);
    drain_tasks();
    const int waited = g_start_leases;
    EXPECT_EQ(g_pairing_leases, 3) << "pairing asks until its screen gives up";
    EXPECT_TRUE(ran("wpa_supplicant -D nl80211 -i wlan0 -c " + board->host(kWpaPairingConf) + " -B"));
    EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STARTING);
    EXPECT_EQ(CNetworkTask::GetPairingStatus(), PAIRING_STATUS_STARTING);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g_start_leases, waited) << "the first wait went on beside pairing";

    CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_RECONNECT, &zero, 4);
    ASSERT_TRUE(eventually([&] { return g_start_leases > waited; }));
    EXPECT_EQ(CNetworkTask::GetPairingStatus(), PAIRING_STATUS_FINISHED);

    g_linked = true;
    shell->clear();
    CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_PAIRING, &zero, 4);
    drain_tasks();
    g_linked = false;
    EXPECT_EQ(g_pairing_leases, 3);
    EXPECT_TRUE(shell->commands().empty());
    EXPECT_EQ(CNetworkTask::GetPairingStatus(), PAIRING_STATUS_FINISHED);
}

// With no thread to spare, link work waits on the network task's timer (1 s) instead of
// running there: an RX's lease wait would block the task that alone can stop it.
TEST_F(LinkStart, LinkWorkWithoutAThreadIsTriedAgainLaterAndNeverBlocksTheNetworkTask) {
    NEED_NETNS();
    g_start_leases = 0;
    static std::atomic<bool> no_threads{true};
    settings(EQUIPMENT_MODEL_RX, "KIT", "12345678", 36);
    NetHooks h;
    h.get_lease = no_lease;
    h.link_thread_refused = [] { return no_threads.load(); };
    CNetworkTask::SetHooks(h);
    CNetworkTask::Instance()->mode = WIRELESS_MODE_STA;
    testing::internal::CaptureStdout();
    int zero = 0;
    CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_RECONNECT, &zero, 4);  // then the lease is waited for
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    drain_tasks();
    EXPECT_EQ(g_start_leases, 0);
    no_threads = false;
    EXPECT_TRUE(eventually([] { return g_start_leases > 0; }));
    drain_tasks();  // the retry that started the thread has said so
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(said_once(out, "link thread not started") && said_once(out, "link thread started\n")) << out;
}

// Without wlan0 the real DHCP client pauses between attempts and says so once.
TEST_F(LinkStart, MissingInterfaceIsWaitedForWithoutSpinning) {
    NEED_NETNS();
    sh("ip link del wlan0");
    settings(EQUIPMENT_MODEL_RX, "KIT", "12345678", 36);
    DhcpTiming dt;
    dt.discover_fail_sleep = std::chrono::milliseconds(100);
    dhcp_set_timing(dt);
    NetHooks h;
    h.get_lease = [](dhcp_lease* l, const char* ifname, bool (*stop)()) {
        ++g_start_leases;
        return dhcp_set_ip(l, ifname, stop);
    };
    CNetworkTask::SetHooks(h);
    g_start_leases = 0;
    testing::internal::CaptureStdout();
    CNetworkTask::Instance()->mode = WIRELESS_MODE_STA;
    CNetworkTask::Instance()->StartLink();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    CNetworkTask::StopLinkWork();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LE(g_start_leases, 8);
    EXPECT_TRUE(said_once(out, "interface isn't exist"));
}

// A connect ends within its limit when the peer does not answer, and a socket tied to an
// interface without an address never starts one (it would go out from 0.0.0.0).
TEST_F(LinkStart, ConnectEndsInTimeAndNeverLeavesWithoutAnAddress) {
    NEED_NETNS();
    const int stalled = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(stalled, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(stalled, 0), 0);  // one queued connection fills it: later SYNs are dropped
    socklen_t len = sizeof a;
    getsockname(stalled, reinterpret_cast<sockaddr*>(&a), &len);
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(CNetworkTask::connect_within(filler, a, std::chrono::seconds(5)), 0);
    EXPECT_EQ(fcntl(filler, F_GETFL) & O_NONBLOCK, 0);

    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(CNetworkTask::connect_within(fd, a, std::chrono::milliseconds(200)), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    close(fd);

    const int tied = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(setsockopt(tied, SOL_SOCKET, SO_BINDTODEVICE, "wlan0", 5), 0);
    sockaddr_in tx{};
    tx.sin_family = AF_INET;
    tx.sin_port = htons(9990);
    inet_pton(AF_INET, kApAddress, &tx.sin_addr);
    EXPECT_EQ(CNetworkTask::connect_within(tied, tx, std::chrono::seconds(30)), -1);
    EXPECT_EQ(errno, ENETUNREACH);
    for (int s : {tied, filler, stalled}) close(s);
}

} // namespace
} // namespace hdext::test
