// The unit's program: starts everything, then the main thread only sleeps. It ends by an
// uncatchable signal or through the crash report.
#include <pthread.h>
#include <unistd.h>

#include <cstdio>

#include "app/startup.h"

int main() {
    // Every printed line reaches a file or pipe when printed: there is no orderly exit.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    fprintf(stderr, "###### ###### main pid=%lX\n", static_cast<unsigned long>(pthread_self()));
    register_signal();
    task_start();
    for (;;) sleep(10);
}
