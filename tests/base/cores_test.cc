// cores_test.cc - the parts of a work run on the cores.
// Part of pravlin; see README.md.
#include "cores.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

TEST(RunParts, RunsEveryPartExactlyOnce) {
  for (unsigned parts : {0u, 1u, 2u, 7u, 64u}) {
    SCOPED_TRACE(parts);
    std::vector<std::atomic<int>> runs(parts);
    run_parts(parts, [&](unsigned part) { runs[part]++; });
    for (unsigned part = 0; part < parts; part++)
      EXPECT_EQ(runs[part].load(), 1) << "part " << part;
  }
}
