set(BENCH_DEPS_bench_core core)
set(BENCH_DEPS_bench_media media sim_mpi board core)
