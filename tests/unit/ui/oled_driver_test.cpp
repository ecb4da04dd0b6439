#include "ui/oled.h"

#include <gtest/gtest.h>

#include <future>

#include "board/role.h"
#include "screen.h"
#include "sim/devices/oled_model.h"
#include "support/board_root.h"
#include "ui/icons.h"

namespace hdext::test {
namespace {

// The driver alone against a fresh controller model on bus 2 (not the UI's buses).
class OledDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        oled = std::make_shared<sim::OledModel>(root.dir() + "/sim");
        board::register_sim_i2c_device(2, sim::kOledModelAddress, oled);
        hdext::ui::oled_use_bus(2);
        ASSERT_EQ(init_i2c(2), 0);
        ASSERT_EQ(app_oled_clear(), 0);
    }
    void TearDown() override {
        board::register_sim_i2c_device(2, sim::kOledModelAddress, nullptr);
        hdext::ui::oled_use_bus(g_EquipmentModel == EQUIPMENT_MODEL_RX ? 1 : 0);
    }
    Screen screen() const { return Screen{oled->pixels()}; }
    TempBoardRoot root;
    std::shared_ptr<sim::OledModel> oled;
};

TEST_F(OledDriverTest, InitialisationSwitchesTheDisplayOnAtFullContrast) {
    EXPECT_TRUE(oled->display_on());
    EXPECT_EQ(oled->contrast(), 0xFF);
    EXPECT_EQ(screen().lit(), 0);
    deinit_i2c();
    EXPECT_FALSE(oled->display_on());
}

TEST_F(OledDriverTest, BitmapTakesExactlyItsBytesAtTheOddColumnRule) {
    const auto before = oled->data_bytes();
    app_oled_drawbmp(110, 0, 125, 2, BMP_BATTERY_3);
    EXPECT_EQ(oled->data_bytes() - before, 30u);
    EXPECT_TRUE(screen().bitmap(110, 0, 125, 2, BMP_BATTERY_3));
    EXPECT_EQ(col(16), 17);
    EXPECT_EQ(col(17), 17);
    EXPECT_EQ(col(18), 19);
    app_oled_fill_area(16, 4, 18, 5, 0xFF);  // x 16 lands on column 17
    auto s = screen();
    EXPECT_EQ(s.byte(4, 16), 0);
    EXPECT_EQ(s.byte(4, 17), 0xFF);
    EXPECT_EQ(s.byte(4, 18), 0xFF);
}

TEST_F(OledDriverTest, AreasOutsideThePanelDrawNothing) {
    const auto before = oled->transfers();
    app_oled_fill_area(0, 0, 200, 2, 0);
    app_oled_fill_area(10, 0, 10, 2, 0xFF);
    app_oled_fill_area(0, 3, 10, 9, 0xFF);
    app_oled_drawbmp(0, 2, 20, 1, BMP_USB);
    EXPECT_EQ(oled->transfers(), before);
    app_oled_fill_area(0, 0, 132, 8, 0xFF);  // the whole memory is allowed; x 0 lands on column 1
    EXPECT_EQ(screen().lit(), 127 * 64);
}

TEST_F(OledDriverTest, TextAdvancesByItsWidthAndWrapsToTheNextLine) {
    app_oled_showstring_6x8_8x16(8, 0, "Link OK", 1);
    auto s = screen();
    EXPECT_TRUE(s.text(8, 0, "Link OK", 1));
    EXPECT_TRUE(s.blank(col(50), 0, 128, 1));  // "Link OK" ends at x 50
    app_oled_showstring_6x8_8x16(115, 2, "ABC", 1);  // C would start at 127
    s = screen();
    EXPECT_TRUE(s.text(115, 2, "AB", 1));
    EXPECT_TRUE(s.text(0, 3, "C", 1));
    app_oled_showstring_6x8_8x16(0, 5, "\x7F", 1);  // outside the font: a space
    EXPECT_TRUE(screen().blank(0, 5, 128, 6));
    app_oled_showstring_6x8_8x16(0, 8, "X", 1);
    app_oled_showstring_6x8_8x16(0, 6, "X", 3);
    EXPECT_TRUE(screen().blank(0, 6, 128, 8));
    ASSERT_EQ(app_oled_clear(), 0);
    app_oled_showstring_6x8_8x16(120, 0, "OK", 2);  // large text wraps two pages lower
    s = screen();
    EXPECT_TRUE(s.text(120, 0, "O"));
    EXPECT_TRUE(s.text(0, 2, "K"));
    EXPECT_TRUE(s.blank(0, 0, 120, 2));
}

TEST_F(OledDriverTest, ChineseTextUsesTheGlyphTableAndBlanksUnknownCharacters) {
    app_oled_showhz_16x16(0, 0, "\xD6\xD0\xCE\xC4");  // two known characters
    EXPECT_TRUE(screen().hz(0, 0, "\xD6\xD0\xCE\xC4"));
    app_oled_showhz_16x16(0, 4, "\xB0\xA1\xD6\xD0");  // not in the table, then a known one
    auto s = screen();
    EXPECT_TRUE(s.blank(0, 4, col(16), 6));
    EXPECT_TRUE(s.hz(16, 4, "\xD6\xD0"));
    const auto before = oled->transfers();
    app_oled_showhz_16x16(0, 6, "AB");
    EXPECT_EQ(oled->transfers(), before);
}

TEST_F(OledDriverTest, MissingDisplayFailsTheClearAndLeavesTheLockFree) {
    board::register_sim_i2c_device(2, sim::kOledModelAddress, nullptr);
    EXPECT_LT(app_oled_clear(), 0);
    auto drawn = std::async(std::launch::async, [] { app_oled_fill_area(0, 0, 10, 1, 0xFF); });
    EXPECT_EQ(drawn.wait_for(std::chrono::seconds(5)), std::future_status::ready);

    root.put("/sim/no-oled", "");  // a board without a display: nothing answers
    sim::install_oled_model();
    hdext::ui::oled_use_bus(0);
    EXPECT_LT(app_oled_clear(), 0);
    std::filesystem::remove(root.host("/sim/no-oled"));
    sim::install_oled_model();
    EXPECT_EQ(app_oled_clear(), 0);
    board::register_sim_i2c_device(0, sim::kOledModelAddress, nullptr);
    board::register_sim_i2c_device(1, sim::kOledModelAddress, nullptr);
}

TEST_F(OledDriverTest, ModelWritesThePictureFilesAfterABurst) {
    app_oled_showstring_6x8_8x16(0, 0, "HELLO", 2);
    oled->flush();
    sim::OledPixels px;
    ASSERT_TRUE(sim::read_oled_pbm(root.dir() + "/sim/oled.pbm", &px));
    EXPECT_TRUE(Screen{px}.text(0, 0, "HELLO"));
    EXPECT_GT(std::filesystem::file_size(root.dir() + "/sim/oled.png"), 100u);
}

} // namespace
} // namespace hdext::test
