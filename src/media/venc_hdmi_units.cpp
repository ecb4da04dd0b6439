// Encoder channel (rate control, stream read-out into frames) and the HDMI transmitter.
#include "media/media_log.h"
#include "media/video_units.h"
#include "mpi/mpi.h"
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using hdext::media::align_up;

namespace {
constexpr int kVencNotSupported = static_cast<int>(0xa008800cu);
constexpr unsigned kMaxW = 3840;
constexpr unsigned kMaxH = 2160;
// One 1920x1080 picture of format code 28: room for the packs of any picture.
constexpr unsigned kPackBufSize = 1920 * 1080 * 3 / 2;

bool is_jpeg(int payload) {
    return payload == OT_PT_JPEG || payload == OT_PT_MJPEG;
}
} // namespace

struct VencRecord {
    int chn;
    ot_venc_chn_attr saved;
    int frame_rate;
    int stats_time;
    int gop;
    int size_index;
    int width, height;
    unsigned max_w, max_h;
    int profile;
    int payload;
    int rc_preset;
    int gop_mode;
    ot_venc_pack* packs;
    unsigned pack_buf_size;
    // Set by the stream thread while the channel runs; read by whoever starts it.
    std::atomic<int> kbps;
    std::atomic<bool> running;
};

CVEncode::CVEncode() : m_rec(new VencRecord{}) {
    m_rec->frame_rate = 60;
    m_rec->gop = 60;
    m_rec->max_w = kMaxW;
    m_rec->max_h = kMaxH;
    m_rec->profile = 2;
    m_rec->payload = OT_PT_H264;
    m_rec->pack_buf_size = kPackBufSize;
    m_rec->packs = static_cast<ot_venc_pack*>(std::malloc(kPackBufSize));
    m_rec->kbps = 12 * 1024;
}

CVEncode::~CVEncode() {
    std::free(m_rec->packs);
    delete m_rec;
}

int CVEncode::VENC_init(int chn) {
    m_rec->chn = chn;
    return 0;
}

int CVEncode::VENC_set_resolution(int w, int h, int rate) {
    m_rec->width = w;
    m_rec->height = h;
    m_rec->frame_rate = rate;
    m_rec->gop = 2 * rate;
    return 0;
}

int CVEncode::VENC_set_encode_type(int payload) {
    m_rec->payload = payload;
    return 0;
}

int CVEncode::VENC_set_bitrate(int mbps) {
    m_rec->kbps = mbps * 1024;
    return 0;
}

int CVEncode::VENC_set_bitrate_kbps(int kbps) {
    m_rec->kbps = kbps;
    if (!m_rec->running)
        return 0;
    const int chn = m_rec->chn;
    ot_venc_chn_attr a{};
    int ret = ss_mpi_venc_get_chn_attr(chn, &a);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_get_chn_attr failed!\n");
        return ret;
    }
    a.rc.bit_rate = static_cast<uint32_t>(kbps);
    ret = ss_mpi_venc_set_chn_attr(chn, &a);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_set_chn_attr vechn[%d] bit rate %d failed with %#x!\n", chn, kbps, ret);
    }
    return ret;
}

int CVEncode::VENC_start() {
    const int payload = m_rec->payload;
    ot_venc_chn_attr a{};
    a.gop.gop_mode = m_rec->gop_mode;
    a.gop.ip_qp_delta = -1;
    a.payload = payload;
    a.max_width = m_rec->max_w;
    a.max_height = m_rec->max_h;
    if (is_jpeg(payload))
        a.buf_size = align_up(m_rec->max_h, 16) * align_up(m_rec->max_w, 16) * 4;
    else
        a.buf_size = align_up(m_rec->max_w * m_rec->max_h * 3 / 4, 64);
    a.profile = static_cast<uint32_t>(m_rec->profile);
    a.by_frame = 1;
    a.width = static_cast<uint32_t>(m_rec->width);
    a.height = static_cast<uint32_t>(m_rec->height);
    m_rec->stats_time = 1;
    if (payload != OT_PT_H264 && payload != OT_PT_H265 && !is_jpeg(payload)) {
        MEDIA_AT();
        std::printf("can't support this type (%d) in this version!\n", payload);
        return kVencNotSupported;
    }
    a.ref_share = 0;
    a.frame_buf_ratio = 100;
    a.rc.rc_mode = 1;
    a.rc.gop = static_cast<uint32_t>(m_rec->gop);
    a.rc.stats_time = static_cast<uint32_t>(m_rec->stats_time);
    a.rc.src_frame_rate = a.rc.dst_frame_rate = static_cast<uint32_t>(m_rec->frame_rate);
    a.rc.bit_rate = static_cast<uint32_t>(m_rec->kbps.load());
    if (is_jpeg(payload))
        a.gop = {};

    const int chn = m_rec->chn;
    int ret = ss_mpi_venc_create_chn(chn, &a);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_create_chn [%d] failed with %#x! ===\n", chn, ret);
        return ret;
    }
    ret = ss_mpi_venc_get_chn_attr(chn, &m_rec->saved);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_get_chn_attr failed!\n");
        return ret;
    }
    ot_venc_rc_param rc{};
    ret = ss_mpi_venc_get_rc_param(chn, &rc);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_get_rc_param failed!\n");
        return ret;
    }
    rc.cbr[0] = 40;
    rc.cbr[1] = 10;
    rc.cbr[2] = 10;
    rc.cbr[3] = 0;
    ret = ss_mpi_venc_set_rc_param(chn, &rc);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("SetRcParam failed!\n");
        return ret;
    }
    const ot_venc_start_param start{-1};
    ret = ss_mpi_venc_start_chn(chn, &start);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_start_chn failed with%#x! \n", ret);
        return ret;
    }
    m_rec->running = true;
    return 0;
}

int CVEncode::VENC_SetEncodeAttr() {
    const int chn = m_rec->chn;
    int ret = ss_mpi_venc_stop_chn(chn);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_stop_chn vechn[%d] failed with %#x!\n", chn, ret);
        return ret;
    }
    m_rec->saved.width = static_cast<uint32_t>(m_rec->width);
    m_rec->saved.height = static_cast<uint32_t>(m_rec->height);
    m_rec->saved.rc.bit_rate = static_cast<uint32_t>(m_rec->kbps.load());
    ret = ss_mpi_venc_set_chn_attr(chn, &m_rec->saved);
    if (ret != 0) {
        std::printf(" !!!!   start_venc  ss_mpi_venc_set_chn_attr failure ret=%#x\n", ret);
        return ret;
    }
    const ot_venc_start_param start{-1};
    ret = ss_mpi_venc_start_chn(chn, &start);
    if (ret != 0) {
        std::printf("VENC_SetEncodeAttr ss_mpi_venc_start_chn failed with%#x! \n", ret);
        return ret;
    }
    return 0;
}

int CVEncode::VENC_stop() {
    const int chn = m_rec->chn;
    m_rec->running = false;
    int ret = ss_mpi_venc_stop_chn(chn);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_stop_chn vechn[%d] failed with %#x!\n", chn, ret);
        return ret;
    }
    ret = ss_mpi_venc_destroy_chn(chn);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_destroy_chn vechn[%d] failed with %#x!\n", chn, ret);
        return ret;
    }
    return 0;
}

int CVEncode::VENC_GetFd() {
    return ss_mpi_venc_get_fd(m_rec->chn);
}

int CVEncode::VENC_CloseFd() {
    return ss_mpi_venc_close_fd(m_rec->chn);
}

int CVEncode::VENC_RequestIDR(int instant) {
    const int ret = ss_mpi_venc_request_idr(m_rec->chn, instant);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_request_idr vechn[%d] failed with %#x!\n", m_rec->chn, ret);
    }
    return ret;
}

frame_buff* CVEncode::VENC_GetStream(int* total) {
    const int chn = m_rec->chn;
    ot_venc_chn_status status{};
    if (ss_mpi_venc_query_status(chn, &status) != 0 || status.cur_packs == 0)
        return nullptr;
    if (m_rec->packs == nullptr) {
        std::printf("malloc stream pack failed!\n");
        return nullptr;
    }
    const unsigned capacity = m_rec->pack_buf_size / sizeof(ot_venc_pack);
    std::memset(m_rec->packs, 0, m_rec->pack_buf_size);
    ot_venc_stream stream{};
    stream.pack = m_rec->packs;
    stream.pack_cnt = status.cur_packs < capacity ? status.cur_packs : capacity;
    int ret = ss_mpi_venc_get_stream(chn, &stream, -1);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_get_stream failed with %#x!\n", ret);
        return nullptr;
    }
    for (unsigned i = 0; i < stream.pack_cnt; ++i)
        *total += static_cast<int>(stream.pack[i].len - stream.pack[i].offset);
    frame_buff* frame = alloc_frame(static_cast<uint32_t>(*total));
    if (frame == nullptr) {
        std::printf(" !!!! VENC_GetStream alloc_frame fail !!!");
        ss_mpi_venc_release_stream(chn, &stream);
        return nullptr;
    }
    frame->kind = kFrameKindVideo;
    frame->pts = stream.pack_cnt > 0 ? stream.pack[0].pts : 0;
    for (unsigned i = 0; i < stream.pack_cnt; ++i) {
        const ot_venc_pack& p = stream.pack[i];
        frame_copy_data(frame, p.addr + p.offset, p.len - p.offset);
    }
    ret = ss_mpi_venc_release_stream(chn, &stream);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_venc_release_stream failed!\n");
        free_frame(frame);
        return nullptr;
    }
    return frame;
}

// ---------------------------------------------------------------------------------------------

struct HdmiRecord {
    int value0;
    int video_format;
    int deep_color;
    int sample_rate_code;
    int bit_depth_code;
    int audio_enable;
    int id;
};

namespace {
// Timing code -> HDMI video format code, for codes 0-48.
constexpr int kFormatOfSync[49] = {11, 12, 41, 41, 13, 10, 9,  14, 15, 8,  7,  16, 17,
                                   18, 20, 19, 22, 4,  3,  2,  6,  5,  1,  0,  21, 23,
                                   27, 24, 25, 26, 28, 29, 30, 31, 32, 33, 34, 35, 36,
                                   37, 40, 41, 41, 41, 41, 41, 41, 41, 41};

int rate_code(int rate) {
    switch (rate) {
    case 8000:
        return 1;
    case 11025:
        return 2;
    case 12000:
        return 3;
    case 16000:
        return 4;
    case 22050:
        return 5;
    case 24000:
        return 6;
    case 32000:
        return 7;
    case 44100:
        return 8;
    case 48000:
        return 9;
    case 96000:
        return 11;
    default:
        return -1;
    }
}
} // namespace

CHDMI::CHDMI() : m_rec(new HdmiRecord{}) {
    m_rec->sample_rate_code = 9;
    m_rec->bit_depth_code = 2;
    m_rec->audio_enable = 1;
}

CHDMI::~CHDMI() {
    delete m_rec;
}

int CHDMI::HDMI_init(int id) {
    if (id != 0) {
        MEDIA_AT();
        std::printf("ss524v100 don't support this interface\n");
        return -1;
    }
    m_rec->id = id;
    return 0;
}

int CHDMI::HDMI_SetType(int sync, int rate, int width) {
    if (sync >= 0 && sync <= 48)
        m_rec->video_format = kFormatOfSync[sync];
    const int code = rate_code(rate);
    if (code >= 0)
        m_rec->sample_rate_code = code;
    if (width == 0)
        m_rec->bit_depth_code = 1;
    else if (width == 1)
        m_rec->bit_depth_code = 2;
    else if (width == 2)
        m_rec->bit_depth_code = 5;
    return 0;
}

#define HDMI_CALL(call, expr)                                                                      \
    do {                                                                                           \
        const int r_ = (expr);                                                                     \
        if (r_ != 0) {                                                                             \
            MEDIA_RED(call, r_);                                                                   \
            return r_;                                                                             \
        }                                                                                          \
    } while (0)

namespace {
void fill_hdmi(ot_hdmi_attr& a, const HdmiRecord& r) {
    a.hdmi_enable = 1;
    a.video_format = r.video_format;
    a.deep_color = r.deep_color;
    a.audio_enable = r.audio_enable;
    a.sample_rate = r.sample_rate_code;
    a.bit_depth = r.bit_depth_code;
}
} // namespace

int CHDMI::HDMI_Start() {
    const int id = m_rec->id;
    ot_hdmi_attr a{};
    HDMI_CALL("ss_mpi_hdmi_init", ss_mpi_hdmi_init());
    HDMI_CALL("ss_mpi_hdmi_open", ss_mpi_hdmi_open(id));
    HDMI_CALL("ss_mpi_hdmi_get_attr", ss_mpi_hdmi_get_attr(id, &a));
    fill_hdmi(a, *m_rec);
    HDMI_CALL("ss_mpi_hdmi_set_attr", ss_mpi_hdmi_set_attr(id, &a));
    HDMI_CALL("ss_mpi_hdmi_start", ss_mpi_hdmi_start(id));
    return 0;
}

int CHDMI::HDMI_Change() {
    const int id = m_rec->id;
    ot_hdmi_attr a{};
    HDMI_CALL("ss_mpi_hdmi_stop", ss_mpi_hdmi_stop(id));
    HDMI_CALL("ss_mpi_hdmi_get_attr", ss_mpi_hdmi_get_attr(id, &a));
    fill_hdmi(a, *m_rec);
    HDMI_CALL("ss_mpi_hdmi_set_attr", ss_mpi_hdmi_set_attr(id, &a));
    HDMI_CALL("ss_mpi_hdmi_start", ss_mpi_hdmi_start(id));
    return 0;
}

int CHDMI::HDMI_Stop() {
    const int id = m_rec->id;
    HDMI_CALL("ss_mpi_hdmi_stop", ss_mpi_hdmi_stop(id));
    HDMI_CALL("ss_mpi_hdmi_close", ss_mpi_hdmi_close(id));
    HDMI_CALL("ss_mpi_hdmi_deinit", ss_mpi_hdmi_deinit());
    return 0;
}
