// Shared pieces of the input detection tests: a pipeline that records what the detectors do,
// and a chip model on its own simulated bus.
#pragma once
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "board/i2c.h"
#include "support/recording_pipeline.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "periph/lt6911.h"
#include "sim/devices/lt6911_model.h"

namespace capture_test {

// A detector reading a chip model through its own simulated bus.
struct HdmiBench : ::testing::Test {
    static constexpr int kBus = 23;
    std::mutex source_mu;
    std::string source = "none";
    std::shared_ptr<hdext::sim::Lt6911Model> model =
        std::make_shared<hdext::sim::Lt6911Model>([this] {
            std::lock_guard<std::mutex> g(source_mu);
            return source;
        });
    std::unique_ptr<hdext::board::I2cBus> bus = hdext::board::make_sim_i2c_bus(kBus);
    RecordingPipeline pipeline;
    hdext::Lt6911Detector detector{bus.get(), pipeline, std::chrono::milliseconds(0)};

    void SetUp() override {
        reset_input_state();
        hdext::board::register_sim_i2c_device(kBus, 0x2B, model);
    }
    void TearDown() override { hdext::board::register_sim_i2c_device(kBus, 0x2B, nullptr); }

    void plug(const std::string& s) {
        std::lock_guard<std::mutex> g(source_mu);
        source = s;
    }
    // Plugs `s` and runs one detection sequence; returns what the pipeline was asked to do.
    Calls detect(const std::string& s) {
        plug(s);
        testing::internal::CaptureStdout();
        detector.run_sequence();
        testing::internal::GetCapturedStdout();
        return pipeline.take();
    }
};

} // namespace capture_test
