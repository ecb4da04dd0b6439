// Media frame records (chunked, reference-counted payload) and frame queues.
// Producers allocate and fill a frame, clone it into each consumer queue and free their own
// reference; the payload is copied once however many consumers there are.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/spin_lock.h"

inline constexpr uint16_t kFrameKindVideo = 0x0001;
inline constexpr uint16_t kFrameKindAudio = 0x0200;

struct frame_buff;
struct MEM_POOL;

// Shared by the first record of a chunk and all its clones; sits right after the payload area
// (constructed in place in the pool block). The count is atomic, so it needs no lock.
struct frame_ctl {
    std::atomic<uint32_t> refs;
    int32_t chunks;
    frame_buff* chain;
};

struct frame_buff {
    frame_buff* next;
    frame_buff* prev;
    frame_buff* cur;
    uint16_t kind;
    uint16_t param;
    uint32_t len;
    uint32_t cap;
    uint32_t size;
    uint32_t spare;
    uint64_t pts;
    uint32_t aux;
    uint32_t total;
    uint32_t index;
    uint8_t* data;
    uint8_t* ctl;
    uint8_t* rd;
    uint8_t* wr;
    uint32_t user[3];
};

// A circular list through the head: an empty queue has first == last == the head itself
// (compare with frame_queue_end). The head may live in malloc'd memory: init_frame_buff_head
// constructs its lock.
struct frame_buff_head {
    frame_buff* first;
    frame_buff* last;
    int32_t count;
    SpinLock lock;
};

// The link value that marks the end of a queue (the head itself); never dereference it.
inline frame_buff* frame_queue_end(frame_buff_head* head) {
    return reinterpret_cast<frame_buff*>(head);
}

// Managers: created once at start-up (main thread); 0 frames means 512, 0 bytes the default
// frame size (16384 video, 1024 audio). Only the first call creates the pools.
int init_frame_buff_mgr(int frames, int max_frame_size);
int destroy_frame_buff_mgr(int unused);
int init_audio_frame_buff_mgr(int frames, int max_frame_size);
int destroy_audio_frame_buff_mgr(int unused);
void monitor_frame_buff();
void monitor_audio_frame_buff();

void init_frame_buff_head(frame_buff_head* head);
// A new frame (first record, refs 1) owned by the caller, or nullptr when a pool is dry.
// Never blocks; any thread. The producer sets kind, param, pts and aux.
frame_buff* alloc_frame(uint32_t size);
frame_buff* alloc_audio_frame(uint32_t size);
// Appends bytes; returns length, a short count when the chunks ran out, or -1 (nothing
// stored) when length exceeds the size given at allocation. Producer only, before cloning.
int frame_copy_data(frame_buff* frame, const void* src, uint32_t length);
// Numbers a frame's chunks in payload order (1, 2, ...) and gives them the frame's pts.
// Producer only, once the pts is set and before the first clone: clones share the chunks.
void frame_stamp_chunks(frame_buff* frame);
// A new record sharing the payload (one more reference), owned by the caller; or nullptr.
frame_buff* frame_clone(frame_buff* frame);
// Drops one reference; the last one returns the payload. Video or audio by kind. Any thread.
void free_frame(frame_buff* frame);
void free_audio_frame(frame_buff* frame);

// Queue operations take the head's lock; a queued frame belongs to the queue until taken.
// frame_dequeue* hand the frame to the caller (who frees it), or nullptr when empty.
void frame_queue_tail(frame_buff_head* head, frame_buff* frame);
void frame_queue_head(frame_buff_head* head, frame_buff* frame);
frame_buff* frame_dequeue(frame_buff_head* head);
frame_buff* frame_dequeue_tail(frame_buff_head* head);
void frame_unlink(frame_buff* frame, frame_buff_head* head);
void frame_append(frame_buff* pos, frame_buff* frame, frame_buff_head* head);
void frame_insert(frame_buff* pos, frame_buff* frame, frame_buff_head* head);

// The pools behind frames of a kind (video or audio): records, or payload blocks.
MEM_POOL* frame_pool(uint16_t kind, bool payload);
// The control area of a record's payload block.
frame_ctl* frame_ctl_of(const frame_buff* frame);
// Copies a frame's payload as readers see it (first chunk, then the chain) into dst, at most
// cap bytes; returns the bytes copied. Any holder of a reference.
uint32_t frame_gather(const frame_buff* frame, void* dst, uint32_t cap);
// Number of frames in a queue, read under its lock.
int frame_queue_count(frame_buff_head* head);
// Dequeues and frees every frame of a queue; returns how many were dropped.
int frame_queue_flush(frame_buff_head* head);
// The producers' fan-out step for one active consumer: when the queue holds more than `limit`
// frames its whole backlog is dropped, then a clone of `frame` is queued at the tail.
// Returns 0, or -1 when no clone could be made (the frame was not queued). The producer still
// frees its own reference after serving every consumer. Any thread.
int frame_fan_out(frame_buff_head* head, frame_buff* frame, int limit);

// CLOCK_MONOTONIC microseconds: the clock of the program's frame times (taken, arrival).
uint64_t frame_now_us();
// When the program took a frame from its encoder: stamped by the producer at the fan-out, so
// every consumer can tell how long a frame has waited for it. Kept in user words 0 and 1,
// which clones carry.
void frame_set_taken(frame_buff* frame, uint64_t us);
uint64_t frame_taken_us(const frame_buff* frame);
// Taken stamp of the first frame queued, 0 when the queue is empty. Any thread.
uint64_t frame_queue_first_taken(frame_buff_head* head);
// Dequeues and frees the frames at the front taken before `before_us` (a frame without a stamp
// ends the run); returns how many.
int frame_queue_drop_taken_before(frame_buff_head* head, uint64_t before_us);

// For consumers that serve several queues and would otherwise poll them: read the epoch, look
// at the queues, and if all were empty wait until a fan-out has queued a frame since that read
// (or max_us passed). Any thread; the wait blocks.
uint32_t frame_queued_epoch();
void frame_wait_queued(uint32_t seen, uint32_t max_us);
