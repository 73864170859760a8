// fail.cc - fatal errors and warnings on standard error.
// Part of pravlin; see README.md.
#include "fail.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fail_mode.h"

// The warnings a WarnBatch holds, not yet written.
static int batches = 0;
static char held[1 << 16];
static std::size_t held_len = 0;

static void write_held() {
  if (held_len > 0)
    std::fwrite(held, 1, held_len, stderr);
  held_len = 0;
}

// The message of fmt and ap, whatever its length.
__attribute__((format(printf, 1, 0))) static std::string formatted(const char* fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  char small[512];
  const int len = std::vsnprintf(small, sizeof small, fmt, again);
  va_end(again);
  if (len < 0)
    return std::string();
  if (static_cast<std::size_t>(len) < sizeof small)
    return std::string(small, static_cast<std::size_t>(len));
  std::string s(static_cast<std::size_t>(len) + 1, '\0');
  std::vsnprintf(s.data(), s.size(), fmt, ap);
  s.resize(static_cast<std::size_t>(len));
  return s;
}

WarnBatch::WarnBatch() {
  batches++;
}

WarnBatch::~WarnBatch() {
  if (--batches == 0)
    write_held();
}

void fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (fail_throws()) {
    // Nothing is held in this mode (warn hands each warning on), and the parts of run_parts
    // may fail at once: the held buffer is not touched here.
    const std::string message = formatted(fmt, ap);
    va_end(ap);
    throw FailError(message);
  }
  write_held();
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
  if (fail_throws()) {
    const std::string message = formatted(fmt, ap);
    va_end(ap);
    fail_hand_on(message.c_str());
    return;
  }
  if (batches > 0) {
    va_list again;
    va_copy(again, ap);
    const int len = std::vsnprintf(held + held_len, sizeof held - held_len, fmt, again);
    va_end(again);
    if (len >= 0 && static_cast<std::size_t>(len) < sizeof held - held_len) {
      held_len += static_cast<std::size_t>(len);
      va_end(ap);
      return;
    }
    // It did not fit: what is held goes first, then this one as it is.
    write_held();
  }
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
}
