// Fixed-size record pools and the 16-class general allocator. Every pool and class has its
// own lock: allocation and release are safe from any thread and never block for long.
// Pool memory is obtained from the system at creation; carving only links it later.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/spin_lock.h"

inline constexpr int kMempoolChunks = 16;
inline constexpr uint32_t kMempoolMark = 0xA5A5A5A5u;
// Header mark of blocks that mempool_alloc took from the system allocator (requests > 128).
inline constexpr uint32_t kMempoolSysMark = 0x5A5A5A5Au;
inline constexpr int kMempoolClasses = 16;
inline constexpr size_t kMempoolMaxClassSize = 128;
inline constexpr int kMempoolVersion = 512;

struct MEM_POOL {
    void* free_list = nullptr;
    void* chunks[kMempoolChunks] = {};
    SpinLock lock;
    int32_t free = 0;
    int32_t used = 0;
    int32_t total = 0;
    int32_t capacity = 0;
    int32_t per_chunk = 0;
    int32_t next_chunk = 0;
    int32_t block_size = 0;
    char name[32] = {};
};

int mempool_init();
int mempool_destroy();
void* mempool_alloc(size_t size);
void mempool_free(void* block);

int mempool_init_spec(MEM_POOL* pool, int capacity, int record_size, const char* name);
int mempool_destroy_spec(MEM_POOL* pool);
void* mempool_alloc_spec(MEM_POOL* pool);
void mempool_free_spec(MEM_POOL* pool, void* record);

void mempool_enable_debug();
void mempool_disable_debug();
int mempool_get_version();
void monitor_mempool();
void monitor_special_mempool(MEM_POOL* pool);

// Counters of one pool read under its lock (tests, statistics).
struct MEMPOOL_STATS {
    int32_t free;
    int32_t used;
    int32_t total;
};
MEMPOOL_STATS mempool_stats(MEM_POOL* pool);
// The general class that serves requests of `size` bytes (1..128), or nullptr.
MEM_POOL* mempool_class_of(size_t size);
