// Tasks and messages: one thread per module id, a message queue woken through a pipe, a
// select loop over the task's descriptor sets, and the timer task that keeps the tick.
#include "core/task.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "core/event.h"
#include "core/mempool.h"

namespace {

MEM_POOL g_task_pool;
MEM_POOL g_msg_pool;
std::atomic<THR_TASK*> g_tasks{nullptr};  // registry, newest first; only ever grows
std::atomic<uint32_t> g_tick{0};

constexpr int kDefaultTasks = 64;
constexpr int kDefaultMsgs = 1024;
constexpr int kWakeReadMax = 16;
constexpr int kQuietSignals[] = {SIGALRM, SIGCHLD, SIGPIPE, SIGTERM, SIGHUP};

void quiet_handler(int) {}

uint32_t wall_ms() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<uint32_t>(static_cast<uint64_t>(tv.tv_sec) * 1000u +
                                 static_cast<uint64_t>(tv.tv_usec) / 1000u);
}

void ignore_msg(THR_TASK*, MQ_LIST*) {}

timeval timeout_of(const THR_TASK* t) {
    if (t->options & 1u) return {0, 0};
    return {t->base_interval_ms / 1000, (t->base_interval_ms % 1000) * 1000};
}

// Waits on copies of the task's sets. Returns select's result; r and w hold the ready sets.
int wait_ready(THR_TASK* t, const timeval& to, fd_set* r, fd_set* w) {
    *r = t->ev.rset;
    *w = t->ev.wset;
    fd_set e = t->ev.eset;
    timeval tv = to;
    return select(t->ev.max_fd + 1, r, w, &e, &tv);
}

// Reads the wake-up bytes; true when the pipe gave at least one.
bool read_wake(THR_TASK* t, bool report) {
    char buf[kWakeReadMax];
    ssize_t n = read(t->ev.msg_handler->fd, buf, sizeof buf);
    if (n <= 0 && report)
        std::printf("###### ###### ###### taskmgr read msg failed. ret=%d, fd=%d\n",
                    static_cast<int>(n), t->ev.msg_handler->fd);
    return n > 0;
}

bool wake_ready(THR_TASK* t, const fd_set* r) {
    EVENT_HANDLER* m = t->ev.msg_handler;
    return m && m->fd >= 0 && m->fd < FD_SETSIZE && FD_ISSET(m->fd, r);
}

void handle_msgs(THR_TASK* t, bool honour_stop) {
    while (MQ_LIST* m = get_msg(&t->queue)) {
        if (honour_stop && m->msg_id == kMsgStopTask)
            t->state.store(2, std::memory_order_relaxed);
        else if (t->ev.msg_handler->msg_fn)
            t->ev.msg_handler->msg_fn(t, m);
        free_msg(m);
    }
}

void* thread_timer(void* arg) {
    auto* t = static_cast<THR_TASK*>(arg);
    if (t->init) t->init(t);
    timeval to = timeout_of(t);
    std::printf("timer %lu %lu\n", static_cast<unsigned long>(to.tv_sec),
                static_cast<unsigned long>(to.tv_usec));
    g_tick.store(wall_ms(), std::memory_order_relaxed);
    std::printf("thread_timer starting ... %X\n", static_cast<unsigned>(pthread_self()));
    while (t->state.load(std::memory_order_relaxed) & 1u) {
        fd_set r, w;
        int n = wait_ready(t, to, &r, &w);
        t->passes++;
        if (n < 0) continue;
        if (n == 0) {
            // One step per idle wait: the tick never jumps, whatever the wall clock does.
            g_tick.fetch_add(static_cast<uint32_t>(t->base_interval_ms),
                             std::memory_order_relaxed);
            continue;
        }
        if (wake_ready(t, &r) && read_wake(t, false)) handle_msgs(t, false);
    }
    t->exited.store(true, std::memory_order_release);
    return nullptr;
}

int notify(THR_TASK* t) {
    if (t->notify(t->wfd, "#", 1) != 1) {
        std::printf("notify msg faild \n");
        return 0;
    }
    return 1;
}

int put_msg(MSG_QUEUE* q, const MSG_INFO* msg, bool at_tail) {
    if (!q || !msg) return 0;
    auto* m = static_cast<MQ_LIST*>(mempool_alloc_spec(&g_msg_pool));
    if (!m) {
        std::printf("Not Enough MQ_LIST , src_mid=0x%x, dst_mid=0x%x\n", msg->src, msg->dst);
        return 0;
    }
    *m = MQ_LIST{nullptr, msg->src, msg->dst, msg->msg_id, msg->len, nullptr};
    if (msg->len > 0 && msg->data) {
        m->data = mempool_alloc(msg->len);
        if (!m->data) {
            mempool_free_spec(&g_msg_pool, m);
            return 0;
        }
        std::memcpy(m->data, msg->data, msg->len);
    }
    std::lock_guard<SpinLock> lk(q->lock);
    if (at_tail) {
        if (q->last) q->last->next = m;
        else q->first = m;
        q->last = m;
    } else {
        m->next = q->first;
        q->first = m;
        if (!q->last) q->last = m;
    }
    q->count.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

// Names the thread after its module, then runs the task's thread function.
void* task_start(void* arg) {
    auto* t = static_cast<THR_TASK*>(arg);
    char name[16];
    std::snprintf(name, sizeof name, "task-%04x", t->mid & 0xFFFFu);
    pthread_setname_np(pthread_self(), name);
    return t->thread_fn(t);
}

void publish(THR_TASK* t) {
    THR_TASK* head = g_tasks.load(std::memory_order_relaxed);
    do {
        t->next = head;
    } while (!g_tasks.compare_exchange_weak(head, t, std::memory_order_release,
                                            std::memory_order_relaxed));
}

}  // namespace

int init_thr_mgr(int max_tasks) {
    if (max_tasks <= 0) max_tasks = kDefaultTasks;
    struct sigaction sa{};
    sa.sa_handler = quiet_handler;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int s : kQuietSignals) sigaction(s, &sa, nullptr);
    return mempool_init_spec(&g_task_pool, max_tasks, sizeof(THR_TASK), "THREAD_TASK");
}

int init_msg_mgr(int max_msgs) {
    if (max_msgs <= 0) max_msgs = kDefaultMsgs;
    return mempool_init_spec(&g_msg_pool, max_msgs, sizeof(MQ_LIST), "MSG_QUEUE_LIST");
}

void default_init(THR_TASK* task) {
    register_msg_handler(task, ignore_msg);
    std::printf("default_init ...\n");
}

void* thread_default(void* arg) {
    auto* t = static_cast<THR_TASK*>(arg);
    if (t->init) t->init(t);
    timeval to = timeout_of(t);
    std::fprintf(stderr, "select timeout interval: %lu-%lu\n",
                 static_cast<unsigned long>(to.tv_sec), static_cast<unsigned long>(to.tv_usec));
    std::printf("thread_default starting ... module_id 0x%x, %u \n", t->mid,
                static_cast<unsigned>(getpid()));
    while (t->state.load(std::memory_order_relaxed) & 1u) {
        fd_set r, w;
        int n = wait_ready(t, to, &r, &w);
        t->passes++;
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EINVAL || errno == EBADF)
                std::printf("thread_default : Thread %lu fd is bad \n",
                            static_cast<unsigned long>(pthread_self()));
        } else if (n == 0) {
            event_run_timers(t, get_tick());
        } else {
            if (wake_ready(t, &r) && read_wake(t, true)) handle_msgs(t, true);
            event_dispatch(t, &r, &w, get_tick());
        }
        event_sweep(t);
    }
    t->exited.store(true, std::memory_order_release);
    return nullptr;
}

int register_task(uint32_t mid, task_thread_fn thread_fn, task_init_fn init_fn,
                  uint32_t options) {
    void* rec = mempool_alloc_spec(&g_task_pool);
    if (!rec) {
        std::printf("Not Enough mempool to alloc task\n");
        return 0;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        mempool_free_spec(&g_task_pool, rec);
        return 0;
    }
    // Both ends non-blocking: a task that stops reading makes send_msg fail, not hang.
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    auto* t = new (rec) THR_TASK();
    t->mid = mid;
    t->rfd = fds[0];
    t->wfd = fds[1];
    t->state.store(1, std::memory_order_relaxed);
    t->options = options;
    t->base_interval_ms = kTaskBaseIntervalMs;
    t->init = init_fn ? init_fn : default_init;
    t->notify = ::write;
    init_msg_queue(&t->queue);
    init_event_handle(&t->ev);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t tid;
    t->thread_fn = thread_fn ? thread_fn : thread_default;
    int rc = pthread_create(&tid, &attr, task_start, t);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        close(fds[0]);
        close(fds[1]);
        mempool_free_spec(&g_task_pool, rec);
        return 0;
    }
    // Published only once its thread runs, so a failed start never leaves a freed record
    // in the registry.
    publish(t);
    return 1;
}

int init_timer_task(task_init_fn init_fn) {
    g_tick.store(wall_ms(), std::memory_order_relaxed);
    register_task(kMidTimer, thread_timer, init_fn, 0);
    return 0;
}

uint32_t get_tick() { return g_tick.load(std::memory_order_relaxed); }

void set_task_base_timer_calc(THR_TASK* task, int ms) {
    if (task) task->base_interval_ms = ms;
}

int send_msg(const MSG_INFO* msg) {
    if (!msg) return 0;
    THR_TASK* head = g_tasks.load(std::memory_order_acquire);
    if (msg->dst == kMidBroadcast) {
        for (THR_TASK* t = head; t; t = t->next) {
            if (t->mid == msg->src) continue;
            put_msg_tail(&t->queue, msg);
            if (!notify(t)) return 0;
        }
        return 1;
    }
    for (THR_TASK* t = head; t; t = t->next) {
        if (t->mid != msg->dst) continue;
        put_msg_tail(&t->queue, msg);  // a lost copy still wakes the task
        return notify(t);
    }
    return 0;
}

int unregister_task(uint32_t mid) {
    if (!get_task_info(mid)) return 0;
    MSG_INFO stop{kMidBroadcast, mid, kMsgStopTask, 0, nullptr};
    send_msg(&stop);
    return 1;
}

THR_TASK* get_task_info(uint32_t mid) {
    for (THR_TASK* t = g_tasks.load(std::memory_order_acquire); t; t = t->next)
        if (t->mid == mid) return t;
    return nullptr;
}

void init_msg_queue(MSG_QUEUE* q) {
    if (!q) return;
    new (&q->lock) SpinLock;
    q->first = q->last = nullptr;
    q->count.store(0, std::memory_order_relaxed);
}

int put_msg_tail(MSG_QUEUE* q, const MSG_INFO* msg) { return put_msg(q, msg, true); }
int put_msg_head(MSG_QUEUE* q, const MSG_INFO* msg) { return put_msg(q, msg, false); }

MQ_LIST* get_msg(MSG_QUEUE* q) {
    if (!q) return nullptr;
    std::lock_guard<SpinLock> lk(q->lock);
    MQ_LIST* m = q->first;
    if (!m) return nullptr;
    q->first = m->next;
    if (!q->first) q->last = nullptr;
    m->next = nullptr;
    q->count.fetch_sub(1, std::memory_order_relaxed);
    return m;
}

uint32_t get_msg_count(MSG_QUEUE* q) {
    return q ? q->count.load(std::memory_order_relaxed) : 0;
}

void free_msg(MQ_LIST* m) {
    if (!m) return;
    mempool_free(m->data);
    mempool_free_spec(&g_msg_pool, m);
}

void clear_msg(MSG_QUEUE* q) {
    while (MQ_LIST* m = get_msg(q)) free_msg(m);
}

void monitor_msg_queue() { monitor_special_mempool(&g_msg_pool); }
