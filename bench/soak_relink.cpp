// The relink soak (root; not part of the test suite): a kit of one TX and three RX streaming
// 1080p60 in the simulated air while a shuffled schedule of faults runs: the TX killed and
// restarted, the air cut under a unit for 1 to 10 s, an RX restarted, the channel changed on the
// TX's front panel, the TX's or one RX's air dipped to 50% or 10% of the stream's own rate. After
// each fault it waits until every RX shows video again (after a channel change, also until every
// RX has stored the new channel; after a dip, until the dipped receivers' lag is usual for good),
// and at the end it prints, per kind of fault, how long that took (p50, p99, max), the frames
// lost, the dips' glass-to-glass figures, and what each unit's program held before and after.
//
// "Video again" is read from each RX's HDMI output status, which the output rewrites at least
// twice a second while video plays and at once when video returns: the moment of the first
// rewrite with new video frames of a stretch that then runs on for 2 s without a pause. An RX
// whose output never paused for more than a second counts 0.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/board/kit_timeline.h"
#include "support/world.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using hdext::test::World;

struct Options {
    int tx_restarts = 20, cuts = 20, rx_restarts = 20, channels = 20, dips = 5, dip_s = 8;
    int rx = 3, minutes = 90, recover_s = 60, seed = 1;
    std::string source = "1920x1080p60 audio=48000";
};

// One rewrite of an RX's output status.
struct Change {
    Clock::time_point t;
    bool video = false;
    long shown = 0, gaps = 0, last_frame = -1;
};

// Polls every RX's status in the background and keeps each change with its time.
class Recorder {
public:
    explicit Recorder(const World& w) : m_world(w), m_thread([this] { run(); }) {}
    ~Recorder() {
        m_stop = true;
        m_thread.join();
    }
    std::vector<Change> since(const std::string& unit, Clock::time_point t) {
        std::lock_guard<std::mutex> g(m_lock);
        std::vector<Change> out;
        for (const auto& c : m_changes[unit])
            if (c.t >= t) out.push_back(c);
        return out;
    }
    Change last(const std::string& unit) {
        std::lock_guard<std::mutex> g(m_lock);
        return m_changes[unit].empty() ? Change{} : m_changes[unit].back();
    }

private:
    void run() {
        std::map<std::string, std::string> seen;
        while (!m_stop) {
            for (const auto& u : m_world.rx) {
                const std::string text = hdext::test::read_file(m_world.dir + "/" + u + "/sim/hdmi-out/status");
                if (text.empty() || text == seen[u]) continue;
                seen[u] = text;
                auto num = [&](const char* k) { return std::atol(hdext::test::value_of(text, k).c_str()); };
                Change c{Clock::now(), hdext::test::value_of(text, "source") == "video", num("frames_shown"),
                         num("gaps"), num("last_frame")};
                std::lock_guard<std::mutex> g(m_lock);
                auto& v = m_changes[u];
                v.push_back(c);
                if (v.size() > 4000) v.erase(v.begin(), v.begin() + 2000);
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    const World& m_world;
    std::mutex m_lock;
    std::map<std::string, std::vector<Change>> m_changes;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// How one RX came through a fault: seconds from the fault's end to video again (0 when its
// output never stopped), frames of the source it did not show, or not recovered.
struct Outcome {
    bool recovered = false;
    double seconds = 0;
    long lost = 0;
};

// Video that stops again within this time did not count as back.
constexpr auto kSteady = 2s;

// Reads an RX's changes from the fault's start: video back for good after the fault's end? The
// moment is the first rewrite of a stretch of video that runs on, each rewrite counting on within
// a second of the last, for kSteady: a link made and lost again (a restarted RX that linked
// before its own link start cut it off) is not a recovery.
bool judge(const std::vector<Change>& ch, const Change& before, Clock::time_point end, bool tx_restarted,
           Outcome* o) {
    bool stopped = !before.video;
    size_t run = ch.size();  // where the stretch of video under way began
    for (size_t i = 0; i < ch.size(); ++i) {
        const Change& prev = i ? ch[i - 1] : before;
        const bool on = ch[i].video && ch[i].shown != prev.shown && ch[i].t - prev.t <= 1s;
        if (!on) {
            stopped = stopped || !ch[i].video || ch[i].t - prev.t > 1s;
            run = ch.size();
            continue;
        }
        if (ch[i].shown < prev.shown) stopped = true;  // a new output: the program restarted
        if (run == ch.size()) run = i;
        if (ch[i].t < end || ch[i].t - ch[run].t < kSteady) continue;
        const Change& first = ch[run];
        o->recovered = true;
        o->seconds = stopped ? std::max(0.0, std::chrono::duration<double>(first.t - end).count()) : 0;
        if (tx_restarted && stopped)
            o->lost = first.last_frame;  // the new TX's frames before the first one shown
        else if (first.shown > before.shown)
            o->lost = ch[i].gaps - before.gaps;  // the same output counting on: its own count
        else
            o->lost = first.last_frame - before.last_frame - 1;  // a new output: from the stamps
        o->lost = std::max(0L, o->lost);
        return true;
    }
    return false;
}

struct Kind {
    const char* name;
    std::vector<double> seconds;  // to every RX showing video again, recovered faults only
    long lost = 0, worst_lost = 0;
    int count = 0, recovered = 0;
};

// Nearest rank.
double percentile(std::vector<double> v, int pct) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = (v.size() * static_cast<size_t>(pct) + 99) / 100;
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

int usage() {
    std::fprintf(stderr, "usage: soak_relink [--tx-restarts N] [--cuts N] [--rx-restarts N] [--channels N] [--dips N] "
                         "[--dip-seconds S] [--rx N] [--minutes M] [--recover S] [--seed S] "
                         "[--source 'WxHpR audio=RATE']\n");
    return 2;
}

// ---- Dips: a unit's air policed to a share of the stream's own rate for a while, then freed.

constexpr uint64_t kAfterDipUs = 10'000'000;  // watched after a dip's end
constexpr uint64_t kSettleUs = 1'000'000;     // from then on the lag should be usual
// "Usual again": quarter seconds whose pictures' median is within the usual lag, for 2 s at least.
constexpr uint64_t kSteadyUs = 2'000'000, kSliceUs = 250'000;
constexpr uint64_t kBatchUs = 600'000;        // the outputs write their timelines a batch at a time

// An RX's glass to glass with no fault. A quarter second whose median is within lag_us is at the
// usual lag (the median, as the tail of a loaded machine moves from one stretch to the next); a
// receiver whose p99 stays within p99_us kept its usual p99.
struct Usual {
    uint64_t p50 = 0, p99 = 0;
    uint64_t lag_us() const { return std::max(p50 * 2, p50 + 20'000); }
    uint64_t p99_us() const { return std::max(p99 * 3 / 2, p99 + 10'000); }
};

struct DipFigures {
    std::vector<double> during_ms, after_ms;  // every picture the dipped receivers showed
    uint64_t oldest_us = 0, freeze_us = 0;
    long dropped = 0, worst_dropped = 0;  // in all, and of one receiver in one dip
    int others = 0, others_kept = 0;  // receivers whose air did not dip, and which kept their p99
};

std::vector<hdext::sim::Shown> timeline(const World& w, const std::string& rx, uint64_t from, uint64_t to) {
    return hdext::sim::load_timeline(w.dir + "/" + rx, from, to);
}

std::string fmt(const char* f, double v) {
    char b[32];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

// Watches the receivers from the dip's start [from, to] until kAfterDipUs after its end and until
// each dipped one's lag has been usual for kSteadyUs (at most recover_s). Adds to the kind's
// figures; the seconds from the end to usual lag for good of the slowest dipped receiver, or -1;
// its line in *line.
double judge_dip(const World& w, const std::vector<std::string>& dipped, const std::map<std::string, Usual>& usual,
                 uint64_t from, uint64_t to, int recover_s, DipFigures* f, std::string* line) {
    std::map<std::string, double> back;
    // Judged once the watch is over and then every half second, on what the outputs have written.
    hdext::test::eventually([&] {
        const uint64_t seen = hdext::sim::monotonic_us() - kBatchUs;
        if (seen < to + kAfterDipUs) return false;
        back.clear();
        for (const auto& u : dipped) {
            const double s = hdext::sim::seconds_until_steady(timeline(w, u, to, seen), to, seen,
                                                              usual.at(u).lag_us(), kSteadyUs, kSliceUs);
            if (s >= 0) back[u] = s;
        }
        return back.size() == dipped.size();
    }, std::chrono::seconds(recover_s) + 12s, 500ms);
    double worst = 0;
    std::string dip_line, kept, lost;
    uint64_t oldest = 0, freeze = 0;
    long dropped = 0;
    std::vector<double> during, after;
    for (const auto& u : w.rx) {
        const auto pics = timeline(w, u, from, to + kAfterDipUs);
        const auto all = hdext::sim::timeline_figures(pics, from, to + kAfterDipUs);
        if (std::find(dipped.begin(), dipped.end(), u) == dipped.end()) {
            const bool ok = all.p99_us <= usual.at(u).p99_us();
            ++f->others;
            f->others_kept += ok;
            (ok ? kept : lost) += " " + u + " " + fmt("%.1f", static_cast<double>(all.p99_us) / 1000.0);
            continue;
        }
        for (const auto& p : pics) {
            if (p.shown_us <= to) during.push_back(static_cast<double>(p.latency_us) / 1000.0);
            else if (p.shown_us >= to + kSettleUs) after.push_back(static_cast<double>(p.latency_us) / 1000.0);
        }
        oldest = std::max(oldest, all.max_us);
        freeze = std::max(freeze, all.longest_pause_us);
        dropped += all.missing;
        f->worst_dropped = std::max(f->worst_dropped, static_cast<long>(all.missing));
        worst = back.count(u) && worst >= 0 ? std::max(worst, back[u]) : -1;
        dip_line += " " + u + (back.count(u) ? fmt(" %.2f s", back[u]) : " not usual again");
    }
    const double p99_during = percentile(during, 99), p99_after = percentile(after, 99);
    f->during_ms.insert(f->during_ms.end(), during.begin(), during.end());
    f->after_ms.insert(f->after_ms.end(), after.begin(), after.end());
    f->oldest_us = std::max(f->oldest_us, oldest);
    f->freeze_us = std::max(f->freeze_us, freeze);
    f->dropped += dropped;
    char b[256];
    std::snprintf(b, sizeof b, "p99 %.1f ms during, %.1f ms from 1 s after; oldest %.1f ms; longest freeze %.2f s; %ld "
                  "pictures dropped; lag usual again after:%s", p99_during, p99_after, static_cast<double>(oldest) / 1000.0,
                  static_cast<double>(freeze) / 1e6, dropped, dip_line.c_str());
    *line = b;
    if (!kept.empty()) *line += "; kept their usual p99 (ms):" + kept;
    if (!lost.empty()) *line += "; did NOT keep their usual p99 (ms):" + lost;
    return worst;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        const char* v = argv[++i];
        if (a == "--tx-restarts") o.tx_restarts = std::atoi(v);
        else if (a == "--cuts") o.cuts = std::atoi(v);
        else if (a == "--rx-restarts") o.rx_restarts = std::atoi(v);
        else if (a == "--channels") o.channels = std::atoi(v);
        else if (a == "--dips") o.dips = std::atoi(v);
        else if (a == "--dip-seconds") o.dip_s = std::max(1, std::atoi(v));
        else if (a == "--rx") o.rx = std::clamp(std::atoi(v), 1, 3);
        else if (a == "--minutes") o.minutes = std::atoi(v);
        else if (a == "--recover") o.recover_s = std::atoi(v);
        else if (a == "--seed") o.seed = std::atoi(v);
        else if (a == "--source") o.source = v;
        else return usage();
    }
    World world;
    const std::string err = world.up("soak" + std::to_string(getpid()), static_cast<size_t>(o.rx));
    if (!err.empty()) {
        std::fprintf(stderr, "soak: %s\n", err.c_str());
        return 1;
    }
    struct Down {
        World& w;
        ~Down() { w.down(); }
    } down{world};
    std::vector<std::string> units{"tx"};
    units.insert(units.end(), world.rx.begin(), world.rx.end());
    const auto deadline = Clock::now() + std::chrono::minutes(o.minutes);
    auto all_video = [&] {
        return hdext::test::eventually([&] { return world.all_showing(); }, std::chrono::seconds(o.recover_s), 100ms);
    };
    if (!world.start("tx") || !world.start_receivers() || !world.plug(o.source) || !all_video()) {
        std::fprintf(stderr, "soak: the kit did not stream\n%s", hdext::test::tail(world.log("tx")).c_str());
        return 1;
    }
    std::printf("soak: world %s, 1 TX + %d RX, source %s; %d TX restarts, %d air cuts (1-10 s), %d RX "
                "restarts, %d channel changes, %d dips of each kind (%d s); seed %d, at most %d minutes\n",
                world.name.c_str(), o.rx, o.source.c_str(), o.tx_restarts, o.cuts, o.rx_restarts, o.channels, o.dips,
                o.dip_s, o.seed, o.minutes);
    std::map<std::string, hdext::test::UnitStats> before, after;
    for (const auto& u : units) before[u] = world.stats(u);
    // What the outputs lose with no fault at all (a loaded machine drops frames too).
    auto gaps = [&] {
        long n = 0;
        for (const auto& u : world.rx) n += std::atol(world.status(u, "gaps").c_str());
        return n;
    };
    // The same stretch gives each RX's usual glass to glass and the stream's own rate on each air
    // (what the TX sends, what each RX receives).
    const long quiet_from = gaps();
    const uint64_t quiet_us = hdext::sim::monotonic_us();
    std::map<std::string, uint64_t> bytes;
    for (const auto& u : units) bytes[u] = world.air_bytes(u, u == "tx" ? "tx" : "rx");
    std::this_thread::sleep_for(10s);
    const uint64_t quiet_end_us = hdext::sim::monotonic_us();
    std::map<std::string, long> kbit;
    std::string rates;
    for (const auto& u : units) {
        kbit[u] = static_cast<long>((world.air_bytes(u, u == "tx" ? "tx" : "rx") - bytes[u]) * 8 /
                                    ((quiet_end_us - quiet_us) / 1000));
        rates += " " + u + " " + std::to_string(kbit[u]);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(kBatchUs));
    std::map<std::string, Usual> usual;
    std::string p99s;
    for (const auto& u : world.rx) {
        const auto f = hdext::sim::timeline_figures(timeline(world, u, quiet_us, quiet_end_us), quiet_us, quiet_end_us);
        usual[u] = {f.p50_us, f.p99_us};
        p99s += " " + u + " " + fmt("%.1f", static_cast<double>(f.p50_us) / 1000.0) + "/" +
                fmt("%.1f", static_cast<double>(f.p99_us) / 1000.0);
    }
    for (const auto& u : units)
        if (o.dips > 0 && kbit[u] <= 0) {
            std::fprintf(stderr, "soak: cannot measure the stream's rate on the air of %s\n", u.c_str());
            return 1;
        }
    std::printf("no fault: %.1f frames lost per RX and second; glass-to-glass p50/p99 (ms):%s; air kbit/s (TX out, RX in):%s\n",
                (gaps() - quiet_from) / 10.0 / o.rx, p99s.c_str(), rates.c_str());

    enum FaultKind { TxRestart, Cut, RxRestart, Channel, DipTx50, DipTx10, DipRx50, DipRx10 };
    std::vector<Kind> kinds{{"TX restart", {}}, {"air cut", {}},     {"RX restart", {}},  {"channel change", {}},
                            {"dip TX 50%", {}}, {"dip TX 10%", {}}, {"dip an RX 50%", {}}, {"dip an RX 10%", {}}};
    std::map<int, DipFigures> dips;
    std::vector<FaultKind> schedule;
    for (auto [k, n] : {std::pair{TxRestart, o.tx_restarts}, {Cut, o.cuts}, {RxRestart, o.rx_restarts},
                        {Channel, o.channels}, {DipTx50, o.dips}, {DipTx10, o.dips}, {DipRx50, o.dips}, {DipRx10, o.dips}})
        schedule.insert(schedule.end(), static_cast<size_t>(std::max(0, n)), k);
    std::mt19937 rng(static_cast<unsigned>(o.seed));
    std::shuffle(schedule.begin(), schedule.end(), rng);

    Recorder rec(world);
    int done = 0;
    for (FaultKind k : schedule) {
        if (Clock::now() > deadline) break;
        if (k >= DipTx50) {
            const std::string u = k <= DipTx10 ? "tx" : world.rx[rng() % world.rx.size()];
            const int share = k == DipTx50 || k == DipRx50 ? 50 : 10;
            const long rate = std::max(1L, kbit[u] * share / 100);
            const uint64_t from = hdext::sim::monotonic_us();
            bool made = world.fault(u, "rate " + std::to_string(rate));
            std::this_thread::sleep_for(std::chrono::seconds(o.dip_s));
            made = world.fault(u, "rate 0") && made;
            const uint64_t to = hdext::sim::monotonic_us();
            std::string line;
            const double back = judge_dip(world, u == "tx" ? world.rx : std::vector<std::string>{u}, usual, from, to,
                                          o.recover_s, &dips[k], &line);
            Kind& kind = kinds[k];
            ++kind.count;
            ++done;
            if (made && back >= 0) {
                ++kind.recovered;
                kind.seconds.push_back(back);
            }
            kind.lost = dips[k].dropped;
            kind.worst_lost = dips[k].worst_dropped;
            std::printf("fault %d/%zu dip %s to %d%% (%ld kbit/s) for %d s%s: %s\n", done, schedule.size(), u.c_str(),
                        share, rate, o.dip_s, made ? "" : " (NOT MADE)", line.c_str());
            continue;
        }
        const auto start = Clock::now();
        std::map<std::string, Change> pre;
        for (const auto& u : world.rx) pre[u] = rec.last(u);
        std::string what;
        bool made = true;
        if (k == TxRestart) {
            what = "TX restart";
            made = world.fault("tx", "restart");
        } else if (k == RxRestart) {
            const std::string u = world.rx[rng() % world.rx.size()];
            what = u + " restart";
            made = world.fault(u, "restart");
        } else if (k == Cut) {
            const std::string u = units[rng() % units.size()];
            const int tenths = 10 + static_cast<int>(rng() % 91);
            what = "air cut " + u + " " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
            made = world.fault(u, "cut");
            std::this_thread::sleep_for(std::chrono::milliseconds(100 * tenths));
            made = world.fault(u, "restore") && made;
        } else {
            // UP or DOWN selects the next channel on the TX's home screen (between 36 and 40),
            // MENU applies it. A key is taken only once the TX's link has started: pressed again
            // until the TX says it took it.
            auto channel = [&] { return hdext::test::value_of(world.air(), "tx ap ssid=" + world.ssid() + " channel"); };
            auto key = [&](const char* k) { world.cmd("key --root " + world.dir + "/tx press " + k); };
            auto taken = [&] { return hdext::test::count_lines(world.log("tx"), "app_change_channel"); };
            const std::string old = channel();
            const size_t before_keys = taken();
            made = hdext::test::eventually([&] {
                if (taken() > before_keys) return true;
                key(old == "36" ? "up" : "down");
                return false;
            }, 30s, 2000ms);
            if (made) key("menu");
            std::string now;
            made = made && hdext::test::eventually([&] {
                now = channel();
                return !now.empty() && now != old;
            }, 30s, 50ms);
            what = "channel " + old + " -> " + (made ? now : "(not applied)");
        }
        const auto end = Clock::now();
        Kind& kind = kinds[k];
        ++kind.count;
        ++done;
        std::map<std::string, Outcome> out;
        // A channel change is through once every RX has also stored the TX's new channel.
        std::map<std::string, double> stored;
        const std::string channel_now = k == Channel ? what.substr(what.rfind(' ') + 1) : "";
        auto took_channel = [&](const std::string& u) {
            if (k != Channel || stored.count(u)) return true;
            const std::string ini = hdext::test::read_file(world.dir + "/" + u + "/userdata/wifi.ini");
            if (hdext::test::value_of(ini, "channel") != channel_now) return false;
            stored[u] = std::max(0.0, std::chrono::duration<double>(Clock::now() - end).count());
            return true;
        };
        const bool all = made && hdext::test::eventually([&] {
            bool done_all = true;
            for (const auto& u : world.rx) {
                if (!out[u].recovered && !judge(rec.since(u, start), pre[u], end, k == TxRestart, &out[u]))
                    done_all = false;
                done_all = took_channel(u) && done_all;
            }
            return done_all;
        }, std::chrono::seconds(o.recover_s), 100ms);
        for (auto& [u, s] : stored) out[u].seconds = std::max(out[u].seconds, s);
        double worst = 0;
        long lost = 0;
        std::string per;
        for (const auto& u : world.rx) {
            worst = std::max(worst, out[u].seconds);
            lost += out[u].lost;
            kind.worst_lost = std::max(kind.worst_lost, out[u].lost);
            char b[64];
            std::snprintf(b, sizeof b, " %s %s", u.c_str(),
                          out[u].recovered ? (std::to_string(out[u].seconds).substr(0, 4) + " s").c_str() : "never");
            per += b;
        }
        kind.lost += lost;
        if (all) {
            ++kind.recovered;
            kind.seconds.push_back(worst);
        }
        std::printf("fault %d/%zu %s: %s%.2f s to every RX showing video (%s), frames lost %ld\n", done,
                    schedule.size(), what.c_str(), all ? "" : "NOT RECOVERED after ", all ? worst : o.recover_s * 1.0,
                    per.substr(1).c_str(), lost);
        if (!all && !all_video()) {
            std::printf("soak: the kit does not stream any more; stopping\n");
            break;
        }
    }

    // Whatever the faults left behind ends within a receive time-out; then the figures.
    hdext::test::eventually([&] {
        for (const auto& u : units) after[u] = world.stats(u);
        for (const auto& u : units)
            if (after[u].fds > before[u].fds || after[u].threads > before[u].threads) return false;
        return true;
    }, 30s, 1000ms);
    std::printf("\n%-15s %6s %10s %7s %7s %7s %12s %12s\n", "fault", "count", "recovered", "p50 s", "p99 s", "max s",
                "frames lost", "worst per RX");
    for (const auto& k : kinds) {
        if (!k.count) continue;
        std::printf("%-15s %6d %7d/%-2d %7.2f %7.2f %7.2f %12ld %12ld\n", k.name, k.count, k.recovered, k.count,
                    percentile(k.seconds, 50), percentile(k.seconds, 99), percentile(k.seconds, 100), k.lost,
                    k.worst_lost);
    }
    std::printf("(targets: every fault recovered; air cut p99 within 3 s; TX restart within the 4 s of fixed waits "
                "on the TX's start path (1 s after \"ifconfig up\", the address, the DHCP server and hostapd) plus 1 s; "
                "a dip's seconds are to the dipped receivers' usual lag)\n");
    if (!dips.empty()) {
        std::printf("\n%-15s %6s %11s %10s %10s %9s %8s %13s %12s\n", "dip", "count", "p99 during", "p99 after",
                    "oldest", "freeze", "dropped", "usual again", "others kept");
        for (const auto& [k, d] : dips) {
            const Kind& kind = kinds[static_cast<size_t>(k)];
            const std::string others = d.others ? std::to_string(d.others_kept) + "/" + std::to_string(d.others) : "-";
            std::printf("%-15s %6d %8.1f ms %7.1f ms %7.1f ms %7.2f s %8ld %6.2f/%.2f s %12s\n", kind.name, kind.count,
                        percentile(d.during_ms, 99), percentile(d.after_ms, 99), static_cast<double>(d.oldest_us) / 1000.0,
                        static_cast<double>(d.freeze_us) / 1e6, d.dropped, percentile(kind.seconds, 50),
                        percentile(kind.seconds, 100), others.c_str());
        }
        std::printf("(p99 of every picture the dipped receivers showed during the dips and from 1 s after their end to "
                    "10 s after it; oldest picture and longest freeze from a dip's start to 10 s after its end; dropped: "
                    "frame numbers never shown; usual again: p50/max seconds from the end to the start of the run (at "
                    "least 2 s, to the end of the watch) of quarter seconds whose pictures' median is within twice "
                    "the receiver's no-fault p50 (at least +20 ms); others kept: receivers whose air did not dip and "
                    "whose p99 stayed within their no-fault p99 x 1.5 (at least +10 ms). Targets: oldest under 250 "
                    "ms; p99 at most 150 ms during a 50%% dip and 50 ms after; usual again within 1 s; freeze at most "
                    "0.5 s in a 50%% dip)\n");
    }
    std::printf("\n%-5s %14s %12s %20s  %s\n", "unit", "descriptors", "threads", "RSS kB", "pools in use (used/total)");
    bool grew = false;
    for (const auto& u : units) {
        const auto &b = before[u], &a = after[u];
        std::string pools;
        for (const auto& [name, v] : a.pools) {
            const std::string was = b.pools.count(name) ? b.pools.at(name) : "-";
            pools += " " + name + " " + was + (was == v ? "" : " -> " + v);
            grew = grew || std::atol(v.c_str()) > std::atol(was.c_str()) + 16;
        }
        grew = grew || a.fds > b.fds || a.threads > b.threads;
        std::printf("%-5s %6d -> %-5d %5d -> %-4d %9ld -> %-9ld %s\n", u.c_str(), b.fds, a.fds, b.threads, a.threads,
                    b.rss_kb, a.rss_kb, pools.c_str());
    }
    int failed = 0;
    for (const auto& k : kinds) failed += k.count - k.recovered;
    std::printf("\nsoak: %d of %zu faults made, %d not recovered; %s\n", done, schedule.size(), failed,
                grew ? "descriptors, threads or pools GREW" : "nothing grew");
    return failed || grew ? 1 : 0;
}
