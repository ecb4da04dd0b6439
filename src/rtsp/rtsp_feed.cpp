// Feeding threads: each pulls its track's frames from a re-stream list and pushes them into the
// current pipeline's appsrc, time-stamped with the pipeline clock when pushed.
#include <unistd.h>

#include <vector>

#include "rtsp/rtsp_frames.h"
#include "rtsp/rtsp_server_impl.h"

namespace {

constexpr int kAudioFrameMax = 8192;
// Audio stamps run on by sample count; a jump larger than this re-anchors them to the clock.
constexpr GstClockTime kAudioResync = 100 * GST_MSECOND;

GstClockTime running_time(GstAppSrc* src) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(src));
    if (!clock) return GST_CLOCK_TIME_NONE;
    GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    GstClockTime base = gst_element_get_base_time(GST_ELEMENT(src));
    return now > base ? now - base : 0;
}

GstAppSrc* take_ref(GstAppSrc* src) { return src ? GST_APP_SRC(gst_object_ref(src)) : nullptr; }

} // namespace

bool h264_has_idr(const unsigned char* data, int size) {
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1F) == 5) return true;
    }
    return false;
}

void RtspRestream::Impl::push_video(const unsigned char* data, int size) {
    const bool idr = h264_has_idr(data, size);
    GstAppSrc* src = nullptr;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!video) return;
        if (gst_app_src_get_current_level_bytes(video) > opt.video_queue_bytes || (need_idr && !idr)) {
            // Nothing after a dropped frame decodes until the next IDR: drop up to it.
            need_idr = true;
            return;
        }
        need_idr = false;
        if (idr) seen_idr = true;
        src = take_ref(video);
    }
    GstBuffer* buf = gst_buffer_new_memdup(data, static_cast<gsize>(size));
    GST_BUFFER_PTS(buf) = running_time(src);
    gst_app_src_push_buffer(src, buf);
    gst_object_unref(src);
    if (opt.pushed) opt.pushed(1);
}

void RtspRestream::Impl::push_audio(const unsigned char* data, int size) {
    GstAppSrc* src = nullptr;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    const GstClockTime duration =
        gst_util_uint64_scale(static_cast<guint64>(size), GST_SECOND, static_cast<guint64>(opt.audio_rate == 96001 ? 48000 : opt.audio_rate));
    {
        std::lock_guard<std::mutex> g(lock);
        if (!audio || !seen_idr || gst_app_src_get_current_level_bytes(audio) > opt.audio_queue_bytes) return;
        src = take_ref(audio);
        GstClockTime now = running_time(src);
        if (GST_CLOCK_TIME_IS_VALID(now)) {
            // Continuous stamps keep the payloader's RTP clock free of jitter gaps.
            if (!GST_CLOCK_TIME_IS_VALID(audio_next) || now > audio_next + kAudioResync ||
                audio_next > now + kAudioResync)
                audio_next = now;
            pts = audio_next;
            audio_next += duration;
        }
    }
    GstBuffer* buf = gst_buffer_new_memdup(data, static_cast<gsize>(size));
    GST_BUFFER_PTS(buf) = pts;
    GST_BUFFER_DURATION(buf) = duration;
    gst_app_src_push_buffer(src, buf);
    gst_object_unref(src);
    if (opt.pushed) opt.pushed(0);
}

void RtspRestream::Impl::feed_video() {
    pthread_setname_np(pthread_self(), "rtsp-video");
    H264FramedLiveSource source(opt.video_list);
    std::vector<unsigned char> frame(static_cast<size_t>(source.maxFrameSize()));
    while (!stopping.load(std::memory_order_relaxed)) {
        timeval pt{};
        int n = opt.video_list ? source.doGetNextFrame(frame.data(), &pt) : 0;
        if (n > 0)
            push_video(frame.data(), n);
        else
            usleep(static_cast<useconds_t>(opt.poll_us));
    }
}

void RtspRestream::Impl::feed_audio() {
    pthread_setname_np(pthread_self(), "rtsp-audio");
    G711AudioStreamSource source(opt.audio_list, opt.audio_rate);
    unsigned char frame[kAudioFrameMax];
    while (!stopping.load(std::memory_order_relaxed)) {
        timeval pt{};
        double duration_us = 0;
        int n = opt.audio_list ? source.doGetNextFrame(frame, sizeof frame, &pt, &duration_us) : 0;
        if (n > 0)
            push_audio(frame, n);
        else
            usleep(static_cast<useconds_t>(opt.poll_us));
    }
}
