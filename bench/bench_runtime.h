// The unit's pools and timer task, sized as the program sizes them, for a benchmark process.
#pragma once
#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "core/task.h"

inline void init_bench_runtime() {
    mempool_init();
    init_frame_buff_mgr(512, 102400);
    init_audio_frame_buff_mgr(512, 8192);
    init_msg_mgr(1024);
    init_event_handler_mgr(512);
    init_thr_mgr(40);
    init_timer_task(nullptr);
}
