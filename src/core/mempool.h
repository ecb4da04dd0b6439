// Fixed-size record pools and the 16-class general allocator. Every pool and class has its
// own lock: allocation and release are safe from any thread and never block for long.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>

inline constexpr int kMempoolChunks = 16;
inline constexpr uint32_t kMempoolMark = 0xA5A5A5A5u;

struct MEM_POOL {
    void* free_list = nullptr;
    void* chunks[kMempoolChunks] = {};
    std::mutex lock;
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
