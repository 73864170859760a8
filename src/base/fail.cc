// fail.cc - fatal errors and warnings on standard error.
// Part of pravlin; see README.md.
#include "fail.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
#ifdef PRAVLIN_FUZZ
  throw FailExit{1};
#else
  // exit(), not abort(): stdio buffers are flushed, so a report written so far reaches its file.
  std::exit(1);
#endif
}

void warn(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
}
