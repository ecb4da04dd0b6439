// Start-up preparation of both encode tasks: the objects, their platform units and the link
// to the HDMI audio re-check.
#include "encode/audio_encoder_task.h"
#include "encode/video_encoder_task.h"
#include "media/codec.h"
#include "periph/lt6911.h"

namespace {

constexpr int kPayloadH264 = 96;

} // namespace

int Quendor_Init_enVideo_Task() {
    if (!g_pTaskVENC) g_pTaskVENC = new CVideoEncoderTask(0, 0, 0, 3, 12);
    vi_set();
    INTF_VI_Create(g_pTaskVENC->GetSdiDev(), g_pTaskVENC->GetSdiChn());
    INTF_VI_Create(g_pTaskVENC->GetHdmiDev(), g_pTaskVENC->GetHdmiChn());
    INTF_VENC_Create(g_pTaskVENC->GetVenchn());
    INTF_VENC_SetEncodeType(g_pTaskVENC->GetVenchn(), kPayloadH264);
    return 0;
}

int Quendor_Init_enAudio_Task() {
    if (!g_pAEncoder) g_pAEncoder = new CAudioEncoderTask(0, 1, 0, 0, 0);
    g_pAEncoder->SetAudioRecheck(get_6911_Audio);
    INTF_AENC_Create(0);
    INTF_AI_Create(g_pAEncoder->GetSdiDev(), g_pAEncoder->GetSdiChn());
    INTF_AI_Create(g_pAEncoder->GetHdmiDev(), g_pAEncoder->GetHdmiChn());
    return 0;
}
