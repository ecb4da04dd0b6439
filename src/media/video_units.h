// Wrappers of the platform's video units. Each owns one zeroed attribute record and turns it
// into platform calls. Created, indexed and fed with geometry by the facade (CCodec) only;
// not thread-safe (one caller thread per unit). Results: 0, -1, or the platform's code.
#pragma once
#include "core/frame.h"
#include "media/media_types.h"
#include "mpi/mpi_types.h"
#include <cstdint>

struct VoRecord;
struct ViRecord;
struct VdecRecord;
struct VencRecord;
struct HdmiRecord;

class CVO {
  public:
    CVO();
    ~CVO();
    CVO(const CVO&) = delete;
    CVO& operator=(const CVO&) = delete;
    int VO_init(int dev, int chn, int layer);
    int VO_set_resolution(int sync, int intf, int rate, int w, int h);
    int VO_StartDev();
    int VO_StartLayer();
    int VO_StartChn();
    int VO_StopChn();
    int VO_StopLayer();
    int VO_StopDev();

  private:
    VoRecord* m_rec;
};

class CVI {
  public:
    CVI();
    ~CVI();
    CVI(const CVI&) = delete;
    CVI& operator=(const CVI&) = delete;
    int VI_init(int dev, int chn);
    int VI_set_intf_mode(int mode, int scan);
    int VI_set_resolution(int rate, int w, int h);
    int VI_set_mipi_attr(ot_mipi_dev_attr* attr);
    int VI_Start_mipi();
    int VI_StartDev();
    int VI_StartChn();
    int VI_StopChn();
    int VI_StopDev();

  private:
    ViRecord* m_rec;
};

// Picture and motion-vector buffer sizes of a decoder channel (0 when unsupported).
unsigned VDEC_pic_size(int payload, unsigned w, unsigned h, int bit_width_code);
unsigned VDEC_tmv_size(int payload, unsigned w, unsigned h);

class CVDecode {
  public:
    CVDecode();
    ~CVDecode();
    CVDecode(const CVDecode&) = delete;
    CVDecode& operator=(const CVDecode&) = delete;
    int VDEC_init(int chn);
    int VDEC_set_decode_type(int payload, int mode);
    int VDEC_set_resolution(int w, int h);
    // Chooses the motion-vector buffer switch (1 = no motion-vector pool for H.264).
    void VDEC_set_tmv_switch(int off);
    int VDEC_cal_vb_size();
    int VDEC_config_vb_pool();
    int vdec_init_vb_pool();
    int VDEC_Start();
    int VDEC_StartRecv();
    int VDEC_StopRecv();
    int VDEC_ResetChn();
    int VDEC_Stop();
    int VDEC_SendStream(const _MEDIA_FRAME_COMM_INFO* info);

  private:
    VdecRecord* m_rec;
};

class CVEncode {
  public:
    CVEncode();
    ~CVEncode();
    CVEncode(const CVEncode&) = delete;
    CVEncode& operator=(const CVEncode&) = delete;
    int VENC_init(int chn);
    int VENC_set_resolution(int w, int h, int rate);
    int VENC_set_encode_type(int payload);
    int VENC_set_bitrate(int mbps);
    // While started: the running channel's rate changes (a dynamic attribute of the platform).
    int VENC_set_bitrate_kbps(int kbps);
    int VENC_start();
    int VENC_SetEncodeAttr();
    int VENC_stop();
    int VENC_GetFd();
    int VENC_CloseFd();
    // The next picture an IDR (a receiver that just joined can show it).
    int VENC_RequestIDR(int instant);
    // One encoded picture as a new frame chain, or null; adds its size to *total.
    // Blocks while the platform hands the picture over. Caller frees the frame.
    frame_buff* VENC_GetStream(int* total);

  private:
    VencRecord* m_rec;
};

class CHDMI {
  public:
    CHDMI();
    ~CHDMI();
    CHDMI(const CHDMI&) = delete;
    CHDMI& operator=(const CHDMI&) = delete;
    int HDMI_init(int id);
    int HDMI_SetType(int sync, int rate, int width);
    int HDMI_Start();
    int HDMI_Change();
    int HDMI_Stop();

  private:
    HdmiRecord* m_rec;
};
