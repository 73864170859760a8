// fail.h - the one way out on a fatal error, and warnings that let the run go on.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FAIL_H
#define PRAVLIN_FAIL_H

/// Writes the message to stderr exactly as given (prefix and "\n" included), then exits with
/// status 1. Does not return. In fuzz builds (PRAVLIN_FUZZ) it throws FailExit instead, so that
/// a fuzz target sees the fail-fast path and can go on with the next input.
[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* fmt, ...);

/// Writes the message to stderr exactly as given, without exiting: for " *** WARNING: " lines.
__attribute__((format(printf, 1, 2))) void warn(const char* fmt, ...);

#ifdef PRAVLIN_FUZZ
/// Thrown by fail() in fuzz builds only.
struct FailExit {
  int status;
};
#endif

#endif
