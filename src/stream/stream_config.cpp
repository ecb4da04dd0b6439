#include "stream/stream_config.h"

namespace hdext::stream {

namespace {
StreamConfig g_config;
StreamHooks g_hooks;
} // namespace

void set_config(const StreamConfig& cfg) { g_config = cfg; }
const StreamConfig& config() { return g_config; }
void set_hooks(const StreamHooks& h) { g_hooks = h; }
const StreamHooks& hooks() { return g_hooks; }

} // namespace hdext::stream
