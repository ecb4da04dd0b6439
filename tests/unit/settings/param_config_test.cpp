// First start and restarts of the parameter store on a simulated board.
#include <gtest/gtest.h>

#include <tuple>

#include "periph/app_status.h"
#include "settings/bitrate.h"
#include "settings_env.h"

using namespace hdext::test;

// An RX keeps the unpaired name; a TX takes its MAC-derived one; the code is generated once.
TEST_F(ParamStoreTest, FirstStartWritesDefaultsNamesOnlyATxFromItsMacAndKeepsThePin) {
    testing::internal::CaptureStdout();
    start(EQUIPMENT_MODEL_RX, "02:00:5e:0a:1b:2c");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Parameter module initialize .............."),
              std::string::npos);
    EXPECT_EQ(wifi()["ssid"], "QUENDOR_DEFAULT");
    EXPECT_STREQ(held_wifi().ssid, "QUENDOR_DEFAULT");
    const std::string pin = sys()["pincode"];
    EXPECT_GE(std::stoi(pin), 1000);
    EXPECT_LE(std::stoi(pin), 9999);
    EXPECT_EQ(BitRate.load(), 6);
    EXPECT_EQ(board->get("/sys/class/gpio/gpio101/value"), "1\n") << "fan on";

    start(EQUIPMENT_MODEL_TX, "02:00:5e:0a:1b:2c");
    EXPECT_EQ(wifi()["ssid"], "QUENDOR_0A1B2C");
    EXPECT_EQ(sys()["pincode"], pin);
    ABS_SYS_INFO_CONFIG info{};
    CParamConfig::Instance()->GetSystemInfo(&info);
    EXPECT_EQ(std::string(info.pincode), pin);
}

TEST_F(ParamStoreTest, StoredSettingsAreLoadedNotOverwritten) {
    board->put("/userdata/wifi.ini",
               "[AP]\nssid=QUENDOR_77AA00\npassword=secret99\nchannel=149\nbandwidth=1\n"
               "enable=1\n");
    board->put("/userdata/system.ini",
               "[sys_info]\npincode=4321\nquality=0\nmaxclie=3\nfanmode=0\nlanguage=1\n");
    start(EQUIPMENT_MODEL_TX);
    auto w = wifi();
    EXPECT_EQ(w["ssid"], "QUENDOR_77AA00") << "a paired TX keeps its stored name";
    EXPECT_EQ(w["password"], "secret99");
    EXPECT_EQ(w["channel"], "149");
    auto s = sys();
    EXPECT_EQ(s["pincode"], "4321");
    EXPECT_EQ(s["quality"], "0");
    EXPECT_EQ(s["language"], "1");
    EXPECT_EQ(BitRate.load(), 12);
    EXPECT_EQ(board->get("/sys/class/gpio/gpio101/value"), "0\n");

    // The status bytes follow the loaded settings.
    EXPECT_EQ(app_status[3].load(), 1);   // language
    EXPECT_EQ(app_status[4].load(), 0);   // fan
    EXPECT_EQ(app_status[31].load(), 149);
}

// Only the full 12-character prefix counts; a TX then takes its MAC-derived name.
TEST_F(ParamStoreTest, ZeltNameFallsBackToDefaultAndChannel36) {
    for (auto [stored, tx, ssid, channel] : {std::tuple{"QUENDOR_ZELT1234", false, "QUENDOR_DEFAULT", "36"},
                                             {"QUENDOR_ZELT", true, "QUENDOR_0102FF", "36"},
                                             {"QUENDOR_ZEL", false, "QUENDOR_ZEL", "157"}}) {
        board->put("/userdata/wifi.ini", std::string("[AP]\nssid=") + stored + "\nchannel=157\n");
        if (tx) start(EQUIPMENT_MODEL_TX, "aa:bb:cc:01:02:ff");
        else start(EQUIPMENT_MODEL_RX);
        EXPECT_EQ(wifi()["ssid"], ssid) << stored;
        EXPECT_EQ(wifi()["channel"], channel) << stored;
    }
}

TEST_F(ParamStoreTest, OutOfRangeStoredValuesAreBoundedAndOverlongTextIsCut) {
    board->put("/userdata/system.ini",
               "[sys_info]\npincode=1111\nquality=9\nmaxclie=7\nfanmode=1\nlanguage=5\n");
    start(EQUIPMENT_MODEL_RX);
    auto s = sys();
    EXPECT_EQ(s["quality"], "2");
    EXPECT_EQ(s["maxclie"], "3");
    EXPECT_EQ(s["language"], "0");
    EXPECT_EQ(BitRate.load(), 6);

    // Overlong stored text is cut to the field; a stored channel that is no real 5 GHz one
    // (2.4 GHz, 165, written by an older build) falls back to the default, with a word why; a
    // radar channel stays.
    const std::string longname(80, 'N');
    for (int stored : {200, 0, 6, 165, 255, 52}) {
        board->put("/userdata/wifi.ini",
                   "[AP]\nssid=" + longname + "\npassword=" + longname + "\nchannel=" + std::to_string(stored) + "\n");
        testing::internal::CaptureStdout();
        start(EQUIPMENT_MODEL_RX);
        const std::string out = testing::internal::GetCapturedStdout();
        const int kept = stored == 52 ? 52 : 36;
        EXPECT_EQ(out.find("channel " + std::to_string(stored) + " is not supported (supported: 36 ") != std::string::npos &&
                      out.find("161): falling back to the default channel 36\n") != std::string::npos,
                  kept == 36) << out;
        EXPECT_EQ(wifi()["channel"], std::to_string(kept));
        EXPECT_EQ(app_status[31].load(), kept);
    }
    const ABS_WIFI_AP_CONFIG_t w = held_wifi();
    EXPECT_EQ(std::string(w.ssid), std::string(35, 'N'));
    EXPECT_EQ(std::string(w.password), std::string(35, 'N'));
}

// Failures at start-up are reported and the unit still gets settings: no settings folder
// (defaults kept in memory), no MAC (a TX still leaves the unpaired name), a half-done save.
TEST_F(ParamStoreTest, StartUpFailuresAreReportedAndTheUnitStillGetsItsSettings) {
    std::filesystem::remove_all(board->host("/userdata"));
    testing::internal::CaptureStderr();
    start(EQUIPMENT_MODEL_RX, nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("WriteIniFile : /userdata/system.ini FAILD"), std::string::npos);
    EXPECT_NE(err.find("WriteIniFile : /userdata/wifi.ini FAILD"), std::string::npos);
    EXPECT_STREQ(held_wifi().ssid, "QUENDOR_DEFAULT");

    board->put("/userdata/wifi.ini", "[AP]\nssid=QUENDOR_DEFAULT\nchannel=40\n");
    board->put("/userdata/wifi.ini.tmp.77.3", "[AP]\nssid=QUEN"); // a save killed half-way
    testing::internal::CaptureStderr();
    start(EQUIPMENT_MODEL_TX, nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("GetMac wlan0 failed"), std::string::npos);
    EXPECT_EQ(wifi()["ssid"], "QUENDOR_000000");
    EXPECT_FALSE(board->exists("/userdata/wifi.ini.tmp.77.3"));
}
