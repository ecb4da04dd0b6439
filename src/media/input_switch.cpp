// TX input switching: HDMI or SDI capture bound to the encoder, and the audio capture command.
#include "encode/video_encoder_task.h"
#include "media/codec.h"
#include "periph/input_state.h"
#include "settings/bitrate.h"
#include <cstdio>

namespace {
constexpr int kHdmiIntfMode = 3;
constexpr int kSdiIntfMode = 1;
constexpr int kCaptureIntf = 16;

void turn_on(int dev, int chn, int sync, int rate, int w, int h, int mode, int scan) {
    if (g_pTaskVENC == nullptr)
        return; // encode task not created yet
    const int venc = g_pTaskVENC->GetVenchn();
    INTF_SetResolution(sync, kCaptureIntf, rate, w, h);
    INTF_VENC_SetBitrate(venc, BitRate.load(std::memory_order_relaxed));
    INTF_VENC_Start(venc);
    VencEn.store(1, std::memory_order_relaxed);
    INTF_VI_Set_Intf_Mode(dev, chn, mode, scan);
    INTF_VI_Start(dev, chn);
    INTF_SYS_BIND(OT_ID_VI, dev, chn, OT_ID_VENC, 0, venc);
    g_pTaskVENC->RequestIdr(hdext::kVencIdrAfterFormat); // the new encoder starts with one
}

void turn_off(int dev, int chn) {
    if (g_pTaskVENC == nullptr)
        return;
    const int venc = g_pTaskVENC->GetVenchn();
    // The stream thread may be copying a picture out of this channel right now.
    auto hold = g_pTaskVENC->HoldReadout();
    INTF_SYS_UNBIND(OT_ID_VI, dev, chn, OT_ID_VENC, 0, venc);
    INTF_VI_Stop(dev, chn);
    VencEn.store(0, std::memory_order_relaxed);
    INTF_VENC_Stop(venc);
}

void set_audio_command(int cmd) {
    pthread_mutex_lock(&audio_mutex);
    audio_en.store(cmd, std::memory_order_relaxed);
    pthread_mutex_unlock(&audio_mutex);
}

int ld(const std::atomic<int>& v) {
    return v.load(std::memory_order_relaxed);
}
} // namespace

void hdmi_turn_on_video() {
    if (g_pTaskVENC == nullptr)
        return;
    turn_on(g_pTaskVENC->GetHdmiDev(), g_pTaskVENC->GetHdmiChn(), ld(VO_SYNC_6911_ATT),
            ld(FrameRate_6911), ld(MaxW_6911_ATT), ld(MaxH_6911_ATT), kHdmiIntfMode,
            ld(SCAN_MODE_6911));
}

void sdi_turn_on_video() {
    if (g_pTaskVENC == nullptr)
        return;
    turn_on(g_pTaskVENC->GetSdiDev(), g_pTaskVENC->GetSdiChn(), ld(VO_SYNC_3471_ATT),
            ld(FrameRate_3471), ld(MaxW_3471_ATT), ld(MaxH_3471_ATT), kSdiIntfMode,
            ld(SCAN_MODE_3471));
}

void hdmi_turn_off_video() {
    if (g_pTaskVENC == nullptr)
        return;
    turn_off(g_pTaskVENC->GetHdmiDev(), g_pTaskVENC->GetHdmiChn());
}

void sdi_turn_off_video() {
    if (g_pTaskVENC == nullptr)
        return;
    turn_off(g_pTaskVENC->GetSdiDev(), g_pTaskVENC->GetSdiChn());
}

void hdmi_turn_on_audio() {
    set_audio_command(0);
}
void sdi_turn_on_audio() {
    set_audio_command(0);
}
void hdmi_turn_off_audio() {
    set_audio_command(4);
}
void sdi_turn_off_audio() {
    set_audio_command(4);
}
void audio_restart() {
    set_audio_command(1);
}
void audio_sdi_form_hdmi() {
    set_audio_command(2);
}
