#include "board/board.h"

#include <cstdlib>
#include <mutex>

namespace hdext::board {
namespace {

struct Root {
    std::mutex lock;
    bool chosen = false;
    bool simulated = false;
    std::string dir;
};

Root& the_root() {
    static Root r;
    return r;
}

void choose(Root& r) {
    const char* env = std::getenv("HDEXT_BOARD_ROOT");
    r.simulated = env != nullptr && env[0] != '\0';
    r.dir = r.simulated ? env : "";
    while (!r.dir.empty() && r.dir.back() == '/') r.dir.pop_back();
    r.chosen = true;
}

} // namespace

std::string root() {
    Root& r = the_root();
    std::lock_guard<std::mutex> g(r.lock);
    if (!r.chosen) choose(r);
    return r.dir;
}

bool simulated() {
    Root& r = the_root();
    std::lock_guard<std::mutex> g(r.lock);
    if (!r.chosen) choose(r);
    return r.simulated;
}

std::string path(std::string_view board_path) {
    std::string out = root();
    if (!board_path.empty() && board_path.front() != '/') out.push_back('/');
    out.append(board_path);
    return out;
}

void reload_root() {
    Root& r = the_root();
    std::lock_guard<std::mutex> g(r.lock);
    choose(r);
}

} // namespace hdext::board
