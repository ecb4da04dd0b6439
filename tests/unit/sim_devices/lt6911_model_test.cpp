// The simulated HDMI receiver chip and the simulated I2C bus, seen through bus transfers.
#include <gtest/gtest.h>

#include "board/i2c.h"
#include "sim/devices/hdmi_source.h"
#include "sim/devices/lt6911_model.h"

using namespace hdext;

namespace {

constexpr int kBus = 41;

struct Chip : ::testing::Test {
    std::string source = "1920x1080p60 audio=48000";
    std::shared_ptr<sim::Lt6911Model> model =
        std::make_shared<sim::Lt6911Model>([this] { return source; });
    std::unique_ptr<board::I2cBus> bus = board::make_sim_i2c_bus(kBus);

    void SetUp() override { board::register_sim_i2c_device(kBus, 0x2B, model); }
    void TearDown() override { board::register_sim_i2c_device(kBus, 0x2B, nullptr); }

};

TEST_F(Chip, UnknownAddressIsNotAcknowledgedAndRemovedModelIsGone) {
    const uint8_t b[2] = {0xFF, 0x80};
    uint8_t v;
    EXPECT_EQ(bus->write(0x2C, b, 2), board::kI2cFailed);
    EXPECT_EQ(bus->write_read(0x2C, b, 1, &v, 1), board::kI2cFailed);
    board::register_sim_i2c_device(kBus, 0x2B, nullptr);
    EXPECT_EQ(bus->write(0x2B, b, 2), board::kI2cFailed);
    auto other = board::make_sim_i2c_bus(kBus + 1);
    board::register_sim_i2c_device(kBus, 0x2B, model);
    EXPECT_EQ(other->write(0x2B, b, 2), board::kI2cFailed) << "models belong to one bus";
}

TEST(HdmiSource, ParsesTheBoardFormat) {
    for (const char* no : {"none", "", "1920x1080q60", "1920x1080p", "1920x1080p60 audio=44100x", "1920x1080p60 audio=1 x"})
        EXPECT_FALSE(sim::parse_hdmi_source(no)) << no;
    auto s = sim::parse_hdmi_source("1920x1080i60 audio=none\n");
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->timing.interlaced);
    EXPECT_EQ(s->timing.height, 540u);
    EXPECT_EQ(s->audio_rate, 0);
    s = sim::parse_hdmi_source("720x480p59.94 audio=32000");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->audio_rate, 32000);
    EXPECT_NEAR(s->timing.pixel_clock_hz, 27000000u, 1000u);
}

TEST(HdmiSource, FormatsWithoutCeaTimingStillMeasureTheirRate) {
    auto t = sim::hdmi_timing(1600, 900, false, 60);
    ASSERT_GT(t.h_total, 1600u);
    ASSERT_GT(t.v_total, 900u);
    EXPECT_EQ(t.pixel_clock_hz / (t.h_total * t.v_total), 60u);
}

} // namespace
