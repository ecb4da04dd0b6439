// The facade's audio unit methods.
#include "media/codec.h"

int CCodec::AI_Create(int dev, int chn) {
    return Create(m_ai, MEDIA_KIND_AI, dev, chn, "AI_Create",
                  [&](CAI& u) { return u.AI_InitAttr(dev, chn); });
}
int CCodec::AI_SetAudio(int dev, int chn, int rate, int width, int payload) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_SetAudio");
    return u ? u->AI_SetAudio(rate, width, payload) : -1;
}
int CCodec::AI_Start(int dev, int chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_Start");
    return u ? u->AI_Start() : -1;
}
int CCodec::AI_Stop(int dev, int chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_Stop");
    return u ? u->AI_Stop() : -1;
}
int CCodec::AI_SetDepth(int dev, int chn, int depth) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_SetDepth");
    return u ? u->AI_SetDepth(depth) : -1;
}
int CCodec::AI_GetFd(int dev, int chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_GetFd");
    return u ? u->AI_GetFd() : -1;
}
int CCodec::AI_GetFrame(int dev, int chn, ot_audio_frame* frame) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_GetFrame");
    return u ? u->AI_GetFrame(frame) : -1;
}
int CCodec::AI_ReleaseFrame(int dev, int chn, ot_audio_frame* frame) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_ReleaseFrame");
    return u ? u->AI_ReleaseFrame(frame) : -1;
}
int CCodec::AI_GetSoundmode(int dev, int chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_GetSoundmode");
    return u ? u->AI_GetSoundmode() : 2;
}
int CCodec::AI_GetBitWidth(int dev, int chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_GetBitWidth");
    return u ? u->AI_GetBitWidth() : 3;
}
int CCodec::AI_BindAENC(int dev, int chn, int aenc_chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_BindAENC AENC");
    return u ? u->AI_BindAENC(aenc_chn) : -1;
}
int CCodec::AI_UnBindAENC(int dev, int chn, int aenc_chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_UnBindAENC AENC");
    return u ? u->AI_UnBindAENC(aenc_chn) : -1;
}
int CCodec::AI_BindAO(int dev, int chn, int ao_dev, int ao_chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_BindAO");
    return u ? u->AI_BindAO(ao_dev, ao_chn) : -1;
}
int CCodec::AI_UnBindAO(int dev, int chn, int ao_dev, int ao_chn) {
    CAI* u = Unit(m_ai, MEDIA_KIND_AI, dev, chn, "AI_UnBindAO");
    return u ? u->AI_UnBindAO(ao_dev, ao_chn) : -1;
}

int CCodec::AO_Create(int dev, int chn) {
    return Create(m_ao, MEDIA_KIND_AO, dev, chn, "AO_Create",
                  [&](CAO& u) { return u.AO_InitAttr(dev, chn); });
}
int CCodec::AO_SetAudio(int dev, int chn, int in_rate, int out_rate, int width, int payload) {
    CAO* u = Unit(m_ao, MEDIA_KIND_AO, dev, chn, "AO_SetAudio");
    return u ? u->AO_SetAudio(in_rate, out_rate, width, payload) : -1;
}
int CCodec::AO_Start(int dev, int chn) {
    CAO* u = Unit(m_ao, MEDIA_KIND_AO, dev, chn, "AO_Start");
    return u ? u->AO_Start() : -1;
}
int CCodec::AO_Stop(int dev, int chn) {
    CAO* u = Unit(m_ao, MEDIA_KIND_AO, dev, chn, "AO_Stop");
    return u ? u->AO_Stop() : -1;
}

int CCodec::AENC_Create(int chn) {
    return Create(m_aenc, MEDIA_KIND_AENC, 0, chn, "AEVC_Create",
                  [&](CAEncode& u) { return u.AENC_InitAttr(chn); });
}
int CCodec::AENC_SetAudio(int chn, int payload) {
    CAEncode* u = Unit(m_aenc, MEDIA_KIND_AENC, 0, chn, "AENC_SetAudio");
    return u ? u->AENC_SetAudio(payload) : -1;
}
int CCodec::AENC_Start(int chn) {
    CAEncode* u = Unit(m_aenc, MEDIA_KIND_AENC, 0, chn, "AENC_Start");
    return u ? u->AENC_Start() : -1;
}
int CCodec::AENC_Stop(int chn) {
    CAEncode* u = Unit(m_aenc, MEDIA_KIND_AENC, 0, chn, "AENC_Stop");
    return u ? u->AENC_Stop() : -1;
}
int CCodec::AENC_GetFd(int chn) {
    CAEncode* u = Unit(m_aenc, MEDIA_KIND_AENC, 0, chn, "AENC_GetFd");
    return u ? u->AENC_GetFd() : -1;
}
int CCodec::AENC_GetStream(int chn, ot_audio_stream* stream) {
    CAEncode* u = Unit(m_aenc, MEDIA_KIND_AENC, 0, chn, "AENC_GetStream");
    return u ? u->AENC_GetStream(stream) : -1;
}
int CCodec::AENC_ReleaseFrame(int chn, ot_audio_stream* stream) {
    CAEncode* u = Unit(m_aenc, MEDIA_KIND_AENC, 0, chn, "AENC_ReleaseFrame");
    return u ? u->AENC_ReleaseFrame(stream) : -1;
}

int CCodec::ADEC_Create(int chn) {
    return Create(m_adec, MEDIA_KIND_ADEC, 0, chn, "ADEC_Create",
                  [&](CADecode& u) { return u.ADEC_InitAttr(chn); });
}
int CCodec::ADEC_SetAudio(int chn, int payload) {
    CADecode* u = Unit(m_adec, MEDIA_KIND_ADEC, 0, chn, "ADEC_SetAudio");
    return u ? u->ADEC_SetAudio(payload) : -1;
}
int CCodec::ADEC_Start(int chn) {
    CADecode* u = Unit(m_adec, MEDIA_KIND_ADEC, 0, chn, "ADEC_Start");
    return u ? u->ADEC_Start() : -1;
}
int CCodec::ADEC_Stop(int chn) {
    CADecode* u = Unit(m_adec, MEDIA_KIND_ADEC, 0, chn, "ADEC_Stop");
    return u ? u->ADEC_Stop() : -1;
}
int CCodec::ADEC_BindAO(int chn, int ao_dev, int ao_chn) {
    CADecode* u = Unit(m_adec, MEDIA_KIND_ADEC, 0, chn, "ADEC_BindAO");
    return u ? u->ADEC_BindAO(ao_dev, ao_chn) : -1;
}
int CCodec::ADEC_UnBindAO(int chn, int ao_dev, int ao_chn) {
    CADecode* u = Unit(m_adec, MEDIA_KIND_ADEC, 0, chn, "ADEC_UnBindAO");
    return u ? u->ADEC_UnBindAO(ao_dev, ao_chn) : -1;
}
int CCodec::ADEC_SendStream(int chn, uint8_t* data, uint32_t len) {
    CADecode* u = Unit(m_adec, MEDIA_KIND_ADEC, 0, chn, "ADEC_SendStream");
    return u ? u->ADEC_SendStream(data, len) : -1;
}
