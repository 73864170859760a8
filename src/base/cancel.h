// cancel.h - a stop asked for from outside a long call (Ctrl-C in the Python module), and the
// check that the long loops make for it.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CANCEL_H
#define PRAVLIN_CANCEL_H

#include <atomic>

/// The process's one flag: set by cancel_request, cleared by cancel_reset. Nothing in the
/// programs sets it, so for them every check is a load that finds 0.
extern std::atomic<int> cancel_flag;
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler stores the flag");

/// Asks the long loops to stop. Safe in a signal handler: one lock-free store.
void cancel_request();
/// Forgets a stop asked for: before a call that may be stopped.
void cancel_reset();

/// Whether a stop has been asked for since the last cancel_reset.
inline bool cancel_requested() {
  return cancel_flag.load(std::memory_order_relaxed) != 0;
}

/// Fails with " *** ERROR: interrupted\n": cancel_check's slow path.
[[noreturn]] void cancel_fail();

/// Fails with " *** ERROR: interrupted\n" when a stop has been asked for. Made once per
/// iteration, step or block of a long loop, where a load costs nothing measurable; on a thread
/// of run_parts the failure reaches the caller when the parts are done.
inline void cancel_check() {
  if (cancel_requested()) [[unlikely]]
    cancel_fail();
}

#endif
