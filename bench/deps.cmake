set(BENCH_DEPS_bench_core core)
