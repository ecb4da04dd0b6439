// Pools: geometry, size classes, refusal of foreign records, printed lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/mempool.h"
#include "core_env.h"

namespace {

struct PoolGuard {
    MEM_POOL pool;
    ~PoolGuard() { mempool_destroy_spec(&pool); }
};

TEST(Mempool, CapacityIsSixteenTimesPerChunkAndPrintsCreationAndCarving) {
    PoolGuard g;
    std::string out = capture_stdout([&] { mempool_init_spec(&g.pool, 40, 24, "T40"); });
    EXPECT_EQ(out, "mempool_init_spec()::: name=T40                 , num=40  , size=24   , "
                   "num_per_chunk=2\n\n");

    std::vector<void*> recs;
    out = capture_stdout([&] {
        for (int i = 0; i < 40; ++i)
            if (void* r = mempool_alloc_spec(&g.pool)) recs.push_back(r);
    });
    ASSERT_EQ(recs.size(), 32u);
    // One carving line per chunk, and one for each of the 8 refused requests (total < 40).
    std::string line = "mempool_manager[T40]:chunk_size=32, delta_increment=2\n";
    std::string expect;
    for (int i = 0; i < 16 + 8; ++i) expect += line;
    EXPECT_EQ(out, expect);
    EXPECT_EQ(mempool_stats(&g.pool), (MEMPOOL_STATS{0, 32, 32}));
    for (void* r : recs) std::memset(r, 0xEE, 24);  // whole record usable
    for (void* r : recs) mempool_free_spec(&g.pool, r);
    EXPECT_EQ(mempool_stats(&g.pool), (MEMPOOL_STATS{32, 0, 32}));
    EXPECT_EQ(mempool_init_spec(nullptr, 16, 8, "x"), -1);

    PoolGuard small;  // under sixteen records: holds none
    out = capture_stdout([&] { mempool_init_spec(&small.pool, 15, 100, "small"); });
    EXPECT_NE(out.find("num_per_chunk=0\n\n"), std::string::npos);
    EXPECT_EQ(mempool_alloc_spec(&small.pool), nullptr);
}

TEST(Mempool, ForeignRecordsAreRefusedUnlessTheSizeMatches) {
    PoolGuard a, b, c;
    mempool_init_spec(&a.pool, 16, 24, "A");
    mempool_init_spec(&b.pool, 16, 32, "B");
    mempool_init_spec(&c.pool, 16, 24, "C");
    void* ra = mempool_alloc_spec(&a.pool);
    void* rc = mempool_alloc_spec(&c.pool);
    ASSERT_TRUE(ra && rc);
    MEMPOOL_STATS sa = mempool_stats(&a.pool), sb = mempool_stats(&b.pool);

    mempool_free_spec(&b.pool, ra);  // other record size: refused
    EXPECT_EQ(mempool_stats(&a.pool), sa);
    EXPECT_EQ(mempool_stats(&b.pool), sb);

    mempool_free_spec(&c.pool, ra);  // same record size: accepted by C
    EXPECT_EQ(mempool_stats(&c.pool), (MEMPOOL_STATS{1, 0, 1}));
    EXPECT_EQ(mempool_alloc_spec(&c.pool), ra);  // and handed out again from C
    mempool_free_spec(&a.pool, rc);

    // A record already returned carries the free-list link, not the mark: a second free is
    // refused and the counters stay.
    MEMPOOL_STATS before = mempool_stats(&a.pool);
    mempool_free_spec(&a.pool, rc);
    EXPECT_EQ(mempool_stats(&a.pool), before);
    mempool_free_spec(&a.pool, nullptr);
}

TEST(Mempool, WrongFreeIsReportedWithDiagnosticsOn) {
    PoolGuard a, b;
    mempool_init_spec(&a.pool, 16, 24, "A");
    mempool_init_spec(&b.pool, 16, 40, "B");
    void* r = mempool_alloc_spec(&a.pool);
    mempool_enable_debug();
    std::string out = capture_stdout([&] { mempool_free_spec(&b.pool, r); });
    mempool_disable_debug();
    EXPECT_NE(out.find("mempool_free_spec :"), std::string::npos) << out;
    EXPECT_NE(out.find(" # warning wrong free 32 "), std::string::npos) << out;
    EXPECT_TRUE(capture_stdout([&] { mempool_free_spec(&b.pool, r); }).empty());
    mempool_free_spec(&a.pool, r);
}

// Standard output that checks, at each write, whether the pool's lock is free: a printing
// thread holding it would stall every allocator behind a slow output.
struct LockProbe {
    MEM_POOL* pool;
    int writes = 0;
    int under_lock = 0;
    static ssize_t write(void* self, const char*, size_t n) {
        auto* p = static_cast<LockProbe*>(self);
        ++p->writes;
        if (p->pool->lock.try_lock()) p->pool->lock.unlock();
        else ++p->under_lock;
        return static_cast<ssize_t>(n);
    }
};

TEST(Mempool, NothingIsPrintedWhileThePoolLockIsHeld) {
    PoolGuard g;
    mempool_init();
    for (MEM_POOL* pool : {&g.pool, mempool_class_of(16)}) {
        if (pool == &g.pool) capture_stdout([&] { mempool_init_spec(pool, 16, 8, "P"); });
        LockProbe probe{pool};
        FILE* const saved = stdout;
        stdout = fopencookie(&probe, "w", {nullptr, LockProbe::write, nullptr, nullptr});
        setvbuf(stdout, nullptr, _IONBF, 0);
        mempool_enable_debug();
        std::vector<void*> recs;
        for (int i = 0; i < 20; ++i) // carves, takes, and runs dry (the named pool)
            recs.push_back(pool == &g.pool ? mempool_alloc_spec(pool) : mempool_alloc(16));
        for (void* r : recs) pool == &g.pool ? mempool_free_spec(pool, r) : mempool_free(r);
        monitor_special_mempool(pool);
        mempool_disable_debug();
        fclose(stdout);
        stdout = saved;
        EXPECT_GT(probe.writes, 3);
        EXPECT_EQ(probe.under_lock, 0) << pool->name;
    }
    mempool_destroy();
}

TEST(MempoolGeneral, SizeClassesAndSystemBlocksAllComeBack) {
    core_env();
    EXPECT_EQ(mempool_alloc(0), nullptr);
    MEM_POOL* c0 = mempool_class_of(1);
    MEM_POOL* c1 = mempool_class_of(9);
    ASSERT_NE(c0, c1);

    // Touch the classes once so carving has happened before the counts are taken.
    mempool_free(mempool_alloc(1));
    mempool_free(mempool_alloc(9));
    MEMPOOL_STATS s0 = mempool_stats(c0), s1 = mempool_stats(c1);

    void* a1 = mempool_alloc(1);
    void* a8 = mempool_alloc(8);
    void* a9 = mempool_alloc(9);
    void* a129 = mempool_alloc(129);
    ASSERT_TRUE(a1 && a8 && a9 && a129);
    std::memset(a8, 8, 8);
    std::memset(a129, 7, 129);
    EXPECT_EQ(mempool_stats(c0).used, s0.used + 2);
    EXPECT_EQ(mempool_stats(c1).used, s1.used + 1);

    for (void* p : {a1, a8, a9, a129}) mempool_free(p);
    EXPECT_EQ(mempool_stats(c0), s0);
    EXPECT_EQ(mempool_stats(c1), s1);
    mempool_free(nullptr);
    mempool_free(a8);  // already returned: refused
    EXPECT_EQ(mempool_stats(c0), s0);
}

TEST(MempoolGeneral, AClassRunsDryAfterItsThousandAndTwentyFourBlocks) {
    core_env();
    MEM_POOL* c = mempool_class_of(121);
    ASSERT_EQ(c, mempool_class_of(128));
    std::vector<void*> got;
    capture_stdout([&] {
        while (void* p = mempool_alloc(121)) got.push_back(p);
    });
    MEMPOOL_STATS s = mempool_stats(c);
    EXPECT_EQ(s.total, 1024);
    EXPECT_EQ(s.free, 0);
    EXPECT_EQ(s.used, 1024);
    EXPECT_EQ(mempool_alloc(128), nullptr);
    void* big = mempool_alloc(4096);  // the system still serves larger requests
    ASSERT_NE(big, nullptr);
    mempool_free(big);
    for (void* p : got) mempool_free(p);
    EXPECT_EQ(mempool_stats(c).used, s.used - static_cast<int>(got.size()));
}

}  // namespace
