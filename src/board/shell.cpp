#include "board/shell.h"

#include <cerrno>
#include <cstring>

namespace hdext::board {
namespace {

class PopenPipe : public CommandPipe {
public:
    explicit PopenPipe(FILE* f) : m_f(f) {}
    ~PopenPipe() override {
        if (m_f) pclose(m_f);
    }
    char* gets(char* buf, int size) override { return m_f ? fgets(buf, size, m_f) : nullptr; }
    int close() override {
        FILE* f = m_f;
        m_f = nullptr;
        return f && pclose(f) != -1 ? 0 : -1;
    }

private:
    FILE* m_f;
};

class RealShell : public ShellRunner {
public:
    std::unique_ptr<CommandPipe> open(const std::string& cmd) override {
        FILE* f = popen(cmd.c_str(), "r");
        if (!f) return nullptr;
        return std::make_unique<PopenPipe>(f);
    }
};

class TextPipe : public CommandPipe {
public:
    explicit TextPipe(std::string text) : m_text(std::move(text)) {}
    char* gets(char* buf, int size) override {
        if (size <= 1 || m_pos >= m_text.size()) return nullptr;
        size_t n = 0;
        while (n < static_cast<size_t>(size - 1) && m_pos < m_text.size()) {
            char c = m_text[m_pos++];
            buf[n++] = c;
            if (c == '\n') break;
        }
        buf[n] = '\0';
        return buf;
    }
    int close() override { return 0; }

private:
    std::string m_text;
    size_t m_pos = 0;
};

std::mutex g_runner_lock;
std::shared_ptr<ShellRunner>& runner_slot() {
    static std::shared_ptr<ShellRunner> r = std::make_shared<RealShell>();
    return r;
}

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::shared_ptr<ShellRunner> shell() {
    std::lock_guard<std::mutex> g(g_runner_lock);
    return runner_slot();
}

std::shared_ptr<ShellRunner> set_shell(std::shared_ptr<ShellRunner> runner) {
    std::lock_guard<std::mutex> g(g_runner_lock);
    if (!runner) runner = std::make_shared<RealShell>();
    std::swap(runner, runner_slot());
    return runner;
}

std::unique_ptr<CommandPipe> RecordingShell::open(const std::string& cmd) {
    std::lock_guard<std::mutex> g(m_lock);
    m_commands.push_back(cmd);
    for (const auto& p : m_failing) {
        if (starts_with(cmd, p)) {
            errno = EAGAIN;
            return nullptr;
        }
    }
    const std::string* best = nullptr;
    size_t best_len = 0;
    for (const auto& [prefix, out] : m_replies) {
        if (starts_with(cmd, prefix) && (!best || prefix.size() >= best_len)) {
            best = &out;
            best_len = prefix.size();
        }
    }
    return std::make_unique<TextPipe>(best ? *best : std::string());
}

void RecordingShell::reply(const std::string& prefix, const std::string& output) {
    std::lock_guard<std::mutex> g(m_lock);
    m_replies.emplace_back(prefix, output);
}

void RecordingShell::fail(const std::string& prefix) {
    std::lock_guard<std::mutex> g(m_lock);
    m_failing.push_back(prefix);
}

std::vector<std::string> RecordingShell::commands() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_commands;
}

void RecordingShell::clear() {
    std::lock_guard<std::mutex> g(m_lock);
    m_commands.clear();
}

} // namespace hdext::board

int system_cmd(const char* cmd, int) {
    auto pipe = hdext::board::shell()->open(cmd ? cmd : "");
    if (!pipe) {
        int err = errno;
        perror(cmd);
        printf("popen error: %s \n", strerror(err));
        return -1;
    }
    if (pipe->close() != 0) {
        printf("close popen file pointer fp error! \n");
        return -1;
    }
    return 0;
}

int popen_read(const char* cmd, int base) {
    char line[200] = {};
    auto pipe = hdext::board::shell()->open(cmd ? cmd : "");
    if (!pipe) {
        perror("Fail to popen\n");
        return -1;
    }
    int value = -1;
    if (base == 16 || base == 10) {
        while (pipe->gets(line, sizeof line)) value = static_cast<int>(strtol(line, nullptr, base));
    } else {
        while (pipe->gets(line, sizeof line)) {
        }
    }
    pipe->close();
    return value;
}

int CheckAppExist(const char* name, const char* text) {
    char cmd[64] = {};
    char line[128] = {};
    snprintf(cmd, sizeof cmd, "ps | grep  %s |  grep -v grep", name);
    auto pipe = hdext::board::shell()->open(cmd);
    if (!pipe) {
        perror("Fail to popen\n");
        return 0;
    }
    while (pipe->gets(line, sizeof line)) {
        printf("data=%s\n", line);
        if (strstr(line, text)) {
            pipe->close();
            fprintf(stderr, "%s is exist......\n", name);
            return 1;
        }
    }
    pipe->close();
    fprintf(stderr, "%s is not exist !!!!!! !!!!!! !!!!!!\n", name);
    return 0;
}
