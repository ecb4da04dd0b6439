// 64-bit host/network byte order, for the stream's time stamps.
#pragma once
#include <cstdint>
#include <endian.h>

inline uint64_t htonll(uint64_t v) { return htobe64(v); }
inline uint64_t ntohll(uint64_t v) { return be64toh(v); }
