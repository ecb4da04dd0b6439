// A capture pipeline that records what the input detectors ask of it, and the start values of
// the capture input state of a freshly started TX.
#pragma once
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "encode/capture_pipeline.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "periph/lt6911.h"

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

} // namespace capture_test
