set(FUZZ_DEPS_fuzz_ini core)
