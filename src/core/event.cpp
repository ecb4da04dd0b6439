// Event handler registry of a task: descriptor sets follow the flags; deleted handlers are
// only marked, and freed by the task loop's sweep between passes.
#include "core/event.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "core/mempool.h"

namespace {

MEM_POOL g_handler_pool;
std::atomic<uint32_t> g_next_id{4096};

constexpr uint32_t kReadSet = EV_READ | EV_ACCEPT;
constexpr uint32_t kWriteSet = EV_WRITE | EV_CONNECT;
constexpr int kDefaultHandlers = 1024;

bool fd_ok(int fd) { return fd >= 0 && fd < FD_SETSIZE; }

// Takes fd out of the sets by the old flags and puts it back by the new ones.
void update_sets(EVENT_CTX* ctx, int fd, uint32_t old_flags, uint32_t new_flags) {
    if (!fd_ok(fd)) return;
    if (old_flags & kReadSet) FD_CLR(fd, &ctx->rset);
    if (old_flags & kWriteSet) FD_CLR(fd, &ctx->wset);
    if (new_flags & EV_DELETED) return;
    if (new_flags & kReadSet) FD_SET(fd, &ctx->rset);
    if (new_flags & kWriteSet) FD_SET(fd, &ctx->wset);
}

void set_flags(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags) {
    update_sets(&task->ev, h->fd, h->flags, flags);
    h->flags = flags;
}

// Deleted handlers lose their descriptors at once: the owner may close the fd right away.
void mark_deleted(THR_TASK* task, EVENT_HANDLER* h) { set_flags(task, h, EV_DELETED); }

bool is_deleted(const EVENT_HANDLER* h) { return h->flags == EV_DELETED; }

EVENT_HANDLER* end_of(THR_TASK* task) { return task->ev.sentinel; }

EVENT_HANDLER* find_fd(THR_TASK* task, int fd, bool skip_deleted) {
    if (fd == -1) return nullptr;
    EVENT_HANDLER* m = task->ev.msg_handler;
    if (m && m->fd == fd && !(skip_deleted && is_deleted(m))) return m;
    for (EVENT_HANDLER* h = end_of(task)->next; h != end_of(task); h = h->next)
        if (h->fd == fd && !(skip_deleted && is_deleted(h))) return h;
    return nullptr;
}

void default_destroy(EVENT_HANDLER* h, EVENT_HANDLER*) {
    mempool_free(h->user_data);
    h->user_data = nullptr;
}

uint32_t elapsed(uint32_t last, uint32_t tick) {
    int32_t d = static_cast<int32_t>(tick - last);
    return static_cast<uint32_t>(d < 0 ? -static_cast<int64_t>(d) : d);
}

void run_timer(THR_TASK* task, EVENT_HANDLER* h, uint32_t tick) {
    if ((h->flags & EV_TIMER) && h->timer_fn && elapsed(h->last, tick) >= h->period) {
        h->last = tick;
        h->timer_fn(task, h);
    }
}

bool in(const fd_set* s, int fd) { return s && fd_ok(fd) && FD_ISSET(fd, s); }

// Accept and read steps; flags are re-read after each call.
void dispatch_input(THR_TASK* task, EVENT_HANDLER* h, const fd_set* r) {
    if (h->flags & EV_ACCEPT) {
        if (!in(r, h->fd)) return;
        if (!h->accept_fn) {
            if ((h->flags & EV_READ) && h->read_fn) h->read_fn(h->fd, task, h);
            return;
        }
        h->accept_fn(h->fd, task, h->flags);
    }
    if ((h->flags & EV_READ) && in(r, h->fd) && h->read_fn) h->read_fn(h->fd, task, h);
}

// Connect and write steps.
void dispatch_output(THR_TASK* task, EVENT_HANDLER* h, const fd_set* w) {
    if (h->flags & EV_CONNECT) {
        if (!in(w, h->fd)) return;
        if (!h->connect_fn) {
            if ((h->flags & EV_WRITE) && h->write_fn) h->write_fn(h->fd, task, h);
            return;
        }
        h->connect_fn(h->fd, task, h);
    }
    if ((h->flags & EV_WRITE) && in(w, h->fd) && h->write_fn) h->write_fn(h->fd, task, h);
}

int warn_missing() {
    std::printf("Warning handler_list is NULL \n");
    return 0;
}

int add_flags(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags) {
    if (is_deleted(h)) return 0;
    if ((h->flags | flags) == h->flags) return 1;
    set_flags(task, h, h->flags | flags);
    if (flags & EV_TIMER) h->last = get_tick();
    return 1;
}

int replace_flags(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags) {
    if (is_deleted(h)) return 0;
    set_flags(task, h, flags);
    if (flags & EV_TIMER) h->last = get_tick();
    return 1;
}

int remove_flags(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags) {
    if (is_deleted(h)) return 1;
    uint32_t rest = h->flags & ~flags;
    if (rest == 0) mark_deleted(task, h);
    else set_flags(task, h, rest);
    return 1;
}

}  // namespace

int init_event_handler_mgr(int pool_size) {
    if (pool_size <= 0) pool_size = kDefaultHandlers;
    return mempool_init_spec(&g_handler_pool, pool_size, sizeof(EVENT_HANDLER), "HANDLER_EVENT");
}

void init_event_handle(EVENT_CTX* ctx) {
    if (!ctx) return;
    std::memset(&ctx->head, 0, sizeof ctx->head);
    ctx->head.fd = -1;
    ctx->head.next = ctx->head.prev = &ctx->head;
    ctx->sentinel = &ctx->head;
    ctx->msg_handler = nullptr;
    ctx->unused_ten = 10;
    ctx->max_fd = -1;
    FD_ZERO(&ctx->rset);
    FD_ZERO(&ctx->wset);
    FD_ZERO(&ctx->eset);
}

int register_event_handle(THR_TASK* task, EVENT_REG* reg) {
    if (!task || !reg) return 0;
    if (reg->fd >= FD_SETSIZE) return 0;  // select() cannot watch it
    EVENT_HANDLER* h = find_fd(task, reg->fd, true);
    bool fresh = !h;
    if (h) {
        update_sets(&task->ev, h->fd, h->flags, h->flags | reg->flags);
        h->flags |= reg->flags;
    } else {
        h = static_cast<EVENT_HANDLER*>(mempool_alloc_spec(&g_handler_pool));
        if (!h) {
            std::printf("Not Enough mempool to alloc handler, fd=%d\n", reg->fd);
            return 0;
        }
        std::memset(h, 0, sizeof *h);
        h->id = g_next_id.fetch_add(1, std::memory_order_relaxed);
        h->fd = reg->fd;
        h->flags = reg->flags;
        h->period = reg->period;
        h->read_fn = reg->read_fn;
        h->write_fn = reg->write_fn;
        h->accept_fn = reg->accept_fn;
        h->timer_fn = reg->timer_fn;
        h->msg_fn = reg->msg_fn;
        h->connect_fn = reg->connect_fn;
        h->spare = reg->spare;
        h->destroy_fn = reg->destroy_fn ? reg->destroy_fn : default_destroy;
        std::memcpy(h->user, reg->user, sizeof h->user);
        h->user5 = reg->user5;
        h->user_data = reg->user_data;
        update_sets(&task->ev, h->fd, 0, h->flags);
    }
    h->last = get_tick();
    if (h->fd > task->ev.max_fd) task->ev.max_fd = h->fd;
    if (fresh) {
        if (h->flags & EV_MSG) {
            task->ev.msg_handler = h;
        } else {
            EVENT_HANDLER* s = end_of(task);
            h->prev = s;
            h->next = s->next;
            s->next->prev = h;
            s->next = h;
        }
    }
    reg->id = h->id;
    return 1;
}

int register_msg_handler(THR_TASK* task, ev_msg_fn fn) {
    if (!task) return 0;
    if (task->ev.msg_handler) return 1;
    EVENT_REG reg{};
    reg.fd = task->rfd;
    reg.flags = EV_MSG_MARK | EV_MSG | EV_READ;
    reg.period = 10;
    reg.msg_fn = fn;
    return register_event_handle(task, &reg);
}

int add_event_handle(THR_TASK* task, int fd, uint32_t flags) {
    if (!task) return 0;
    EVENT_HANDLER* h = find_fd(task, fd, false);
    if (!h) return warn_missing();
    return add_flags(task, h, flags);
}

int add_event_handler_list(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags) {
    if (!task) return 0;
    if (!h) return warn_missing();
    return add_flags(task, h, flags);
}

int modify_event_handle(THR_TASK* task, uint32_t id, uint32_t flags) {
    if (!task) return 0;
    EVENT_HANDLER* h = get_event_handler(task, id);
    if (!h) return warn_missing();
    return replace_flags(task, h, flags);
}

int modify_event_handler_list(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags) {
    if (!task) return 0;
    if (!h) return warn_missing();
    return replace_flags(task, h, flags);
}

int remove_event_handler(THR_TASK* task, int fd, uint32_t flags) {
    if (!task) return 0;
    EVENT_HANDLER* h = find_fd(task, fd, false);
    return h ? remove_flags(task, h, flags) : 0;
}

int remove_event_handler_list(THR_TASK* task, EVENT_HANDLER* h, uint32_t flags) {
    if (!task || !h) return 0;
    return remove_flags(task, h, flags);
}

// The message handler is never in the list and never swept, so it is not deleted here.
EVENT_HANDLER* unregister_event_handle(THR_TASK* task, uint32_t id) {
    if (!task) return nullptr;
    for (EVENT_HANDLER* h = end_of(task)->next; h != end_of(task); h = h->next) {
        if (h->id == id) {
            mark_deleted(task, h);
            return h;
        }
    }
    return end_of(task);
}

int unregister_event_list(THR_TASK* task, EVENT_HANDLER* h) {
    if (!task || !h) return 0;
    mark_deleted(task, h);
    return 1;
}

void destroy_event_handle(THR_TASK* task, EVENT_HANDLER* h) {
    if (!task || !h || !(h->flags & EV_DELETED)) return;
    if (h->destroy_fn) h->destroy_fn(h, h);
    if (h->next && h->prev) {
        h->prev->next = h->next;
        h->next->prev = h->prev;
    }
    h->flags = 0;
    h->next = h->prev = nullptr;
    h->fd = -1;
    mempool_free_spec(&g_handler_pool, h);
}

EVENT_HANDLER* get_event_handler_by_fd(THR_TASK* task, int fd) {
    return task ? find_fd(task, fd, false) : nullptr;
}

EVENT_HANDLER* get_event_handler(THR_TASK* task, uint32_t id) {
    if (!task) return nullptr;
    EVENT_HANDLER* m = task->ev.msg_handler;
    if (m && m->id == id) return m;
    for (EVENT_HANDLER* h = end_of(task)->next; h != end_of(task); h = h->next)
        if (h->id == id) return h;
    return nullptr;
}

void monitor_event_handle() { monitor_special_mempool(&g_handler_pool); }

void event_run_timers(THR_TASK* task, uint32_t tick) {
    for (EVENT_HANDLER* h = end_of(task)->next; h != end_of(task);) {
        EVENT_HANDLER* next = h->next;
        run_timer(task, h, tick);
        h = next;
    }
}

void event_dispatch(THR_TASK* task, const fd_set* r, const fd_set* w, uint32_t tick) {
    // New handlers go to the front, behind the walk: they wait for the next pass.
    for (EVENT_HANDLER* h = end_of(task)->next; h != end_of(task);) {
        EVENT_HANDLER* next = h->next;
        run_timer(task, h, tick);
        dispatch_input(task, h, r);
        dispatch_output(task, h, w);
        h = next;
    }
}

void event_sweep(THR_TASK* task) {
    for (EVENT_HANDLER* h = end_of(task)->next; h != end_of(task);) {
        EVENT_HANDLER* next = h->next;
        destroy_event_handle(task, h);
        h = next;
    }
}
