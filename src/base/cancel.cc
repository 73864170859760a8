// cancel.cc - a stop asked for from outside a long call.
// Part of pravlin; see README.md.
#include "cancel.h"

#include "fail.h"

std::atomic<int> cancel_flag{0};

void cancel_request() {
  cancel_flag.store(1, std::memory_order_relaxed);
}

void cancel_reset() {
  cancel_flag.store(0, std::memory_order_relaxed);
}

void cancel_fail() {
  fail(" *** ERROR: interrupted\n");
}
