// fail_test.cc - warnings held in blocks come out whole and in order, and before a failure.
// Part of pravlin; see README.md.
#include "fail.h"

#include <gtest/gtest.h>

#include <string>

TEST(WarnBatch, WritesEveryWarningInOrderAcrossManyBlocks) {
  std::string expected;
  testing::internal::CaptureStderr();
  {
    const WarnBatch batch;
    for (int i = 1; i <= 20000; i++) {
      warn(" *** WARNING: normalizing transition_probability for state (%d) by %f\n", i, i / 3.0);
      expected += " *** WARNING: normalizing transition_probability for state (" +
                  std::to_string(i) + ") by " + std::to_string(i / 3.0) + "\n";
    }
    const std::string long_name(70000, 'x');  // longer than a block: written as it comes
    warn("%s\n", long_name.c_str());
    expected += long_name + "\n";
    warn("last\n");
    expected += "last\n";
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
}

TEST(WarnBatch, HeldWarningsPrecedeTheFailureMessage) {
  EXPECT_EXIT(
      {
        const WarnBatch batch;
        warn("first\n");
        warn("second\n");
        fail("the end\n");
      },
      testing::ExitedWithCode(1), "^first\nsecond\nthe end\n$");
}
