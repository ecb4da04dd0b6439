// Placeholder until the encode tasks land: the facade can read the device numbers.
#include "encode/video_encoder_task.h"

CVideoEncoderTask* g_pTaskVENC = nullptr;

CVideoEncoderTask::CVideoEncoderTask(int venc_chn, int sdi_dev, int sdi_chn, int hdmi_dev,
                                     int hdmi_chn)
    : m_sdiDev(sdi_dev), m_sdiChn(sdi_chn), m_hdmiDev(hdmi_dev), m_hdmiChn(hdmi_chn),
      m_vencChn(venc_chn) {}

int Quendor_Init_enVideo_Task() {
    if (!g_pTaskVENC) g_pTaskVENC = new CVideoEncoderTask(0, 0, 0, 3, 12);
    return 0;
}
int Quendor_Start_enVideo_Task(INPUTER_MODE_e) { return 0; }
int Quendor_Init_enAudio_Task() { return 0; }
