// Media frame records (chunked, reference-counted payload) and frame queues.
// Producers allocate and fill a frame, clone it into each consumer queue and free their own
// reference; the payload is copied once however many consumers there are.
#pragma once
#include <cstdint>
#include <mutex>

inline constexpr uint16_t kFrameKindVideo = 0x0001;
inline constexpr uint16_t kFrameKindAudio = 0x0200;

struct frame_buff;

// Shared by the first record of a chunk and all its clones; sits right after the payload area.
struct frame_ctl {
    uint32_t refs;
    int32_t chunks;
    frame_buff* chain;
    std::mutex* lock;
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

struct frame_buff_head {
    frame_buff* first;
    frame_buff* last;
    int32_t count;
    std::mutex lock;
};

int init_frame_buff_mgr(int frames, int max_frame_size);
int destroy_frame_buff_mgr(int unused);
int init_audio_frame_buff_mgr(int frames, int max_frame_size);
int destroy_audio_frame_buff_mgr(int unused);
void monitor_frame_buff();
void monitor_audio_frame_buff();

void init_frame_buff_head(frame_buff_head* head);
frame_buff* alloc_frame(uint32_t size);
frame_buff* alloc_audio_frame(uint32_t size);
int frame_copy_data(frame_buff* frame, const void* src, uint32_t length);
frame_buff* frame_clone(frame_buff* frame);
void free_frame(frame_buff* frame);
void free_audio_frame(frame_buff* frame);

void frame_queue_tail(frame_buff_head* head, frame_buff* frame);
void frame_queue_head(frame_buff_head* head, frame_buff* frame);
frame_buff* frame_dequeue(frame_buff_head* head);
frame_buff* frame_dequeue_tail(frame_buff_head* head);
void frame_unlink(frame_buff* frame, frame_buff_head* head);
void frame_append(frame_buff* pos, frame_buff* frame, frame_buff_head* head);
void frame_insert(frame_buff* pos, frame_buff* frame, frame_buff_head* head);
