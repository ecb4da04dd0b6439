// Media platform facade: the CCodec object that owns every unit wrapper, the INTF_ functions
// the tasks call, and the TX input switching. The facade has no lock: video output and decoder
// calls come from the RX decode task's thread, encoder and capture calls from the TX tasks and
// input detectors; only audio_en is guarded (audio_mutex).
#pragma once
#include "core/frame.h"
#include "media/audio_units.h"
#include "media/media_types.h"
#include "media/video_units.h"
#include "mpi/mpi_types.h"
#include <atomic>
#include <cstdint>
#include <pthread.h>

extern std::atomic<uint8_t> VencEn; // 1 while the encoder runs
extern std::atomic<int> audio_en;   // audio capture command, written under audio_mutex
extern pthread_mutex_t audio_mutex;

// Unit kinds, in the order of the facade's limits table.
enum MEDIA_KIND_E {
    MEDIA_KIND_AI = 0,
    MEDIA_KIND_AO = 1,
    MEDIA_KIND_AENC = 2,
    MEDIA_KIND_ADEC = 3,
    MEDIA_KIND_VI = 4,
    MEDIA_KIND_VO = 5,
    MEDIA_KIND_VENC = 6,
    MEDIA_KIND_VDEC = 7,
    MEDIA_KIND_VPSS = 8,
    MEDIA_KIND_HDMI = 9,
    MEDIA_KIND_COUNT = 10,
};

// Brings the platform's system layer and its shared picture pools up and down.
class CMAL {
  public:
    virtual ~CMAL() = default;
    virtual int InitMPPSystem();
    virtual int ExitMPPSystem();
};

// Size of one uncompressed picture by the platform's picture-buffer rule.
uint32_t MAL_PicBufferSize(uint32_t w, uint32_t h, int pixel_format, uint32_t align);

class CCodec : public CMAL {
  public:
    static constexpr int kDevLimit[MEDIA_KIND_COUNT] = {2, 2, -1, -1, 4, 35, -1, -1, 256, -1};
    static constexpr int kChnLimit[MEDIA_KIND_COUNT] = {20, 9, 49, 32, 16, 64, 128, 128, 4, 2};

    CCodec();
    ~CCodec() override;
    CCodec(const CCodec&) = delete;
    CCodec& operator=(const CCodec&) = delete;

    int InitMPP();
    int ExitMPP();
    int CheckDate(int kind, int dev, int chn);
    int CheckDate(int kind, int chn);
    int SetResolution(int sync, int intf, int rate, int w, int h);
    int MemConfig();
    int StartVPSS(int grp);
    int StopVPSS(int grp);

    int VENC_Create(int chn);
    int VENC_SetEncodeType(int chn, int payload);
    int VENC_SetBitrate(int chn, int mbps);
    int VENC_SetBitrateKbps(int chn, int kbps);
    int VENC_SetEncodeAttr(int chn);
    int VENC_Start(int chn);
    int VENC_Stop(int chn);
    int VENC_Destroy(int chn);
    int VENC_GetFd(int chn);
    int VENC_CloseFd(int chn);
    int VENC_RequestIDR(int chn, int instant);
    frame_buff* VENC_GetStream(int chn, int* total);

    int VI_Create(int dev, int chn);
    int VI_Set_Intf_Mode(int dev, int chn, int mode, int scan);
    int VI_Start(int dev, int chn);
    int VI_Stop(int dev, int chn);

    int VDEC_Create(int chn);
    int VDEC_SetDecodeType(int chn, int payload, int mode);
    int VDEC_Start(int chn);
    int VDEC_StartRecv(int chn);
    int VDEC_StopRecv(int chn);
    int VDEC_ResetChn(int chn);
    int VDEC_SendStream(int chn, const _MEDIA_FRAME_COMM_INFO* info);
    int VDEC_Stop(int chn);

    int VO_Create(int dev, int chn, int layer);
    int VO_Start(int dev, int chn);
    int VO_StartLayer(int dev, int chn);
    int VO_StartChn(int dev, int chn);
    int VO_Stop(int dev, int chn);
    int VO_StopLayer(int dev, int chn);
    int VO_StopChn(int dev, int chn);

    int HDMI_Create(int id);
    int HDMI_SetType(int id, int sync, int rate, int width);
    int HDMI_Start(int id);
    int HDMI_Change(int id);
    int HDMI_Stop(int id);

    int AI_Create(int dev, int chn);
    int AI_SetAudio(int dev, int chn, int rate, int width, int payload);
    int AI_Start(int dev, int chn);
    int AI_Stop(int dev, int chn);
    int AI_SetDepth(int dev, int chn, int depth);
    int AI_GetFd(int dev, int chn);
    int AI_GetFrame(int dev, int chn, ot_audio_frame* frame);
    int AI_ReleaseFrame(int dev, int chn, ot_audio_frame* frame);
    int AI_GetSoundmode(int dev, int chn);
    int AI_GetBitWidth(int dev, int chn);
    int AI_BindAENC(int dev, int chn, int aenc_chn);
    int AI_UnBindAENC(int dev, int chn, int aenc_chn);
    int AI_BindAO(int dev, int chn, int ao_dev, int ao_chn);
    int AI_UnBindAO(int dev, int chn, int ao_dev, int ao_chn);

    int AO_Create(int dev, int chn);
    int AO_SetAudio(int dev, int chn, int in_rate, int out_rate, int width, int payload);
    int AO_Start(int dev, int chn);
    int AO_Stop(int dev, int chn);

    int AENC_Create(int chn);
    int AENC_SetAudio(int chn, int payload);
    int AENC_Start(int chn);
    int AENC_Stop(int chn);
    int AENC_GetFd(int chn);
    int AENC_GetStream(int chn, ot_audio_stream* stream);
    int AENC_ReleaseFrame(int chn, ot_audio_stream* stream);

    int ADEC_Create(int chn);
    int ADEC_SetAudio(int chn, int payload);
    int ADEC_Start(int chn);
    int ADEC_Stop(int chn);
    int ADEC_BindAO(int chn, int ao_dev, int ao_chn);
    int ADEC_UnBindAO(int chn, int ao_dev, int ao_chn);
    int ADEC_SendStream(int chn, uint8_t* data, uint32_t len);

    // The name of the operation in progress ("" after a passed index check).
    const char* OperationName() const { return m_opName; }

  private:
    void SetOp(const char* name);
    // Names the operation, checks the indices and returns the slot, or null after a failed check.
    template <class T> T** Slot(T** table, int kind, int dev, int chn, const char* op) {
        SetOp(op);
        const int ok = kDevLimit[kind] < 0 ? CheckDate(kind, chn) : CheckDate(kind, dev, chn);
        if (ok != 0)
            return nullptr;
        return &table[(kDevLimit[kind] < 0 ? 0 : dev) * kChnLimit[kind] + chn];
    }
    // The existing wrapper in a slot, or null (bad index or not created).
    template <class T> T* Unit(T** table, int kind, int dev, int chn, const char* op) {
        T** s = Slot(table, kind, dev, chn, op);
        return s ? *s : nullptr;
    }
    // The existing encoder or output, told the current picture size and rate first.
    CVEncode* SizedVenc(int chn, const char* op);
    CVO* SizedVo(int dev, int chn, const char* op);
    // Creates the wrapper of a slot on first use and hands it to init.
    template <class T, class Init>
    int Create(T** table, int kind, int dev, int chn, const char* op, Init init) {
        T** s = Slot(table, kind, dev, chn, op);
        if (s == nullptr)
            return -1;
        if (*s == nullptr)
            *s = new T();
        return init(**s);
    }

    uint8_t m_flagA = 1;
    uint8_t m_flagB = 1;
    // Per calling thread: the encoder read-out and the input detectors use the facade at once.
    static thread_local char m_opName[31];
    int m_sync = OT_VO_OUT_BUTT;
    int m_intf = 96;
    int m_rate = 0;
    int m_width = 0;
    int m_height = 0;
    CAI* m_ai[2 * 20] = {};
    CAO* m_ao[2 * 9] = {};
    CAEncode* m_aenc[49] = {};
    CADecode* m_adec[32] = {};
    CVI* m_vi[4 * 16] = {};
    CVO* m_vo[35 * 64] = {};
    CVEncode* m_venc[128] = {};
    CVDecode* m_vdec[128] = {};
    CHDMI* m_hdmi[2] = {};
    // One flag per device so that several channels start and stop it once. Sized to the
    // device limits so that any index the check lets through has a flag.
    uint8_t m_viDevStarted[4] = {};
    uint8_t m_voDevStarted[35] = {};
};

extern CCodec* g_pCodec;

int INTF_CodecInit();
int INTF_CodecExit();
int INTF_SetResolution(int sync, int intf, int rate, int w, int h);

int INTF_VENC_Create(int chn);
int INTF_VENC_SetEncodeType(int chn, int payload);
int INTF_VENC_SetBitrate(int chn, int mbps);
// The channel's bit rate in kbit/s: a running channel takes it from its next picture on; a
// later start takes it too unless INTF_VENC_SetBitrate comes first. The encode stream thread.
int INTF_VENC_SetBitrateKbps(int chn, int kbps);
int INTF_VENC_SetEncodeAttr(int chn);
int INTF_VENC_Start(int chn);
int INTF_VENC_Stop(int chn);
int INTF_VENC_Destroy(int chn);
int INTF_VENC_GetFd(int chn);
int INTF_VENC_CloseFd(int chn);
// Asks the encoder channel for an IDR picture (instant 1: the next one).
int INTF_VENC_RequestIDR(int chn, int instant);
// A new frame holding one encoded picture, or null; writes the picture's size to *size.
frame_buff* INTF_VENC_GetStream(int chn, int* size);
int INTF_VENC_QueryVideoLost(int chn);
int INTF_VENC_ChangeResolution(int chn);

int INTF_VI_Create(int dev, int chn);
int INTF_VI_Set_Intf_Mode(int dev, int chn, int mode, int scan);
int INTF_VI_Start(int dev, int chn);
int INTF_VI_Stop(int dev, int chn);

int INTF_VDEC_Create(int chn);
int INTF_VDEC_SetDecodeType(int chn, int payload, int mode);
int INTF_VDEC_Start(int chn);
int INTF_VDEC_StartRecv(int chn);
int INTF_VDEC_StopRecv(int chn);
int INTF_VDEC_ResetChn(int chn);
int INTF_VDEC_SendStream(int chn, const _MEDIA_FRAME_COMM_INFO* info);
int INTF_VDEC_Stop(int chn);

int INTF_VO_Create(int dev, int chn, int layer);
int INTF_VO_Start(int dev, int chn);
int INTF_VO_StartLayer(int dev, int chn);
int INTF_VO_StartChn(int dev, int chn);
int INTF_VO_Stop(int dev, int chn);
int INTF_VO_StopLayer(int dev, int chn);
int INTF_VO_StopChn(int dev, int chn);

int INTF_HDMI_Create(int id);
int INTF_HDMI_SetType(int id, int sync, int rate, int width);
int INTF_HDMI_Start(int id);
int INTF_HDMI_Change(int id);
int INTF_HDMI_Stop(int id);

int INTF_AI_Create(int dev, int chn);
int INTF_AI_SetAudio(int dev, int chn, int rate, int width, int payload);
int INTF_AI_Start(int dev, int chn);
int INTF_AI_Stop(int dev, int chn);
int INTF_AI_SetDepth(int dev, int chn, int depth);
int INTF_AI_GetFd(int dev, int chn);
int INTF_AI_GetFrame(int dev, int chn, ot_audio_frame* frame);
int INTF_AI_ReleaseFrame(int dev, int chn, ot_audio_frame* frame);
int INTF_AI_GetSoundmode(int dev, int chn);
int INTF_AI_GetBitWidth(int dev, int chn);
int INTF_AI_BIND_AENC(int dev, int chn, int aenc_chn);
int INTF_AI_UnBIND_AENC(int dev, int chn, int aenc_chn);
int INTF_AI_BindAO(int dev, int chn, int ao_dev, int ao_chn);
int INTF_AI_UnBindAO(int dev, int chn, int ao_dev, int ao_chn);

int INTF_AO_Create(int dev, int chn);
int INTF_AO_SetAudio(int dev, int chn, int in_rate, int out_rate, int width, int payload);
int INTF_AO_Start(int dev, int chn);
int INTF_AO_Stop(int dev, int chn);

int INTF_AENC_Create(int chn);
int INTF_AENC_SetAudio(int chn, int payload);
int INTF_AENC_Start(int chn);
int INTF_AENC_Stop(int chn);
int INTF_AENC_GetFd(int chn);
int INTF_AENC_GetStream(int chn, ot_audio_stream* stream);
int INTF_AENC_ReleaseFrame(int chn, ot_audio_stream* stream);

int INTF_ADEC_Create(int chn);
int INTF_ADEC_SetAudio(int chn, int payload);
int INTF_ADEC_Start(int chn);
int INTF_ADEC_Stop(int chn);
int INTF_ADEC_BindAO(int chn, int ao_dev, int ao_chn);
int INTF_ADEC_UnBindAO(int chn, int ao_dev, int ao_chn);
int INTF_ADEC_SendStream(int chn, uint8_t* data, uint32_t len);

// Binds (srcMod, srcDev, srcChn) to (dstMod, dstDev, dstChn); returns the platform's code.
int INTF_SYS_BIND(int src_mod, int src_dev, int src_chn, int dst_mod, int dst_dev, int dst_chn);
int INTF_SYS_UNBIND(int src_mod, int src_dev, int src_chn, int dst_mod, int dst_dev, int dst_chn);

// TX input switching (HDMI detector, SDI monitor, parameter task).
void hdmi_turn_on_video();
void hdmi_turn_off_video();
void sdi_turn_on_video();
void sdi_turn_off_video();
void hdmi_turn_on_audio();
void hdmi_turn_off_audio();
void sdi_turn_on_audio();
void sdi_turn_off_audio();
void audio_restart();
void audio_sdi_form_hdmi();
