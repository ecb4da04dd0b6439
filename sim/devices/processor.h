// A unit's processor on a shared host. The scheduler shares the processors between sessions
// first (autogroups), so a unit's media pipeline among a dozen busy sessions gets too thin a
// slice for its frame rate, where on a board it has a processor of its own.
#pragma once

namespace hdext::sim {

// Puts the calling process into a session of its own and weighs that session above ordinary
// ones (needs privilege; without it the weight stays). A shell's job (a process group leader
// in a session it does not lead) is left where it is, so its shell's session keeps its weight.
// True when the process now runs in a weighted session of its own.
bool own_processor();

} // namespace hdext::sim
