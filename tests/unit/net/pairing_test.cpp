// Pairing on the real network task, each side against a scripted peer over loopback inside the
// test's own network namespace. What counts is what the peer sees on the wire and what the
// unit stores and does afterwards.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "net/dhcp_client.h"
#include "net/pairing_messages.h"
#include "net_env.h"
#include "settings/param_config.h"
#include "support/wait.h"

namespace hdext::test {
namespace {

using namespace std::chrono_literals;

// Reads exactly n bytes unless the peer closes or 3 s pass: the bytes read.
std::string read_n(int fd, size_t n) {
    std::string out;
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 3000) <= 0) break;
        char buf[128];
        ssize_t r = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (r <= 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

std::string message(uint8_t kind, uint16_t type, uint16_t sub) {
    std::string m(46, '\0');
    m[0] = static_cast<char>(kind);
    m[6] = static_cast<char>(type >> 8);
    m[7] = static_cast<char>(type & 0xFF);
    m[8] = static_cast<char>(sub >> 8);
    m[9] = static_cast<char>(sub & 0xFF);
    return m;
}

std::string field(const std::string& reply, size_t off) { return std::string(reply.c_str() + off, strnlen(reply.c_str() + off, 32)); }

int lease_now(dhcp_lease* l, const char*, bool (*)()) {
    l->offered = inet_addr("10.77.0.2");
    l->router = inet_addr("10.77.0.1");
    l->mask = inet_addr("255.255.255.0");
    l->state = 2;
    return 0;
}

class Pairing : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        if (!in_private_netns()) return;
        sh("ip link del wlan0 2>/dev/null");
        ASSERT_EQ(sh("ip link add wlan0 type veth peer name wlan0p && ip link set wlan0p up && ip link set wlan0 up"), 0);
        NetTiming t = CNetworkTask::Timing();
        t.settle = 100ms;  // the parameter task stores the credentials within this pause
        CNetworkTask::SetTiming(t);
    }
    void TearDown() override {
        drain_tasks();
        if (in_private_netns()) sh("ip link del wlan0 2>/dev/null");
        NetTest::TearDown();
    }

    // RX: a never-paired unit asks a scripted TX listening on loopback.
    int fake_tx_listener() {
        int l = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(l, 1), 0);
        socklen_t len = sizeof a;
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
        NetHooks h;
        h.get_lease = lease_now;
        h.pairing_server = "127.0.0.1";
        h.pairing_port = ntohs(a.sin_port);
        CNetworkTask::SetHooks(h);
        settings(EQUIPMENT_MODEL_RX, kDefaultSsid, "12345678", 36);
        CNetworkTask::Instance()->mode = WIRELESS_MODE_STA;
        clear_param_messages();
        int zero = 0;
        CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_PAIRING, &zero, 4);
        pollfd p{l, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 60000), 1) << "the RX never connected";
        int c = accept(l, nullptr, nullptr);
        close(l);
        EXPECT_EQ(read_n(c, 46), message(0xDD, 0x1002, 0x1004));
        return c;
    }

    bool stored_credentials() {
        drain_tasks();
        for (const auto& m : param_messages())
            if (m.msg_id == kMsgParamWifiCredentials) return true;
        return false;
    }

    // After a failed exchange the unit still obeys: leaving pairing restarts the (unpaired) link.
    void expect_unit_still_working() {
        EXPECT_EQ(CNetworkTask::GetPairingStatus(), PAIRING_STATUS_STARTING);
        int zero = 0;
        CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_RECONNECT, &zero, 4);
        drain_tasks();
        EXPECT_EQ(CNetworkTask::GetPairingStatus(), PAIRING_STATUS_FINISHED);
        EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STOP);
    }
};

// Name and passphrase fill their 32-byte fields, without a terminator.
TEST_F(Pairing, RxStoresTheCredentialsAcknowledgesAndJoinsTheNewNetwork) {
    NEED_NETNS();
    const std::string ssid = "KIT_A_WITH_A_NAME_OF_32_CHARS_XY", pass(32, 'p');
    int c = fake_tx_listener();
    std::string reply(69, '\0');
    reply.replace(5, 32, ssid);
    reply.replace(37, 32, pass);
    ASSERT_EQ(send(c, reply.data(), reply.size(), 0), 69);
    EXPECT_EQ(read_n(c, 46), message(0xEE, 0x1002, 0));
    EXPECT_EQ(read_n(c, 1), "");  // and the RX closes
    close(c);
    ASSERT_TRUE(eventually([] { return CNetworkTask::GetPairingStatus() == PAIRING_STATUS_FINISHED; }));
    drain_tasks();
    ABS_WIFI_AP_CONFIG_t w{};
    CParamConfig::Instance()->GetWifiInfo(&w);
    EXPECT_EQ(w.ssid, ssid);
    EXPECT_EQ(w.password, pass);
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_SUCCESS);
    EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STARTED);
    const auto cmds = shell->commands();
    EXPECT_EQ(cmds.back().rfind("ps | grep  wpa_supplicant", 0), 0u);
    EXPECT_NE(std::find(cmds.begin(), cmds.end(),
                        "wpa_supplicant -D nl80211 -i wlan0 -c " + board->host(kWpaConf) + " -B"),
              cmds.end());
    EXPECT_NE(board->get(kWpaConf).find("\tssid=\"" + ssid + "\"\n"), std::string::npos);
}

// A short reply, a peer closing mid-exchange and an overlong reply: nothing stored, no
// acknowledgement, and the unit still obeys.
TEST_F(Pairing, RxBadRepliesStoreNothing) {
    NEED_NETNS();
    std::string shorter(40, '\0'), overlong(70, '\0');
    shorter.replace(5, 5, "KIT_B");
    overlong.replace(5, 5, "KIT_B");
    overlong.replace(37, 8, "pass1234");
    for (const std::string& reply : {shorter, std::string(), overlong}) {
        int c = fake_tx_listener();
        if (!reply.empty()) {
            ASSERT_EQ(send(c, reply.data(), reply.size(), 0), static_cast<ssize_t>(reply.size()));
            EXPECT_EQ(read_n(c, 46), "");
        }
        close(c);
        EXPECT_FALSE(stored_credentials()) << reply.size();
        expect_unit_still_working();
    }
}

// What a TX put in the fields decides before anything is stored.
TEST(PairingReply, FieldsAreCheckedBeforeAnythingIsStored) {
    const struct {
        std::string ssid, pass;
        bool ok;
    } cases[] = {{"KIT", "pass1234", true},         {std::string(32, 'S'), std::string(32, 'p'), true},
                 {"", "pass1234", false},           {"KIT", "pass123", false},
                 {"KIT\nap_isolate=0", "pass1234", false}, {"KIT", "pass\x01" "1234", false},
                 {"K\xC3\xA9T", "pass1234", false},  {"KIT", "pass;1234", false}};
    for (const auto& k : cases) {
        std::string reply(69, '\0');
        reply.replace(5, k.ssid.size(), k.ssid);
        reply.replace(37, k.pass.size(), k.pass);
        PairingCredentials c;
        EXPECT_EQ(pairing_parse_reply(reinterpret_cast<const uint8_t*>(reply.data()), 69, &c), k.ok) << k.ssid << " " << k.pass;
        if (k.ok) {
            EXPECT_EQ(c.ssid + std::string("/") + c.password, k.ssid + "/" + k.pass);
        }
        EXPECT_FALSE(pairing_parse_reply(reinterpret_cast<const uint8_t*>(reply.data()), 68, &c));
    }
}

class TxPairing : public Pairing {
protected:
    static int dial() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kPairingPort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
        close(fd);
        return -1;
    }
    int connect_rx() {
        int fd = -1;
        eventually([&] { return (fd = dial()) >= 0; });
        return fd;
    }
    void start_tx() {
        settings(EQUIPMENT_MODEL_TX, "KIT_TX_WITH_A_NAME_OF_35_CHARACTER", "txpass99", 36);
        CNetworkTask::Instance()->mode = WIRELESS_MODE_AP;
        int zero = 0;
        CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_PAIRING, &zero, 4);
    }
};

TEST_F(TxPairing, AnswersRequestsOnFourConnectionsAtMostAndReturnsToItsNetworkOnAcknowledgement) {
    NEED_NETNS();
    NetTiming t = CNetworkTask::Timing();
    t.pairing_conn_limit = std::chrono::seconds(60);  // this exchange is slow on purpose
    CNetworkTask::SetTiming(t);
    start_tx();
    int c = connect_rx();
    std::string m = message(0xDD, 0x1002, 0x1004);
    send(c, m.data(), m.size(), 0);
    std::string r = read_n(c, 69);
    ASSERT_EQ(r.size(), 69u);
    EXPECT_EQ(std::string(r.data() + 5, 32), std::string("KIT_TX_WITH_A_NAME_OF_35_CHARACTER", 32));
    EXPECT_EQ(field(r, 37), "txpass99");

    m = message(0x00, 0x1002, 0x1004);  // not a credentials request: zero fields
    send(c, m.data(), m.size(), 0);
    r = read_n(c, 69);
    EXPECT_EQ(r, std::string(69, '\0'));
    m = message(0x00, 0x1002, 0x1003);  // code query
    send(c, m.data(), m.size(), 0);
    r = read_n(c, 69);
    ASSERT_EQ(r.size(), 69u);
    EXPECT_EQ(r[1], '0');
    m = message(0xDD, 0x1001, 0x1004);  // foreign type: no answer, pairing goes on
    send(c, m.data(), m.size(), 0);
    pollfd p{c, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 300), 0);
    EXPECT_EQ(CNetworkTask::GetPairingStatus(), PAIRING_STATUS_STARTING);

    // Four connections at most: a new one takes the place of the oldest that has not completed
    // a request (a byte does not count); once all four have, a new one is closed at once.
    const std::string ask = message(0xDD, 0x1002, 0x1004);
    auto served = [&](int fd) { return send(fd, ask.data(), ask.size(), MSG_NOSIGNAL) > 0 && read_n(fd, 69).size() == 69u; };
    auto closed = [](int fd) {
        pollfd e{fd, POLLIN, 0};
        char b;
        return poll(&e, 1, 3000) == 1 && recv(fd, &b, 1, 0) <= 0;
    };
    std::vector<int> more;
    for (int i = 0; i < 3; ++i) more.push_back(connect_rx());
    send(more[0], ask.data(), 1, MSG_NOSIGNAL);
    EXPECT_TRUE(served(more.back()));  // all four are registered once the last is answered
    for (int i = 0; i < 2; ++i) {
        more.push_back(connect_rx());
        EXPECT_TRUE(closed(more[i])) << i;
        EXPECT_TRUE(served(more.back())) << i;
    }
    const int extra = connect_rx();
    EXPECT_TRUE(closed(extra)) << "a fifth connection was kept";
    close(extra);
    for (int fd : more) close(fd);

    shell->clear();
    m = message(0xEE, 0x1002, 0);
    send(c, m.data(), m.size(), 0);
    ASSERT_TRUE(eventually([] { return CNetworkTask::GetPairingStatus() == PAIRING_STATUS_FINISHED; }));
    close(c);
    drain_tasks();
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_SUCCESS);
    const auto cmds = shell->commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "hostapd " + board->host(kHostapd5GConf) + " -B"), cmds.end());
    EXPECT_NE(board->get(kHostapd5GConf).find("ssid=KIT_TX_WITH_A_NAME_OF_35_CHARACTER\n"), std::string::npos);
    EXPECT_EQ(dial(), -1);  // the listener is gone
}

TEST_F(TxPairing, UnansweredPairingTimesOutBackToTheNormalAccessPointAndConnectionsEndInTime) {
    NEED_NETNS();
    NetTiming t = CNetworkTask::Timing();
    t.pairing_timeout_calls = 4;
    t.pairing_conn_limit = std::chrono::milliseconds(1500);
    CNetworkTask::SetTiming(t);
    CNetworkTask::SetPairingStatus(PAIRING_STATUS_IDLE);
    start_tx();
    ASSERT_TRUE(eventually([] { return CNetworkTask::GetPairingStatus() == PAIRING_STATUS_FINISHED; }));
    drain_tasks();
    const auto cmds = shell->commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "hostapd " + board->host(kHostapdPairingConf) + " -B"), 1);
    EXPECT_EQ(cmds.back(), "ps | grep  hostapd |  grep -v grep");
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "hostapd " + board->host(kHostapd5GConf) + " -B"), cmds.end());
    // A connection that sends a byte now and then is closed at its deadline all the same.
    const int trickle = connect_rx();
    const auto opened = std::chrono::steady_clock::now();
    for (pollfd p{trickle, POLLIN, 0}; poll(&p, 1, 200) == 0 && std::chrono::steady_clock::now() - opened < 8s;)
        send(trickle, "\xDD", 1, MSG_NOSIGNAL);
    EXPECT_LT(std::chrono::steady_clock::now() - opened, 5s) << "a trickling connection was kept";
    close(trickle);
    // The listener outlives the timeout until someone leaves pairing; an acknowledgement ends it.
    int c = connect_rx();
    std::string m = message(0xEE, 0x1002, 0);
    send(c, m.data(), m.size(), 0);
    close(c);
    drain_tasks();
}

} // namespace
} // namespace hdext::test
