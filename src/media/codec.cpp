// The facade object: system bring-up, index checks, geometry, and the video unit methods.
#include "media/codec.h"
#include "media/media_log.h"
#include "mpi/mpi.h"
#include <cstdio>
#include <cstring>

using hdext::media::align_up;

std::atomic<uint8_t> VencEn{0};
std::atomic<int> audio_en{3};
pthread_mutex_t audio_mutex = PTHREAD_MUTEX_INITIALIZER;

CCodec* g_pCodec = new CCodec();

namespace {
constexpr uint32_t kPoolCount = 8;
constexpr uint32_t kBlocksPerPool = 4;
constexpr uint32_t kVpssMaxGroups = 256;
constexpr int kVpssChannels = 4;
} // namespace

uint32_t MAL_PicBufferSize(uint32_t w, uint32_t h, int pixel_format, uint32_t align) {
    if (align == 0)
        align = 16;
    else if (align > 1024)
        align = 1024;
    else
        align = align_up(align, 16);
    const uint64_t stride = align_up(w, align);
    const uint64_t height = align_up(h, 2);
    uint64_t size;
    switch (pixel_format) {
    case 28:
    case 31:
        size = stride * height * 3 / 2;
        break;
    case 27:
    case 30:
        size = stride * height * 2;
        break;
    case 42:
    case 53:
        size = stride * height;
        break;
    default:
        size = stride * height * 3;
        break;
    }
    return static_cast<uint32_t>(size);
}

int CMAL::InitMPPSystem() {
    ot_vb_cfg cfg{};
    cfg.max_pool_cnt = kPoolCount;
    const uint32_t blk = MAL_PicBufferSize(3840, 2160, OT_PIXEL_FORMAT_YVU_SEMIPLANAR_420, 0);
    for (uint32_t i = 0; i < kPoolCount; ++i)
        cfg.common_pool[i] = {blk, kBlocksPerPool, 0};
    ss_mpi_sys_exit();
    ss_mpi_vb_exit();
    if (ss_mpi_vb_set_cfg(&cfg) != 0) {
        std::printf("[%s]-%d: ", "InitMPPSystem", __LINE__);
        std::printf("ss_mpi_vb_set_conf failed!\n");
        return -1;
    }
    if (ss_mpi_vb_init() != 0) {
        std::printf("[%s]-%d: ", "InitMPPSystem", __LINE__);
        std::printf("ss_mpi_vb_init failed!\n");
        return -1;
    }
    if (ss_mpi_sys_init() != 0) {
        std::printf("[%s]-%d: ", "InitMPPSystem", __LINE__);
        std::printf("ss_mpi_sys_init failed!\n");
        ss_mpi_vb_exit();
        return -1;
    }
    return 0;
}

int CMAL::ExitMPPSystem() {
    ss_mpi_sys_exit();
    ss_mpi_vb_exit();
    return 0;
}

CCodec::CCodec() = default;

namespace {
template <class T, size_t N> void delete_all(T* (&table)[N]) {
    for (T*& p : table) {
        delete p;
        p = nullptr;
    }
}
} // namespace

CCodec::~CCodec() {
    delete_all(m_ai);
    delete_all(m_ao);
    delete_all(m_aenc);
    delete_all(m_adec);
    delete_all(m_vi);
    delete_all(m_vo);
    delete_all(m_venc);
    delete_all(m_vdec);
    delete_all(m_hdmi);
}

int CCodec::InitMPP() {
    return InitMPPSystem();
}
int CCodec::ExitMPP() {
    return ExitMPPSystem();
}

thread_local char CCodec::m_opName[31] = {};

void CCodec::SetOp(const char* name) {
    std::strncpy(m_opName, name, sizeof(m_opName) - 1);
    m_opName[sizeof(m_opName) - 1] = '\0';
}

int CCodec::CheckDate(int kind, int dev, int chn) {
    if (kind < 0 || kind >= MEDIA_KIND_COUNT)
        return -1;
    if (kDevLimit[kind] >= 0 && (dev < 0 || dev >= kDevLimit[kind])) {
        std::printf(" !!!!   %s :Dev(%d) exceeds the maximum value\n", m_opName, dev);
        return -1;
    }
    if (chn < 0 || chn >= kChnLimit[kind]) {
        std::printf(" !!!!   %s :Chn(%d) exceeds the maximum value\n", m_opName, chn);
        return -1;
    }
    m_opName[0] = '\0';
    return 0;
}

int CCodec::CheckDate(int kind, int chn) {
    if (kind < 0 || kind >= MEDIA_KIND_COUNT)
        return -1;
    if (chn < 0 || chn >= kChnLimit[kind]) {
        std::printf(" !!!!   %s :Chn(%d) exceeds the maximum value\n", m_opName, chn);
        return -1;
    }
    m_opName[0] = '\0';
    return 0;
}

int CCodec::SetResolution(int sync, int intf, int rate, int w, int h) {
    m_sync = sync;
    m_intf = intf;
    m_rate = rate;
    m_width = w;
    m_height = h;
    return 0;
}

int CCodec::MemConfig() {
    return 0;
}

int CCodec::StartVPSS(int grp) {
    if (grp < 0 || static_cast<uint32_t>(grp) >= kVpssMaxGroups) {
        std::printf(" !!!!   vpss grp exceeds the maximum value\n");
        return -1;
    }
    const ot_vpss_grp_attr ga{3840, 2160, OT_PIXEL_FORMAT_YVU_SEMIPLANAR_420, m_rate, m_rate};
    int ret = ss_mpi_vpss_create_grp(grp, &ga);
    if (ret != 0) {
        std::printf("ss_mpi_vpss_create_grp(grp:%d) failed with %#x!\n", grp, ret);
        return -1;
    }
    ret = ss_mpi_vpss_start_grp(grp);
    if (ret != 0) {
        std::printf("ss_mpi_vpss_start_grp failed with %#x\n", ret);
        return -1;
    }
    for (int chn = 0; chn < kVpssChannels; ++chn) {
        const ot_vpss_chn_attr ca{
            m_width,          m_height, 4,     1, OT_PIXEL_FORMAT_YVU_SEMIPLANAR_422,
            chn == 0 ? 0 : 2, m_rate,   m_rate};
        ret = ss_mpi_vpss_set_chn_attr(grp, chn, &ca);
        if (ret != 0) {
            std::printf("ss_mpi_vpss_set_chn_attr(%d,%d) failed with %#x\n", grp, chn, ret);
            return -1;
        }
        ret = ss_mpi_vpss_enable_chn(grp, chn);
        if (ret != 0) {
            std::printf("ss_mpi_vpss_enable_chn(%d,%d) failed with %#x\n", grp, chn, ret);
            return -1;
        }
    }
    return 0;
}

int CCodec::StopVPSS(int grp) {
    if (grp < 0 || static_cast<uint32_t>(grp) >= kVpssMaxGroups) {
        std::printf(" !!!!   vpss grp exceeds the maximum value\n");
        return -1;
    }
    for (int chn = 0; chn < kVpssChannels; ++chn)
        ss_mpi_vpss_disable_chn(grp, chn);
    ss_mpi_vpss_stop_grp(grp);
    ss_mpi_vpss_destroy_grp(grp);
    return 0;
}

// ---- encoder ----

CVEncode* CCodec::SizedVenc(int chn, const char* op) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, op);
    if (u)
        u->VENC_set_resolution(m_width, m_height, m_rate);
    return u;
}

int CCodec::VENC_Create(int chn) {
    return Create(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_Create",
                  [&](CVEncode& u) { return u.VENC_init(chn); });
}
int CCodec::VENC_SetEncodeType(int chn, int payload) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_SetEncodeType");
    return u ? u->VENC_set_encode_type(payload) : -1;
}
int CCodec::VENC_SetBitrate(int chn, int mbps) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_SetBitrate");
    return u ? u->VENC_set_bitrate(mbps) : -1;
}
int CCodec::VENC_SetBitrateKbps(int chn, int kbps) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_SetBitrateKbps");
    return u ? u->VENC_set_bitrate_kbps(kbps) : -1;
}
int CCodec::VENC_SetEncodeAttr(int chn) {
    CVEncode* u = SizedVenc(chn, "VENC_SetEncodeAttr");
    return u ? u->VENC_SetEncodeAttr() : -1;
}
int CCodec::VENC_Start(int chn) {
    CVEncode* u = SizedVenc(chn, "VENC_Start");
    return u ? u->VENC_start() : -1;
}
int CCodec::VENC_Stop(int chn) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_Stop");
    return u ? u->VENC_stop() : -1;
}
int CCodec::VENC_Destroy(int chn) {
    CVEncode** s = Slot(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_Destroy");
    if (!s || !*s)
        return -1;
    delete *s;
    *s = nullptr;
    return 0;
}
int CCodec::VENC_GetFd(int chn) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_GetFd");
    return u ? u->VENC_GetFd() : -1;
}
int CCodec::VENC_CloseFd(int chn) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_CloseFd");
    return u ? u->VENC_CloseFd() : -1;
}
int CCodec::VENC_RequestIDR(int chn, int instant) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_RequestIDR");
    return u ? u->VENC_RequestIDR(instant) : -1;
}
frame_buff* CCodec::VENC_GetStream(int chn, int* total) {
    CVEncode* u = Unit(m_venc, MEDIA_KIND_VENC, 0, chn, "VENC_GetStream");
    return u ? u->VENC_GetStream(total) : nullptr;
}

// ---- capture ----

int CCodec::VI_Create(int dev, int chn) {
    return Create(m_vi, MEDIA_KIND_VI, dev, chn, "VI_Create",
                  [&](CVI& u) { return u.VI_init(dev, chn); });
}
int CCodec::VI_Set_Intf_Mode(int dev, int chn, int mode, int scan) {
    CVI* u = Unit(m_vi, MEDIA_KIND_VI, dev, chn, "VI_Set_Intf_Mode");
    return u ? u->VI_set_intf_mode(mode, scan) : -1;
}
int CCodec::VI_Start(int dev, int chn) {
    CVI* u = Unit(m_vi, MEDIA_KIND_VI, dev, chn, "VI_Start");
    if (!u)
        return -1;
    u->VI_set_resolution(m_rate, m_width, m_height);
    int ret = u->VI_Start_mipi();
    if (ret != 0)
        return ret;
    if (!m_viDevStarted[dev]) {
        ret = u->VI_StartDev();
        if (ret != 0)
            return ret;
        m_viDevStarted[dev] = 1;
    }
    return u->VI_StartChn();
}
int CCodec::VI_Stop(int dev, int chn) {
    CVI* u = Unit(m_vi, MEDIA_KIND_VI, dev, chn, "VI_Stop");
    if (!u)
        return -1;
    int ret = u->VI_StopChn();
    if (m_viDevStarted[dev]) {
        const int r = u->VI_StopDev();
        if (ret == 0)
            ret = r;
        m_viDevStarted[dev] = 0;
    }
    return ret;
}

// ---- decoder ----

int CCodec::VDEC_Create(int chn) {
    return Create(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_Create",
                  [&](CVDecode& u) { return u.VDEC_init(chn); });
}
int CCodec::VDEC_SetDecodeType(int chn, int payload, int mode) {
    CVDecode* u = Unit(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_SetDecodeType");
    return u ? u->VDEC_set_decode_type(payload, mode) : -1;
}
int CCodec::VDEC_Start(int chn) {
    CVDecode* u = Unit(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_Start");
    if (!u)
        return -1;
    u->VDEC_set_resolution(m_width, m_height);
    return u->VDEC_Start();
}
int CCodec::VDEC_StartRecv(int chn) {
    CVDecode* u = Unit(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_StartRecv");
    return u ? u->VDEC_StartRecv() : -1;
}
int CCodec::VDEC_StopRecv(int chn) {
    CVDecode* u = Unit(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_StopRecv");
    return u ? u->VDEC_StopRecv() : -1;
}
int CCodec::VDEC_ResetChn(int chn) {
    CVDecode* u = Unit(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_ResetChn");
    return u ? u->VDEC_ResetChn() : -1;
}
int CCodec::VDEC_SendStream(int chn, const _MEDIA_FRAME_COMM_INFO* info) {
    CVDecode* u = Unit(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_SendStream");
    return u && info ? u->VDEC_SendStream(info) : -1;
}
int CCodec::VDEC_Stop(int chn) {
    CVDecode* u = Unit(m_vdec, MEDIA_KIND_VDEC, 0, chn, "VDEC_Stop");
    return u ? u->VDEC_Stop() : -1;
}

// ---- output ----

CVO* CCodec::SizedVo(int dev, int chn, const char* op) {
    CVO* u = Unit(m_vo, MEDIA_KIND_VO, dev, chn, op);
    if (u)
        u->VO_set_resolution(m_sync, m_intf, m_rate, m_width, m_height);
    return u;
}

int CCodec::VO_Create(int dev, int chn, int layer) {
    return Create(m_vo, MEDIA_KIND_VO, dev, chn, "VO_Create",
                  [&](CVO& u) { return u.VO_init(dev, chn, layer); });
}
int CCodec::VO_Start(int dev, int chn) {
    CVO* u = SizedVo(dev, chn, "VO_Start");
    if (!u)
        return -1;
    int ret;
    if (!m_voDevStarted[dev]) {
        ret = u->VO_StartDev();
        if (ret != 0)
            return ret;
        m_voDevStarted[dev] = 1;
    }
    ret = u->VO_StartLayer();
    if (ret != 0)
        return ret;
    return u->VO_StartChn();
}
int CCodec::VO_StartLayer(int dev, int chn) {
    CVO* u = SizedVo(dev, chn, "VO_StartLayer");
    return u ? u->VO_StartLayer() : -1;
}
int CCodec::VO_StartChn(int dev, int chn) {
    CVO* u = SizedVo(dev, chn, "VO_StartChn");
    return u ? u->VO_StartChn() : -1;
}
int CCodec::VO_Stop(int dev, int chn) {
    CVO* u = Unit(m_vo, MEDIA_KIND_VO, dev, chn, "VO_Stop");
    if (!u)
        return -1;
    int ret = u->VO_StopChn();
    const int r = u->VO_StopLayer();
    if (ret == 0)
        ret = r;
    if (m_voDevStarted[dev]) {
        const int d = u->VO_StopDev();
        if (ret == 0)
            ret = d;
        m_voDevStarted[dev] = 0;
    }
    return ret;
}
int CCodec::VO_StopLayer(int dev, int chn) {
    CVO* u = Unit(m_vo, MEDIA_KIND_VO, dev, chn, "VO_StopLayer");
    return u ? u->VO_StopLayer() : -1;
}
int CCodec::VO_StopChn(int dev, int chn) {
    CVO* u = Unit(m_vo, MEDIA_KIND_VO, dev, chn, "VO_StopChn");
    return u ? u->VO_StopChn() : -1;
}

// ---- HDMI ----

int CCodec::HDMI_Create(int id) {
    return Create(m_hdmi, MEDIA_KIND_HDMI, 0, id, "HDMI_Create",
                  [&](CHDMI& u) { return u.HDMI_init(id); });
}
int CCodec::HDMI_SetType(int id, int sync, int rate, int width) {
    CHDMI** s = Slot(m_hdmi, MEDIA_KIND_HDMI, 0, id, "HDMI_SetType");
    if (!s)
        return -1;
    return *s ? (*s)->HDMI_SetType(sync, rate, width) : 0;
}
int CCodec::HDMI_Start(int id) {
    CHDMI* u = Unit(m_hdmi, MEDIA_KIND_HDMI, 0, id, "HDMI_Start");
    return u ? u->HDMI_Start() : -1;
}
int CCodec::HDMI_Change(int id) {
    CHDMI* u = Unit(m_hdmi, MEDIA_KIND_HDMI, 0, id, "HDMI_Change");
    return u ? u->HDMI_Change() : -1;
}
int CCodec::HDMI_Stop(int id) {
    CHDMI* u = Unit(m_hdmi, MEDIA_KIND_HDMI, 0, id, "HDMI_Stop");
    return u ? u->HDMI_Stop() : -1;
}
