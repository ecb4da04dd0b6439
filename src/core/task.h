// Tasks: threads addressed by a 16-bit module id, each with a message queue woken through a
// pipe and a 10 ms select loop. send_msg may be called from any thread; a task's handlers all
// run on its own thread.
#pragma once
#include <sys/select.h>

#include <atomic>
#include <cstdint>

#include "core/spin_lock.h"

inline constexpr uint32_t kMidParam = 0x2000;
inline constexpr uint32_t kMidNetwork = 0x3000;
inline constexpr uint32_t kMidReceiver = 0x4000;
inline constexpr uint32_t kMidVideoDecode = 0x7000;
inline constexpr uint32_t kMidOsd = 0x8000;
inline constexpr uint32_t kMidTimer = 0xFFFE;
inline constexpr uint32_t kMidBroadcast = 0xFFFF;
inline constexpr uint32_t kMsgStopTask = 0xDEAD;

struct THR_TASK;
struct EVENT_HANDLER;

struct MQ_LIST {
    MQ_LIST* next;
    uint32_t src;
    uint32_t dst;
    uint32_t msg_id;
    uint32_t len;
    void* data;
};

// What a sender describes; the framework copies data before send_msg returns.
struct MSG_INFO {
    uint32_t src;
    uint32_t dst;
    uint32_t msg_id;
    uint32_t len;
    const void* data;
};

// init_msg_queue constructs the lock in place (queues live in pool records).
struct MSG_QUEUE {
    MQ_LIST* first;
    MQ_LIST* last;
    std::atomic<uint32_t> count; // read without the lock by get_msg_count
    SpinLock lock;
};

// Event handler callbacks and record (the registry operations are in event.h).
using ev_io_fn = void (*)(int fd, THR_TASK* task, EVENT_HANDLER* h);
using ev_accept_fn = void (*)(int fd, THR_TASK* task, uint32_t flags);
using ev_timer_fn = void (*)(THR_TASK* task, EVENT_HANDLER* h);
using ev_msg_fn = void (*)(THR_TASK* task, MQ_LIST* msg);
using ev_destroy_fn = void (*)(EVENT_HANDLER* h, EVENT_HANDLER* h2);

struct EVENT_HANDLER {
    int fd;
    uint32_t id;
    uint32_t flags;
    uint32_t period;
    uint32_t last;
    ev_io_fn read_fn;
    ev_io_fn write_fn;
    ev_accept_fn accept_fn;
    ev_timer_fn timer_fn;
    ev_msg_fn msg_fn;
    ev_io_fn connect_fn;
    uint32_t spare;
    ev_destroy_fn destroy_fn;
    uint32_t user[4];
    uint32_t user5;
    void* user_data;
    EVENT_HANDLER* next;
    EVENT_HANDLER* prev;
};

// Handler list and descriptor sets of one task. The list is circular through `head`;
// `sentinel` points at it.
struct EVENT_CTX {
    EVENT_HANDLER head;
    EVENT_HANDLER* sentinel;
    EVENT_HANDLER* msg_handler;
    int unused_ten;
    int max_fd;
    fd_set rset;
    fd_set wset;
    fd_set eset;
};

using task_init_fn = void (*)(THR_TASK*);
using task_thread_fn = void* (*)(void*);
using task_notify_fn = long (*)(int fd, const void* buf, unsigned long count);

inline constexpr int kTaskBaseIntervalMs = 10;

struct THR_TASK {
    THR_TASK* next;
    uint32_t mid;
    int rfd;
    int wfd;
    std::atomic<uint32_t> state; // bit 0 running; 2 once told to stop
    uint32_t options;            // bit 0: never wait
    int32_t base_interval_ms;
    task_init_fn init;
    task_notify_fn notify;
    uint32_t spare;
    MSG_QUEUE queue;
    EVENT_CTX ev;
    std::atomic<bool> exited; // set when the task's loop has returned
    uint32_t passes;          // waits completed by the loop; the task's own thread only
    task_thread_fn thread_fn; // what the task's thread runs
};

// Start-up (main thread), in this order after mempool_init: messages, handlers, tasks, timer.
int init_thr_mgr(int max_tasks);
int init_msg_mgr(int max_msgs);
// Starts a detached thread for module `mid` (default loop/init when nullptr); 1 on success.
// init_fn runs on the new thread: register the message handler, descriptors and timers there.
int register_task(uint32_t mid, task_thread_fn thread_fn, task_init_fn init_fn, uint32_t options);
int init_timer_task(task_init_fn init_fn);
uint32_t get_tick();
void set_task_base_timer_calc(THR_TASK* task, int ms);
// Any thread; never blocks (the wake pipe is non-blocking). The payload is copied before it
// returns. dst 0xFFFF reaches every task but the sender. 1 when queued and woken, else 0.
int send_msg(const MSG_INFO* msg);
int unregister_task(uint32_t mid);
THR_TASK* get_task_info(uint32_t mid);

// Message queue primitives. A message from get_msg belongs to the caller until free_msg.
void init_msg_queue(MSG_QUEUE* q);
int put_msg_tail(MSG_QUEUE* q, const MSG_INFO* msg);
int put_msg_head(MSG_QUEUE* q, const MSG_INFO* msg);
MQ_LIST* get_msg(MSG_QUEUE* q);
uint32_t get_msg_count(MSG_QUEUE* q);
void free_msg(MQ_LIST* m);
void clear_msg(MSG_QUEUE* q);
void monitor_msg_queue();

// The default task loop and default init, for tasks that wrap them.
void* thread_default(void* task);
void default_init(THR_TASK* task);
