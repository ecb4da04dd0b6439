// RX video decode task: start-up, the task 0x7000 handler and the switches between live video
// and the status pictures. Every unit call goes through the media facade.
#include "decode/video_decoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board/board.h"
#include "board/gpio.h"
#include "board/role.h"
#include "core/dump_print.h"
#include "core/event.h"
#include "core/task.h"
#include "decode/audio_decoder.h"
#include "decode/decode_entry.h"
#include "decode/decode_threads.h"
#include "media/codec.h"
#include "mpi/mpi.h"
#include "periph/input_state.h"
#include "settings/param_config.h"
#include "stream/rx_format.h"

namespace {

constexpr int kModVdec = 5;
constexpr int kModVo = 15;
constexpr int kIntfRx = 24;
constexpr int kPayloadH264 = 96;
constexpr int kPayloadJpeg = 1002;
constexpr int kSendModeFrame = 1;
// Status pictures are always shown at 1080p60 with 48 kHz HDMI audio.
constexpr int kPicSync = 23;
constexpr int kPicRate = 5;
constexpr int kPicWidth = 1920;
constexpr int kPicHeight = 1080;
constexpr int kPicAudioRate = 48000;
constexpr int kNoTiming = 49;

const char* const kPictures[] = {nullptr,
                                 "/home/res/RX_Searching.jpg",
                                 "/home/res/RX_CHECK_HDMI.jpg",
                                 "/home/res/RX_Pairing.jpg",
                                 "/home/res/RX_isPairing.jpg",
                                 "/home/res/RX_NoSignal.jpg"};

int relaxed(const std::atomic<int>& v) { return v.load(std::memory_order_relaxed); }

int param_of(const MQ_LIST* msg) {
    int v = 0;
    if (msg->data && msg->len >= sizeof(v)) std::memcpy(&v, msg->data, sizeof(v));
    return v;
}

void bring_up(int chn, int dev, int vo_chn, int sync, int rate, int w, int h, int audio) {
    INTF_SetResolution(sync, kIntfRx, rate, w, h);
    INTF_VDEC_ResetChn(chn);
    INTF_VDEC_StartRecv(chn);
    INTF_VO_Start(dev, vo_chn);
    INTF_HDMI_SetType(0, sync, audio, 1);
    INTF_HDMI_Change(0);
    INTF_SYS_BIND(kModVdec, 0, chn, kModVo, dev, vo_chn);
}

// Reads up to cap bytes of a board file; false (errno set, 0 for an empty file) when nothing came.
bool read_picture(const char* board_path, uint8_t* buf, uint32_t cap, uint32_t* len) {
    errno = 0;
    const std::string host = hdext::board::path(board_path);
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint32_t got = 0;
    while (got < cap) {
        const ssize_t r = ::read(fd, buf + got, cap - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<uint32_t>(r);
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    *len = got;
    return got > 0;
}

} // namespace

const char* status_picture_path(int type) {
    return type >= VDEC_TYPE_SEARCHING && type <= VDEC_TYPE_NO_SIGNAL ? kPictures[type] : nullptr;
}

void CMediaDecoder::SetOutputGpios() {
    hdext::board::gpio::set_value(62, 0);
    hdext::board::gpio::set_value(63, relaxed(VO_SYNC_ATT) >= 22 ? 1 : 0);
}

int CMediaDecoder::TearDownPicture() {
    const int rc = INTF_SYS_UNBIND(kModVdec, 0, m_PicVdecChn, kModVo, m_PicVoDev, m_PicVoChn);
    if (rc != 0) {
        printf("VDEC Chn 1 UnBind VO Chn 1 failed with %#x!\n", rc);
        return -1;
    }
    INTF_VO_Stop(m_PicVoDev, m_PicVoChn);
    INTF_VDEC_StopRecv(m_PicVdecChn);
    INTF_VDEC_ResetChn(m_PicVdecChn);
    m_PicActive.store(0, std::memory_order_relaxed);
    return 0;
}

void CMediaDecoder::TearDownVideo() {
    const int rc = INTF_SYS_UNBIND(kModVdec, 0, m_VdecChn, kModVo, m_VoDev, m_VoChn);
    if (rc != 0 && debug_level.load(std::memory_order_relaxed) > 2)
        dump_print("../source/CVideoDecoderTask.cpp", __LINE__, __func__, "VDEC UnBind VO failed with %#x!\n", rc);
    INTF_VO_Stop(m_VoDev, m_VoChn);
    INTF_VDEC_StopRecv(m_VdecChn);
    INTF_VDEC_ResetChn(m_VdecChn);
    m_VideoActive.store(0, std::memory_order_relaxed);
}

void CMediaDecoder::BringUpPicture() {
    bring_up(m_PicVdecChn, m_PicVoDev, m_PicVoChn, kPicSync, kPicRate, kPicWidth, kPicHeight, kPicAudioRate);
    m_PicActive.store(1, std::memory_order_relaxed);
}

void CMediaDecoder::BringUpVideo() {
    bring_up(m_VdecChn, m_VoDev, m_VoChn, relaxed(VO_SYNC_ATT), relaxed(FrameRate), relaxed(MaxW_ATT),
             relaxed(MaxH_ATT), relaxed(AudioSampling));
    m_VideoActive.store(1, std::memory_order_relaxed);
}

int CMediaDecoder::StartVideo() {
    SetOutputGpios();
    if (relaxed(VO_SYNC_ATT) == kNoTiming) return -1;
    if (m_PicActive.load(std::memory_order_relaxed) && TearDownPicture() != 0) return -1;
    if (!m_VideoActive.load(std::memory_order_relaxed)) BringUpVideo();
    m_DisplayState.store(VDEC_TYPE_LIVE, std::memory_order_relaxed);
    return 0;
}

int CMediaDecoder::Restart() {
    m_DisplayState.store(VDEC_TYPE_NONE, std::memory_order_relaxed);
    SetOutputGpios();
    if (m_PicActive.load(std::memory_order_relaxed) && TearDownPicture() != 0) return -1;
    if (m_VideoActive.load(std::memory_order_relaxed)) TearDownVideo();
    m_Width = relaxed(MaxW_ATT);
    m_Height = relaxed(MaxH_ATT);
    BringUpVideo();
    m_DisplayState.store(VDEC_TYPE_LIVE, std::memory_order_relaxed);
    return 0;
}

int CMediaDecoder::DecodeJPEG(int type) {
    hdext::board::gpio::set_value(62, 0);
    hdext::board::gpio::set_value(63, 1);
    if (!m_pJpeg) {
        m_pJpeg = static_cast<uint8_t*>(malloc(kStatusPictureBytes));
        if (!m_pJpeg) {
            printf("alloc JPEG buffer failed\n");
            return -1;
        }
    }
    memset(m_pJpeg, 0, kStatusPictureBytes);
    const char* file = status_picture_path(type);
    if (!file) {
        m_DisplayState.store(VDEC_TYPE_NONE, std::memory_order_relaxed);
        return 0;
    }
    // Read before touching the outputs: a missing picture leaves whatever shows now in place,
    // and the state says what that is (live video resumes when frames come back).
    uint32_t len = 0;
    if (!read_picture(file, m_pJpeg, kStatusPictureBytes, &len)) {
        printf("status picture %s cannot be read: %s\n", file, errno ? strerror(errno) : "empty file");
        m_DisplayState.store(m_VideoActive.load(std::memory_order_relaxed) ? VDEC_TYPE_LIVE : VDEC_TYPE_NONE,
                             std::memory_order_relaxed);
        return -1;
    }
    m_DisplayState.store(type, std::memory_order_relaxed);
    if (m_VideoActive.load(std::memory_order_relaxed)) TearDownVideo();
    if (m_PicActive.load(std::memory_order_relaxed) && TearDownPicture() != 0) return -1;
    BringUpPicture();
    _MEDIA_FRAME_COMM_INFO info{m_pJpeg, len, 0};
    INTF_VDEC_SendStream(m_PicVdecChn, &info);
    INTF_VDEC_SendStream(m_PicVdecChn, &info);
    return 0;
}

int CMediaDecoder::DecodeStream(int chn, _MEDIA_FRAME_COMM_INFO* info) {
    INTF_VDEC_SendStream(chn, info);
    return 0;
}

int CMediaDecoder::StartDecoder(int payload, int send_mode) {
    m_PayloadType = payload;
    m_SendMode = send_mode;
    return 0;
}

void onDecodeHandler(THR_TASK*, MQ_LIST* msg) {
    CMediaDecoder* dec = g_pDecoder;
    if (!msg || !dec) return;
    const int param = param_of(msg);
    switch (msg->msg_id) {
    case kMsgDecodeShowPicture:
        DUMP(1, "hdmi close:%d", param);
        dec->DecodeJPEG(param);
        break;
    case kMsgDecodeRestart:
        DUMP(1, "hdmi change");
        dec->Restart();
        break;
    case kMsgDecodeStartVideo:
        DUMP(1, "hdmi open:%d", param);
        dec->StartVideo();
        break;
    case kMsgDecodeSampling:
        DUMP(1, "Receive CMD: SAMPLING_CHANGE");
        if (g_pADecoder) g_pADecoder->SetDecodeFlag(1);
        break;
    default:
        break;
    }
    dec->m_MsgsHandled.fetch_add(1, std::memory_order_release);
}

namespace {

void init_decode_task(THR_TASK* task) { register_msg_handler(task, onDecodeHandler); }

void report_vdec(const char* what, int line, int rc) {
    printf("\033[0;31m%s failed at %s: LINE: %d with %#x!\033[0;39m\n", what, "vdec_set", line, rc);
}

} // namespace

int vdec_set() {
    ot_vdec_mod_param param{};
    int rc = ss_mpi_vdec_get_mod_param(&param);
    if (rc != 0) {
        report_vdec("vdec get mod param", __LINE__, rc);
        return rc;
    }
    param.vb_src = 1;
    rc = ss_mpi_vdec_set_mod_param(&param);
    if (rc != 0) report_vdec("vdec set mod param", __LINE__, rc);
    return rc;
}

int Quendor_Init_deVideo_Task() {
    delete g_pDecoder; // only a test initialises twice
    auto* dec = new CMediaDecoder(0, 0, 0, 0, 1, 1, 1, 1);
    g_pDecoder = dec;
    dec->InitList(150);
    vdec_set();
    INTF_VO_Create(0, 0, 0);
    INTF_VDEC_Create(0);
    INTF_VO_Create(1, 1, 1);
    INTF_VDEC_Create(1);
    INTF_SetResolution(kPicSync, kIntfRx, kPicRate, kPicWidth, kPicHeight);
    if (g_EquipmentModel.load(std::memory_order_relaxed) == EQUIPMENT_MODEL_RX) {
        INTF_VO_Start(1, 1);
        INTF_HDMI_Create(0);
        INTF_HDMI_SetType(0, kPicSync, kPicAudioRate, 1);
        INTF_HDMI_Start(0);
        INTF_VDEC_SetDecodeType(1, kPayloadJpeg, kSendModeFrame);
        INTF_VDEC_Start(1);
        INTF_SYS_BIND(kModVdec, 0, 1, kModVo, 1, 1);
        dec->m_PicActive.store(1, std::memory_order_relaxed);
        count_late_drops(0); // watchers see the figure from the start
    }
    // One task for the life of the process, even if a test initialises again.
    if (!get_task_info(kVideoDecodeModule)) register_task(kVideoDecodeModule, nullptr, init_decode_task, 0);
    ABS_WIFI_AP_CONFIG_t wifi{};
    CParamConfig::Instance()->GetWifiInfo(&wifi);
    int type = strncmp(wifi.ssid, kDefaultSsid, sizeof(wifi.ssid)) == 0 ? VDEC_TYPE_PAIRING : VDEC_TYPE_SEARCHING;
    notify_decoding_task(kVideoDecodeModule, kMsgDecodeShowPicture, reinterpret_cast<char*>(&type), sizeof(type));
    return 0;
}

int Quendor_Start_deVideo_Task() {
    CMediaDecoder* dec = g_pDecoder;
    if (!dec) return -1;
    dec->SetOutputGpios();
    if (dec->m_PicActive.load(std::memory_order_relaxed)) {
        INTF_SYS_UNBIND(kModVdec, 0, 1, kModVo, 1, 1);
        INTF_VO_Stop(1, 1);
        INTF_VDEC_StopRecv(1);
        INTF_VDEC_ResetChn(1);
        dec->m_PicActive.store(0, std::memory_order_relaxed);
    }
    if (!dec->m_VideoActive.load(std::memory_order_relaxed)) {
        const int sync = relaxed(VO_SYNC_ATT);
        INTF_SetResolution(sync, kIntfRx, relaxed(FrameRate), relaxed(MaxW_ATT), relaxed(MaxH_ATT));
        INTF_VO_Start(0, 0);
        INTF_HDMI_SetType(0, sync, relaxed(AudioSampling), 1);
        INTF_HDMI_Change(0);
        INTF_VDEC_SetDecodeType(0, kPayloadH264, kSendModeFrame);
        INTF_VDEC_Start(0);
        INTF_SYS_BIND(kModVdec, 0, 0, kModVo, 0, 0);
        dec->m_VideoActive.store(1, std::memory_order_relaxed);
    }
    dec->m_DisplayState.store(VDEC_TYPE_LIVE, std::memory_order_relaxed);
    const int rc = hdext::decode::start_decode_thread(DecodeVidecStreamEntry, dec, hdext::decode::kVideoThread);
    if (rc != 0) {
        printf("pthread_create ret=%d\n", rc);
        return -1;
    }
    return 0;
}
