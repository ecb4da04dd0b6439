// Types of the media platform interface: attribute records, frames and streams exchanged with
// the platform's units. Only the fields this program sets or reads, plus what our software
// platform needs to act on them.
#pragma once
#include <cstddef>
#include <cstdint>

// Module ids, used in bindings and error codes.
enum ot_mod_id : int {
    OT_ID_VB = 1,
    OT_ID_SYS = 2,
    OT_ID_VDEC = 5,
    OT_ID_VPSS = 6,
    OT_ID_VENC = 8,
    OT_ID_VO = 15,
    OT_ID_VI = 16,
    OT_ID_AI = 21,
    OT_ID_AO = 22,
    OT_ID_AENC = 23,
    OT_ID_ADEC = 24,
    OT_ID_HDMI = 25,
};

// Error codes: 0xA0 | module << 16 | level 0x80 << 8 | code.
constexpr int ot_err(int mod, int code) {
    return static_cast<int>(0xA0000000u | (static_cast<unsigned>(mod) << 16) | 0x8000u |
                            static_cast<unsigned>(code));
}
enum ot_err_code : int {
    OT_ERR_INVALID_DEV = 1,
    OT_ERR_INVALID_CHN = 2,
    OT_ERR_ILLEGAL_PARAM = 3,
    OT_ERR_EXIST = 4,
    OT_ERR_UNEXIST = 5,
    OT_ERR_NULL_PTR = 6,
    OT_ERR_NOT_CFG = 7,
    OT_ERR_NOT_PERM = 9,
    OT_ERR_NOT_SUPPORT = 12,
    OT_ERR_BUF_EMPTY = 14,
    OT_ERR_BUF_FULL = 15,
    OT_ERR_NOT_READY = 16,
    OT_ERR_BUSY = 18,
};

enum ot_payload_type : int {
    OT_PT_G711A = 19,
    OT_PT_G711U = 20,
    OT_PT_ADPCMA = 21,
    OT_PT_G726 = 23,
    OT_PT_JPEG = 26,
    OT_PT_AAC = 37,
    OT_PT_LPCM = 49,
    OT_PT_H264 = 96,
    OT_PT_H265 = 265,
    OT_PT_MJPEG = 1002,
};

enum ot_pixel_format : int {
    OT_PIXEL_FORMAT_YVU_SEMIPLANAR_422 = 27,
    OT_PIXEL_FORMAT_YVU_SEMIPLANAR_420 = 28,
    OT_PIXEL_FORMAT_YUV_SEMIPLANAR_422 = 30,
    OT_PIXEL_FORMAT_YUV_SEMIPLANAR_420 = 31,
    OT_PIXEL_FORMAT_YUV_400 = 42,
};

// Output timing codes shared by capture, decoder, output and HDMI.
enum ot_vo_intf_sync : int {
    OT_VO_OUT_480P60 = 5,
    OT_VO_OUT_720P50 = 9,
    OT_VO_OUT_720P60 = 10,
    OT_VO_OUT_1080P30 = 19,
    OT_VO_OUT_1080P50 = 22,
    OT_VO_OUT_1080P60 = 23,
    OT_VO_OUT_BUTT = 49,
};

enum ot_audio_bit_width : int {
    OT_AUDIO_BIT_WIDTH_8 = 0,
    OT_AUDIO_BIT_WIDTH_16 = 1,
    OT_AUDIO_BIT_WIDTH_24 = 2
};
enum ot_vdec_send_mode : int { OT_VDEC_SEND_MODE_STREAM = 0, OT_VDEC_SEND_MODE_FRAME = 1 };

// ---- sys / vb ----
constexpr int OT_VB_MAX_COMMON_POOLS = 16;
struct ot_vb_pool_cfg {
    uint64_t blk_size;
    uint32_t blk_cnt;
    uint32_t remap_mode;
};
struct ot_vb_cfg {
    uint32_t max_pool_cnt;
    ot_vb_pool_cfg common_pool[OT_VB_MAX_COMMON_POOLS];
};
struct ot_mpp_chn {
    int mod_id;
    int dev_id;
    int chn_id;
};

// ---- MIPI receiver device ----
inline constexpr const char* OT_MIPI_DEV_NAME = "/dev/ot_mipi";
enum ot_mipi_request : unsigned long {
    OT_MIPI_SET_DEV_ATTR = 0x4d01,
    OT_MIPI_SET_HS_MODE = 0x4d02,
    OT_MIPI_ENABLE_MIPI_CLOCK = 0x4d03,
    OT_MIPI_DISABLE_MIPI_CLOCK = 0x4d04,
    OT_MIPI_RESET_MIPI = 0x4d05,
    OT_MIPI_UNRESET_MIPI = 0x4d06,
};
struct ot_mipi_dev_attr {
    int32_t devno;
    int32_t input_data_type; // 0
    int32_t x, y, width, height;
    int32_t data_mode; // the capture's scan/data mode
    int32_t reserved;  // 0
    int16_t lane_id[4];
};

// ---- VI ----
// Device attributes: 23 words, in this order.
struct ot_vi_dev_attr {
    uint32_t intf_mode;         // 0
    uint32_t work_mode;         // 1
    uint32_t component_mask[2]; // 2, 3
    uint32_t scan_mode;         // 4
    uint32_t data_seq;          // 5
    uint32_t sync_cfg[4];       // 6-9
    uint32_t input_data_type;   // 10
    uint32_t timing[10];        // 11-20
    uint32_t data_rate;         // 21
    uint32_t reserved;          // 22
};
static_assert(sizeof(ot_vi_dev_attr) == 23 * 4);

// Channel attributes: 14 words, in this order.
struct ot_vi_chn_attr {
    int32_t x, y;
    int32_t width, height;         // capture size
    int32_t out_width, out_height; // delivered size
    int32_t depth;
    int32_t data_mode;
    int32_t pixel_format;
    int32_t dynamic_range;
    int32_t video_format;
    int32_t compress_mode;
    int32_t src_frame_rate; // -1 = as captured
    int32_t dst_frame_rate;
};
static_assert(sizeof(ot_vi_chn_attr) == 14 * 4);

// Module parameters; the flag at byte 32 makes the capture hand frames on early.
struct ot_vi_mod_param {
    int32_t reserved0[8];
    int32_t low_delay_en; // byte 32
    int32_t reserved1[7];
};
static_assert(offsetof(ot_vi_mod_param, low_delay_en) == 32);

// ---- VPSS ----
struct ot_vpss_grp_attr {
    int32_t max_width, max_height;
    int32_t pixel_format;
    int32_t src_frame_rate, dst_frame_rate;
};
struct ot_vpss_chn_attr {
    int32_t width, height;
    int32_t mode;  // 4
    int32_t depth; // 1
    int32_t pixel_format;
    int32_t compress_mode; // 0 for channel 0, 2 for the others
    int32_t src_frame_rate, dst_frame_rate;
};

// ---- VENC ----
struct ot_venc_gop_attr {
    int32_t gop_mode;    // 0 normal
    int32_t ip_qp_delta; // the normal mode's one parameter
};
struct ot_venc_rc_attr {
    int32_t rc_mode; // 1 constant bit rate
    uint32_t gop;
    uint32_t stats_time;
    uint32_t src_frame_rate;
    uint32_t dst_frame_rate;
    uint32_t bit_rate; // kbit/s
};
struct ot_venc_chn_attr {
    int32_t payload;
    uint32_t max_width, max_height;
    uint32_t buf_size;
    uint32_t profile;
    int32_t by_frame;
    uint32_t width, height;
    int32_t ref_share;        // 0
    uint32_t frame_buf_ratio; // 100
    ot_venc_rc_attr rc;
    ot_venc_gop_attr gop;
};
struct ot_venc_rc_param {
    uint32_t cbr[4]; // the four constant-bit-rate tuning values
    uint32_t row_qp_delta;
};
struct ot_venc_start_param {
    int32_t recv_pic_num; // -1 = all
};
struct ot_venc_chn_status {
    uint32_t left_stream_frames;
    uint32_t cur_packs;
};
struct ot_venc_pack {
    uint8_t* addr;
    uint32_t len;
    uint32_t offset;
    uint64_t pts;
    int32_t data_type;
};
struct ot_venc_stream {
    ot_venc_pack* pack;
    uint32_t pack_cnt;
    uint32_t seq;
};
struct ot_venc_mod_param {
    int32_t type;
    int32_t frame_buf_recycle; // byte 4
    int32_t reserved[6];
};
static_assert(offsetof(ot_venc_mod_param, frame_buf_recycle) == 4);

// ---- VDEC ----
struct ot_vdec_chn_attr {
    int32_t payload;
    int32_t send_mode;
    uint32_t width, height;
    uint32_t stream_buf_size;
    uint32_t frame_buf_size;
    uint32_t frame_buf_cnt;
    uint32_t ref_frame_num; // H.264/H.265 only
    int32_t tmv_en;         // motion-vector buffers used
};
struct ot_vdec_chn_param {
    int32_t payload;
    int32_t dec_opt[4];   // H.264/H.265 decoding options
    int32_t pixel_format; // JPEG/MJPEG
    int32_t alpha;        // JPEG/MJPEG
    uint32_t display_frame_num;
};
struct ot_vdec_stream {
    int32_t end_of_frame;
    int32_t end_of_stream;
    int32_t need_display;
    uint64_t pts;
    uint8_t* addr;
    uint32_t len;
};
struct ot_vdec_mod_param {
    int32_t vb_src; // 1 = module common pool
    int32_t reserved[7];
};
struct ot_vdec_pool_attr {
    int32_t pic_pool;
    int32_t tmv_pool;
};

// ---- VO / HDMI ----
struct ot_rect {
    int32_t x, y;
    uint32_t width, height;
};
struct ot_vo_pub_attr {
    uint32_t bg_color;
    int32_t intf_type;
    int32_t intf_sync;
};
struct ot_vo_video_layer_attr {
    ot_rect display_rect;
    uint32_t img_width, img_height;
    uint32_t display_frame_rate;
    int32_t pixel_format;
    int32_t extra[6]; // 0, 0, then the layer's four further values
};
struct ot_vo_chn_attr {
    uint32_t priority;
    ot_rect rect;
    int32_t deflicker_en;
};
struct ot_hdmi_attr {
    int32_t hdmi_enable;
    int32_t video_format;
    int32_t deep_color;
    int32_t audio_enable;
    int32_t sample_rate;
    int32_t bit_depth;
};

// ---- audio ----
struct ot_aio_attr {
    int32_t sample_rate;
    int32_t bit_width;
    int32_t work_mode;
    int32_t snd_mode;
    uint32_t expand_flag;
    uint32_t frame_num;
    uint32_t point_num_per_frame;
    uint32_t chn_cnt;
    uint32_t clk_share;
    uint32_t i2s_type;
};
struct ot_audio_frame {
    int32_t bit_width;
    int32_t snd_mode;
    uint8_t* virt_addr[2];
    uint64_t time_stamp;
    uint32_t seq;
    uint32_t len; // bytes per channel
};
struct ot_aec_frame {
    ot_audio_frame ref_frame;
    int32_t valid;
};
struct ot_ai_chn_param {
    uint32_t usr_frame_depth;
};
struct ot_ai_record_vqe_cfg {
    uint32_t open_mask; // non-zero asks for processing
    int32_t work_sample_rate;
    int32_t frame_sample;
};
struct ot_ai_talk_vqe_cfg {
    uint32_t open_mask;
    int32_t work_sample_rate;
    int32_t frame_sample;
};
struct ot_audio_stream {
    uint8_t* stream;
    uint32_t len;
    uint64_t time_stamp;
    uint32_t seq;
};
struct ot_aenc_chn_attr {
    int32_t type;
    uint32_t point_num_per_frame;
    uint32_t buf_size;
    int32_t codec[6]; // payload-specific codec values
};
struct ot_adec_chn_attr {
    int32_t type;
    uint32_t buf_size;
    int32_t mode;
    int32_t codec[6];
};
