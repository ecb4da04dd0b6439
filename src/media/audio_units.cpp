// Audio input and output devices, encoder and decoder channels.
#include "media/audio_units.h"
#include "media/media_log.h"
#include "mpi/mpi.h"
#include <cstdio>

namespace {
constexpr int kResampleRate = 44100;
constexpr int kAacFrame = 1024;

int bind(int smod, int sdev, int schn, int dmod, int ddev, int dchn, bool on) {
    const ot_mpp_chn src{smod, sdev, schn};
    const ot_mpp_chn dst{dmod, ddev, dchn};
    return on ? ss_mpi_sys_bind(&src, &dst) : ss_mpi_sys_unbind(&src, &dst);
}
} // namespace

// What the input and output devices keep alike.
struct AioRecord {
    AioRecord(int work_mode_, int i2s_type_) : work_mode(work_mode_), i2s_type(i2s_type_) {}
    ot_aio_attr pub_attr(uint32_t pcm_points) const {
        ot_aio_attr a{};
        a.sample_rate = sample_rate;
        a.bit_width = bit_width;
        a.work_mode = work_mode;
        a.snd_mode = snd_mode;
        a.expand_flag = static_cast<uint32_t>(expand_flag);
        a.frame_num = 30;
        a.point_num_per_frame = payload == OT_PT_AAC ? kAacFrame : pcm_points;
        a.chn_cnt = static_cast<uint32_t>(chn_cnt);
        a.clk_share = static_cast<uint32_t>(clk_share);
        a.i2s_type = static_cast<uint32_t>(i2s_type);
        return a;
    }
    int sample_rate = 48000;
    int resample_wanted = 1, resample_active = 0;
    int work_mode;
    int expand_flag = 1;
    int payload = OT_PT_G711A;
    int chn_cnt = 1;
    int clk_share = 0;
    int i2s_type;
    int snd_mode = 0, bit_width = 1;
    int dev = 0, chn = 0;
    int timeout = -1;
};

struct AiRecord : AioRecord {
    AiRecord() : AioRecord(1, 2) {}
    int resample_rate = kResampleRate;
    int vqe_enable = 0, vqe_kind = 0;
};

CAI::CAI() : m_rec(new AiRecord) {}

CAI::~CAI() {
    delete m_rec;
}

int CAI::AI_InitAttr(int dev, int chn) {
    m_rec->dev = dev;
    m_rec->chn = chn;
    return 0;
}

int CAI::AI_SetAudio(int rate, int width, int payload) {
    m_rec->sample_rate = rate;
    m_rec->bit_width = width;
    m_rec->payload = payload;
    return 0;
}

void CAI::AI_SetVqe(int enable, int kind) {
    m_rec->vqe_enable = enable;
    m_rec->vqe_kind = kind;
}

int CAI::AI_Start() {
    AiRecord& r = *m_rec;
    const ot_aio_attr a = r.pub_attr(static_cast<uint32_t>(r.sample_rate * 512 / r.resample_rate));
    int ret = ss_mpi_ai_set_pub_attr(r.dev, &a);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ai_set_pub_attr(%d) failed with %#x\n", "AI_Start", r.dev, ret);
        return ret;
    }
    ret = ss_mpi_ai_enable(r.dev);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ai_enable(%d) failed with %#x\n", "AI_Start", r.dev, ret);
        return ret;
    }
    ret = ss_mpi_ai_enable_chn(r.dev, r.chn);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ai_enable_chn(%d,%d) failed with %#x\n", "AI_Start", r.dev, r.chn,
                    ret);
        return ret;
    }
    if (r.resample_wanted && r.resample_rate != r.sample_rate) {
        r.resample_active = 1;
        ret = ss_mpi_ai_enable_resample(r.dev, r.chn, kResampleRate);
        if (ret != 0) {
            std::printf("%s: ss_mpi_ai_enable_re_smp(%d,%d) failed with %#x\n", "AI_Start", r.dev,
                        r.chn, ret);
            return ret;
        }
    }
    if (r.vqe_enable) {
        bool wanted = false;
        if (r.vqe_kind == 1) {
            ot_ai_record_vqe_cfg cfg{};
            cfg.work_sample_rate = r.sample_rate;
            cfg.frame_sample = static_cast<int32_t>(a.point_num_per_frame);
            ret = ss_mpi_ai_set_record_vqe_attr(r.dev, r.chn, &cfg);
            wanted = cfg.open_mask != 0;
        } else if (r.vqe_kind == 2) {
            ot_ai_talk_vqe_cfg cfg{};
            cfg.work_sample_rate = r.sample_rate;
            cfg.frame_sample = static_cast<int32_t>(a.point_num_per_frame);
            ret = ss_mpi_ai_set_talk_vqe_attr(r.dev, r.chn, 0, 0, &cfg);
            wanted = cfg.open_mask != 0;
        } else {
            ret = -1;
        }
        if (ret != 0) {
            std::printf("%s: set_ai_vqe(%d,%d) failed with %#x\n", "AI_Start", r.dev, r.chn, ret);
            return ret;
        }
        if (wanted) {
            ret = ss_mpi_ai_enable_vqe(r.dev, r.chn);
            if (ret != 0) {
                std::printf("%s: ss_mpi_ai_enable_vqe(%d,%d) failed with %#x\n", "AI_Start", r.dev,
                            r.chn, ret);
                return ret;
            }
        }
    }
    return 0;
}

#define AI_STOP_FAIL() std::printf("[func]:%s [line]:%d [info]:%s\n", "AI_Stop", __LINE__, "failed")

int CAI::AI_Stop() {
    AiRecord& r = *m_rec;
    int ret = 0;
    if (r.resample_active) {
        r.resample_active = 0;
        ret = ss_mpi_ai_disable_resample(r.dev, r.chn);
        if (ret != 0) {
            AI_STOP_FAIL();
            return ret;
        }
    }
    if (r.vqe_enable) {
        ret = ss_mpi_ai_disable_vqe(r.dev, r.chn);
        if (ret != 0) {
            AI_STOP_FAIL();
            return ret;
        }
    }
    ret = ss_mpi_ai_disable_chn(r.dev, r.chn);
    if (ret != 0) {
        AI_STOP_FAIL();
        return ret;
    }
    ret = ss_mpi_ai_disable(r.dev);
    if (ret != 0) {
        AI_STOP_FAIL();
        return ret;
    }
    return 0;
}

int CAI::AI_SetDepth(int depth) {
    ot_ai_chn_param p{};
    int ret = ss_mpi_ai_get_chn_param(m_rec->dev, m_rec->chn, &p);
    if (ret != 0) {
        std::printf("get ai chn param fail, reason = %x", static_cast<unsigned>(ret));
        return ret;
    }
    p.usr_frame_depth = static_cast<uint32_t>(depth);
    ret = ss_mpi_ai_set_chn_param(m_rec->dev, m_rec->chn, &p);
    if (ret != 0) {
        std::printf("set ai chn param fail, reason = %x", static_cast<unsigned>(ret));
        return ret;
    }
    return 0;
}

int CAI::AI_GetFd() {
    return ss_mpi_ai_get_fd(m_rec->dev, m_rec->chn);
}

int CAI::AI_GetFrame(ot_audio_frame* frame) {
    ot_aec_frame aec{};
    const int ret = ss_mpi_ai_get_frame(m_rec->dev, m_rec->chn, frame, &aec, m_rec->timeout);
    if (ret != 0) {
        std::printf("ss_mpi_ai_get_frame fail , reason = %x", static_cast<unsigned>(ret));
        return -1;
    }
    return 0;
}

int CAI::AI_ReleaseFrame(ot_audio_frame* frame) {
    const ot_aec_frame aec{};
    const int ret = ss_mpi_ai_release_frame(m_rec->dev, m_rec->chn, frame, &aec);
    if (ret != 0) {
        std::printf("ss_mpi_ai_release_frame(%d, %d), fail with, reason = %x", m_rec->dev,
                    m_rec->chn, static_cast<unsigned>(ret));
        return ret;
    }
    return 0;
}

int CAI::AI_BindAENC(int aenc_chn) {
    return bind(OT_ID_AI, m_rec->dev, m_rec->chn, OT_ID_AENC, 0, aenc_chn, true);
}
int CAI::AI_UnBindAENC(int aenc_chn) {
    return bind(OT_ID_AI, m_rec->dev, m_rec->chn, OT_ID_AENC, 0, aenc_chn, false);
}
int CAI::AI_BindAO(int ao_dev, int ao_chn) {
    return bind(OT_ID_AI, m_rec->dev, m_rec->chn, OT_ID_AO, ao_dev, ao_chn, true);
}
int CAI::AI_UnBindAO(int ao_dev, int ao_chn) {
    return bind(OT_ID_AI, m_rec->dev, m_rec->chn, OT_ID_AO, ao_dev, ao_chn, false);
}
int CAI::AI_GetSoundmode() const {
    return m_rec->snd_mode;
}
int CAI::AI_GetBitWidth() const {
    return m_rec->bit_width;
}

// ---------------------------------------------------------------------------------------------

struct AoRecord : AioRecord {
    AoRecord() : AioRecord(0, 1) {}
};

CAO::CAO() : m_rec(new AoRecord) {}

CAO::~CAO() {
    delete m_rec;
}

int CAO::AO_InitAttr(int dev, int chn) {
    m_rec->dev = dev;
    m_rec->chn = chn;
    m_rec->i2s_type = dev == 0 ? 2 : 1;
    return 0;
}

int CAO::AO_SetAudio(int, int out_rate, int width, int payload) {
    m_rec->sample_rate = out_rate;
    m_rec->bit_width = width;
    m_rec->payload = payload;
    return 0;
}

int CAO::AO_Start() {
    AoRecord& r = *m_rec;
    const ot_aio_attr a = r.pub_attr(512);
    int ret = ss_mpi_ao_set_pub_attr(r.dev, &a);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ao_set_pub_attr(%d) failed with %#x!\n", "AO_Start", r.dev, ret);
        return -1;
    }
    ret = ss_mpi_ao_enable(r.dev);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ao_enable(%d) failed with %#x!\n", "AO_Start", r.dev, ret);
        return -1;
    }
    ret = ss_mpi_ao_enable_chn(r.dev, r.chn);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ao_enable_chn(%d) failed with %#x!\n", "AO_Start", r.chn, ret);
        return -1;
    }
    if (r.resample_wanted && r.sample_rate != kResampleRate) {
        r.resample_active = 1;
        ret = ss_mpi_ao_enable_resample(r.dev, r.chn, kResampleRate);
        if (ret != 0) {
            std::printf("%s: ss_mpi_ao_enable_resample(%d,%d) failed with %#x!\n", "AO_Start",
                        r.dev, r.chn, ret);
            return -1;
        }
    }
    return 0;
}

int CAO::AO_Stop() {
    AoRecord& r = *m_rec;
    int ret = 0;
    if (r.resample_active) {
        r.resample_active = 0;
        ret = ss_mpi_ao_disable_resample(r.dev, r.chn);
        if (ret != 0) {
            std::printf("%s: ss_mpi_ao_disable_re_smp failed with %#x!\n", "AO_Stop", ret);
            return ret;
        }
    }
    ret = ss_mpi_ao_disable_chn(r.dev, r.chn);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ao_disable_chn(%d) failed with %#x!\n", "AO_Stop", r.chn, ret);
        return -1;
    }
    ret = ss_mpi_ao_disable(r.dev);
    if (ret != 0) {
        std::printf("%s: ss_mpi_ao_disable failed with %#x!\n", "AO_Stop", ret);
        return ret;
    }
    return 0;
}
