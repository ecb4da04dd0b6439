// Signal policy: the process ends only on an uncatchable signal or through the crash report.
#include <execinfo.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/startup.h"

namespace {

constexpr int kMaxFrames = 30;

// The order in which the quiet handler is installed.
constexpr int kQuietSignals[] = {SIGALRM, SIGCHLD, SIGPIPE, SIGTERM, SIGHUP,  SIGFPE,
                                 SIGILL,  SIGINT,  SIGIO,   SIGPROF, SIGQUIT, SIGTSTP,
                                 SIGTTIN, SIGTTOU, SIGVTALRM, SIGXCPU, SIGXFSZ, SIGKILL};

void write_all(int fd, const char* s, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, s, n);
        if (w <= 0) {
            if (w < 0 && errno == EINTR) continue;
            return;
        }
        s += w;
        n -= static_cast<size_t>(w);
    }
}

void quiet_handler(int sig) {
    if (sig == SIGKILL) {
        static const char msg[] = "------ Get signal kill ------\n";
        write_all(STDERR_FILENO, msg, sizeof msg - 1);
    }
}

} // namespace

int install_signal_hanlder(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return sigaction(sig, &sa, nullptr) == 0 ? 1 : 0;
}

void install_quiet_signals() {
    for (int sig : kQuietSignals) install_signal_hanlder(sig, quiet_handler);
}

// Only async-signal-safe calls: formatted into stack buffers, written with write(2), symbols
// written straight to the descriptor, and _exit.
void OnSIGSEGV(int, siginfo_t* info, void*) {
    char line[128];
    int n = snprintf(line, sizeof line, ">>>>>> Get a Segmentaion fault.PID=%lX\n",
                     static_cast<unsigned long>(pthread_self()));
    write_all(STDERR_FILENO, line, static_cast<size_t>(n));
    long long addr = info ? static_cast<long long>(reinterpret_cast<intptr_t>(info->si_addr)) : 0;
    n = snprintf(line, sizeof line, "Fault address:%lld\n", addr);
    write_all(STDERR_FILENO, line, static_cast<size_t>(n));
    void* frames[kMaxFrames];
    int count = backtrace(frames, kMaxFrames);
    n = snprintf(line, sizeof line, "Obtained %zd stack frames.nm", static_cast<ssize_t>(count));
    write_all(STDERR_FILENO, line, static_cast<size_t>(n));
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    _exit(1);
}

void register_signal() {
    // The first backtrace loads the unwinder; do it now, not inside the crash handler.
    void* warm[1];
    backtrace(warm, 1);
    struct sigaction sa {};
    sa.sa_sigaction = OnSIGSEGV;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO;
    if (sigaction(SIGSEGV, &sa, nullptr) != 0) perror("sigaction:");
}
