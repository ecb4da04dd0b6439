set(BENCH_DEPS_bench_core core)
set(BENCH_DEPS_bench_media media sim_mpi board core)
set(BENCH_DEPS_bench_capture periph encode media sim_devices settings board core "$<LINK_LIBRARY:WHOLE_ARCHIVE,sim_mpi>")
set(BENCH_DEPS_bench_stream stream settings encode decode net periph media board core "$<LINK_LIBRARY:WHOLE_ARCHIVE,sim_mpi>")
