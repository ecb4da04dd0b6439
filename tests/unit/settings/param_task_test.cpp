// The parameter task's messages, applied as the task applies them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <thread>

#include "periph/app_status.h"
#include "settings/bitrate.h"
#include "settings_env.h"

using namespace hdext::test;

namespace {

struct timespec mtime_of(const std::string& f) {
    struct stat st {};
    stat(f.c_str(), &st);
    return st.st_mtim;
}

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

class ParamMessages : public ParamStoreTest {
protected:
    void SetUp() override {
        ParamStoreTest::SetUp();
        start(EQUIPMENT_MODEL_TX);
        clear_network_messages();
        shell->clear();
    }
};

// Fields are bounded to 32 bytes; a short reply, or text that wifi.ini could not give back,
// changes nothing.
TEST_F(ParamMessages, CredentialsReplySetsNameAndPassphraseWhenTheyCanBeStored) {
    uint8_t reply[69] = {};
    memcpy(reply + 5, "QUENDOR_55AA01", 14);
    memcpy(reply + 37, "pass-from-tx", 12);
    testing::internal::CaptureStdout();
    send(kMsgParamWifiCredentials, reply, sizeof reply);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Set WIFI new SSID : QUENDOR_55AA01\n"), std::string::npos);
    EXPECT_NE(out.find("Set WIFI new Passwd : pass-from-tx\n"), std::string::npos);
    EXPECT_EQ(wifi()["ssid"], "QUENDOR_55AA01");
    EXPECT_EQ(wifi()["password"], "pass-from-tx");

    memset(reply, 'x', sizeof reply); // no terminators
    testing::internal::CaptureStdout();
    send(kMsgParamWifiCredentials, reply, sizeof reply);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(wifi()["ssid"], std::string(32, 'x'));
    EXPECT_EQ(wifi()["password"], std::string(32, 'x'));

    const std::string before = board->get("/userdata/wifi.ini");
    testing::internal::CaptureStderr();
    send(kMsgParamWifiCredentials, reply, 40);
    for (const char* pass : {"abc;def", "[abc]"}) {
        memset(reply + 37, 0, 32);
        memcpy(reply + 37, pass, strlen(pass));
        send(kMsgParamWifiCredentials, reply, sizeof reply);
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("passphrase holds ';'"), std::string::npos);
    EXPECT_EQ(board->get("/userdata/wifi.ini"), before);
    EXPECT_EQ(std::string(held_wifi().ssid), wifi()["ssid"]) << "nothing changed in memory either";
}

TEST_F(ParamMessages, NewChannelIsStoredAndOnATxForwardedToTheNetworkTask) {
    ABS_WIFI_CHN_INFO_t info{52, 1};  // a radar channel, from the panel or the app
    testing::internal::CaptureStdout();
    send(LOCAL_MSG_CHANGE_WIFI_CHANNEL, &info, sizeof info);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("set channel is :::::: 52\n"), std::string::npos);
    EXPECT_NE(out.find("LOCAL_MSG_CHANGE_WIFI_CHANNEL ch = 52 pChnInfo->bandwidth = 1 \n"),
              std::string::npos);
    EXPECT_EQ(wifi()["channel"], "52");
    EXPECT_EQ(wifi()["bandwidth"], "1");
    EXPECT_EQ(app_status[31].load(), 52);
    EXPECT_EQ(held_wifi().channel_in_use, 52);

    auto msgs = network_messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].src, kMidParam);
    EXPECT_EQ(msgs[0].msg_id, LOCAL_MSG_CHANGE_WIFI_CHANNEL);

    // An RX stores a change, and the channel its TX announces, without telling its network task.
    clear_network_messages();
    g_EquipmentModel.store(EQUIPMENT_MODEL_RX);
    info = {44, 0};
    testing::internal::CaptureStdout();
    send(LOCAL_MSG_CHANGE_WIFI_CHANNEL, &info, sizeof info);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(wifi()["channel"], "44");
    const uint8_t heard = 140;
    send(kMsgParamStoreChannel, &heard, 1);
    EXPECT_EQ(wifi()["channel"], "140");
    EXPECT_EQ(app_status[31].load(), 140);
    EXPECT_TRUE(network_messages().empty());
}

// Below 36 is invalid; anything else that is no real 5 GHz channel (165, nonsense from a
// heartbeat) is refused the same way from the menus, calibration and the heartbeat.
TEST_F(ParamMessages, SameInvalidOrUnsupportedChannelChangesNothing) {
    std::string f = board->host("/userdata/wifi.ini");
    std::string before = board->get("/userdata/wifi.ini");
    auto t0 = mtime_of(f);
    uint32_t four_byte_channel = 36;  // an int payload: bandwidth reads as 0
    testing::internal::CaptureStdout();
    send(LOCAL_MSG_CHANGE_WIFI_CHANNEL, &four_byte_channel, 4);
    for (uint8_t ch : {35, 165, 200}) {
        ABS_WIFI_CHN_INFO_t info{ch, 0};
        send(LOCAL_MSG_CHANGE_WIFI_CHANNEL, &info, sizeof info);
    }
    for (uint8_t ch : {11, 200}) send(kMsgParamStoreChannel, &ch, 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("the channel is same as before\n"), std::string::npos);
    EXPECT_NE(out.find("the channel is invalid\n"), std::string::npos);
    for (const char* refused : {"channel 165 is not", "channel 200 is not", "channel 11 is not"})
        EXPECT_NE(out.find(refused), std::string::npos) << refused;
    EXPECT_NE(out.find("(supported: 36 40 44 48 52 56 60 64 100 104 108 112 116 120 124 128 132 136 140 149 153 157 "
                       "161): refused, nothing changed\n"),
              std::string::npos);
    EXPECT_EQ(board->get("/userdata/wifi.ini"), before);
    EXPECT_TRUE(same_time(mtime_of(f), t0));
    EXPECT_EQ(CParamConfig::Instance()->GetWifiChn(), 36);
    EXPECT_EQ(held_wifi().channel_in_use, 36);
    EXPECT_EQ(app_status[31].load(), 36);
    EXPECT_TRUE(network_messages().empty());
}

TEST_F(ParamMessages, FanSwitchesLine101AndFanAndLanguageAreStored) {
    uint8_t off = 0;
    send(kMsgParamFan, &off, 1);
    EXPECT_EQ(sys()["fanmode"], "0");
    EXPECT_EQ(board->get("/sys/class/gpio/gpio101/value"), "0\n");
    std::string log = board->get("/sim/gpio.log");
    EXPECT_EQ(log.substr(log.rfind("/sys")), "/sys/class/gpio/gpio101/value 0\n");
    uint8_t on = 1;
    send(kMsgParamFan, &on, 1);
    EXPECT_EQ(board->get("/sys/class/gpio/gpio101/value"), "1\n");
    EXPECT_TRUE(shell->commands().empty()) << "the fan is a file write, not a shell command";
    uint8_t lang = 1;
    send(kMsgParamLanguage, &lang, 1);
    EXPECT_EQ(sys()["language"], "1");
}

TEST_F(ParamMessages, QualityRestartsVideoOnlyWhenTheStepChanges) {
    // quality sent, restarts so far, bit rate; 2 is in force since start-up, 7 keeps the step
    for (auto [q, n, rate] : {std::tuple<uint8_t, int, int>{2, 0, -1}, {0, 1, 12}, {0, 1, 12}, {1, 2, 8}, {7, 2, 8}}) {
        send(kMsgParamQuality, &q, 1);
        EXPECT_EQ(restarts.load(), n) << int(q);
        if (rate >= 0) {
            EXPECT_EQ(BitRate.load(), rate) << int(q);
        }
        EXPECT_EQ(sys()["quality"], std::to_string(q));
    }
}

TEST_F(ParamMessages, FactoryResetRestoresDefaultsKeepsPassphraseAndReboots) {
    uint8_t reply[69] = {};
    memcpy(reply + 5, "QUENDOR_PAIRED", 14);
    memcpy(reply + 37, "kept-pass", 9);
    send(kMsgParamWifiCredentials, reply, sizeof reply);
    ABS_WIFI_CHN_INFO_t info{157, 1};
    testing::internal::CaptureStdout();
    send(LOCAL_MSG_CHANGE_WIFI_CHANNEL, &info, sizeof info);
    uint8_t v = 0;
    send(kMsgParamFan, &v, 1);
    v = 1;
    send(kMsgParamLanguage, &v, 1);
    send(kMsgParamQuality, &v, 1);
    testing::internal::GetCapturedStdout();
    shell->clear();
    RESET_EN = 0;

    send(kMsgParamFactoryReset, nullptr, 0);
    EXPECT_EQ(RESET_EN.load(), 1);
    auto w = wifi();
    EXPECT_EQ(w["ssid"], "QUENDOR_DEFAULT");
    EXPECT_EQ(w["channel"], "36");
    EXPECT_EQ(w["bandwidth"], "0");
    EXPECT_EQ(w["password"], "kept-pass");
    auto s = sys();
    EXPECT_EQ(s["pincode"], "0");
    EXPECT_EQ(s["quality"], "2");
    EXPECT_EQ(s["fanmode"], "1");
    EXPECT_EQ(shell->commands(), (std::vector<std::string>{
                                     "rm " + board->dir() + "/etc/uuidList -rf", "reboot -f"}));
}

TEST_F(ParamMessages, LedsAndUnknownIdsChangeNothingRebootOnlyReboots) {
    std::string w = board->get("/userdata/wifi.ini"), s = board->get("/userdata/system.ini");
    uint8_t v = 3;
    testing::internal::CaptureStderr();
    send(kMsgParamLeds, &v, 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("leds: 3"), std::string::npos);
    for (uint32_t id : {0x2001u, 0x2002u, 0x200Au, 0x200Bu, 0x200Cu, 0x200Fu, 0x3004u})
        send(id, &v, 1);
    // Byte messages without their byte are ignored, not read past.
    for (uint32_t id : {0x2004u, 0x2005u, 0x2006u, 0x2007u, 0x200Du}) send(id, nullptr, 0);
    EXPECT_EQ(board->get("/userdata/wifi.ini"), w);
    EXPECT_EQ(board->get("/userdata/system.ini"), s);
    EXPECT_TRUE(shell->commands().empty());
    send(kMsgParamReboot, nullptr, 0);
    EXPECT_EQ(shell->commands(), std::vector<std::string>{"reboot -f"});
}

// As a running task: a message sent with ParamNotify reaches it and travels on.
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
