// fail_test.cc - warnings held in blocks come out whole and in order, and before a failure;
// the mode in which fail() throws and warnings go to a callback.
// Part of pravlin; see README.md.
#include "fail.h"
#include "fail_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

static void keep(const char* message, void* data) {
  static_cast<std::vector<std::string>*>(data)->push_back(message);
}

TEST(FailThrows, FailThrowsTheWholeMessageAndWarningsGoToTheCallback) {
  std::vector<std::string> warnings;
  std::string error;
  const std::string long_name(3000, 'x');  // beyond any buffer on the stack
  testing::internal::CaptureStderr();
  {
    const FailThrows mode(keep, &warnings);
    try {
      const WarnBatch batch;  // holds nothing in this mode
      warn(" *** WARNING: normalizing transition_probability for state (%d) by %f\n", 2, 0.9);
      warn("%s\n", long_name.c_str());
      fail(" *** ERROR: zero total transition_probability for state (%d)\n", 3);
    } catch (const FailError& e) {
      error = e.what();
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(error, " *** ERROR: zero total transition_probability for state (3)\n");
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          " *** WARNING: normalizing transition_probability for state (2) by "
                          "0.900000\n",
                          long_name + "\n"}));
}

TEST(FailThrowsDeathTest, EndingTheModeGivesBackTheOneBefore) {
  std::vector<std::string> outer, inner;
  {
    const FailThrows first(keep, &outer);
    {
      const FailThrows second(keep, &inner);
      warn("inner\n");
    }
    warn("outer\n");
    EXPECT_THROW(fail("still throws\n"), FailError);
  }
  EXPECT_EQ(inner, std::vector<std::string>{"inner\n"});
  EXPECT_EQ(outer, std::vector<std::string>{"outer\n"});
  EXPECT_EXIT(fail("exits again\n"), testing::ExitedWithCode(1), "^exits again\n$");
}
