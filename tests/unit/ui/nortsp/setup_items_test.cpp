// The program without re-streaming lists QUALITY SETTING first and saves the quality.
#include <gtest/gtest.h>

#include "periph/app_status.h"
#include "periph/buttons.h"
#include "ui/menu_strings.h"
#include "ui/widget.h"
#include "ui_env.h"

namespace hdext::test {
namespace {

using NoRtspSetupTest = UiTest;

TEST_F(NoRtspSetupTest, QualitySettingComesFirstAndIsSaved) {
    app_status[6] = 1;
    press(HMSG_USER_MENU_BUTTON);
    tick_home(6);
    press(HMSG_USER_MENU_BUTTON_CLR);
    press(HMSG_USER_MENU_BUTTON);
    auto s = screen();
    EXPECT_TRUE(s.text(16, 0, "QUALITY SETTING", 1));
    EXPECT_TRUE(s.text(16, 2, "FAN CONTROL"));
    EXPECT_TRUE(s.text(16, 4, "LANGUAGE"));
    press(HMSG_USER_MENU_BUTTON);
    ASSERT_EQ(app_widget_get_cur(), WIDGET_MENU_QUICK);
    s = screen();
    keep_screenshot(s, "quick-quality-nortsp");
    EXPECT_TRUE(s.text(2, 4, ">")) << "the quality in force is preselected";
    press(HMSG_USER_DOWN_BUTTON);
    press(HMSG_USER_MENU_BUTTON);
    auto saved = rec.messages(kMidParam, 0x2006);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].data[0], 2);
    EXPECT_EQ(app_status[6], 2);
}

} // namespace
} // namespace hdext::test
