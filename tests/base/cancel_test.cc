// cancel_test.cc - a stop asked for fails the next check, on the caller's thread or through
// run_parts, and is forgotten by cancel_reset.
// Part of pravlin; see README.md.
#include "cancel.h"

#include <gtest/gtest.h>

#include <string>

#include "cores.h"
#include "fail_mode.h"

static void ignore(const char*, void*) {}

// The message of the failure that work ends with, or "" when it ends without one.
template <typename Work>
static std::string failure_of(Work work) {
  const FailThrows mode(ignore, nullptr);
  try {
    work();
  } catch (const FailError& e) {
    return e.what();
  }
  return "";
}

TEST(CancelCheck, FailsOnlyOnceAStopIsAskedForAndUntilItIsForgotten) {
  cancel_reset();
  EXPECT_EQ(failure_of([] { cancel_check(); }), "");
  cancel_request();
  EXPECT_EQ(failure_of([] { cancel_check(); }), " *** ERROR: interrupted\n");
  EXPECT_EQ(failure_of([] { run_parts(3, [](unsigned) { cancel_check(); }); }),
            " *** ERROR: interrupted\n");
  cancel_reset();
  EXPECT_EQ(failure_of([] { run_parts(3, [](unsigned) { cancel_check(); }); }), "");
}
