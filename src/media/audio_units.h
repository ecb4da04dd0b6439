// Wrappers of the platform's audio units: capture (CAI), playback (CAO) and the encoder and
// decoder channels (CAEncode, CADecode). Same rules as the video units: one zeroed record each,
// created and indexed by the facade, one caller thread per unit.
#pragma once
#include "mpi/mpi_types.h"
#include <cstdint>

struct AiRecord;
struct AoRecord;
struct AencRecord;
struct AdecRecord;

class CAI {
  public:
    CAI();
    ~CAI();
    CAI(const CAI&) = delete;
    CAI& operator=(const CAI&) = delete;
    int AI_InitAttr(int dev, int chn);
    int AI_SetAudio(int rate, int width, int payload);
    int AI_Start();
    int AI_Stop();
    int AI_SetDepth(int depth);
    int AI_GetFd();
    // Blocks until the next captured frame (timeout -1).
    int AI_GetFrame(ot_audio_frame* frame);
    int AI_ReleaseFrame(ot_audio_frame* frame);
    int AI_BindAENC(int aenc_chn);
    int AI_UnBindAENC(int aenc_chn);
    int AI_BindAO(int ao_dev, int ao_chn);
    int AI_UnBindAO(int ao_dev, int ao_chn);
    int AI_GetSoundmode() const;
    int AI_GetBitWidth() const;
    // Audio-quality processing: enable, kind (1 record, 2 talk).
    void AI_SetVqe(int enable, int kind);

  private:
    AiRecord* m_rec;
};

class CAO {
  public:
    CAO();
    ~CAO();
    CAO(const CAO&) = delete;
    CAO& operator=(const CAO&) = delete;
    int AO_InitAttr(int dev, int chn);
    int AO_SetAudio(int in_rate, int out_rate, int width, int payload);
    int AO_Start();
    int AO_Stop();

  private:
    AoRecord* m_rec;
};

class CAEncode {
  public:
    CAEncode();
    ~CAEncode();
    CAEncode(const CAEncode&) = delete;
    CAEncode& operator=(const CAEncode&) = delete;
    int AENC_InitAttr(int chn);
    int AENC_SetAudio(int payload);
    int AENC_Start();
    int AENC_Stop();
    int AENC_GetFd();
    int AENC_GetStream(ot_audio_stream* stream);
    int AENC_ReleaseFrame(ot_audio_stream* stream);

  private:
    AencRecord* m_rec;
};

class CADecode {
  public:
    CADecode();
    ~CADecode();
    CADecode(const CADecode&) = delete;
    CADecode& operator=(const CADecode&) = delete;
    int ADEC_InitAttr(int chn);
    int ADEC_SetAudio(int payload);
    int ADEC_Start();
    int ADEC_Stop();
    int ADEC_BindAO(int ao_dev, int ao_chn);
    int ADEC_UnBindAO(int ao_dev, int ao_chn);
    int ADEC_SendStream(uint8_t* data, uint32_t len);

  private:
    AdecRecord* m_rec;
};
