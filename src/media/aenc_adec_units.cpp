// Audio encoder and decoder channels (created on a TX, never started on the system's roads).
#include "media/audio_units.h"
#include "mpi/mpi.h"
#include <cstdio>

namespace {
// Payload-specific codec values; false for a payload the channels do not take.
bool codec_block(int payload, int rate, int value_a, int value_b, int32_t codec[6]) {
    for (int i = 0; i < 6; ++i)
        codec[i] = 0;
    switch (payload) {
    case OT_PT_G711A:
    case OT_PT_G711U:
    case OT_PT_G726:
    case OT_PT_LPCM:
        return true;
    case OT_PT_ADPCMA:
        codec[0] = 7;
        return true;
    case OT_PT_AAC:
        codec[0] = rate;
        codec[1] = OT_AUDIO_BIT_WIDTH_16;
        codec[2] = 0; // mono
        codec[3] = value_a;
        codec[4] = value_b;
        return true;
    default:
        return false;
    }
}
} // namespace

struct AencRecord {
    int payload;
    int buf_size;
    int codec_rate;
    int codec_a, codec_b;
    int timeout;
    int chn;
};

CAEncode::CAEncode() : m_rec(new AencRecord{OT_PT_G711A, 30, 32000, 0, 1, -1, 0}) {}
CAEncode::~CAEncode() {
    delete m_rec;
}

int CAEncode::AENC_InitAttr(int chn) {
    m_rec->chn = chn;
    return 0;
}

int CAEncode::AENC_SetAudio(int payload) {
    m_rec->payload = payload;
    return 0;
}

int CAEncode::AENC_Start() {
    ot_aenc_chn_attr a{};
    a.type = m_rec->payload;
    a.point_num_per_frame = m_rec->payload == OT_PT_AAC ? 1024 : 480;
    a.buf_size = static_cast<uint32_t>(m_rec->buf_size);
    if (!codec_block(m_rec->payload, m_rec->codec_rate, m_rec->codec_a, m_rec->codec_b, a.codec)) {
        std::printf("%s: invalid aenc payload type:%d\n", "AENC_Start", m_rec->payload);
        return -1;
    }
    const int ret = ss_mpi_aenc_create_chn(m_rec->chn, &a);
    if (ret != 0) {
        std::printf("%s: ss_mpi_aenc_create_chn(%d) failed with %#x!\n", "AENC_Start", m_rec->chn,
                    ret);
        return ret;
    }
    return 0;
}

int CAEncode::AENC_Stop() {
    return ss_mpi_aenc_destroy_chn(m_rec->chn);
}

int CAEncode::AENC_GetFd() {
    return ss_mpi_aenc_get_fd(m_rec->chn);
}

int CAEncode::AENC_GetStream(ot_audio_stream* stream) {
    const int ret = ss_mpi_aenc_get_stream(m_rec->chn, stream, m_rec->timeout);
    if (ret != 0) {
        std::printf("AENC_GetStream fail!\n");
        return ret;
    }
    return 0;
}

int CAEncode::AENC_ReleaseFrame(ot_audio_stream* stream) {
    const int ret = ss_mpi_aenc_release_stream(m_rec->chn, stream);
    if (ret != 0) {
        std::printf("AENC_ReleaseFrame fail!\n");
        return ret;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------

struct AdecRecord {
    int payload;
    int buf_size;
    int chn;
    int codec;
    int block;
};

CADecode::CADecode() : m_rec(new AdecRecord{OT_PT_G711A, 20, 0, 0, 1}) {}
CADecode::~CADecode() {
    delete m_rec;
}

int CADecode::ADEC_InitAttr(int chn) {
    m_rec->chn = chn;
    return 0;
}

int CADecode::ADEC_SetAudio(int payload) {
    m_rec->payload = payload;
    return 0;
}

int CADecode::ADEC_Start() {
    ot_adec_chn_attr a{};
    a.type = m_rec->payload;
    a.buf_size = static_cast<uint32_t>(m_rec->buf_size);
    a.mode = m_rec->codec;
    if (!codec_block(m_rec->payload, 0, 0, 0, a.codec)) {
        std::printf("%s: invalid aenc payload type:%d\n", "ADEC_Start", m_rec->payload);
        return -1;
    }
    const int ret = ss_mpi_adec_create_chn(m_rec->chn, &a);
    if (ret != 0) {
        std::printf("%s: ss_mpi_adec_create_chn(%d) failed with %#x!\n", "ADEC_Start", m_rec->chn,
                    ret);
        return ret;
    }
    return 0;
}

int CADecode::ADEC_Stop() {
    return ss_mpi_adec_destroy_chn(m_rec->chn);
}

int CADecode::ADEC_BindAO(int ao_dev, int ao_chn) {
    const ot_mpp_chn src{OT_ID_ADEC, 0, m_rec->chn};
    const ot_mpp_chn dst{OT_ID_AO, ao_dev, ao_chn};
    return ss_mpi_sys_bind(&src, &dst);
}

int CADecode::ADEC_UnBindAO(int ao_dev, int ao_chn) {
    const ot_mpp_chn src{OT_ID_ADEC, 0, m_rec->chn};
    const ot_mpp_chn dst{OT_ID_AO, ao_dev, ao_chn};
    return ss_mpi_sys_unbind(&src, &dst);
}

int CADecode::ADEC_SendStream(uint8_t* data, uint32_t len) {
    ot_audio_stream s{};
    s.stream = data;
    s.len = len;
    const int ret = ss_mpi_adec_send_stream(m_rec->chn, &s, m_rec->block);
    if (ret != 0) {
        std::printf("%s: ss_mpi_adec_send_stream(%d) failed with %#x!\n", "ADEC_SendStream",
                    m_rec->chn, ret);
        return -1;
    }
    return 0;
}
