#include "encode/audio_encoder_task.h"

#include <pthread.h>
#include <sys/select.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/dump_print.h"
#include "encode/encode_threads.h"
#include "media/codec.h"
#include "media/g711.h"
#include "mpi/mpi.h"
#include "periph/input_state.h"

CAudioEncoderTask* g_pAEncoder = nullptr;

namespace {

constexpr int kSoundMode = 1;
constexpr int kBitWidthArg = 19;
constexpr int kMaxPcmBytes = 16384;
constexpr int kBlock = -1; // the descriptor said a frame is there

int get(const std::atomic<int>& v) { return v.load(std::memory_order_relaxed); }

// Waits up to `wait` for fd: 1 readable, 0 time-out, -1 error.
int wait_readable(int fd, std::chrono::milliseconds wait) {
    if (fd < 0 || fd >= FD_SETSIZE) return -1;
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(fd, &rs);
    timeval tv{0, static_cast<suseconds_t>(wait.count() * 1000)};
    return ::select(fd + 1, &rs, nullptr, nullptr, &tv);
}

} // namespace

int CheckAudio(unsigned char* data, int length) {
    if (length < 1) return 1;
    for (int i = 0; i < length; ++i)
        if (data[i] != 0) return 0;
    return 1;
}

CAudioEncoderTask::CAudioEncoderTask(int sub_type, int sdi_dev, int sdi_chn, int hdmi_dev,
                                     int hdmi_chn)
    : m_subType(sub_type), m_sdiDev(sdi_dev), m_sdiChn(sdi_chn), m_hdmiDev(hdmi_dev),
      m_hdmiChn(hdmi_chn) {
    for (auto& l : m_lists) init_frame_buff_head(&l);
}

CAudioEncoderTask::~CAudioEncoderTask() {
    for (auto& l : m_lists) frame_queue_flush(&l);
}

int CAudioEncoderTask::SetFrameListLength(int n) {
    const bool ok = n >= 100 && n <= 200;
    m_listLimit.store(ok ? n : 100, std::memory_order_relaxed);
    return ok ? 0 : -1;
}

int CAudioEncoderTask::InitAttr(int payload_type, int bit_width) {
    m_payload = payload_type;
    m_bitWidth = bit_width;
    return 0;
}

frame_buff_head* CAudioEncoderTask::GetFrameHead() {
    for (int i = 0; i < 3; ++i) {
        if (m_inUse[i].load(std::memory_order_relaxed)) continue;
        m_inUse[i].store(1, std::memory_order_relaxed);
        std::printf("Audio Get frame head : %d\n", i);
        return &m_lists[i];
    }
    return nullptr;
}

void CAudioEncoderTask::ReleaseFrameHead(frame_buff_head* list) {
    for (int i = 0; i < 3; ++i) {
        if (list != &m_lists[i]) continue;
        std::printf("Audio Release frame head : %d\n", i);
        m_inUse[i].store(0, std::memory_order_relaxed);
        frame_queue_flush(list);
        return;
    }
}

int CAudioEncoderTask::DispatchFrame(frame_buff* frame) {
    const int limit = GetListLimit();
    frame_set_taken(frame, frame_now_us());
    for (int i = 0; i < 3; ++i)
        if (m_inUse[i].load(std::memory_order_relaxed)) frame_fan_out(&m_lists[i], frame, limit);
    return 0;
}

void CAudioEncoderTask::SelectInput() {
    const int mode = get(vi_mode);
    if (mode == 1) {
        m_dev = m_sdiDev;
        m_chn = m_sdiChn;
        m_rate = get(AudioSampling_3471);
    } else if (mode == 2 || !m_started) {
        m_dev = m_hdmiDev;
        m_chn = m_hdmiChn;
        m_rate = get(AudioSampling_6911);
    }
    m_started = true;
    m_fd = ss_mpi_ai_get_fd(m_dev, m_chn);
}

void CAudioEncoderTask::HandleCommand() {
    int cmd;
    pthread_mutex_lock(&audio_mutex);
    cmd = audio_en.load(std::memory_order_relaxed);
    if (cmd != hdext::kAudioRunning) audio_en.store(hdext::kAudioRunning, std::memory_order_relaxed);
    pthread_mutex_unlock(&audio_mutex);

    // audio_en holds one command, so a stop followed at once by a start is seen as the start
    // alone: a start therefore first stops whichever input still captures.
    switch (cmd) {
    case hdext::kAudioStart:
        StopCapture();
        SelectInput();
        INTF_AI_SetAudio(m_dev, m_chn, m_rate, kSoundMode, kBitWidthArg);
        INTF_AI_Start(m_dev, m_chn);
        CapturingOn(m_dev, m_chn);
        break;
    case hdext::kAudioRestart:
        SelectInput();
        if (m_capDev != m_dev || m_capChn != m_chn) StopCapture();
        INTF_AI_Stop(m_dev, m_chn);
        INTF_AI_SetAudio(m_dev, m_chn, m_rate, kSoundMode, kBitWidthArg);
        INTF_AI_Start(m_dev, m_chn);
        CapturingOn(m_dev, m_chn);
        break;
    case hdext::kAudioSdiFromHdmi:
        SelectInput();
        if (m_capDev != m_hdmiDev || m_capChn != m_hdmiChn) StopCapture();
        INTF_AI_Stop(m_hdmiDev, m_hdmiChn);
        INTF_AI_SetAudio(m_sdiDev, m_sdiChn, get(AudioSampling_3471), kSoundMode, kBitWidthArg);
        INTF_AI_Start(m_sdiDev, m_sdiChn);
        CapturingOn(m_sdiDev, m_sdiChn);
        break;
    case hdext::kAudioStop:
        StopCapture();
        return;
    default:
        return;
    }
    // A started input may hand out a new descriptor; the one taken before the start can be
    // closed by then.
    m_fd = ss_mpi_ai_get_fd(m_dev, m_chn);
}

void CAudioEncoderTask::CapturingOn(int dev, int chn) {
    m_capturing = true;
    m_capDev = dev;
    m_capChn = chn;
}

void CAudioEncoderTask::StopCapture() {
    if (!m_capturing) return;
    INTF_AI_Stop(m_capDev, m_capChn);
    m_capturing = false;
}

bool CAudioEncoderTask::CaptureOne() {
    ot_audio_frame pcm{};
    ot_aec_frame echo{};
    int r = ss_mpi_ai_get_frame(m_dev, m_chn, &pcm, &echo, kBlock);
    if (r != 0) {
        std::printf("ss_mpi_ai_get_frame failure ret=%#x \n", r);
        return false;
    }
    const int len = static_cast<int>(std::min<uint32_t>(pcm.len, kMaxPcmBytes));
    if (CheckAudio(pcm.virt_addr[0], len)) m_silenceSeen = true;
    // The platform hands bytes; the samples are copied out rather than read in place, which
    // would need the buffer to sit at an even address.
    short samples[kMaxPcmBytes / 2];
    if (len > 0) std::memcpy(samples, pcm.virt_addr[0], static_cast<size_t>(len));
    unsigned char alaw[kMaxPcmBytes / 2];
    const int n = len > 0 ? G711ALawEncode(alaw, samples, static_cast<unsigned>(len)) : 0;
    frame_buff* f = alloc_audio_frame(static_cast<uint32_t>(n));
    if (!f) {
        std::printf("alloc_audio_frame fail!@@@@@@@@@@ len=%d", n);
        ss_mpi_ai_release_frame(m_dev, m_chn, &pcm, &echo);
        return false;
    }
    if (frame_copy_data(f, alaw, static_cast<uint32_t>(n)) != n) {
        std::printf("frame_copy_data audio packet fail!\n");
    } else {
        f->pts = pcm.time_stamp;
        f->kind = kFrameKindAudio;
        f->param = static_cast<uint16_t>(m_subType);
        f->aux = pcm.seq;
        DispatchFrame(f);
    }
    free_audio_frame(f);

    r = ss_mpi_ai_release_frame(m_dev, m_chn, &pcm, &echo);
    if (r != 0) {
        std::printf("ss_mpi_ai_release_frame failure ret=%#x \n", r);
        return false;
    }
    if (get(vi_mode) == 2 && RestartAudio.load(std::memory_order_relaxed)) {
        if (m_silenceSeen) {
            m_silenceBefore = true;
            m_silenceSeen = false;
        } else if (m_silenceBefore) {
            std::printf("mute RestartAudio ");
            m_silenceBefore = false;
            if (m_recheck) m_recheck();
            RestartAudio.store(0, std::memory_order_relaxed);
        } else {
            RestartAudio.store(0, std::memory_order_relaxed);
        }
    }
    m_samples.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    if (++m_captured % hdext::kAencReportEvery == 0)
        DUMP(3, "audio encoder: %llu frames captured, %llu samples sent\n",
             static_cast<unsigned long long>(m_captured),
             static_cast<unsigned long long>(SamplesSent()));
    return true;
}

bool CAudioEncoderTask::UpdateFrameRate() {
    if (!Frame_en.load(std::memory_order_relaxed)) return true;
    const int mode = get(vi_mode);
    if (mode != 1 && mode != 2) return true;
    const int rate = mode == 1 ? get(FrameRate_3471) : get(FrameRate_6911);
    if (rate == 0) return false;
    if (rate != m_frameRate && m_frameRate != 0.0) {
        m_samples.store(0, std::memory_order_relaxed);
        videc_number.total.store(0, std::memory_order_relaxed);
    }
    m_frameRate = rate;
    Frame_en.store(0, std::memory_order_relaxed);
    return true;
}

void CAudioEncoderTask::SendSilence() {
    static const short zeros[hdext::kSilenceSamples] = {};
    unsigned char alaw[hdext::kSilenceSamples];
    const int n = G711ALawEncode(alaw, zeros, sizeof zeros);
    frame_buff* f;
    while (!(f = alloc_audio_frame(static_cast<uint32_t>(n))))
        std::printf("mute alloc_audio_frame fail!@@@@@@@@@@ len=%d \n", n);
    if (frame_copy_data(f, alaw, static_cast<uint32_t>(n)) != n) {
        std::printf("mute frame_copy_data audio packet fail!\n");
    } else {
        f->pts = 0;
        f->kind = kFrameKindAudio;
        f->param = static_cast<uint16_t>(m_subType);
        f->aux = 0;
        DispatchFrame(f);
    }
    free_audio_frame(f);
    m_samples.fetch_add(hdext::kSilenceSamples, std::memory_order_relaxed);
}

void CAudioEncoderTask::Pace() {
    if (m_rate == hdext::kAudioNoRate || m_frameRate == 0.0) return;
    for (;;) {
        const double video = videc_number.total.load(std::memory_order_relaxed) / m_frameRate;
        const double audio = static_cast<double>(m_samples.load(std::memory_order_relaxed)) /
                             hdext::kAudioClockRate;
        if (video - audio <= hdext::kAudioMaxLag) return;
        SendSilence();
    }
}

void CAudioEncoderTask::Pass() {
    if (!m_started) {
        SelectInput(); // the input Quendor_Start_enAudio_Task started
        CapturingOn(m_dev, m_chn);
    }
    HandleCommand();
    // A stopped input is not waited on (its descriptor may stay readable): the pass just
    // waits as long as a quiet input would.
    const int ready = m_capturing ? wait_readable(m_fd, m_aiWait) : 0;
    if (!m_capturing) std::this_thread::sleep_for(m_aiWait);
    if (ready < 0) {
        // A descriptor that fails at once would make the loop spin: pause, then take it again.
        std::this_thread::sleep_for(m_aiWait);
        m_fd = ss_mpi_ai_get_fd(m_dev, m_chn);
        return;
    }
    if (ready > 0 && !CaptureOne()) return;
    if (!UpdateFrameRate()) return;
    Pace();
}

void CAudioEncoderTask::GetEncStream() {
    const auto& stop = hdext::encode_threads_stop_flag();
    while (!stop.load()) Pass();
}

void* AEncTaskEntry(void* task) {
    std::printf("###### ###### Audio Encode Task thread PID=%X.\n",
                static_cast<unsigned>(pthread_self()));
    static_cast<CAudioEncoderTask*>(task)->GetEncStream();
    hdext::encode_thread_ended();
    return nullptr;
}

int Quendor_Start_enAudio_Task(INPUTER_MODE_e mode) {
    CAudioEncoderTask* t = g_pAEncoder;
    if (!t) return -1;
    pthread_mutex_lock(&audio_mutex);
    audio_en.store(hdext::kAudioRunning, std::memory_order_relaxed);
    pthread_mutex_unlock(&audio_mutex);
    const bool sdi = mode == INPUTER_SDI;
    const int dev = sdi ? t->GetSdiDev() : t->GetHdmiDev();
    const int chn = sdi ? t->GetSdiChn() : t->GetHdmiChn();
    const int rate = sdi ? get(AudioSampling_3471) : get(AudioSampling_6911);
    INTF_AI_SetAudio(dev, chn, rate, kSoundMode, kBitWidthArg);
    INTF_AI_Start(dev, chn);

    pthread_t tid;
    hdext::encode_thread_started();
    int r = pthread_create(&tid, nullptr, AEncTaskEntry, t);
    if (r != 0) {
        hdext::encode_thread_ended();
        std::printf("AEncTaskEntry pthread_create ret=%d\n", r);
        return -1;
    }
    pthread_detach(tid);
    return 0;
}
