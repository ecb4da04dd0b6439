// Fixed-size pools: memory is taken from the system once, at creation, and linked into the
// free list chunk by chunk when the list runs dry.
#include "core/mempool.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr size_t kHeader = 8;

std::atomic<bool> g_debug{false};

MEM_POOL g_classes[kMempoolClasses];
std::mutex g_init_lock;
int g_init_count = 0;

bool debug_on() { return g_debug.load(std::memory_order_relaxed); }

// Handed-out header: word 1 the mark, word 2 a size. While free, the first 8 bytes link the list.
void write_header(uint8_t* block, uint32_t mark, uint32_t size) {
    std::memcpy(block, &mark, 4);
    std::memcpy(block + 4, &size, 4);
}

void read_header(const uint8_t* block, uint32_t* mark, uint32_t* size) {
    std::memcpy(mark, block, 4);
    std::memcpy(size, block + 4, 4);
}

void* next_of(void* block) {
    void* n;
    std::memcpy(&n, block, sizeof n);
    return n;
}

void set_next(void* block, void* n) { std::memcpy(block, &n, sizeof n); }

// Resets the fields of a pool; its chunks come from pool_get_chunks.
void pool_setup(MEM_POOL* pool, int capacity, int record_size, const char* name) {
    std::snprintf(pool->name, sizeof pool->name, "%s", name ? name : "");
    pool->free_list = nullptr;
    pool->free = pool->used = pool->total = pool->next_chunk = 0;
    pool->capacity = capacity;
    pool->per_chunk = capacity / kMempoolChunks;
    pool->block_size = record_size + static_cast<int>(kHeader);
    for (auto& c : pool->chunks) c = nullptr;
}

void pool_get_chunks(MEM_POOL* pool) {
    size_t bytes = static_cast<size_t>(pool->per_chunk) * static_cast<size_t>(pool->block_size);
    if (bytes == 0) return;  // a pool under 16 records holds none
    for (int i = 0; i < kMempoolChunks; ++i) {
        pool->chunks[i] = std::malloc(bytes);
        if (!pool->chunks[i]) {
            if (debug_on()) std::printf("%s :%d # no chunk to alloc\n \n", __func__, __LINE__);
            break;
        }
    }
    if (debug_on())
        std::printf("%s :%d # %s cap %d total %d free %d \n \n", __func__, __LINE__, pool->name,
                    pool->capacity, pool->total, pool->free);
}

void pool_release_chunks(MEM_POOL* pool) {
    for (auto& c : pool->chunks) {
        std::free(c);
        c = nullptr;
    }
    pool->free_list = nullptr;
    pool->free = pool->used = pool->total = pool->next_chunk = 0;
}

// What a take did besides taking, reported by the caller once the lock is released: the
// lock is never held across a call out, and a slow standard output must not stall allocators.
struct TakeNote {
    bool carving = false; // a chunk carve was tried
    bool no_chunk = false;
    int block_size = 0, per_chunk = 0;
};

void report(const MEM_POOL* pool, const TakeNote& note) {
    if (note.carving)
        std::printf("mempool_manager[%s]:chunk_size=%d, delta_increment=%d\n", pool->name,
                    note.block_size, note.per_chunk);
    if (note.no_chunk && debug_on())
        std::printf("%s :%d # no chunk to alloc\n \n", "pool_carve", __LINE__);
}

// Links the next chunk into the free list. Caller holds the lock.
bool pool_carve(MEM_POOL* pool, TakeNote* note) {
    if (pool->total >= pool->capacity) return false;
    note->carving = true;
    note->block_size = pool->block_size;
    note->per_chunk = pool->per_chunk;
    if (pool->next_chunk >= kMempoolChunks || !pool->chunks[pool->next_chunk] ||
        pool->per_chunk <= 0) {
        note->no_chunk = true;
        return false;
    }
    auto* base = static_cast<uint8_t*>(pool->chunks[pool->next_chunk]);
    void* head = pool->free_list;
    for (int i = pool->per_chunk - 1; i >= 0; --i) {
        uint8_t* b = base + static_cast<size_t>(i) * static_cast<size_t>(pool->block_size);
        set_next(b, head);
        head = b;
    }
    pool->free_list = head;
    pool->total += pool->per_chunk;
    pool->free += pool->per_chunk;
    pool->next_chunk++;
    return true;
}

// Takes one block off the free list (carving when empty). Caller holds the lock.
uint8_t* pool_take(MEM_POOL* pool, TakeNote* note) {
    if (!pool->free_list && !pool_carve(pool, note)) return nullptr;
    auto* b = static_cast<uint8_t*>(pool->free_list);
    pool->free_list = next_of(b);
    pool->free--;
    pool->used++;
    return b;
}

void pool_put(MEM_POOL* pool, uint8_t* b) {
    set_next(b, pool->free_list);
    pool->free_list = b;
    pool->free++;
    pool->used--;
}

void print_stats(const char* func, int line, MEM_POOL* pool) {
    MEMPOOL_STATS st = mempool_stats(pool);
    std::printf("%s :%d # \033[1;31m %s total \033[1;32m %d \033[1;31m free \033[1;32m %d "
                "\033[1;31m used \033[1;32m %d \033[m \n \n",
                func, line, pool->name, st.total, st.free, st.used);
}

}  // namespace

int mempool_init_spec(MEM_POOL* pool, int capacity, int record_size, const char* name) {
    if (!pool) return -1;
    if (capacity < 0) capacity = 0;
    if (record_size < 0) record_size = 0;
    pool_setup(pool, capacity, record_size, name);
    std::printf("mempool_init_spec()::: name=%-20s, num=%-4d, size=%-5d, num_per_chunk=%d\n\n",
                pool->name, capacity, record_size, pool->per_chunk);
    pool_get_chunks(pool);
    return 0;
}

int mempool_destroy_spec(MEM_POOL* pool) {
    if (!pool) return 0;
    std::lock_guard<SpinLock> lk(pool->lock);
    pool_release_chunks(pool);
    return 0;
}

void* mempool_alloc_spec(MEM_POOL* pool) {
    if (!pool) return nullptr;
    uint8_t* b;
    TakeNote note;
    {
        std::lock_guard<SpinLock> lk(pool->lock);
        b = pool_take(pool, &note);
        if (b) write_header(b, kMempoolMark, static_cast<uint32_t>(pool->block_size));
    }
    report(pool, note);
    return b ? b + kHeader : nullptr;
}

void mempool_free_spec(MEM_POOL* pool, void* record) {
    if (!pool || !record) return;
    uint8_t* b = static_cast<uint8_t*>(record) - kHeader;
    uint32_t mark, size;
    read_header(b, &mark, &size);
    if (mark != kMempoolMark || size != static_cast<uint32_t>(pool->block_size)) {
        if (debug_on())
            std::printf("%s :%d # warning wrong free %d %p \n \n", __func__, __LINE__,
                        static_cast<int>(size), record);
        return;
    }
    std::lock_guard<SpinLock> lk(pool->lock);
    pool_put(pool, b);
}

int mempool_init() {
    std::lock_guard<std::mutex> lk(g_init_lock);
    if (g_init_count++ == 0) {
        for (int k = 0; k < kMempoolClasses; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "mempool %d", 8 * k + 8);
            pool_setup(&g_classes[k], 1024, 8 * k + 8, name);
            pool_get_chunks(&g_classes[k]);
        }
    }
    if (debug_on()) std::printf("%s :%d # mempool_init() successful \n", __func__, __LINE__);
    return 0;
}

int mempool_destroy() {
    std::lock_guard<std::mutex> lk(g_init_lock);
    if (g_init_count > 0 && --g_init_count == 0) {
        for (auto& c : g_classes) {
            std::lock_guard<SpinLock> pl(c.lock);
            pool_release_chunks(&c);
        }
        if (debug_on())
            std::printf("%s :%d # mempool_destroy() successful\n \n", __func__, __LINE__);
    }
    return 0;
}

MEM_POOL* mempool_class_of(size_t size) {
    if (size == 0 || size > kMempoolMaxClassSize) return nullptr;
    return &g_classes[(size + 7) / 8 - 1];
}

// Blocks over 128 bytes come from the system with a header of their own mark in front,
// 16 bytes so the caller's area keeps malloc's alignment.
void* mempool_alloc(size_t size) {
    if (size == 0) return nullptr;
    if (size > kMempoolMaxClassSize) {
        if (size > UINT32_MAX - 16) return nullptr;
        auto* raw = static_cast<uint8_t*>(std::malloc(size + 16));
        if (!raw) return nullptr;
        write_header(raw + 8, kMempoolSysMark, static_cast<uint32_t>(size));
        if (debug_on())
            std::printf("%s :%d # malloc size %d ##%p\n \n", __func__, __LINE__,
                        static_cast<int>(size), static_cast<void*>(raw + 16));
        return raw + 16;
    }
    MEM_POOL* pool = mempool_class_of(size);
    uint8_t* b;
    TakeNote note;
    MEMPOOL_STATS st{};
    {
        std::lock_guard<SpinLock> lk(pool->lock);
        b = pool_take(pool, &note);
        if (b) write_header(b, kMempoolMark, static_cast<uint32_t>(size));
        st = {pool->free, pool->used, pool->total};
    }
    report(pool, note);
    if (!b) return nullptr;
    if (debug_on())
        std::printf("%s :%d # %s ###%p alloc size %d, total %d free %d used %d \n \n", __func__,
                    __LINE__, pool->name, static_cast<void*>(b + kHeader), static_cast<int>(size),
                    st.total, st.free, st.used);
    return b + kHeader;
}

void mempool_free(void* block) {
    if (!block) return;
    uint8_t* b = static_cast<uint8_t*>(block) - kHeader;
    uint32_t mark, size;
    read_header(b, &mark, &size);
    if (mark == kMempoolSysMark && size > kMempoolMaxClassSize) {
        if (debug_on())
            std::printf("%s :%d # free size %d ##%p\n \n", __func__, __LINE__,
                        static_cast<int>(size), block);
        std::free(static_cast<uint8_t*>(block) - 16);
        return;
    }
    MEM_POOL* pool = mark == kMempoolMark ? mempool_class_of(size) : nullptr;
    if (!pool) {
        // Not ours, or already returned (the free-list link overwrote the mark): refuse it.
        if (debug_on())
            std::printf("%s :%d # warning wrong free %d %p \n \n", __func__, __LINE__,
                        static_cast<int>(size), block);
        return;
    }
    MEMPOOL_STATS st{};
    {
        std::lock_guard<SpinLock> lk(pool->lock);
        pool_put(pool, b);
        st = {pool->free, pool->used, pool->total};
    }
    if (debug_on())
        std::printf("%s :%d # free %s ##%p size %d,total %d free %d used %d \n \n", __func__,
                    __LINE__, pool->name, block, static_cast<int>(size), st.total, st.free,
                    st.used);
}

void mempool_enable_debug() { g_debug.store(true, std::memory_order_relaxed); }
void mempool_disable_debug() { g_debug.store(false, std::memory_order_relaxed); }
int mempool_get_version() { return kMempoolVersion; }

void monitor_mempool() {
    if (!debug_on()) return;
    for (auto& c : g_classes) print_stats(__func__, __LINE__, &c);
}

void monitor_special_mempool(MEM_POOL* pool) {
    if (!pool || !debug_on()) return;
    print_stats(__func__, __LINE__, pool);
}

MEMPOOL_STATS mempool_stats(MEM_POOL* pool) {
    std::lock_guard<SpinLock> lk(pool->lock);
    return {pool->free, pool->used, pool->total};
}
