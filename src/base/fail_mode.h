// fail_mode.h - the mode in which fail() throws instead of exiting and warn() hands its
// messages on, for a caller that must go on after an error in the library.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FAIL_MODE_H
#define PRAVLIN_FAIL_MODE_H

#include <stdexcept>
#include <string>

/// While one lives, fail() throws FailError with its message, exactly as it would have been
/// written, instead of writing it and exiting, and warn() hands each message, as it would have
/// been written, to on_warning instead of writing it (a WarnBatch then holds nothing): for a
/// caller that must go on after an error, as the Python module must. The mode is the process's,
/// not a thread's: one caller at a time may use the library under it; a fail() on a thread
/// that run_parts started throws there, and run_parts throws it again to its caller. The last one
/// made is in force; its end gives back the mode before it.
struct FailThrows {
  FailThrows(void (*on_warning)(const char* message, void* data), void* data);
  ~FailThrows();
  FailThrows(const FailThrows&) = delete;
  FailThrows& operator=(const FailThrows&) = delete;
  void (*previous_warning)(const char*, void*);  // the mode this one replaced
  void* previous_data;
  int previous_throws;
};

/// What fail() throws while a FailThrows lives: what() is the whole message, its prefix and
/// "\n" included.
struct FailError : std::runtime_error {
  explicit FailError(const std::string& message) : std::runtime_error(message) {}
};

/// 1 while a FailThrows lives: for fail() and warn().
int fail_throws();
/// Hands the message to the living FailThrows's on_warning: for warn().
void fail_hand_on(const char* message);

#endif
