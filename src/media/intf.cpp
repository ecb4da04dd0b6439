// The INTF_ functions: the tasks' only way to the media units.
#include "media/codec.h"
#include "mpi/mpi.h"
#include <cstdio>

int INTF_CodecInit() {
    return g_pCodec->InitMPP();
}
int INTF_CodecExit() {
    return g_pCodec->ExitMPP();
}
int INTF_SetResolution(int sync, int intf, int rate, int w, int h) {
    return g_pCodec->SetResolution(sync, intf, rate, w, h);
}

int INTF_VENC_Create(int chn) {
    return g_pCodec->VENC_Create(chn);
}
int INTF_VENC_SetEncodeType(int chn, int payload) {
    return g_pCodec->VENC_SetEncodeType(chn, payload);
}
int INTF_VENC_SetBitrate(int chn, int mbps) {
    return g_pCodec->VENC_SetBitrate(chn, mbps);
}
int INTF_VENC_SetBitrateKbps(int chn, int kbps) {
    return g_pCodec->VENC_SetBitrateKbps(chn, kbps);
}
int INTF_VENC_SetEncodeAttr(int chn) {
    return g_pCodec->VENC_SetEncodeAttr(chn);
}
int INTF_VENC_Start(int chn) {
    return g_pCodec->VENC_Start(chn);
}
int INTF_VENC_Stop(int chn) {
    return g_pCodec->VENC_Stop(chn);
}
int INTF_VENC_Destroy(int chn) {
    return g_pCodec->VENC_Destroy(chn);
}
int INTF_VENC_GetFd(int chn) {
    return g_pCodec->VENC_GetFd(chn);
}
int INTF_VENC_CloseFd(int chn) {
    return g_pCodec->VENC_CloseFd(chn);
}
int INTF_VENC_RequestIDR(int chn, int instant) {
    return g_pCodec->VENC_RequestIDR(chn, instant);
}
frame_buff* INTF_VENC_GetStream(int chn, int* size) {
    return g_pCodec->VENC_GetStream(chn, size);
}
int INTF_VENC_QueryVideoLost(int) {
    return 0;
}
int INTF_VENC_ChangeResolution(int) {
    return 0;
}

int INTF_VI_Create(int dev, int chn) {
    return g_pCodec->VI_Create(dev, chn);
}
int INTF_VI_Set_Intf_Mode(int dev, int chn, int mode, int scan) {
    return g_pCodec->VI_Set_Intf_Mode(dev, chn, mode, scan);
}
int INTF_VI_Start(int dev, int chn) {
    return g_pCodec->VI_Start(dev, chn);
}
int INTF_VI_Stop(int dev, int chn) {
    return g_pCodec->VI_Stop(dev, chn);
}

int INTF_VDEC_Create(int chn) {
    return g_pCodec->VDEC_Create(chn);
}
int INTF_VDEC_SetDecodeType(int chn, int payload, int mode) {
    return g_pCodec->VDEC_SetDecodeType(chn, payload, mode);
}
int INTF_VDEC_Start(int chn) {
    return g_pCodec->VDEC_Start(chn);
}
int INTF_VDEC_StartRecv(int chn) {
    return g_pCodec->VDEC_StartRecv(chn);
}
int INTF_VDEC_StopRecv(int chn) {
    return g_pCodec->VDEC_StopRecv(chn);
}
int INTF_VDEC_ResetChn(int chn) {
    return g_pCodec->VDEC_ResetChn(chn);
}
int INTF_VDEC_SendStream(int chn, const _MEDIA_FRAME_COMM_INFO* info) {
    return g_pCodec->VDEC_SendStream(chn, info);
}
int INTF_VDEC_Stop(int chn) {
    return g_pCodec->VDEC_Stop(chn);
}

int INTF_VO_Create(int dev, int chn, int layer) {
    return g_pCodec->VO_Create(dev, chn, layer);
}
int INTF_VO_Start(int dev, int chn) {
    return g_pCodec->VO_Start(dev, chn);
}
int INTF_VO_StartLayer(int dev, int chn) {
    return g_pCodec->VO_StartLayer(dev, chn);
}
int INTF_VO_StartChn(int dev, int chn) {
    return g_pCodec->VO_StartChn(dev, chn);
}
int INTF_VO_Stop(int dev, int chn) {
    return g_pCodec->VO_Stop(dev, chn);
}
int INTF_VO_StopLayer(int dev, int chn) {
    return g_pCodec->VO_StopLayer(dev, chn);
}
int INTF_VO_StopChn(int dev, int chn) {
    return g_pCodec->VO_StopChn(dev, chn);
}

int INTF_HDMI_Create(int id) {
    return g_pCodec->HDMI_Create(id);
}
int INTF_HDMI_SetType(int id, int sync, int rate, int width) {
    return g_pCodec->HDMI_SetType(id, sync, rate, width);
}
int INTF_HDMI_Start(int id) {
    return g_pCodec->HDMI_Start(id);
}
int INTF_HDMI_Change(int id) {
    return g_pCodec->HDMI_Change(id);
}
int INTF_HDMI_Stop(int id) {
    return g_pCodec->HDMI_Stop(id);
}

int INTF_AI_Create(int dev, int chn) {
    return g_pCodec->AI_Create(dev, chn);
}
int INTF_AI_SetAudio(int dev, int chn, int rate, int width, int payload) {
    return g_pCodec->AI_SetAudio(dev, chn, rate, width, payload);
}
int INTF_AI_Start(int dev, int chn) {
    return g_pCodec->AI_Start(dev, chn);
}
int INTF_AI_Stop(int dev, int chn) {
    return g_pCodec->AI_Stop(dev, chn);
}
int INTF_AI_SetDepth(int dev, int chn, int depth) {
    return g_pCodec->AI_SetDepth(dev, chn, depth);
}
int INTF_AI_GetFd(int dev, int chn) {
    return g_pCodec->AI_GetFd(dev, chn);
}
int INTF_AI_GetFrame(int dev, int chn, ot_audio_frame* frame) {
    return g_pCodec->AI_GetFrame(dev, chn, frame);
}
int INTF_AI_ReleaseFrame(int dev, int chn, ot_audio_frame* frame) {
    return g_pCodec->AI_ReleaseFrame(dev, chn, frame);
}
int INTF_AI_GetSoundmode(int dev, int chn) {
    return g_pCodec->AI_GetSoundmode(dev, chn);
}
int INTF_AI_GetBitWidth(int dev, int chn) {
    return g_pCodec->AI_GetBitWidth(dev, chn);
}
int INTF_AI_BIND_AENC(int dev, int chn, int aenc_chn) {
    return g_pCodec->AI_BindAENC(dev, chn, aenc_chn);
}
int INTF_AI_UnBIND_AENC(int dev, int chn, int aenc_chn) {
    return g_pCodec->AI_UnBindAENC(dev, chn, aenc_chn);
}
int INTF_AI_BindAO(int dev, int chn, int ao_dev, int ao_chn) {
    return g_pCodec->AI_BindAO(dev, chn, ao_dev, ao_chn);
}
int INTF_AI_UnBindAO(int dev, int chn, int ao_dev, int ao_chn) {
    return g_pCodec->AI_UnBindAO(dev, chn, ao_dev, ao_chn);
}

int INTF_AO_Create(int dev, int chn) {
    return g_pCodec->AO_Create(dev, chn);
}
int INTF_AO_SetAudio(int dev, int chn, int in_rate, int out_rate, int width, int payload) {
    return g_pCodec->AO_SetAudio(dev, chn, in_rate, out_rate, width, payload);
}
int INTF_AO_Start(int dev, int chn) {
    return g_pCodec->AO_Start(dev, chn);
}
int INTF_AO_Stop(int dev, int chn) {
    return g_pCodec->AO_Stop(dev, chn);
}

int INTF_AENC_Create(int chn) {
    return g_pCodec->AENC_Create(chn);
}
int INTF_AENC_SetAudio(int chn, int payload) {
    return g_pCodec->AENC_SetAudio(chn, payload);
}
int INTF_AENC_Start(int chn) {
    return g_pCodec->AENC_Start(chn);
}
int INTF_AENC_Stop(int chn) {
    return g_pCodec->AENC_Stop(chn);
}
int INTF_AENC_GetFd(int chn) {
    return g_pCodec->AENC_GetFd(chn);
}
int INTF_AENC_GetStream(int chn, ot_audio_stream* stream) {
    return g_pCodec->AENC_GetStream(chn, stream);
}
int INTF_AENC_ReleaseFrame(int chn, ot_audio_stream* stream) {
    return g_pCodec->AENC_ReleaseFrame(chn, stream);
}

int INTF_ADEC_Create(int chn) {
    return g_pCodec->ADEC_Create(chn);
}
int INTF_ADEC_SetAudio(int chn, int payload) {
    return g_pCodec->ADEC_SetAudio(chn, payload);
}
int INTF_ADEC_Start(int chn) {
    return g_pCodec->ADEC_Start(chn);
}
int INTF_ADEC_Stop(int chn) {
    return g_pCodec->ADEC_Stop(chn);
}
int INTF_ADEC_BindAO(int chn, int ao_dev, int ao_chn) {
    return g_pCodec->ADEC_BindAO(chn, ao_dev, ao_chn);
}
int INTF_ADEC_UnBindAO(int chn, int ao_dev, int ao_chn) {
    return g_pCodec->ADEC_UnBindAO(chn, ao_dev, ao_chn);
}
int INTF_ADEC_SendStream(int chn, uint8_t* data, uint32_t len) {
    return g_pCodec->ADEC_SendStream(chn, data, len);
}

int INTF_SYS_BIND(int src_mod, int src_dev, int src_chn, int dst_mod, int dst_dev, int dst_chn) {
    const ot_mpp_chn src{src_mod, src_dev, src_chn};
    const ot_mpp_chn dst{dst_mod, dst_dev, dst_chn};
    const int ret = ss_mpi_sys_bind(&src, &dst);
    if (ret != 0) {
        std::printf("[%s]-%d: ", "INTF_SYS_BIND", __LINE__);
        std::printf("(%d,%d) bind (%d,%d) err(0x%x)!\n", src_dev, src_chn, dst_dev, dst_chn,
                    static_cast<unsigned>(ret));
    }
    return ret;
}

int INTF_SYS_UNBIND(int src_mod, int src_dev, int src_chn, int dst_mod, int dst_dev, int dst_chn) {
    const ot_mpp_chn src{src_mod, src_dev, src_chn};
    const ot_mpp_chn dst{dst_mod, dst_dev, dst_chn};
    const int ret = ss_mpi_sys_unbind(&src, &dst);
    if (ret != 0) {
        std::printf("[%s]-%d: ", "INTF_SYS_UNBIND", __LINE__);
        std::printf("(%d,%d) unbind (%d,%d) err(0x%x)!\n", src_dev, src_chn, dst_dev, dst_chn,
                    static_cast<unsigned>(ret));
    }
    return ret;
}
