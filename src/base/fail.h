// fail.h - the one way out on a fatal error, and warnings that let the run go on.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FAIL_H
#define PRAVLIN_FAIL_H

#include <new>

/// Writes the message to stderr exactly as given (prefix and "\n" included), then exits with
/// status 1. Does not return. In fuzz builds (PRAVLIN_FUZZ) it throws FailExit instead, so that
/// a fuzz target sees the fail-fast path and can go on with the next input.
[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* fmt, ...);

/// Writes the message to stderr exactly as given, without exiting: for " *** WARNING: " lines.
__attribute__((format(printf, 1, 2))) void warn(const char* fmt, ...);

/// The one policy for memory a stage cannot do without: runs make() and returns what it
/// returns, and when the memory it asks for is refused (std::bad_alloc) fails with msg, the
/// site's own message, in place of a catch at every site. Memory a fast path can do without is
/// asked for through scratch() instead, and its refusal takes the plain path.
template <typename Make>
auto or_out_of_memory(const char* msg, Make&& make) -> decltype(make()) {
  try {
    return make();
  } catch (const std::bad_alloc&) {
    fail("%s", msg);
  }
}

/// While one lives, warn() collects its messages and writes them in blocks instead of one write
/// each: a model with a million rows to rescale gives a million warnings. They are written, in
/// order, when the block fills, when the last WarnBatch ends and before fail()'s message. For a
/// stage that writes nothing else to stderr or stdout meanwhile, so that no byte moves.
struct WarnBatch {
  WarnBatch();
  ~WarnBatch();
  WarnBatch(const WarnBatch&) = delete;
  WarnBatch& operator=(const WarnBatch&) = delete;
};

#ifdef PRAVLIN_FUZZ
/// Thrown by fail() in fuzz builds only.
struct FailExit {
  int status;
};
#endif

#endif
