// The RTSP re-stream server: one session "live" with a PCMA track and an H.264 track, fed from
// the decode tasks' re-stream lists without re-encoding. All clients share one pipeline (one
// source per track); the factory hands the pipeline's appsrc elements to the feeding threads
// when it builds the pipeline and takes them back when the pipeline is torn down.
#pragma once
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "core/frame.h"

// The USB Ethernet adapter's address: the only one the server listens on.
inline constexpr const char* kRestreamAddress = "192.168.0.1";
inline constexpr int kRtspPort = 8554;
inline constexpr int kRtspSessionTimeoutS = 65;
// A laptop on the adapter needs one or two connections; more are refused at once.
inline constexpr int kRtspMaxClients = 4;
// A server that cannot start (the adapter's address gone meanwhile) is tried again this often.
inline constexpr std::chrono::milliseconds kRtspRetry{1000};
// A connection that has held no session this long (never set one up, or its session ended or
// was reclaimed) is closed.
inline constexpr int kRtspIdleTimeoutS = 15;

struct RtspServerOptions {
    std::string address = kRestreamAddress;  // listened on, and announced; tests use loopback
    int port = kRtspPort;
    std::string session = "live";
    int session_timeout_s = kRtspSessionTimeoutS;
    int max_clients = kRtspMaxClients;       // connections at once (sessions: twice as many)
    int idle_timeout_s = kRtspIdleTimeoutS;
    int rtp_port_first = 6970;          // server-side RTP/RTCP ports of UDP clients, in pairs
    int rtp_port_last = 6999;
    int audio_rate = 44100;             // the rate value of the audio source (96001: 48000 Hz)
    frame_buff_head* video_list = nullptr;
    frame_buff_head* audio_list = nullptr;
    int poll_us = 1000;                 // pause of a feeding thread after an empty poll
    size_t video_queue_bytes = 4u << 20; // beyond this the video track waits for the next IDR
    size_t audio_queue_bytes = 64u << 10;
    // Called on the feeding thread right after a frame was handed to the pipeline; for
    // measurements. track: 0 audio, 1 video.
    void (*pushed)(int track) = nullptr;
};

class RtspRestream {
public:
    explicit RtspRestream(RtspServerOptions opt);
    ~RtspRestream();
    RtspRestream(const RtspRestream&) = delete;
    RtspRestream& operator=(const RtspRestream&) = delete;

    // Initialises GStreamer if needed, binds the port and starts the event loop and the two
    // feeding threads. false and a message when the server cannot be created.
    bool start(std::string* error);
    // Ends every client session, the loop and the feeders. Not called by the program.
    void stop();
    // Blocks on the event loop thread (the program's server thread never returns).
    void join();

    std::string url() const;
    // Sessions the server holds now (expired ones are reclaimed about once a second).
    int session_count() const;
    // How many times a pipeline was built for clients (shared: once per run of clients).
    int pipelines_built() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m;
};

// Starts a server, and while it cannot be created tries again every `retry`, saying so once;
// nullptr only after `attempts` failures (0: no limit). Blocks; any thread.
std::unique_ptr<RtspRestream> start_restream(const RtspServerOptions& opt, std::chrono::milliseconds retry = kRtspRetry,
                                             int attempts = 0);

// The RTSP server thread of the full build: starts the server on the decode tasks' re-stream
// lists (start_restream), prints the announcement and runs the event loop forever.
void* rtmp_init(void* arg);
