#include "sim/board/web_panel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "sim/board/air_state.h"
#include "sim/board/board_inputs.h"
#include "sim/board/kit_timeline.h"
#include "sim/board/unit_probe.h"
#include "sim/board/world.h"
#include "sim/devices/world_capture.h"

namespace hdext::sim {

extern const char kWebPanelPage[];  // web_panel.html, embedded at build time

namespace {
namespace fs = std::filesystem;
using nlohmann::json;

constexpr size_t kWorkers = 4;
constexpr size_t kPending = 16;
constexpr size_t kMaxBody = 1024;
// One request per connection: an idle keep-alive connection of the browser would hold one of the
// few workers.
constexpr size_t kRequestsPerConnection = 1;
// The live timelines: the span shown, and the end of the files read for it (60 pictures a
// second of about 30 bytes each, with room to spare).
constexpr uint64_t kTimelineUs = 30'000'000;
constexpr size_t kTimelineTail = 256 * 1024;

// httplib's own pool queues connections without limit. This one holds at most `pending` waiting
// for a worker; beyond that the acceptor waits (the kernel's backlog holds the rest) and says so.
class BoundedPool final : public httplib::TaskQueue {
public:
    BoundedPool(size_t workers, size_t pending) : m_pending(pending) {
        for (size_t i = 0; i < workers; ++i) m_threads.emplace_back([this] { work(); });
    }
    void enqueue(std::function<void()> fn) override {
        std::unique_lock lock(m_mu);
        if (m_jobs.size() >= m_pending && !m_said) {
            std::fprintf(stderr, "panel: every worker is busy, new connections wait\n");
            m_said = true;
        }
        m_room.wait(lock, [&] { return m_jobs.size() < m_pending || m_stop; });
        m_jobs.push_back(std::move(fn));
        m_ready.notify_one();
    }
    void shutdown() override {
        {
            std::lock_guard lock(m_mu);
            m_stop = true;
        }
        m_ready.notify_all();
        m_room.notify_all();
        for (auto& t : m_threads) t.join();
    }

private:
    void work() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(m_mu);
                m_ready.wait(lock, [&] { return !m_jobs.empty() || m_stop; });
                if (m_jobs.empty()) return;
                fn = std::move(m_jobs.front());
                m_jobs.pop_front();
                if (m_jobs.empty()) m_said = false;
            }
            m_room.notify_one();
            fn();
        }
    }
    std::mutex m_mu;
    std::condition_variable m_ready, m_room;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_pending;
    bool m_stop = false, m_said = false;
};

bool loopback(const std::string& addr) {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, addr.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, addr.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::string first_line(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A file's version for the page: it reloads a picture when this changes (0: no such file).
long long version(const std::string& file) {
    std::error_code ec;
    const auto t = fs::last_write_time(file, ec);
    return ec ? 0 : static_cast<long long>(t.time_since_epoch().count());
}

json status_json(const Status& s) {
    json o = json::object();
    for (const auto& [k, v] : s.kv) o[k] = v;
    return o;
}

class Panel {
public:
    explicit Panel(std::string dir) : m_dir(std::move(dir)), m_units(world_units(m_dir)) {}

    bool has_unit(const std::string& u) const { return std::find(m_units.begin(), m_units.end(), u) != m_units.end(); }
    std::string root(const std::string& u) const { return m_dir + "/" + u; }

    json world() {
        json units = json::array();
        for (const auto& u : m_units) units.push_back(unit(u));
        return {{"world", fs::path(m_dir).filename().string()}, {"units", units}};
    }

    void route(httplib::Server& svr) {
        svr.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content(kWebPanelPage, "text/html"); });
        svr.Get("/api/world", [this](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-store");
            res.set_content(world().dump(), "application/json");
        });
        svr.Get(R"(/unit/([a-z0-9]+)/(oled|snapshot)\.png)", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string u = req.matches[1];
            const std::string file = root(u) + (req.matches[2] == "oled" ? "/sim/oled.png" : "/sim/hdmi-out/snapshot.png");
            std::ifstream in;
            if (has_unit(u)) in.open(file, std::ios::binary);
            if (!in) {
                res.status = 404;
                return;
            }
            std::ostringstream s;
            s << in.rdbuf();
            res.set_header("Cache-Control", "no-store");
            res.set_content(s.str(), "image/png");
        });
        // An RX's last seconds: every picture's glass to glass, drops, the TX's bit rate.
        svr.Get(R"(/unit/(rx[0-9])/timeline\.svg)", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string u = req.matches[1];
            if (!has_unit(u)) {
                res.status = 404;
                return;
            }
            const uint64_t now = monotonic_us(), from = now > kTimelineUs ? now - kTimelineUs : 0;
            RxTimeline t;
            {
                std::lock_guard lock(m_mu);
                t = m_samples.series(u);
            }
            t.pictures = load_timeline(root(u), from, now, kTimelineTail);
            res.set_header("Cache-Control", "no-store");
            res.set_content(timeline_svg(t, from, now), "image/svg+xml");
        });
        using Req = httplib::Request;
        action(svr, "/api/key", false, [](const std::string& root, const Req& r) {
            const std::string a = r.get_param_value("action");
            if (a != "press" && a != "release") return "unknown action " + a + " (press, release)";
            return key_event(root, r.get_param_value("key"), a == "press");
        });
        action(svr, "/api/hdmi", true,
               [](const std::string& root, const Req& r) { return plug_hdmi(root, r.get_param_value("source")); });
        action(svr, "/api/sdi", true,
               [](const std::string& root, const Req& r) { return plug_sdi(root, r.get_param_value("code")); });
        action(svr, "/api/battery", false,
               [](const std::string& root, const Req& r) { return set_battery(root, r.get_param_value("reading")); });
        action(svr, "/api/fault", false, [this](const std::string&, const Req& r) {
            std::istringstream in(r.get_param_value("what"));
            std::vector<std::string> words;
            for (std::string w; in >> w;) words.push_back(w);
            const std::string u = r.get_param_value("unit");
            const Fault f = make_fault(m_dir, fs::path(m_dir).filename().string(), u, words);
            return !f.known ? "not a fault: \"" + r.get_param_value("what") + "\"" : f.made ? "" : f.text;
        });
    }

private:
    // A POST that changes one unit (given by its "unit" parameter) through f(its board root,
    // request): 200, or 400 with the reason.
    template <class F>
    void action(httplib::Server& svr, const char* path, bool tx_only, F f) {
        svr.Post(path, [this, tx_only, f](const httplib::Request& req, httplib::Response& res) {
            const std::string u = req.get_param_value("unit");
            std::string err = !has_unit(u)           ? "no unit \"" + u + "\" in this world"
                              : tx_only && u != "tx" ? "only the TX has video inputs"
                                                     : f(root(u), req);
            res.status = err.empty() ? 200 : 400;
            res.set_content(err.empty() ? "ok" : err, "text/plain");
        });
    }

    json unit(const std::string& u) {
        std::lock_guard lock(m_mu);
        Seen& seen = m_seen[u];
        const UnitView v = look_at(m_dir, u, seen.view.pid);
        // The CPU share between two looks at least half a second apart (several pages may poll).
        const double now = boot_seconds();
        if (v.pid != seen.view.pid) seen.cpu = -1;
        if (v.pid > 0 && v.pid == seen.view.pid && now - seen.at >= 0.5) {
            seen.cpu = static_cast<double>(v.proc.cpu_ticks - seen.view.proc.cpu_ticks) * tick_seconds() / (now - seen.at);
        }
        if (v.pid != seen.view.pid || now - seen.at >= 0.5) {
            seen.view = v;
            seen.at = now;
            if (v.pid > 0 && v.tx) m_samples.tx(monotonic_us(), v.capture.kv);
            else if (v.pid > 0) m_samples.rx(monotonic_us(), u, v.links.stream_addr, v.out.kv);
        }
        const std::string r = root(u);
        json j = {{"unit", u},
                  {"tx", v.tx},
                  {"pid", v.pid},
                  {"state", v.state()},
                  {"air", v.air},
                  {"links", {{"heartbeat", v.links.heartbeat}, {"stream", v.links.stream}}},
                  {"cpu", seen.cpu},
                  {"rss_mb", static_cast<double>(v.proc.rss_kb) / 1024.0},
                  {"status", status_json(v.out)},
                  {"capture", status_json(v.capture)},
                  {"battery", first_line(r + "/sim/battery")},
                  {"oled", version(r + "/sim/oled.png")},
                  {"snapshot", version(r + "/sim/hdmi-out/snapshot.png")}};
        if (v.tx) {
            j["hdmi_in"] = first_line(r + "/sim/hdmi-in");
            j["sdi_in"] = first_line(r + "/sim/sdi-in");
        }
        return j;
    }

    struct Seen {
        UnitView view;
        double at = 0;
        double cpu = -1;
    };
    const std::string m_dir;
    const std::vector<std::string> m_units;
    std::mutex m_mu;
    std::map<std::string, Seen> m_seen;
    KitSamples m_samples{kTimelineUs};
};

std::string host_part(const std::string& addr) { return addr.find(':') == std::string::npos ? addr : "[" + addr + "]"; }

// The page and its requests come from this server only: a request naming another host (a DNS
// rebinding page) or a POST without the page's header (a form of another site) is refused.
bool own_request(const httplib::Request& req, const std::string& bind, int port) {
    const std::string host = req.get_header_value("Host");
    const std::string p = ":" + std::to_string(port);
    if (host != host_part(bind) + p && host != "localhost" + p) return false;
    return req.method != "POST" || req.get_header_value("X-Hdext-Panel") == "1";
}

} // namespace

int serve_panel(const std::string& world_dir, const PanelOptions& opt) {
    if (!loopback(opt.bind)) {
        std::fprintf(stderr, "world panel: %s is not a loopback address; the panel serves this host only\n",
                     opt.bind.c_str());
        return 2;
    }
    if (world_units(world_dir).empty()) {
        std::fprintf(stderr, "world panel: no world in %s\n", world_dir.c_str());
        return 2;
    }
    Panel panel(world_dir);
    httplib::Server svr;
    svr.new_task_queue = [] { return new BoundedPool(kWorkers, kPending); };
    svr.set_keep_alive_max_count(kRequestsPerConnection);
    svr.set_read_timeout(2, 0);
    svr.set_write_timeout(2, 0);
    svr.set_payload_max_length(kMaxBody);
    int port = opt.port;
    svr.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        if (own_request(req, opt.bind, port)) return httplib::Server::HandlerResponse::Unhandled;
        res.status = 403;
        res.set_content("not a request of this panel", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    panel.route(svr);
    if (opt.port == 0) port = svr.bind_to_any_port(opt.bind);
    else if (!svr.bind_to_port(opt.bind, opt.port)) port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "world panel: cannot listen on %s:%d\n", opt.bind.c_str(), opt.port);
        return 1;
    }
    std::printf("panel: http://%s:%d/\n", host_part(opt.bind).c_str(), port);
    std::fflush(stdout);
    // A signal writes a byte that ends the wait below. (Blocking the signals instead would leave
    // them blocked in the programs a fault restarts.)
    static int stop_pipe[2] = {-1, -1};
    if (pipe2(stop_pipe, O_CLOEXEC) != 0) return 1;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        signal(sig, [](int) {
            const char c = 's';
            [[maybe_unused]] const ssize_t n = write(stop_pipe[1], &c, 1);
        });
    std::thread server([&svr] { svr.listen_after_bind(); });
    char c = 0;
    while (read(stop_pipe[0], &c, 1) < 0 && errno == EINTR) {
    }
    svr.stop();
    server.join();
    return 0;
}

} // namespace hdext::sim
