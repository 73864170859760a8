// fail_mode.cc - the mode in which fail() throws and warn() hands its messages on.
// Part of pravlin; see README.md.
#include "fail_mode.h"

#include <cstdio>

// The mode of the FailThrows in force.
static int throws = 0;
static void (*on_warning)(const char*, void*) = nullptr;
static void* on_warning_data = nullptr;

FailThrows::FailThrows(void (*warning)(const char* message, void* data), void* data)
    : previous_warning(on_warning), previous_data(on_warning_data), previous_throws(throws) {
  throws = 1;
  on_warning = warning;
  on_warning_data = data;
}

FailThrows::~FailThrows() {
  throws = previous_throws;
  on_warning = previous_warning;
  on_warning_data = previous_data;
}

int fail_throws() {
  return throws;
}

void fail_hand_on(const char* message) {
  if (on_warning != nullptr)
    on_warning(message, on_warning_data);
}
