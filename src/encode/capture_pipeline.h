// The TX capture pipeline as the input detectors drive it: encoder start and the media
// facade's input switching. The detectors take it as a parameter so tests can record what a
// detection sequence did; the program uses default_capture_pipeline().
#pragma once
#include "encode/video_encoder_task.h"

namespace hdext {

class CapturePipeline {
public:
    virtual ~CapturePipeline() = default;
    virtual int start_video(INPUTER_MODE_e mode) = 0; // Quendor_Start_enVideo_Task
    virtual int start_audio(INPUTER_MODE_e mode) = 0; // Quendor_Start_enAudio_Task
    virtual void hdmi_turn_on_video() = 0;
    virtual void hdmi_turn_off_video() = 0;
    virtual void sdi_turn_on_video() = 0;
    virtual void sdi_turn_off_video() = 0;
    virtual void hdmi_turn_on_audio() = 0;
    virtual void hdmi_turn_off_audio() = 0;
    virtual void sdi_turn_on_audio() = 0;
    virtual void sdi_turn_off_audio() = 0;
    virtual void audio_restart() = 0;
    virtual void audio_sdi_form_hdmi() = 0;
};

// Forwards to the encode tasks and the media facade. Lives for the whole process.
CapturePipeline& default_capture_pipeline();

} // namespace hdext
