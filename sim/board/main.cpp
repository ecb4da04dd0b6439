// hdext-board: the simulated board's stand-in programs and its world driver.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/board/command.h"

namespace hdext::sim {
namespace {

struct Command {
    const char* name;
    const char* usage;
    CommandFn run;
};

std::vector<Command>& commands() {
    static std::vector<Command> c;
    return c;
}

const Command* find(const char* name) {
    for (const auto& c : commands())
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

int usage() {
    std::fprintf(stderr, "usage: hdext-board COMMAND [ARGS]\n");
    for (const auto& c : commands()) std::fprintf(stderr, "  %s %s\n", c.name, c.usage);
    return 2;
}

} // namespace

CommandRegistration::CommandRegistration(const char* name, const char* usage, CommandFn run) {
    commands().push_back({name, usage, run});
}

const char* board_root(int& argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--root") != 0) continue;
        const char* root = argv[i + 1];
        for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
        argc -= 2;
        return root;
    }
    const char* env = std::getenv("HDEXT_BOARD_ROOT");
    return env ? env : "";
}

} // namespace hdext::sim

int main(int argc, char** argv) {
    using namespace hdext::sim;
    const char* self = std::strrchr(argv[0], '/');
    self = self ? self + 1 : argv[0];
    if (const auto* c = find(self)) return c->run(argc, argv);
    if (argc < 2) return usage();
    if (const auto* c = find(argv[1])) return c->run(argc - 1, argv + 1);
    return usage();
}
