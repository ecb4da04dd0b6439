// The TX video encode task: takes encoded pictures from the encoder channel and fans each out
// to up to three consumer lists (one per connected receiver).
#pragma once
#include <atomic>
#include <cstdint>
#include "core/frame.h"

enum INPUTER_MODE_e { INPUTER_NONE = 0, INPUTER_SDI = 1, INPUTER_HDMI = 2 };

class CVideoEncoderTask {
public:
    CVideoEncoderTask(int venc_chn, int sdi_dev, int sdi_chn, int hdmi_dev, int hdmi_chn);

    int SetFrameListLength(int n);
    frame_buff_head* GetFrameHead();
    void ReleaseFrameHead(frame_buff_head* list);
    int PutStreamToList(frame_buff* frame);
    int GetStream();
    int GetEncFd();
    void CloseEncFd();

    int GetSdiDev() const { return m_sdiDev; }
    int GetSdiChn() const { return m_sdiChn; }
    int GetHdmiDev() const { return m_hdmiDev; }
    int GetHdmiChn() const { return m_hdmiChn; }
    int GetVenchn() const { return m_vencChn; }

private:
    int m_encFd = -1;
    int m_frameBits = 0;
    int m_listLimit = 100;
    int m_sdiDev;
    int m_sdiChn;
    int m_hdmiDev;
    int m_hdmiChn;
    int m_vencChn;
    frame_buff_head m_lists[3];
    uint8_t m_inUse[3] = {};
};

extern CVideoEncoderTask* g_pTaskVENC;

int Quendor_Init_enVideo_Task();
int Quendor_Start_enVideo_Task(INPUTER_MODE_e mode);
