// The home screen and its key actions, through the OSD task.
#include <gtest/gtest.h>

#include "net/network_task.h"
#include "periph/app_status.h"
#include "periph/battery.h"
#include "settings/param_config.h"
#include "ui/icons.h"
#include "ui/menu.h"
#include "ui/osd_manager.h"
#include "ui/widget.h"
#include "ui_env.h"

namespace hdext::test {
namespace {

using HomeTest = UiTest;

const unsigned char* digit(int d) {
    static const unsigned char* const k[10] = {
        BMP_WIFI_CHANNEL_NUM0_STR, BMP_WIFI_CHANNEL_NUM1_STR, BMP_WIFI_CHANNEL_NUM2_STR,
        BMP_WIFI_CHANNEL_NUM3_STR, BMP_WIFI_CHANNEL_NUM4_STR, BMP_WIFI_CHANNEL_NUM5_STR,
        BMP_WIFI_CHANNEL_NUM6_STR, BMP_WIFI_CHANNEL_NUM7_STR, BMP_WIFI_CHANNEL_NUM8_STR,
        BMP_WIFI_CHANNEL_NUM9_STR};
    return k[d];
}

bool shows_channel_position(const Screen& s, int pos) {
    return s.bitmap(7, 3, 31, 5, BMP_WIFI_CHANNEL_CH_STR) && s.bitmap(31, 3, 43, 5, digit(0)) &&
           s.bitmap(43, 3, 55, 5, digit(pos));
}

int client_level = 0;
int two_clients(hdext::ui::OsdClient* out, int) {
    out[0] = {true, 5};
    out[1] = {true, client_level};
    return 2;
}

TEST_F(HomeTest, ShowsChannelFormatSsidFanAndPower) {
    app_status[2] = 23;
    app_status[4] = 1;  // the fan is drawn with the whole screen
    home();
    post(AMSG_STATE_WIFI_CHANNEL_DISPLAY_REFRESH, "\x95\x00", 2);  // 149, 5th in the list
    tick_home();
    auto s = screen();
    keep_screenshot(s, "home-tx");
    EXPECT_TRUE(shows_channel_position(s, 5));
    EXPECT_TRUE(s.bitmap(70, 3, 122, 5, BMP_1080P60_ICON));
    EXPECT_TRUE(s.text(22, 7, "QUENDOR_0A1B2C", 1));
    EXPECT_TRUE(s.bitmap(89, 0, 102, 2, BMP_FAN_ICON));
    EXPECT_TRUE(s.bitmap(110, 0, 125, 2, BMP_BATTERY_5));

    app_status[2] = 9;
    battery(11500);
    app_battery_low_power_gpio_handler(1);  // external power was just removed
    tick_home(2);  // the battery every second tick
    s = screen();
    EXPECT_TRUE(s.bitmap(70, 3, 122, 5, BMP_720P50_ICON));
    EXPECT_TRUE(s.bitmap(110, 0, 125, 2, BMP_BATTERY_EMPTY));
    app_status[2] = 49;
    dc_detection_level_state = 1;
    tick_home(2);
    EXPECT_TRUE(screen().bitmap(70, 3, 122, 5, BMP_NO_VIDEO_ICON));
    EXPECT_TRUE(screen().bitmap(110, 0, 125, 2, BMP_POWER_DC_ICON));
}

TEST_F(HomeTest, TxClientIconsFollowTheClientTable) {
    app_status[14] = 1;  // nobody connected: position 1 empty, 2 and 3 cleared
    tick_home();
    auto s = screen();
    EXPECT_TRUE(s.bitmap(3, 0, 9, 2, BMP_WIFI_ONE_DEV));
    EXPECT_TRUE(s.bitmap(10, 0, 19, 2, BMP_WIFI_NO_SIGNAL));
    EXPECT_TRUE(s.blank(col(25), 0, 64, 2));

    app_status[14] = 0;
    client_level = 3;
    hdext::ui::set_client_table_reader(two_clients);
    tick_home();
    s = screen();
    EXPECT_TRUE(s.bitmap(10, 0, 19, 2, BMP_WIFI_FIVE_SIGNAL));
    EXPECT_TRUE(s.bitmap(25, 0, 31, 2, BMP_WIFI_TWO_DEV));
    EXPECT_TRUE(s.bitmap(32, 0, 41, 2, BMP_WIFI_THREE_SIGNAL));
    EXPECT_TRUE(s.blank(col(47), 0, 64, 2));
}

// The link text and icon follow the link on the home timer, not only when the screen is drawn.
TEST_F(HomeTest, RxLinkTextAndIconFollowTheLink) {
    app_status[16] = 2;
    app_status[35] = 4;
    role(EQUIPMENT_MODEL_RX);  // no client yet: the one-device icon without bars
    auto unlinked = [this] {
        const auto s = screen();
        return s.bitmap(3, 0, 9, 2, BMP_WIFI_ONE_DEV) && s.bitmap(10, 0, 19, 2, BMP_WIFI_NO_SIGNAL) &&
               s.text(8, 7, "Link", 1) && !s.text(8, 7, "Link OK", 1);
    };
    EXPECT_TRUE(unlinked());
    app_status[14] = 0;
    tick_home();
    auto s = screen();
    keep_screenshot(s, "home-rx");
    EXPECT_TRUE(s.bitmap(3, 0, 9, 2, BMP_WIFI_TWO_DEV));
    EXPECT_TRUE(s.bitmap(10, 0, 19, 2, BMP_WIFI_FOUR_SIGNAL));
    EXPECT_TRUE(s.text(8, 7, "Link OK", 1));
    app_status[14] = 1;  // the link went down
    tick_home();
    EXPECT_TRUE(unlinked());
    role(EQUIPMENT_MODEL_TX);
}

TEST_F(HomeTest, ShortUpStepsThePendingChannelWhichBlinksAndIsAppliedLater) {
    press(HMSG_USER_UP_BUTTON);
    tick_home(2);  // about a second
    press(HMSG_USER_UP_BUTTON_CLR);
    EXPECT_EQ(app_status[31], 40);
    EXPECT_TRUE(rec.messages(kMidParam).empty());
    int shown = 0, hidden = 0;
    for (int i = 0; i < 7; ++i) {
        tick_home();
        const auto s = screen();
        if (shows_channel_position(s, 2)) ++shown;
        if (s.blank(col(31), 3, 55, 5)) ++hidden;
    }
    EXPECT_GE(shown, 3);
    EXPECT_GE(hidden, 3);
    EXPECT_TRUE(rec.messages(kMidParam).empty()) << "applied before the blinking ended";
    tick_home(3);
    auto sent = rec.messages(kMidParam, LOCAL_MSG_CHANGE_WIFI_CHANNEL);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].src, 4096u);
    EXPECT_EQ(sent[0].len, 8u);
    EXPECT_EQ(static_cast<uint8_t>(sent[0].data[0]), 40);
    EXPECT_TRUE(shows_channel_position(screen(), 2));
}

// The keys step like channel calibration: around the supported channels, not at all while a
// bandwidth is in use, with the in-use copies kept and the result's bandwidth posted.
TEST_F(HomeTest, ChannelKeysStepTheSupportedChannelsAndMenuAppliesAtOnce) {
    app_status[32] = 2;  // stale: the stepped channel's bandwidth is 0
    press(HMSG_USER_DOWN_BUTTON);
    press(HMSG_USER_DOWN_BUTTON_CLR);
    EXPECT_EQ(app_status[31], 161);  // 36 steps back to the end of the list
    press(HMSG_USER_MENU_BUTTON);
    auto sent = rec.messages(kMidParam, LOCAL_MSG_CHANGE_WIFI_CHANNEL);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(static_cast<uint8_t>(sent[0].data[0]), 161);
    EXPECT_EQ(sent[0].data[1], 0);
    press(HMSG_USER_MENU_BUTTON_CLR);
    tick_home(12);
    EXPECT_EQ(rec.messages(kMidParam).size(), 1u) << "the channel went out twice";
    EXPECT_EQ(app_widget_get_flags(), 0);

    press(HMSG_USER_UP_BUTTON);
    press(HMSG_USER_UP_BUTTON_CLR);
    EXPECT_EQ(app_status[31], 36);
    ABS_WIFI_AP_CONFIG_t w{};
    CParamConfig::Instance()->GetWifiInfo(&w);
    EXPECT_EQ(w.channel_in_use, 36);
    w.bandwidth_in_use = 1;
    CParamConfig::Instance()->set_wifi_ap_info(&w);
    press(HMSG_USER_UP_BUTTON);
    press(HMSG_USER_UP_BUTTON_CLR);
    EXPECT_EQ(app_status[31], 36) << "no stepping while a bandwidth is in use";
}

TEST_F(HomeTest, HoldingMenuThreeSecondsOpensTheMenuBeforeRelease) {
    press(HMSG_USER_MENU_BUTTON);
    tick_home(5);
    EXPECT_EQ(app_widget_get_cur(), 0);
    tick_home(2);
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU);
    press(HMSG_USER_MENU_BUTTON_CLR);
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU);
    EXPECT_TRUE(screen().text(16, 0, "SYSTEM SETUP"));
}

// A long press asks for a search and stays on the home screen, which shows the channel found.
TEST_F(HomeTest, HoldingUpThreeSecondsAsksForABestChannelSearchUnlessStarting) {
    press(HMSG_USER_UP_BUTTON);
    tick_home(7);
    press(HMSG_USER_UP_BUTTON_CLR);
    auto sent = rec.messages(kMidNetwork, LOCAL_MSG_NETWORK_CALIBRATION);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].src, 4096u);
    EXPECT_EQ(sent[0].int_payload(), 0);
    EXPECT_EQ(app_status[31], 36) << "a long press also stepped the channel";
    EXPECT_EQ(app_widget_get_cur(), 0) << "nothing would ever close a dialog";
    post(AMSG_STATE_WIFI_CHANNEL_DISPLAY_REFRESH, "\x99\x00", 2);
    EXPECT_TRUE(shows_channel_position(screen(), 6));

    rec.clear();
    CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTING);
    press(HMSG_USER_DOWN_BUTTON);
    tick_home(7);
    press(HMSG_USER_DOWN_BUTTON_CLR);
    EXPECT_TRUE(rec.messages(kMidNetwork).empty());
    EXPECT_EQ(app_status[31], 153);
}

TEST_F(HomeTest, AnOpenDialogBlocksTheMenu) {
    app_widget_dialog_set_dialog(3, 2, nullptr);
    ASSERT_EQ(app_widget_on(WIDGET_DIALOG, 0), 0);
    keep_screenshot(screen(), "dialog-searching");
    EXPECT_EQ(app_widget_on(WIDGET_MENU, 0), -1);
    press(HMSG_USER_MENU_BUTTON);  // consumed by the dialog, which closes
    EXPECT_EQ(app_widget_get_cur(), 0);
    EXPECT_EQ(app_widget_get_flags(), 0);
}

} // namespace
} // namespace hdext::test
