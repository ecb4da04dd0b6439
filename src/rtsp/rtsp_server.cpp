#include "rtsp/rtsp_server.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "rtsp/rtp_pcma_pay.h"
#include "rtsp/rtsp_server_impl.h"

namespace {

using Impl = RtspRestream::Impl;

constexpr guint kCleanupPeriodS = 1;
constexpr int kAcceptBurst = 16;
constexpr guint kAcceptPauseMs = 100;
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
             "h264parse config-interval=-1 ! rtph264pay name=pay1 pt=96 )",
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

// When a client last held no session, in monotonic seconds (event loop only).
GQuark idle_since_quark() {
    static const GQuark q = g_quark_from_static_string("hdext-idle-since");
    return q;
}

gint64 now_s() { return g_get_monotonic_time() / G_USEC_PER_SEC; }

void set_idle_since(GstRTSPClient* client, gint64 t) {
    g_object_set_qdata(G_OBJECT(client), idle_since_quark(), GSIZE_TO_POINTER(static_cast<gsize>(t)));
}

std::string peer_of(GstRTSPClient* client) {
    GstRTSPConnection* conn = gst_rtsp_client_get_connection(client);
    const gchar* ip = conn ? gst_rtsp_connection_get_ip(conn) : nullptr;
    return ip ? ip : "?";
}

int client_count(GstRTSPServer* server) {
    GList* all = gst_rtsp_server_client_filter(server, nullptr, nullptr);
    const int n = static_cast<int>(g_list_length(all));
    g_list_free_full(all, g_object_unref);
    return n;
}

// Emitted on the event loop for every admitted connection, before it is served.
void on_client_connected(GstRTSPServer*, GstRTSPClient* client, gpointer self) {
    set_idle_since(client, now_s());
    g_signal_connect(client, "new-session", G_CALLBACK(on_new_session), self);
}

struct Peer {
    std::string ip = "?";
    int port = 0;
};

Peer peer_of(GSocket* s) {
    Peer p;
    GSocketAddress* a = g_socket_get_remote_address(s, nullptr);
    if (!a) return p;
    if (G_IS_INET_SOCKET_ADDRESS(a)) {
        auto* in = G_INET_SOCKET_ADDRESS(a);
        gchar* ip = g_inet_address_to_string(g_inet_socket_address_get_address(in));
        p.ip = ip;
        g_free(ip);
        p.port = g_inet_socket_address_get_port(in);
    }
    g_object_unref(a);
    return p;
}

gboolean listen_again(gpointer self) {
    static_cast<Impl*>(self)->listen();
    return G_SOURCE_REMOVE;
}

// The listening socket is ours, not the server's: a connection over the cap is closed here,
// before the server reads a byte of it. Each wake takes a bounded burst, so refusals keep pace
// with a connect flood and the clients' own watches still get their turn.
gboolean on_listener(GSocket* listener, GIOCondition, gpointer self) {
    auto* m = static_cast<Impl*>(self);
    for (int i = 0; i < kAcceptBurst; ++i) {
        GError* err = nullptr;
        GSocket* connection = g_socket_accept(listener, nullptr, &err);
        if (connection) {
            m->accept_said = false;
            m->admit(connection);
            continue;
        }
        const bool drained = g_error_matches(err, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
        if (!drained) {
            // Out of descriptors the socket stays readable: rest instead of waking at once again.
            if (!m->accept_said)
                printf("RTSP: accept paused for %u ms: %s\n", kAcceptPauseMs, err->message);
            m->accept_said = true;
            g_source_unref(m->listen_source);
            m->listen_source = nullptr;
            GSource* later = g_timeout_source_new(kAcceptPauseMs);
            g_source_set_callback(later, listen_again, m, nullptr);
            g_source_attach(later, m->context);
            g_source_unref(later);
        }
        g_error_free(err);
        return drained ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

GstRTSPFilterResult close_if_idle(GstRTSPServer*, GstRTSPClient* client, gpointer self) {
    auto* m = static_cast<Impl*>(self);
    const gint64 now = now_s();
    if (GList* sessions = gst_rtsp_client_session_filter(client, nullptr, nullptr)) {
        g_list_free_full(sessions, g_object_unref);
        set_idle_since(client, now);
        return GST_RTSP_FILTER_KEEP;
    }
    const auto since = static_cast<gint64>(GPOINTER_TO_SIZE(g_object_get_qdata(G_OBJECT(client), idle_since_quark())));
    if (now - since < m->opt.idle_timeout_s) return GST_RTSP_FILTER_KEEP;
    printf("RTSP: connection from %s closed, no session for %d s\n", peer_of(client).c_str(), m->opt.idle_timeout_s);
    return GST_RTSP_FILTER_REMOVE;
}

gboolean cleanup_sessions(gpointer self) {
    auto* m = static_cast<Impl*>(self);
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(m->server);
    gst_rtsp_session_pool_cleanup(pool);
    g_object_unref(pool);
    gst_rtsp_server_client_filter(m->server, close_if_idle, m);
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

void RtspRestream::Impl::listen() {
    listen_source = g_socket_create_source(listener, G_IO_IN, nullptr);
    g_source_set_callback(listen_source, G_SOURCE_FUNC(on_listener), this, nullptr);
    g_source_attach(listen_source, context);
}

void RtspRestream::Impl::admit(GSocket* connection) {
    const Peer peer = peer_of(connection);
    const int others = client_count(server);
    if (others >= opt.max_clients) {
        if (!full_said)
            printf("RTSP: %d clients connected, the connection from %s and further ones are refused\n", others,
                   peer.ip.c_str());
        full_said = true;
        g_socket_close(connection, nullptr);
        g_object_unref(connection);
        return;
    }
    full_said = false;
    // The server takes the socket, also when it fails.
    if (!gst_rtsp_server_transfer_connection(server, connection, peer.ip.c_str(), peer.port, nullptr))
        printf("RTSP: the connection from %s could not be taken on\n", peer.ip.c_str());
}

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
    // Room for a player killed without ending its session, until the session is reclaimed.
    GstRTSPSessionPool* sessions = gst_rtsp_server_get_session_pool(m->server);
    gst_rtsp_session_pool_set_max_sessions(sessions, static_cast<guint>(2 * m->opt.max_clients));
    g_object_unref(sessions);

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
    m->listener = gst_rtsp_server_create_socket(m->server, nullptr, &err);
    if (!m->listener) {
        if (error) *error = err ? err->message : "cannot listen";
        if (err) g_error_free(err);
        stop();
        return false;
    }
    m->context = g_main_context_new();
    m->loop = g_main_loop_new(m->context, FALSE);
    m->listen();
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
    if (m->listener) {
        g_socket_close(m->listener, nullptr);
        g_object_unref(m->listener);
        m->listener = nullptr;
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
    return "rtsp://" + m->opt.address + ":" + std::to_string(m->opt.port) + "/" + m->opt.session;
}

int RtspRestream::session_count() const {
    if (!m->server) return 0;
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(m->server);
    int n = static_cast<int>(gst_rtsp_session_pool_get_n_sessions(pool));
    g_object_unref(pool);
    return n;
}

int RtspRestream::pipelines_built() const { return m->built.load(std::memory_order_relaxed); }

std::unique_ptr<RtspRestream> start_restream(const RtspServerOptions& opt, std::chrono::milliseconds retry,
                                             int attempts) {
    for (int n = 1;; ++n) {
        auto server = std::make_unique<RtspRestream>(opt);
        std::string error;
        if (server->start(&error)) return server;
        if (n == 1) {
            printf("Failed to create RTSP server: %s\n", error.c_str());
            printf("RTSP: trying again every %lld ms until the server starts\n", static_cast<long long>(retry.count()));
        }
        if (attempts > 0 && n >= attempts) return nullptr;
        std::this_thread::sleep_for(retry);
    }
}

void* rtmp_init(void*) {
    printf("###### ###### rtmp_init thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    RtspServerOptions opt;
    opt.video_list = g_pDecoder ? g_pDecoder->m_pRtmpList : nullptr;
    opt.audio_list = g_pADecoder ? g_pADecoder->m_pRtmpList : nullptr;
    // Lives as long as the process; never destroyed, so a crash exit does not wait for it.
    RtspRestream* server = start_restream(opt).release();
    printf("\n\"%s\" stream, from the file \"%s\"\n", "live", "zvlive");
    printf("Play this stream using the URL \"%s\"\n", server->url().c_str());
    server->join();
    return nullptr;
}
