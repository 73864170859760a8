// fast_test.cc - what the fast paths share: the parts run on the cores, the extra memory.
// Part of pravlin; see README.md.
#include "fast.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "test_util.h"

TEST(RunParts, RunsEveryPartExactlyOnce) {
  for (unsigned parts : {0u, 1u, 2u, 7u, 64u}) {
    SCOPED_TRACE(parts);
    std::vector<std::atomic<int>> runs(parts);
    run_parts(parts, [&](unsigned part) { runs[part]++; });
    for (unsigned part = 0; part < parts; part++)
      EXPECT_EQ(runs[part].load(), 1) << "part " << part;
  }
}

TEST(Scratch, IsRefusedPastTheLimitAndAnImpossibleSize) {
  EXPECT_NE(scratch<double>(1000), nullptr);
  EXPECT_EQ(scratch<double>(SIZE_MAX / 4), nullptr);
  set_scratch_limit(8000);
  EXPECT_NE(scratch<double>(1000), nullptr);
  EXPECT_EQ(scratch<double>(1001), nullptr);
  set_scratch_limit(SIZE_MAX);
}
