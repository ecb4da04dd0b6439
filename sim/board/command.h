// hdext-board commands. Each file of this tool registers its commands with a static
// CommandRegistration; main() runs the one named by the program name (multi-call stand-ins)
// or by the first argument.
#pragma once

namespace hdext::sim {

// Runs one command; argv[0] is the command name. Returns the process exit status.
using CommandFn = int (*)(int argc, char** argv);

struct CommandRegistration {
    CommandRegistration(const char* name, const char* usage, CommandFn run);
};

// The board root the world commands act on: --root DIR if given (removed from argv), else
// HDEXT_BOARD_ROOT. Empty when neither is set.
const char* board_root(int& argc, char** argv);

} // namespace hdext::sim
