#include "rtsp/rtsp_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "rtsp/rtp_pcma_pay.h"
#include "rtsp/rtsp_server_impl.h"

namespace {

using Impl = RtspRestream::Impl;

constexpr guint kCleanupPeriodS = 1;
// All clients share one source per track: one pipeline, built for the first client.
constexpr gboolean reuseFirstSource = TRUE;

std::string launch_line(const RtspServerOptions& o) {
    const int rate = o.audio_rate == 96001 ? 48000 : o.audio_rate;
    // max-ptime keeps an audio packet within the source's preferred frame size.
    const int preferred = (0.04 * rate) < 700 ? 2 * static_cast<int>(0.04 * rate) : 1400;
    const long long max_ptime = static_cast<long long>(preferred) * 1000000000LL / rate;
    char line[1024];
    snprintf(line, sizeof line,
             "( appsrc name=asrc is-live=true format=time block=false max-bytes=%zu "
             "caps=\"audio/x-alaw,rate=(int)%d,channels=(int)1\" ! hdextpcmapay name=pay0 pt=97 max-ptime=%lld "
             "appsrc name=vsrc is-live=true format=time block=false max-bytes=%zu "
             "caps=\"video/x-h264,stream-format=(string)byte-stream,alignment=(string)au\" ! "
             "h264parse config-interval=-1 ! rtph264pay name=pay1 pt=96 config-interval=-1 )",
             o.audio_queue_bytes * 2, rate, max_ptime, o.video_queue_bytes * 2);
    return line;
}

GstAppSrc* find_src(GstElement* bin, const char* name) {
    GstElement* e = gst_bin_get_by_name_recurse_up(GST_BIN(bin), name);
    return e ? GST_APP_SRC(e) : nullptr;
}

void on_unprepared(GstRTSPMedia* media, gpointer self) { static_cast<Impl*>(self)->detach(media); }

void on_media_configure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer self) {
    static_cast<Impl*>(self)->attach(media);
}

void on_new_session(GstRTSPClient*, GstRTSPSession* session, gpointer self) {
    gst_rtsp_session_set_timeout(session, static_cast<guint>(static_cast<Impl*>(self)->opt.session_timeout_s));
}

void on_client_connected(GstRTSPServer*, GstRTSPClient* client, gpointer self) {
    g_signal_connect(client, "new-session", G_CALLBACK(on_new_session), self);
}

gboolean cleanup_sessions(gpointer self) {
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(static_cast<Impl*>(self)->server);
    gst_rtsp_session_pool_cleanup(pool);
    g_object_unref(pool);
    return G_SOURCE_CONTINUE;
}

GstRTSPFilterResult remove_client(GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REMOVE; }

GstRTSPFilterResult remove_session(GstRTSPSessionPool*, GstRTSPSession*, gpointer) {
    return GST_RTSP_FILTER_REMOVE;
}

// Runs on the event loop: every client and session goes, then the loop ends.
gboolean shut_down(gpointer self) {
    auto* m = static_cast<Impl*>(self);
    gst_rtsp_server_client_filter(m->server, remove_client, nullptr);
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(m->server);
    gst_rtsp_session_pool_filter(pool, remove_session, nullptr);
    g_object_unref(pool);
    g_main_loop_quit(m->loop);
    return G_SOURCE_REMOVE;
}

} // namespace

void RtspRestream::Impl::attach(GstRTSPMedia* m) {
    GstElement* bin = gst_rtsp_media_get_element(m);
    GstAppSrc* v = find_src(bin, "vsrc");
    GstAppSrc* a = find_src(bin, "asrc");
    gst_object_unref(bin);
    g_object_ref(m);
    g_signal_connect(m, "unprepared", G_CALLBACK(on_unprepared), this);
    detach(current());
    {
        std::lock_guard<std::mutex> g(lock);
        media = m;
        video = v;
        audio = a;
        need_idr = true;
        seen_idr = false;
        audio_next = GST_CLOCK_TIME_NONE;
    }
    built.fetch_add(1, std::memory_order_relaxed);
}

// The pipeline is going: the feeding threads lose its sources. Also used at stop, so that no
// callback can reach this object after it is gone.
void RtspRestream::Impl::detach(GstRTSPMedia* m) {
    GstAppSrc* v = nullptr;
    GstAppSrc* a = nullptr;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!m || media != m) return;
        media = nullptr;
        std::swap(v, video);
        std::swap(a, audio);
    }
    g_signal_handlers_disconnect_by_data(m, this);
    g_object_unref(m);
    if (v) gst_object_unref(v);
    if (a) gst_object_unref(a);
}

RtspRestream::RtspRestream(RtspServerOptions opt) : m(std::make_unique<Impl>(std::move(opt))) {}

RtspRestream::~RtspRestream() { stop(); }

bool RtspRestream::start(std::string* error) {
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);
    if (!register_pcma_payloader()) {
        if (error) *error = "the PCMA payloader cannot be registered";
        return false;
    }
    m->server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(m->server, m->opt.address.c_str());
    gst_rtsp_server_set_service(m->server, std::to_string(m->opt.port).c_str());

    m->factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(m->factory, launch_line(m->opt).c_str());
    gst_rtsp_media_factory_set_shared(m->factory, reuseFirstSource);
    GstRTSPAddressPool* ports = gst_rtsp_address_pool_new();
    gst_rtsp_address_pool_add_range(ports, GST_RTSP_ADDRESS_POOL_ANY_IPV4, GST_RTSP_ADDRESS_POOL_ANY_IPV4,
                                    static_cast<guint16>(m->opt.rtp_port_first),
                                    static_cast<guint16>(m->opt.rtp_port_last), 0);
    gst_rtsp_media_factory_set_address_pool(m->factory, ports);
    g_object_unref(ports);
    g_signal_connect(m->factory, "media-configure", G_CALLBACK(on_media_configure), m.get());
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(m->server);
    gst_rtsp_mount_points_add_factory(mounts, ("/" + m->opt.session).c_str(),
                                      GST_RTSP_MEDIA_FACTORY(g_object_ref(m->factory)));
    g_object_unref(mounts);
    g_signal_connect(m->server, "client-connected", G_CALLBACK(on_client_connected), m.get());

    GError* err = nullptr;
    m->listen_source = gst_rtsp_server_create_source(m->server, nullptr, &err);
    if (!m->listen_source) {
        if (error) *error = err ? err->message : "cannot listen";
        if (err) g_error_free(err);
        stop();
        return false;
    }
    m->context = g_main_context_new();
    m->loop = g_main_loop_new(m->context, FALSE);
    g_source_attach(m->listen_source, m->context);
    m->cleanup_source = g_timeout_source_new_seconds(kCleanupPeriodS);
    g_source_set_callback(m->cleanup_source, cleanup_sessions, m.get(), nullptr);
    g_source_attach(m->cleanup_source, m->context);

    m->loop_thread = std::thread([impl = m.get()] {
        pthread_setname_np(pthread_self(), "rtsp-server");
        g_main_context_push_thread_default(impl->context);
        g_main_loop_run(impl->loop);
        g_main_context_pop_thread_default(impl->context);
    });
    m->video_thread = std::thread([impl = m.get()] { impl->feed_video(); });
    m->audio_thread = std::thread([impl = m.get()] { impl->feed_audio(); });
    return true;
}

void RtspRestream::stop() {
    if (!m) return;
    m->stopping.store(true, std::memory_order_relaxed);
    if (m->video_thread.joinable()) m->video_thread.join();
    if (m->audio_thread.joinable()) m->audio_thread.join();
    if (m->loop_thread.joinable()) {
        g_main_context_invoke(m->context, shut_down, m.get());
        m->loop_thread.join();
    }
    for (GSource** s : {&m->listen_source, &m->cleanup_source}) {
        if (*s) {
            g_source_destroy(*s);
            g_source_unref(*s);
            *s = nullptr;
        }
    }
    m->detach(m->current());
    if (m->server) {
        g_object_unref(m->server);
        m->server = nullptr;
    }
    if (m->factory) {
        g_object_unref(m->factory);
        m->factory = nullptr;
    }
    if (m->loop) {
        g_main_loop_unref(m->loop);
        m->loop = nullptr;
    }
    if (m->context) {
        g_main_context_unref(m->context);
        m->context = nullptr;
    }
}

void RtspRestream::join() {
    if (m->loop_thread.joinable()) m->loop_thread.join();
}

std::string RtspRestream::url() const {
    return "rtsp://" + m->opt.announce_host + ":" + std::to_string(m->opt.port) + "/" + m->opt.session;
}

int RtspRestream::session_count() const {
    if (!m->server) return 0;
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(m->server);
    int n = static_cast<int>(gst_rtsp_session_pool_get_n_sessions(pool));
    g_object_unref(pool);
    return n;
}

int RtspRestream::pipelines_built() const { return m->built.load(std::memory_order_relaxed); }

void* rtmp_init(void*) {
    printf("###### ###### rtmp_init thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    RtspServerOptions opt;
    opt.video_list = g_pDecoder ? g_pDecoder->m_pRtmpList : nullptr;
    opt.audio_list = g_pADecoder ? g_pADecoder->m_pRtmpList : nullptr;
    // Lives as long as the process; never destroyed, so a crash exit does not wait for it.
    auto* server = new RtspRestream(opt);
    std::string error;
    if (!server->start(&error)) {
        printf("Failed to create RTSP server: %s\n", error.c_str());
        exit(1);
    }
    printf("\n\"%s\" stream, from the file \"%s\"\n", "live", "zvlive");
    printf("Play this stream using the URL \"%s\"\n", server->url().c_str());
    server->join();
    return nullptr;
}
