// Internals of RtspRestream shared by the server (event loop, factory) and the feeding threads.
#pragma once
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "rtsp/rtsp_server.h"

struct RtspRestream::Impl {
    explicit Impl(RtspServerOptions o) : opt(std::move(o)) {}

    RtspServerOptions opt;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GstRTSPServer* server = nullptr;
    GstRTSPMediaFactory* factory = nullptr;
    GSocket* listener = nullptr;
    GSource* listen_source = nullptr;
    GSource* cleanup_source = nullptr;
    std::thread loop_thread;
    std::thread video_thread;
    std::thread audio_thread;
    std::atomic<bool> stopping{false};
    std::atomic<int> built{0};
    // Event loop only: the refusals since the last admitted client, and an accept failure since
    // the last accept that worked, were reported.
    bool full_said = false;
    bool accept_said = false;

    // The current pipeline's sources, held while it is prepared. The factory's callbacks
    // (event loop and media threads) and the feeding threads meet here.
    std::mutex lock;
    GstRTSPMedia* media = nullptr;
    GstAppSrc* video = nullptr;
    GstAppSrc* audio = nullptr;
    bool need_idr = true;      // video waits for an IDR (new pipeline, or a queue that got too long)
    bool seen_idr = false;     // audio is held until the pipeline has had its first IDR
    GstClockTime audio_next = GST_CLOCK_TIME_NONE;

    void feed_video();
    void feed_audio();
    void push_video(const unsigned char* data, int size);
    void push_audio(const unsigned char* data, int size);
    void listen();
    void admit(GSocket* connection);
    void attach(GstRTSPMedia* media);
    GstRTSPMedia* current() {
        std::lock_guard<std::mutex> g(lock);
        return media;
    }
    void detach(GstRTSPMedia* media);
};

// True when an Annex B access unit holds an IDR slice.
bool h264_has_idr(const unsigned char* data, int size);
