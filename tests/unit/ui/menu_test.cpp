// The menu, quick menu and pairing tab, through the OSD task and the simulated display.
#include <gtest/gtest.h>

#include "net/network_task.h"
#include "periph/app_status.h"
#include "settings/param_config.h"
#include "ui/menu.h"
#include "ui/menu_strings.h"
#include "ui/osd_manager.h"
#include "ui/widget.h"
#include "ui_env.h"

namespace hdext::test {
namespace {

class MenuTest : public UiTest {
protected:
    void open_menu() {
        press(HMSG_USER_MENU_BUTTON);
        tick_home(6);
        press(HMSG_USER_MENU_BUTTON_CLR);
        ASSERT_EQ(app_widget_get_cur(), WIDGET_MENU);
    }
    void key(uint32_t id) {
        press(id);
        press(id | 0x800);
    }
    // Row r (0-3) shows string id str in the current language.
    bool row(const Screen& s, int r, int str, int x = 16) {
        const char* t = menu_string(str);
        if (static_cast<unsigned char>(t[0]) >= 0x80) return s.hz(x, 2 * r, t);
        if (x + 8 * static_cast<int>(std::strlen(t)) <= 128) return s.text(x, 2 * r, t);
        return s.text(x, 2 * r, t, 1);
    }
    bool marked(const Screen& s, int r) { return s.text(2, 2 * r, ">"); }
};

TEST_F(MenuTest, TabsAndSetupItemsOfTheFullProgramInBothLanguages) {
    for (bool cn : {false, true}) {
        chinese(cn);
        home();
        open_menu();
        auto s = screen();
        keep_screenshot(s, cn ? "menu-tabs-cn" : "menu-tabs-en");
        EXPECT_TRUE(row(s, 0, 2) && row(s, 1, 35) && row(s, 2, 3) && row(s, 3, 5)) << "chinese " << cn;
        key(HMSG_USER_UP_BUTTON);  // wraps to the exit tab
        EXPECT_TRUE(marked(screen(), 3));
        EXPECT_FALSE(marked(screen(), 0));
        key(HMSG_USER_DOWN_BUTTON);
        EXPECT_TRUE(marked(screen(), 0));
        key(HMSG_USER_MENU_BUTTON);
        s = screen();
        keep_screenshot(s, cn ? "menu-setup-cn" : "menu-setup-en");
        EXPECT_TRUE(row(s, 0, 10) && row(s, 1, 11) && row(s, 2, 15) && row(s, 3, 18)) << "chinese " << cn;
        for (int i = 0; i < 4; ++i) key(HMSG_USER_DOWN_BUTTON);  // next window: BACK alone
        s = screen();
        EXPECT_TRUE(row(s, 0, 27));
        EXPECT_TRUE(s.blank(0, 2, 128, 8));
        key(HMSG_USER_MENU_BUTTON);  // BACK rebuilds the menu at tab level
        EXPECT_TRUE(row(screen(), 0, 2));
    }
    chinese(false);
}

TEST_F(MenuTest, LanguageChoiceIsSavedAndRedrawsInChinese) {
    open_menu();
    key(HMSG_USER_MENU_BUTTON);
    key(HMSG_USER_DOWN_BUTTON);
    key(HMSG_USER_MENU_BUTTON);  // LANGUAGE -> quick menu
    ASSERT_EQ(app_widget_get_cur(), WIDGET_MENU_QUICK);
    auto s = screen();
    keep_screenshot(s, "quick-language-en");
    EXPECT_TRUE(row(s, 1, 13, 24) && row(s, 2, 12, 24));
    EXPECT_TRUE(marked(s, 1));
    key(HMSG_USER_DOWN_BUTTON);
    key(HMSG_USER_MENU_BUTTON);
    auto saved = rec.messages(kMidParam, 0x2007);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].data[0], 1);
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU);
    s = screen();  // back in the item list, now in Chinese
    EXPECT_TRUE(s.hz(16, 0, menu_string_cn[10]));
    EXPECT_TRUE(s.hz(16, 2, menu_string_cn[11]));
    chinese(false);
}

TEST_F(MenuTest, FactoryResetReturnChangesNothingAndConfirmResets) {
    open_menu();
    key(HMSG_USER_MENU_BUTTON);
    for (int i = 0; i < 3; ++i) key(HMSG_USER_DOWN_BUTTON);
    key(HMSG_USER_MENU_BUTTON);
    ASSERT_EQ(app_widget_get_cur(), WIDGET_MENU_QUICK);
    EXPECT_TRUE(marked(screen(), 2)) << "RETURN is preselected";
    key(HMSG_USER_MENU_BUTTON);
    EXPECT_TRUE(rec.messages(kMidParam).empty());
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU);
    key(HMSG_USER_MENU_BUTTON);
    key(HMSG_USER_UP_BUTTON);
    key(HMSG_USER_MENU_BUTTON);
    auto sent = rec.messages(kMidParam, 0x2008);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].src, 0x1000u);
}

TEST_F(MenuTest, FirmwareUpgradeWaitsForTheStickThenRebootsOnConfirm) {
    open_menu();
    key(HMSG_USER_MENU_BUTTON);
    key(HMSG_USER_DOWN_BUTTON);
    key(HMSG_USER_DOWN_BUTTON);
    key(HMSG_USER_MENU_BUTTON);  // FIRMWARE UPGRADE
    EXPECT_TRUE(screen().text(24, 4, "CHECKING"));
    key(HMSG_USER_MENU_BUTTON);  // keys are off while checking
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU_QUICK);
    tick_home(49);
    EXPECT_TRUE(screen().text(24, 4, "CHECKING"));
    tick_home();
    EXPECT_TRUE(screen().text(24, 4, "NOT USB"));
    key(HMSG_USER_MENU_BUTTON);
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU);

    root->put("/mnt/s1_tx_v2.bin", "firmware");
    root->put("/mnt/config", "");
    app_status[5] = 1;  // stick mounted
    key(HMSG_USER_MENU_BUTTON);
    tick_home(4);
    EXPECT_TRUE(screen().text(24, 4, "CHECKING"));
    tick_home();
    auto s = screen();
    EXPECT_TRUE(row(s, 1, 19, 24) && row(s, 2, 20, 24));
    key(HMSG_USER_UP_BUTTON);
    key(HMSG_USER_MENU_BUTTON);  // CONFIRM
    EXPECT_TRUE(screen().text(24, 4, "Upgrading . . .", 1));
    tick_home();
    auto reboot = rec.messages(kMidParam, 0x2009);
    ASSERT_EQ(reboot.size(), 1u);
    EXPECT_EQ(reboot[0].src, 0x1000u);
}

TEST_F(MenuTest, DeviceInfoOnATx) {
    unsigned char mac[] = "02:00:5e:0a:1b:2c\n";
    root->put("/sys/class/net/wlan0/address", reinterpret_cast<char*>(mac));
    open_menu();
    key(HMSG_USER_DOWN_BUTTON);
    key(HMSG_USER_DOWN_BUTTON);
    key(HMSG_USER_MENU_BUTTON);
    auto s = screen();
    keep_screenshot(s, "device-info-tx");
    EXPECT_TRUE(s.text(36, 2, "Pin:4321"));
    EXPECT_TRUE(s.text(36, 4, "V1.0.1.1"));
    EXPECT_TRUE(s.text(27, 6, "02005E0A1B2C"));
    key(HMSG_USER_MENU_BUTTON);
    EXPECT_TRUE(marked(screen(), 2)) << "the menu reopens on the device tab";
    EXPECT_FALSE(marked(screen(), 0));
}

TEST_F(MenuTest, TheExitTabOrTwentyQuietTicksCloseTheMenuWhichReopensAtTheStart) {
    open_menu();
    key(HMSG_USER_UP_BUTTON);
    key(HMSG_USER_MENU_BUTTON);
    hdext::ui::osd_sync();
    EXPECT_EQ(app_widget_get_flags(), 0);
    EXPECT_TRUE(screen().text(22, 7, "QUENDOR_0A1B2C", 1));
    open_menu();
    EXPECT_TRUE(marked(screen(), 0)) << "the current tab returns to setup";

    key(HMSG_USER_MENU_BUTTON);
    key(HMSG_USER_DOWN_BUTTON);
    tick_slow(20);
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU);
    key(HMSG_USER_DOWN_BUTTON);  // any key starts the count again
    tick_slow(20);
    EXPECT_EQ(app_widget_get_cur(), WIDGET_MENU);
    tick_slow(1);
    hdext::ui::osd_sync();
    EXPECT_EQ(app_widget_get_flags(), 0);
    open_menu();
    key(HMSG_USER_MENU_BUTTON);
    EXPECT_TRUE(marked(screen(), 0)) << "the first item is current again";
}

class PairingTest : public MenuTest {
protected:
    void enter_pairing() {
        open_menu();
        key(HMSG_USER_DOWN_BUTTON);
        key(HMSG_USER_MENU_BUTTON);
    }
};

TEST_F(PairingTest, TxSuccessShowsTheResultThenLeavesPairing) {
    enter_pairing();
    auto start = rec.messages(kMidNetwork, LOCAL_MSG_NETWORK_PAIRING);
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].src, 4096u);
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_REQUESTED);
    key(HMSG_USER_MENU_BUTTON);  // ignored for the first ticks on a TX
    EXPECT_TRUE(rec.messages(kMidNetwork, LOCAL_MSG_NETWORK_RECONNECT).empty());
    tick_home(3);
    CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_SUCCESS);
    tick_home();
    auto s = screen();
    keep_screenshot(s, "pairing-success-en");
    EXPECT_TRUE(s.text(8, 4, "PAIRING SUCCESSFUL", 1));
    tick_home(4);
    auto quit = rec.messages(kMidNetwork, LOCAL_MSG_NETWORK_RECONNECT);
    ASSERT_EQ(quit.size(), 1u);
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_NONE);
    EXPECT_TRUE(marked(screen(), 0));
    EXPECT_TRUE(row(screen(), 0, 2)) << "back at tab level on setup";
    EXPECT_TRUE(rec.messages(kMidVideoDecode).empty()) << "a TX has no decoder pictures";
}

// A paired RX whose TX is gone: its station runs, but it has no link, so it pairs.
TEST_F(PairingTest, RxFailureAfterTwoMinutesSwitchesTheDecoderPicture) {
    role(EQUIPMENT_MODEL_RX);
    chinese(true);
    enter_pairing();
    CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTING);  // as the network task's pairing does
    auto pics = rec.messages(kMidVideoDecode, 0x7001);
    ASSERT_EQ(pics.size(), 1u);
    EXPECT_EQ(pics[0].int_payload(), 4);
    tick_home(119);
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_REQUESTED);
    tick_home();
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_TIMEOUT);
    auto s = screen();
    keep_screenshot(s, "pairing-failed-cn");
    EXPECT_TRUE(s.hz(16, 4, menu_string_cn[38]));
    pics = rec.messages(kMidVideoDecode, 0x7001);
    ASSERT_EQ(pics.size(), 2u);
    EXPECT_EQ(pics[1].int_payload(), 3);
    tick_home(5);
    EXPECT_EQ(rec.messages(kMidNetwork, LOCAL_MSG_NETWORK_RECONNECT).size(), 1u);
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_NONE);
    chinese(false);
    role(EQUIPMENT_MODEL_TX);
}

TEST_F(PairingTest, LinkedRxAsksForAResetAndKeepsItsLink) {
    role(EQUIPMENT_MODEL_RX);
    NetHooks hooks;
    hooks.rx_linked = [] { return true; };
    CNetworkTask::SetHooks(hooks);
    enter_pairing();
    tick_home();
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_LINKED);
    EXPECT_TRUE(screen().text(8, 4, "PLEASE RESET DEVICE", 1));
    EXPECT_TRUE(rec.messages(kMidNetwork).empty());
    EXPECT_TRUE(rec.messages(kMidVideoDecode).empty());
    key(HMSG_USER_MENU_BUTTON);  // leave: only the GUI status is cleared
    EXPECT_EQ(CNetworkTask::GetGuiPairingStatus(), GUI_PAIRING_STATUS_NONE);
    EXPECT_EQ(CNetworkTask::GetWirelessStatus(), WIRELESS_STATUS_STARTED);
    EXPECT_TRUE(rec.messages(kMidNetwork).empty());
    CNetworkTask::SetHooks(NetHooks{});
    role(EQUIPMENT_MODEL_TX);
}

TEST(ConvertResolution, TimingCodesToText) {
    char text[64];
    convert_resolution(text, OT_VO_OUT_1080P60);
    EXPECT_STREQ(text, "HDMI Output : 1080@60Hz");
    convert_resolution(text, OT_VO_OUT_BUTT);
    EXPECT_STREQ(text, "HDMI Output : Not Video");
}

} // namespace
} // namespace hdext::test
