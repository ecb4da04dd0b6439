#include <pthread.h>

#include <cstdio>
#include <thread>

#include "app/sdi_monitor.h"
#include "board/notify.h"

void* SdiProc(void*) {
    std::printf("###### ###### SdiProc thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    hdext::SdiDetector detector(hdext::default_capture_pipeline(), hdext::board::sdi_query);
    for (;;) std::this_thread::sleep_for(detector.poll());
    return nullptr;
}
