// Event handlers of a task: watched descriptors and tick timers. Used only from the owning
// task's thread (its init function and callbacks); there is no lock.
#pragma once
#include <cstdint>
#include "core/task.h"

inline constexpr uint32_t EV_READ = 0x0001;
inline constexpr uint32_t EV_WRITE = 0x0002;
inline constexpr uint32_t EV_ACCEPT = 0x0004;
inline constexpr uint32_t EV_TIMER = 0x0008;
inline constexpr uint32_t EV_CONNECT = 0x0010;
inline constexpr uint32_t EV_MSG = 0x0080;
inline constexpr uint32_t EV_DELETED = 0x2000;
inline constexpr uint32_t EV_MSG_MARK = 0x4000;

// The caller's description for register_event_handle; id is written back.
struct EVENT_REG {
    int fd;
    uint32_t id;
    uint32_t flags;
    uint32_t period;
    uint32_t unused;
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
};

int init_event_handler_mgr(int pool_size);
void init_event_handle(EVENT_CTX* ctx);
int register_event_handle(THR_TASK* task, EVENT_REG* reg);
int register_msg_handler(THR_TASK* task, ev_msg_fn fn);
int add_event_handle(THR_TASK* task, int fd, uint32_t flags);
int add_event_handler_list(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags);
int modify_event_handle(THR_TASK* task, uint32_t id, uint32_t flags);
int modify_event_handler_list(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags);
int remove_event_handler(THR_TASK* task, int fd, uint32_t flags);
int remove_event_handler_list(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags);
EVENT_HANDLER* unregister_event_handle(THR_TASK* task, uint32_t id);
int unregister_event_list(THR_TASK* task, EVENT_HANDLER* h);
void destroy_event_handle(THR_TASK* task, EVENT_HANDLER* h);
EVENT_HANDLER* get_event_handler_by_fd(THR_TASK* task, int fd);
EVENT_HANDLER* get_event_handler(THR_TASK* task, uint32_t id);
void monitor_event_handle();

// Task-loop steps (owning task's thread only). Timers due at `tick` after an idle wait:
void event_run_timers(THR_TASK* task, uint32_t tick);
// One dispatch pass over the list for the descriptors ready in r and w:
void event_dispatch(THR_TASK* task, const fd_set* r, const fd_set* w, uint32_t tick);
// Frees every handler marked deleted:
void event_sweep(THR_TASK* task);
