// Start-up preparation of both encode tasks: the objects, their platform units and the links
// to the media facade and the HDMI audio re-check.
#include "encode/audio_encoder_task.h"
#include "encode/encode_platform.h"
#include "encode/video_encoder_task.h"
#include "periph/lt6911.h"

namespace {

constexpr int kPayloadH264 = 96;

void use_facade_unless_installed() {
    if (!hdext::encode_platform_installed())
        hdext::set_encode_platform(&hdext::facade_encode_platform());
}

} // namespace

int Quendor_Init_enVideo_Task() {
    use_facade_unless_installed();
    if (!g_pTaskVENC) g_pTaskVENC = new CVideoEncoderTask(0, 0, 0, 3, 12);
    auto& p = hdext::encode_platform();
    vi_set();
    p.vi_create(g_pTaskVENC->GetSdiDev(), g_pTaskVENC->GetSdiChn());
    p.vi_create(g_pTaskVENC->GetHdmiDev(), g_pTaskVENC->GetHdmiChn());
    p.venc_create(g_pTaskVENC->GetVenchn());
    p.venc_set_encode_type(g_pTaskVENC->GetVenchn(), kPayloadH264);
    return 0;
}

int Quendor_Init_enAudio_Task() {
    use_facade_unless_installed();
    if (!g_pAEncoder) g_pAEncoder = new CAudioEncoderTask(0, 1, 0, 0, 0);
    g_pAEncoder->SetAudioRecheck(get_6911_Audio);
    auto& p = hdext::encode_platform();
    p.aenc_create(0);
    p.ai_create(g_pAEncoder->GetSdiDev(), g_pAEncoder->GetSdiChn());
    p.ai_create(g_pAEncoder->GetHdmiDev(), g_pAEncoder->GetHdmiChn());
    return 0;
}
