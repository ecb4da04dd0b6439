// Shared pieces of the input detection tests: a pipeline that records what the detectors do,
// and a chip model on its own simulated bus.
#pragma once
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "board/i2c.h"
#include "encode/capture_pipeline.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "periph/lt6911.h"
#include "sim/devices/lt6911_model.h"

namespace capture_test {

class RecordingPipeline : public hdext::CapturePipeline {
public:
    int start_video(INPUTER_MODE_e m) override { return rec("start_video " + std::to_string(m)); }
    int start_audio(INPUTER_MODE_e m) override { return rec("start_audio " + std::to_string(m)); }
    void hdmi_turn_on_video() override { rec("hdmi_on_video"); }
    void hdmi_turn_off_video() override { rec("hdmi_off_video"); }
    void sdi_turn_on_video() override { rec("sdi_on_video"); }
    void sdi_turn_off_video() override { rec("sdi_off_video"); }
    void hdmi_turn_on_audio() override { rec("hdmi_on_audio"); }
    void hdmi_turn_off_audio() override { rec("hdmi_off_audio"); }
    void sdi_turn_on_audio() override { rec("sdi_on_audio"); }
    void sdi_turn_off_audio() override { rec("sdi_off_audio"); }
    void audio_restart() override { rec("audio_restart"); }
    void audio_sdi_form_hdmi() override { rec("audio_sdi_form_hdmi"); }

    std::vector<std::string> take() {
        std::lock_guard<std::mutex> g(mu_);
        return std::exchange(calls_, {});
    }

private:
    int rec(std::string s) {
        std::lock_guard<std::mutex> g(mu_);
        calls_.push_back(std::move(s));
        return 0;
    }
    std::mutex mu_;
    std::vector<std::string> calls_;
};

using Calls = std::vector<std::string>;

// Start values of a freshly started TX.
inline void reset_input_state() {
    vi_mode = 0;
    init_videc = 1;
    init_audio = 1;
    Frame_en = 0;
    RestartAudio = 1;
    MaxW_6911_ATT = MaxH_6911_ATT = FrameRate_6911 = 0;
    SCAN_MODE_6911 = 2;
    VO_SYNC_6911_ATT = 49;
    AudioSampling_6911 = 96001;
    MaxW_3471_ATT = MaxH_3471_ATT = FrameRate_3471 = 0;
    SCAN_MODE_3471 = 2;
    VO_SYNC_3471_ATT = 49;
    AudioSampling_3471 = 96001;
    VO_SYNC_ATT = 49;
    old_hdmi_sync = -1;
    old_audio_sampling = -1;
    app_status[2] = 0;
}

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
