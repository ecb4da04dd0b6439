set(FUZZ_DEPS_fuzz_ini core)
set(FUZZ_DEPS_fuzz_param_messages settings periph board core)
set(FUZZ_DEPS_fuzz_stream_packets stream decode core)
set(FUZZ_DEPS_fuzz_dhcp net)
