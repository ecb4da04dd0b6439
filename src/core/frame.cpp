// Frame records, their chunked reference-counted payload blocks, and frame queues.
#include "core/frame.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <ctime>
#include <cstring>
#include <mutex>
#include <new>

#include "core/mempool.h"

namespace {

struct FrameMgr {
    FrameMgr(const char* head, const char* buff, uint32_t def)
        : head_name(head), buff_name(buff), default_size(def) {}
    MEM_POOL head_pool;
    MEM_POOL buff_pool;
    std::atomic<uint32_t> cap{0};
    int users = 0;
    std::mutex lock;
    const char* head_name;
    const char* buff_name;
    uint32_t default_size;
};

FrameMgr g_video{"FRAME_HEAD", "FRAME_BUFF", 16384};
FrameMgr g_audio{"AUDIO_FRAME_HEAD", "AUDIO_FRAME_BUFF", 1024};

constexpr int kDefaultFrames = 512;
constexpr int kHeadsPerFrame = 4;

constexpr uintptr_t align8(uintptr_t v) { return (v + 7) & ~uintptr_t{7}; }

bool is_audio(const frame_buff* f) { return (f->kind >> 8) == 2; }

int mgr_init(FrameMgr& m, int frames, int max_size) {
    std::lock_guard<std::mutex> lk(m.lock);
    if (m.users++ > 0) return 0;
    if (frames <= 0) frames = kDefaultFrames;
    uint32_t cap = max_size > 0 ? static_cast<uint32_t>(max_size) : m.default_size;
    m.cap.store(cap, std::memory_order_relaxed);
    mempool_init_spec(&m.head_pool, kHeadsPerFrame * frames, sizeof(frame_buff), m.head_name);
    int block = static_cast<int>(align8(cap) + sizeof(frame_ctl));
    return mempool_init_spec(&m.buff_pool, frames, block, m.buff_name);
}

int mgr_destroy(FrameMgr& m) {
    std::lock_guard<std::mutex> lk(m.lock);
    if (m.users > 0 && --m.users == 0) {
        mempool_destroy_spec(&m.head_pool);
        mempool_destroy_spec(&m.buff_pool);
    }
    return 0;
}

// One record with its own payload block, refs 1; nullptr when a pool is dry.
frame_buff* new_chunk(FrameMgr& m, uint32_t size, uint32_t index) {
    uint32_t cap = m.cap.load(std::memory_order_relaxed);
    auto* f = static_cast<frame_buff*>(mempool_alloc_spec(&m.head_pool));
    if (!f) return nullptr;
    auto* block = static_cast<uint8_t*>(mempool_alloc_spec(&m.buff_pool));
    if (!block) {
        mempool_free_spec(&m.head_pool, f);
        return nullptr;
    }
    std::memset(f, 0, sizeof *f);
    f->cur = f;
    f->cap = cap;
    f->size = size;
    f->index = index;
    f->data = f->rd = f->wr = block;
    f->ctl = block + cap;
    auto* ctl = new (block + align8(cap)) frame_ctl;
    ctl->refs.store(1, std::memory_order_relaxed);
    ctl->chunks = 0;
    ctl->chain = nullptr;
    return f;
}

// Drops one reference; the last one returns every chunk and the payload blocks.
void release(FrameMgr& m, frame_buff* f) {
    frame_ctl* ctl = f->data ? frame_ctl_of(f) : nullptr;
    if (ctl && ctl->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        frame_buff* chunk = ctl->chain;
        for (int i = 0; i < ctl->chunks && chunk; ++i) {
            frame_ctl* cc = frame_ctl_of(chunk);
            frame_buff* succ = cc->chain;
            cc->chain = nullptr;
            mempool_free_spec(&m.buff_pool, chunk->data);
            mempool_free_spec(&m.head_pool, chunk);
            chunk = succ;
        }
        ctl->chain = nullptr;
        ctl->chunks = 0;
        mempool_free_spec(&m.buff_pool, f->data);
    }
    mempool_free_spec(&m.head_pool, f);
}

frame_buff* alloc_from(FrameMgr& m, uint32_t size) {
    uint32_t cap = m.cap.load(std::memory_order_relaxed);
    if (cap == 0) return nullptr;
    frame_buff* first = new_chunk(m, size, 0);
    if (!first) return nullptr;
    // size / cap more chunks: an exact multiple of cap gets one (empty) chunk more than needed.
    uint32_t extra = size / cap;
    frame_ctl* ctl = frame_ctl_of(first);
    for (uint32_t i = 1; i <= extra; ++i) {
        frame_buff* c = new_chunk(m, size, i);
        if (!c) {
            release(m, first);
            return nullptr;
        }
        // Pushed at the front: the chain lists chunks in reverse index order.
        frame_ctl_of(c)->chain = ctl->chain;
        ctl->chain = c;
        ctl->chunks++;
    }
    return first;
}

size_t room(const frame_buff* c) { return static_cast<size_t>(c->ctl - c->wr); }

void put(frame_buff* c, const uint8_t* src, size_t n) {
    std::memcpy(c->wr, src, n);
    c->wr += n;
    c->len += static_cast<uint32_t>(n);
}

// Queue links: the head itself stands for "before the first" and "after the last".
void link_next(frame_buff_head* h, frame_buff* node, frame_buff* v) {
    if (node == frame_queue_end(h)) h->first = v;
    else node->next = v;
}

void link_prev(frame_buff_head* h, frame_buff* node, frame_buff* v) {
    if (node == frame_queue_end(h)) h->last = v;
    else node->prev = v;
}

frame_buff* after(frame_buff_head* h, frame_buff* node) {
    return node == frame_queue_end(h) ? h->first : node->next;
}

frame_buff* before(frame_buff_head* h, frame_buff* node) {
    return node == frame_queue_end(h) ? h->last : node->prev;
}

void insert_after(frame_buff_head* h, frame_buff* pos, frame_buff* f) {
    frame_buff* n = after(h, pos);
    f->prev = pos;
    f->next = n;
    link_prev(h, n, f);
    link_next(h, pos, f);
    h->count++;
}

void unlink_locked(frame_buff_head* h, frame_buff* f) {
    link_next(h, f->prev, f->next);
    link_prev(h, f->next, f->prev);
    f->next = f->prev = nullptr;
    h->count--;
}

// Takes the whole list off the queue (caller holds the lock); returns its first record.
frame_buff* detach_all(frame_buff_head* h) {
    frame_buff* first = h->count > 0 ? h->first : frame_queue_end(h);
    h->first = h->last = frame_queue_end(h);
    h->count = 0;
    return first;
}

int free_detached(frame_buff_head* h, frame_buff* f) {
    int n = 0;
    while (f && f != frame_queue_end(h)) {
        frame_buff* next = f->next;
        f->next = f->prev = nullptr;
        free_frame(f);
        f = next;
        ++n;
    }
    return n;
}

}  // namespace

frame_ctl* frame_ctl_of(const frame_buff* frame) {
    return reinterpret_cast<frame_ctl*>(align8(reinterpret_cast<uintptr_t>(frame->ctl)));
}

MEM_POOL* frame_pool(uint16_t kind, bool payload) {
    FrameMgr& m = (kind >> 8) == 2 ? g_audio : g_video;
    return payload ? &m.buff_pool : &m.head_pool;
}

int init_frame_buff_mgr(int frames, int max_frame_size) {
    return mgr_init(g_video, frames, max_frame_size);
}
int destroy_frame_buff_mgr(int) { return mgr_destroy(g_video); }
int init_audio_frame_buff_mgr(int frames, int max_frame_size) {
    return mgr_init(g_audio, frames, max_frame_size);
}
int destroy_audio_frame_buff_mgr(int) { return mgr_destroy(g_audio); }

void monitor_frame_buff() {
    monitor_special_mempool(&g_video.head_pool);
    monitor_special_mempool(&g_video.buff_pool);
    monitor_special_mempool(&g_audio.head_pool);
    monitor_special_mempool(&g_audio.buff_pool);
}

void monitor_audio_frame_buff() {
    monitor_special_mempool(&g_audio.head_pool);
    monitor_special_mempool(&g_audio.buff_pool);
}

frame_buff* alloc_frame(uint32_t size) { return alloc_from(g_video, size); }
frame_buff* alloc_audio_frame(uint32_t size) { return alloc_from(g_audio, size); }

int frame_copy_data(frame_buff* frame, const void* src, uint32_t length) {
    if (!frame || !src || length > frame->size) return -1;
    auto* s = static_cast<const uint8_t*>(src);
    frame_buff* c = frame->cur;
    if (length <= room(c)) {
        put(c, s, length);
        frame->total += length;
        return static_cast<int>(length);
    }
    size_t done = room(c);
    put(c, s, done);
    for (frame_buff* n = frame_ctl_of(c)->chain; n; n = frame_ctl_of(n)->chain) {
        size_t take = std::min<size_t>(length - done, room(n));
        put(n, s + done, take);
        done += take;
        if (done == length) break;
    }
    frame->total += static_cast<uint32_t>(done);
    return static_cast<int>(done);
}

void frame_stamp_chunks(frame_buff* frame) {
    if (!frame || !frame->data) return;
    uint32_t n = 0;
    for (frame_buff* c = frame_ctl_of(frame)->chain; c; c = frame_ctl_of(c)->chain) {
        c->index = ++n;
        c->pts = frame->pts;
    }
}

frame_buff* frame_clone(frame_buff* frame) {
    if (!frame) return nullptr;
    if (!frame->data) return nullptr;
    FrameMgr& m = is_audio(frame) ? g_audio : g_video;
    auto* c = static_cast<frame_buff*>(mempool_alloc_spec(&m.head_pool));
    if (!c) return nullptr;
    frame_ctl_of(frame)->refs.fetch_add(1, std::memory_order_relaxed);
    c->next = c->prev = nullptr;
    c->cur = c;
    c->spare = 0;
    c->index = 0;
    c->kind = frame->kind;
    c->param = frame->param;
    c->len = frame->len;
    c->cap = frame->cap;
    c->size = frame->size;
    c->pts = frame->pts;
    c->aux = frame->aux;
    c->total = frame->total;
    c->data = frame->data;
    c->ctl = frame->ctl;
    c->rd = frame->rd;
    c->wr = frame->wr;
    std::memcpy(c->user, frame->user, sizeof c->user);
    return c;
}

void free_frame(frame_buff* frame) {
    if (!frame) return;
    release(is_audio(frame) ? g_audio : g_video, frame);
}

void free_audio_frame(frame_buff* frame) {
    if (!frame) return;
    release(g_audio, frame);
}

void init_frame_buff_head(frame_buff_head* head) {
    if (!head) return;
    new (&head->lock) SpinLock;
    head->first = head->last = frame_queue_end(head);
    head->count = 0;
}

void frame_queue_tail(frame_buff_head* head, frame_buff* frame) {
    if (!head || !frame) return;
    std::lock_guard<SpinLock> lk(head->lock);
    insert_after(head, head->last, frame);
}

void frame_queue_head(frame_buff_head* head, frame_buff* frame) {
    if (!head || !frame) return;
    std::lock_guard<SpinLock> lk(head->lock);
    insert_after(head, frame_queue_end(head), frame);
}

frame_buff* frame_dequeue(frame_buff_head* head) {
    if (!head) return nullptr;
    std::lock_guard<SpinLock> lk(head->lock);
    frame_buff* f = head->first;
    if (head->count <= 0 || !f || f == frame_queue_end(head)) return nullptr;
    unlink_locked(head, f);
    return f;
}

frame_buff* frame_dequeue_tail(frame_buff_head* head) {
    if (!head) return nullptr;
    std::lock_guard<SpinLock> lk(head->lock);
    frame_buff* f = head->last;
    if (head->count <= 0 || !f || f == frame_queue_end(head)) return nullptr;
    unlink_locked(head, f);
    return f;
}

void frame_unlink(frame_buff* frame, frame_buff_head* head) {
    if (!head || !frame) return;
    std::lock_guard<SpinLock> lk(head->lock);
    if (!frame->next || !frame->prev) return;  // not in a queue
    unlink_locked(head, frame);
}

void frame_append(frame_buff* pos, frame_buff* frame, frame_buff_head* head) {
    if (!head || !pos || !frame) return;
    std::lock_guard<SpinLock> lk(head->lock);
    insert_after(head, pos, frame);
}

void frame_insert(frame_buff* pos, frame_buff* frame, frame_buff_head* head) {
    if (!head || !pos || !frame) return;
    std::lock_guard<SpinLock> lk(head->lock);
    insert_after(head, before(head, pos), frame);
}

uint32_t frame_gather(const frame_buff* frame, void* dst, uint32_t cap) {
    if (!frame || !dst || !frame->data) return 0;
    auto* out = static_cast<uint8_t*>(dst);
    uint32_t done = 0;
    for (const frame_buff* c = frame; c && done < cap; c = frame_ctl_of(c)->chain) {
        uint32_t n = std::min(c->len, cap - done);
        std::memcpy(out + done, c->rd, n);
        done += n;
    }
    return done;
}

int frame_queue_count(frame_buff_head* head) {
    std::lock_guard<SpinLock> lk(head->lock);
    return head->count;
}

int frame_queue_flush(frame_buff_head* head) {
    if (!head) return 0;
    frame_buff* list;
    {
        std::lock_guard<SpinLock> lk(head->lock);
        list = detach_all(head);
    }
    return free_detached(head, list);
}

uint64_t frame_now_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void frame_set_taken(frame_buff* frame, uint64_t us) {
    frame->user[0] = static_cast<uint32_t>(us);
    frame->user[1] = static_cast<uint32_t>(us >> 32);
}

uint64_t frame_taken_us(const frame_buff* frame) { return frame->user[0] | (uint64_t{frame->user[1]} << 32); }

uint64_t frame_queue_first_taken(frame_buff_head* head) {
    std::lock_guard<SpinLock> lk(head->lock);
    return head->count > 0 ? frame_taken_us(head->first) : 0;
}

int frame_queue_drop_taken_before(frame_buff_head* head, uint64_t before_us) {
    frame_buff* list = frame_queue_end(head);
    {
        std::lock_guard<SpinLock> lk(head->lock);
        for (frame_buff* f = head->first; head->count > 0; f = head->first) {
            const uint64_t taken = frame_taken_us(f);
            if (taken == 0 || taken >= before_us) break;
            unlink_locked(head, f);
            f->next = list; // a private chain, ended by the head as free_detached expects
            list = f;
        }
    }
    return free_detached(head, list);
}

namespace {

std::atomic<uint32_t> g_queuedEpoch{0};
std::atomic<int> g_queuedWaiters{0};

// Counts the fan-out and wakes the waiters, if any (a syscall only then).
void signal_queued() {
    g_queuedEpoch.fetch_add(1);
    if (g_queuedWaiters.load() > 0)
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&g_queuedEpoch), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace

uint32_t frame_queued_epoch() { return g_queuedEpoch.load(); }

void frame_wait_queued(uint32_t seen, uint32_t max_us) {
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
    timespec ts{static_cast<time_t>(max_us / 1000000), static_cast<long>(max_us % 1000000) * 1000};
    g_queuedWaiters.fetch_add(1);
    // Returns at once when the epoch moved on since `seen` (the kernel compares atomically).
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&g_queuedEpoch), FUTEX_WAIT_PRIVATE, seen, &ts, nullptr, 0);
    g_queuedWaiters.fetch_sub(1);
}

int frame_fan_out(frame_buff_head* head, frame_buff* frame, int limit) {
    if (!head || !frame) return -1;
    frame_buff* c = frame_clone(frame);
    frame_buff* dropped = frame_queue_end(head);
    if (!c) {
        // The pool may be dry because of this very backlog: drop it first, then retry.
        {
            std::lock_guard<SpinLock> lk(head->lock);
            if (head->count > limit) dropped = detach_all(head);
        }
        free_detached(head, dropped);
        if (!(c = frame_clone(frame))) return -1;
        frame_queue_tail(head, c);
        signal_queued();
        return 0;
    }
    {
        std::lock_guard<SpinLock> lk(head->lock);
        if (head->count > limit) dropped = detach_all(head);
        insert_after(head, head->last, c);
    }
    free_detached(head, dropped);
    signal_queued();
    return 0;
}
