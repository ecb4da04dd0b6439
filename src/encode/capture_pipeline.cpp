#include "encode/capture_pipeline.h"

#include "encode/audio_encoder_task.h"
#include "media/codec.h"

namespace hdext {
namespace {

class FacadePipeline final : public CapturePipeline {
public:
    int start_video(INPUTER_MODE_e mode) override { return Quendor_Start_enVideo_Task(mode); }
    int start_audio(INPUTER_MODE_e mode) override { return Quendor_Start_enAudio_Task(mode); }
    void hdmi_turn_on_video() override { ::hdmi_turn_on_video(); }
    void hdmi_turn_off_video() override { ::hdmi_turn_off_video(); }
    void sdi_turn_on_video() override { ::sdi_turn_on_video(); }
    void sdi_turn_off_video() override { ::sdi_turn_off_video(); }
    void hdmi_turn_on_audio() override { ::hdmi_turn_on_audio(); }
    void hdmi_turn_off_audio() override { ::hdmi_turn_off_audio(); }
    void sdi_turn_on_audio() override { ::sdi_turn_on_audio(); }
    void sdi_turn_off_audio() override { ::sdi_turn_off_audio(); }
    void audio_restart() override { ::audio_restart(); }
    void audio_sdi_form_hdmi() override { ::audio_sdi_form_hdmi(); }
};

} // namespace

CapturePipeline& default_capture_pipeline() {
    static FacadePipeline p;
    return p;
}

} // namespace hdext
