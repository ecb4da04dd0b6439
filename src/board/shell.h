// Board commands. Every command the program runs goes through one replaceable runner, so tests
// can install a recording fake and a unit can run the real shell. The helpers below are the
// program's shell door; their texts name board files through board::path.
#pragma once
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hdext::board {

// A started command whose standard output is read line by line.
class CommandPipe {
public:
    virtual ~CommandPipe() = default;
    // Like fgets: at most size-1 bytes up to and including a line feed; nullptr at the end.
    virtual char* gets(char* buf, int size) = 0;
    // Waits for the command to end. 0, or -1 when the wait failed.
    virtual int close() = 0;
};

class ShellRunner {
public:
    virtual ~ShellRunner() = default;
    // Starts cmd with its output on a pipe; nullptr (errno set) when it cannot be started.
    // Any thread; the returned pipe belongs to the caller.
    virtual std::unique_ptr<CommandPipe> open(const std::string& cmd) = 0;
};

// The runner in force (the real shell unless a test installed another). Any thread.
std::shared_ptr<ShellRunner> shell();
// Installs a runner; nullptr puts the real shell back. Returns the previous one.
std::shared_ptr<ShellRunner> set_shell(std::shared_ptr<ShellRunner> runner);

// Recording fake: keeps every command text in order and answers with canned output.
// Thread-safe; commands may arrive from any thread.
class RecordingShell : public ShellRunner {
public:
    std::unique_ptr<CommandPipe> open(const std::string& cmd) override;

    // Output for commands that start with prefix (the longest matching prefix wins).
    void reply(const std::string& prefix, const std::string& output);
    // Commands that start with prefix fail to start (open returns nullptr, errno EAGAIN).
    void fail(const std::string& prefix);
    std::vector<std::string> commands() const;
    void clear();

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_commands;
    std::vector<std::pair<std::string, std::string>> m_replies;
    std::vector<std::string> m_failing;
};

} // namespace hdext::board

// Runs a command and waits for it; the command's own exit status is not reported.
// 0 when it was started and reaped, -1 otherwise. The second argument is unused (callers pass 10).
int system_cmd(const char* cmd, int unused = 10);

// The number on the last output line in base 16 or 10 (a line without a number gives 0), -1
// when there is no output, the command cannot be started, or the base is neither.
int popen_read(const char* cmd, int base);

// 1 when a line of "ps" output for name contains text, else 0. name is at most 36 characters.
int CheckAppExist(const char* name, const char* text);
