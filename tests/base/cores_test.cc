// cores_test.cc - the parts of a work run on the cores, and what they throw.
// Part of pravlin; see README.md.
#include "cores.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
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

// A part that throws on a thread of its own would end the process: the caller gets it instead,
// once every part is done, the lowest throwing part's.
TEST(RunParts, ThrowsWhatThePartsThrewToTheCallerAfterEveryPart) {
  for (unsigned parts : {1u, 2u, 7u}) {
    SCOPED_TRACE(parts);
    std::vector<std::atomic<int>> runs(parts);
    try {
      run_parts(parts, [&](unsigned part) {
        runs[part]++;
        if (part == parts - 1 || part == parts / 2)
          throw std::runtime_error("part " + std::to_string(part));
      });
      ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "part " + std::to_string(parts / 2));
    }
    for (unsigned part = 0; part < parts; part++)
      EXPECT_EQ(runs[part].load(), 1) << "part " << part;
  }
}
