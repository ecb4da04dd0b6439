// Decoder channel: buffer sizing, module pools, channel start/stop and stream sending.
#include "media/media_log.h"
#include "media/video_units.h"
#include "mpi/mpi.h"
#include <cstdio>
#include <cstring>

using hdext::media::align_down;
using hdext::media::align_up;

namespace {
constexpr int kVdecPoolModule = 4; // the decoder's module common pool
constexpr int kPoolSourceModule = 1;
constexpr int kPoolSourcePrivate = 3;

bool is_jpeg(int payload) {
    return payload == OT_PT_JPEG || payload == OT_PT_MJPEG;
}
bool is_h26x(int payload) {
    return payload == OT_PT_H264 || payload == OT_PT_H265;
}
} // namespace

struct VdecRecord {
    int chn;
    unsigned pic_size;
    unsigned tmv_size;
    int pic_pool_present, tmv_pool_present;
    ot_vb_cfg pools;
    ot_vb_pool_cfg pic_pool, tmv_pool;
    int pool_source;
    int private_pool[2];
    int dec_opt[2];
    int display_mode;
    int payload;
    int send_timeout;
    int send_mode;
    unsigned width, height;
    unsigned frame_buf_cnt;
    unsigned display_frame_num;
    int pixel_format;
    int alpha;
    int tmv_switch_off;
    unsigned ref_frame_num;
    int bit_width;
};

unsigned VDEC_pic_size(int payload, unsigned w, unsigned h, int bit_width_code) {
    if (is_h26x(payload)) {
        if (w > 4096 || h > 4096)
            return 0;
        const unsigned aw = align_up(w, 64);
        const unsigned ah = payload == OT_PT_H264 ? align_up(h, 16) : align_up(h, 64);
        unsigned size = (aw * ah + align_down((aw + 2047) / 128, 16) * ah / 2) * 3 / 2;
        if (payload == OT_PT_H265 && bit_width_code == 1)
            size += align_up(ah, 32) * align_up(2 * aw / 8, 16);
        return size;
    }
    if (is_jpeg(payload)) {
        if (w > 16384 || h > 16384)
            return 0;
        return align_up(w, 64) * align_up(h, 16) * 3 / 2;
    }
    return 0;
}

unsigned VDEC_tmv_size(int payload, unsigned w, unsigned h) {
    if (payload == OT_PT_H264 && w <= 4096 && h <= 4096)
        return align_up(((h + 15) / 16) * ((w + 15) / 16) * 64, 128);
    if (payload == OT_PT_H265 && w <= 4096 && h <= 4096)
        return align_down((h + 63) / 16, 4) * align_down((w + 63) / 16, 4) * 16;
    return 0;
}

CVDecode::CVDecode() : m_rec(new VdecRecord{}) {
    m_rec->pool_source = kPoolSourceModule;
    m_rec->private_pool[0] = m_rec->private_pool[1] = -1;
    m_rec->dec_opt[0] = 0;
    m_rec->dec_opt[1] = 1;
    m_rec->payload = OT_PT_H264;
    m_rec->send_timeout = -1;
    m_rec->send_mode = OT_VDEC_SEND_MODE_FRAME;
    m_rec->width = 1920;
    m_rec->height = 1080;
    m_rec->ref_frame_num = 5;
    m_rec->frame_buf_cnt = 6;
    m_rec->pixel_format = OT_PIXEL_FORMAT_YVU_SEMIPLANAR_420;
    m_rec->alpha = 255;
    m_rec->tmv_switch_off = 1;
}

CVDecode::~CVDecode() {
    delete m_rec;
}

int CVDecode::VDEC_init(int chn) {
    m_rec->chn = chn;
    return 0;
}

int CVDecode::VDEC_set_decode_type(int payload, int mode) {
    m_rec->payload = payload;
    m_rec->send_mode = mode;
    m_rec->ref_frame_num = is_jpeg(payload) ? 0 : 5;
    m_rec->frame_buf_cnt = m_rec->ref_frame_num + m_rec->display_frame_num + 1;
    return 0;
}

int CVDecode::VDEC_set_resolution(int, int) {
    // Every channel is sized for 1080p whatever the stream's size.
    m_rec->width = 1920;
    m_rec->height = 1080;
    return 0;
}

void CVDecode::VDEC_set_tmv_switch(int off) {
    m_rec->tmv_switch_off = off;
}

int CVDecode::VDEC_cal_vb_size() {
    m_rec->pic_size = VDEC_pic_size(m_rec->payload, m_rec->width, m_rec->height, m_rec->bit_width);
    m_rec->tmv_size = 0;
    if (m_rec->payload == OT_PT_H265 ||
        (m_rec->payload == OT_PT_H264 && m_rec->tmv_switch_off == 0))
        m_rec->tmv_size = VDEC_tmv_size(m_rec->payload, m_rec->width, m_rec->height);
    return 0;
}

int CVDecode::VDEC_config_vb_pool() {
    VDEC_cal_vb_size();
    std::memset(&m_rec->pools, 0, sizeof(m_rec->pools));
    m_rec->pic_pool = {m_rec->pic_size, m_rec->frame_buf_cnt, 0};
    m_rec->pic_pool_present = 1;
    m_rec->pools.common_pool[0] = m_rec->pic_pool;
    m_rec->tmv_pool = {};
    m_rec->tmv_pool_present = 0;
    if (m_rec->tmv_size != 0) {
        m_rec->tmv_pool = {m_rec->tmv_size, m_rec->ref_frame_num + 1, 0};
        m_rec->tmv_pool_present = 1;
        m_rec->pools.common_pool[1] = m_rec->tmv_pool;
    }
    m_rec->pools.max_pool_cnt = 2;
    return 0;
}

int CVDecode::vdec_init_vb_pool() {
    VDEC_config_vb_pool();
    if (m_rec->pool_source != kPoolSourceModule)
        return 0;
    ss_mpi_vb_exit_mod_common_pool(kVdecPoolModule);
    int ret = ss_mpi_vb_set_mod_pool_cfg(kVdecPoolModule, &m_rec->pools);
    if (ret != 0) {
        MEDIA_RED("vb set mod pool config", ret);
        return ret;
    }
    ret = ss_mpi_vb_init_mod_common_pool(kVdecPoolModule);
    if (ret != 0) {
        std::printf("vb exit mod common pool fail for 0x%x\n", static_cast<unsigned>(ret));
        ss_mpi_vb_exit_mod_common_pool(kVdecPoolModule);
        return -1;
    }
    return 0;
}

#define VDEC_RED(what, ret)                                                                        \
    std::printf("\033[0;31m%s chn %d failed at %s: LINE: %d with %#x!\033[0;39m\n", what,          \
                m_rec->chn, __func__, __LINE__, static_cast<unsigned>(ret))

int CVDecode::VDEC_Start() {
    int ret = vdec_init_vb_pool();
    if (ret != 0)
        return ret;
    const int payload = m_rec->payload;
    ot_vdec_chn_attr attr{};
    attr.payload = payload;
    attr.send_mode = is_jpeg(payload) ? OT_VDEC_SEND_MODE_FRAME : m_rec->send_mode;
    attr.width = m_rec->width;
    attr.height = m_rec->height;
    attr.stream_buf_size = m_rec->width * m_rec->height;
    attr.frame_buf_size = m_rec->pic_size;
    attr.frame_buf_cnt = m_rec->frame_buf_cnt;
    if (is_h26x(payload)) {
        attr.ref_frame_num = m_rec->ref_frame_num;
        attr.tmv_en = (payload == OT_PT_H264 && m_rec->tmv_switch_off == 1) ? 0 : 1;
    }
    ret = ss_mpi_vdec_create_chn(m_rec->chn, &attr);
    if (ret != 0) {
        VDEC_RED("vdec create chn", ret);
        return ret;
    }
    ot_vdec_chn_param param{};
    ret = ss_mpi_vdec_get_chn_param(m_rec->chn, &param);
    if (ret != 0) {
        VDEC_RED("vdec get chn param", ret);
        return ret;
    }
    if (is_h26x(payload)) {
        param.dec_opt[0] = 1;
        param.dec_opt[1] = 1;
        param.dec_opt[2] = m_rec->dec_opt[0];
        param.dec_opt[3] = m_rec->dec_opt[1];
    } else if (is_jpeg(payload)) {
        param.pixel_format = m_rec->pixel_format;
        param.alpha = m_rec->alpha;
    }
    param.display_frame_num = m_rec->display_frame_num;
    ret = ss_mpi_vdec_set_chn_param(m_rec->chn, &param);
    if (ret != 0) {
        VDEC_RED("vdec set chn param", ret);
        return ret;
    }
    ret = ss_mpi_vdec_start_recv_stream(m_rec->chn);
    if (ret != 0) {
        VDEC_RED("vdec start recv stream", ret);
        return ret;
    }
    ret = ss_mpi_vdec_set_display_mode(m_rec->chn, m_rec->display_mode);
    if (ret != 0) {
        std::printf(" !!!!  ss_mpi_vdec_set_display_mode failure ret=%#x\n",
                    static_cast<unsigned>(ret));
        return ret;
    }
    return 0;
}

int CVDecode::VDEC_StartRecv() {
    const int ret = ss_mpi_vdec_start_recv_stream(m_rec->chn);
    if (ret != 0)
        VDEC_RED("vdec start recv stream", ret);
    return ret;
}

int CVDecode::VDEC_StopRecv() {
    const int ret = ss_mpi_vdec_stop_recv_stream(m_rec->chn);
    if (ret != 0)
        VDEC_RED("vdec stop recv stream", ret);
    return ret;
}

int CVDecode::VDEC_ResetChn() {
    const int ret = ss_mpi_vdec_reset_chn(m_rec->chn);
    if (ret != 0)
        VDEC_RED("vdec reset chn", ret);
    return ret;
}

int CVDecode::VDEC_Stop() {
    int ret = ss_mpi_vdec_stop_recv_stream(m_rec->chn);
    if (ret != 0)
        VDEC_RED("vdec stop recv stream", ret);
    ret = ss_mpi_vdec_destroy_chn(m_rec->chn);
    if (ret != 0) {
        VDEC_RED("vdec destroy chn", ret);
        return ret;
    }
    if (m_rec->pool_source == kPoolSourceModule) {
        ss_mpi_vb_exit_mod_common_pool(kVdecPoolModule);
    } else if (m_rec->pool_source == kPoolSourcePrivate) {
        for (int& pool : m_rec->private_pool) {
            if (pool >= 0)
                ss_mpi_vb_destroy_pool(pool);
            pool = -1;
        }
    }
    return 0;
}

int CVDecode::VDEC_SendStream(const _MEDIA_FRAME_COMM_INFO* info) {
    ot_vdec_stream s{};
    s.end_of_frame = 1;
    s.end_of_stream = 0;
    s.need_display = 1;
    s.pts = info->pts;
    s.addr = info->data;
    s.len = info->len;
    const int ret = ss_mpi_vdec_send_stream(m_rec->chn, &s, m_rec->send_timeout);
    if (ret < 0) {
        std::printf("ss_mpi_vdec_send_stream(%d) failure, ret=%#x\n", m_rec->chn,
                    static_cast<unsigned>(ret));
        return -1;
    }
    return 0;
}
