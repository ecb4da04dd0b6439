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

    void w(uint8_t reg, uint8_t v) {
        const uint8_t b[2] = {reg, v};
        ASSERT_EQ(bus->write(0x2B, b, 2), board::kI2cOk);
    }
    uint8_t r(uint8_t bank, uint8_t reg) {
        w(0xFF, bank);
        uint8_t v = 0xAA;
        EXPECT_EQ(bus->write_read(0x2B, &reg, 1, &v, 1), board::kI2cOk);
        return v;
    }
    uint32_t r16(uint8_t bank, uint8_t hi) { return r(bank, hi) << 8 | r(bank, hi + 1); }
    void open() { w(0xFF, 0x80), w(0xEE, 1); }
    void close() { w(0xFF, 0x80), w(0xEE, 0); }
    void latch() {
        w(0xFF, 0xA0), w(0x34, 0x21);
        w(0xFF, 0xD2), w(0x83, 0x11);
    }
    uint32_t clock() {
        return ((r(0xB8, 0xB1) & 0x0F) << 16 | r(0xB8, 0xB2) << 8 | r(0xB8, 0xB3)) * 2000u;
    }
};

TEST_F(Chip, MeasuresTheCeaTimingOfTheSource) {
    open();
    latch();
    EXPECT_EQ(clock(), 148500000u);
    EXPECT_EQ(r16(0xD2, 0x9E), 1125u); // vertical total
    EXPECT_EQ(r16(0xD2, 0x96), 1080u); // height
    EXPECT_EQ(r16(0xD2, 0x89), 1100u); // half horizontal total
    EXPECT_EQ(r16(0xD2, 0x8B), 960u);  // half width
    EXPECT_EQ(r(0xC0, 0x18), 2);       // 48 kHz
    close();
}

TEST_F(Chip, InterlacedSourceReportsFieldLines) {
    source = "1920x1080i50 audio=44100";
    open();
    latch();
    EXPECT_EQ(clock(), 74250000u);
    EXPECT_EQ(r16(0xD2, 0x96), 540u);
    EXPECT_EQ(r16(0xD2, 0x9E), 562u);
    EXPECT_EQ(r16(0xD2, 0x89), 1320u);
    EXPECT_EQ(r(0xC0, 0x18), 0);
}

TEST_F(Chip, SourceIsReadWhenAccessOpensAndValuesNeedTheirTrigger) {
    open();
    EXPECT_EQ(clock(), 0u) << "clock registers hold nothing before a measurement";
    latch();
    source = "1280x720p50 audio=none";
    EXPECT_EQ(r16(0xD2, 0x96), 1080u) << "a change shows only at the next access";
    close();
    EXPECT_EQ(r(0xD2, 0x96), 0) << "registers are closed";
    open();
    latch();
    EXPECT_EQ(r16(0xD2, 0x96), 720u);
    EXPECT_EQ(r(0xC0, 0x18), 1) << "no audio";
    EXPECT_EQ(model->open_count(), 2);
}

TEST_F(Chip, NoSourceMatchesNothing) {
    source = "none";
    open();
    latch();
    EXPECT_EQ(clock(), 0u);
    EXPECT_EQ(r16(0xD2, 0x9E), 0u);
    EXPECT_EQ(r16(0xD2, 0x89), 0u);
}

TEST_F(Chip, BanksAreSeparate) {
    open();
    w(0xFF, 0x10), w(0x20, 0x5A);
    w(0xFF, 0x11), w(0x20, 0xA5);
    EXPECT_EQ(r(0x10, 0x20), 0x5A);
    EXPECT_EQ(r(0x11, 0x20), 0xA5);
}

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
    EXPECT_FALSE(sim::parse_hdmi_source("none"));
    EXPECT_FALSE(sim::parse_hdmi_source(""));
    EXPECT_FALSE(sim::parse_hdmi_source("1920x1080q60"));
    EXPECT_FALSE(sim::parse_hdmi_source("1920x1080p"));
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
