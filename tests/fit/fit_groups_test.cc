// fit_groups_test.cc - groups of sequences: each fitted as its own data, a transition across a
// change of group, and the test of one chain for all against a chain per group.
// Part of pravlin; see README.md.
#include "fit_groups.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fit.h"
#include "fit/fit_test_cells.h"
#include "fit_extras.h"
#include "fit_read.h"

// Each text a file of its own, read as the program reads several inputs.
static void read_files(const FIT_OPTIONS& given, const std::vector<std::string>& texts,
                       FIT_DATA* data) {
  FIT_OPTIONS opt = given;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < texts.size(); i++) {
    paths.push_back(testing::TempDir() + "fit_groups_" + std::to_string(getpid()) + "_" +
                    std::to_string(i) + ".txt");
    std::ofstream(paths.back(), std::ios::binary) << texts[i];
  }
  for (const std::string& path : paths)
    opt.inputs.push_back(path.c_str());
  opt.input = opt.inputs[0];
  fit_read(&opt, data);
  for (const std::string& path : paths)
    std::remove(path.c_str());
}

TEST(FitGroups, EachGroupFitsAsItsOwnDataAndTheTestIsTheLikelihoodGain) {
  FIT_OPTIONS opt = fit_default_options();
  opt.group_column = "g";
  opt.test_flag = 1;
  const std::string text =
      "id,t,state,g\n1,1,a,x\n1,2,b,x\n1,3,a,x\n1,4,b,x\n1,5,b,x\n"
      "2,1,a,y\n2,2,a,y\n2,3,a,y\n2,4,b,y\n2,5,a,y\n"
      "3,1,b,y\n3,2,a,y\n";
  FIT_DATA data;
  fit_read_text(&opt, text, "long.csv", &data);
  FIT_MODEL pooled;
  fit_estimate(&opt, &data, &pooled);
  FIT_EXTRAS extras;
  fit_groups(&opt, &data, &extras);
  ASSERT_EQ(extras.groups.size(), 2u);
  const char* alone[] = {"a b a b b\n", "a a a b a\nb a\n"};
  double gain = -pooled.log_likelihood;
  for (std::size_t g = 0; g < 2; g++) {
    SCOPED_TRACE(extras.groups[g].name);
    FIT_OPTIONS plain = fit_default_options();
    plain.states = {"a", "b"};
    FIT_DATA own;
    FIT_MODEL own_model;
    fit_read_text(&plain, alone[g], "own.txt", &own);
    fit_estimate(&plain, &own, &own_model);
    for (const char* from : {"a", "b"}) {
      for (const char* to : {"a", "b"}) {
        EXPECT_EQ(cell_probability(extras.groups[g].data, extras.groups[g].model, from, to),
                  cell_probability(own, own_model, from, to));
      }
    }
    EXPECT_EQ(extras.groups[g].data.nbr_sequences, own.nbr_sequences);
    gain += extras.groups[g].model.log_likelihood;
  }
  EXPECT_NEAR(extras.group_test.statistic, 2 * gain, 1e-12);
  // Rows a and b are seen in both groups, each with both destinations: 1 + 1.
  EXPECT_EQ(extras.group_test.df, 2);
}

TEST(FitGroups, ATransitionAcrossAGroupChangeBelongsToTheGroupItLeaves) {
  // One id whose group changes along the way: x x y y x x y y.
  const std::string text =
      "id,t,state,phase\n1,1,a,x\n1,2,a,x\n1,3,b,y\n1,4,b,y\n1,5,a,x\n1,6,b,x\n1,7,a,y\n"
      "1,8,a,y\n";
  FIT_OPTIONS plain = fit_default_options();
  FIT_DATA alone;
  fit_read_text(&plain, text, "long.csv", &alone);
  FIT_MODEL without;
  fit_estimate(&plain, &alone, &without);
  FIT_OPTIONS opt = fit_default_options();
  opt.group_column = "phase";
  FIT_DATA data;
  fit_read_text(&opt, text, "long.csv", &data);
  FIT_MODEL together;
  fit_estimate(&opt, &data, &together);
  // All groups together are the fit without groups: a -> a 2 of 4.
  EXPECT_EQ(cell_probability(data, together, "a", "a"), 0.5);
  EXPECT_EQ(data.nbr_sequences, 1u);
  for (const char* from : {"a", "b"}) {
    for (const char* to : {"a", "b"})
      EXPECT_EQ(cell_probability(data, together, from, to),
                cell_probability(alone, without, from, to));
  }
  // x: a a, a -> b (into y), a b, b -> a (into y); y: b b, b -> a (into x), a a.
  FIT_EXTRAS extras;
  fit_groups(&opt, &data, &extras);
  ASSERT_EQ(extras.groups.size(), 2u);
  const FIT_GROUP& x = extras.groups[0];
  const FIT_GROUP& y = extras.groups[1];
  EXPECT_EQ(cell_probability(x.data, x.model, "a", "b"), 2.0 / 3);
  EXPECT_EQ(cell_probability(x.data, x.model, "b", "a"), 1.0);
  EXPECT_EQ(cell_probability(y.data, y.model, "b", "b"), 0.5);
  EXPECT_EQ(cell_probability(y.data, y.model, "a", "a"), 1.0);
  EXPECT_EQ(x.data.nbr_transitions + y.data.nbr_transitions, data.nbr_transitions);
  // Each group's sequences begin where the id enters it: x at a twice, y at b and at a.
  EXPECT_EQ(x.data.nbr_sequences, 2u);
  EXPECT_EQ(y.data.nbr_sequences, 2u);
  EXPECT_EQ(x.model.initial[0], 1.0);  // state 0 is a, the first label
  EXPECT_EQ(y.model.initial[0], 0.5);
}

TEST(FitGroups, SeveralCountMatricesTestAsTheSequencesTheyCount) {
  FIT_OPTIONS opt = fit_default_options();
  opt.test_flag = 1;
  FIT_DATA matrices;
  read_files(opt, {",a,b\na,3,2\nb,1,0\n", ",a,b\na,1,5\nb,3,1\n"}, &matrices);
  FIT_EXTRAS from_matrices;
  fit_groups(&opt, &matrices, &from_matrices);
  opt.groups_flag = 1;
  FIT_DATA sequences;
  read_files(opt, {"a a a a b a b\n", "a a b a b a b b a b\na b\n"}, &sequences);
  FIT_EXTRAS from_sequences;
  fit_groups(&opt, &sequences, &from_sequences);
  EXPECT_EQ(from_matrices.group_test.statistic, from_sequences.group_test.statistic);
  EXPECT_EQ(from_matrices.group_test.df, from_sequences.group_test.df);
  EXPECT_EQ(from_matrices.groups[1].model.log_likelihood,
            from_sequences.groups[1].model.log_likelihood);
}

TEST(FitGroups, TextsInMemoryAreReadAsSeveralFilesAreEachAGroupByItsName) {
  FIT_OPTIONS opt = fit_default_options();
  opt.groups_flag = 1;
  const std::vector<std::string> texts = {"a a b a\nb b a\n", "a b b\n"};
  FIT_DATA files, memory;
  read_files(opt, texts, &files);
  fit_read_texts(&opt, {texts[0], texts[1]}, {"early", "late"}, &memory);
  EXPECT_EQ(memory.name, "early, late");
  EXPECT_EQ(memory.groups.names, (std::vector<std::string>{"early", "late"}));
  EXPECT_EQ(memory.group_flag, 1);
  EXPECT_EQ(memory.group_sequences, files.group_sequences);
  FIT_EXTRAS from_files, from_memory;
  fit_groups(&opt, &files, &from_files);
  fit_groups(&opt, &memory, &from_memory);
  ASSERT_EQ(from_memory.groups.size(), 2u);
  for (std::size_t g = 0; g < 2; g++) {
    EXPECT_EQ(from_memory.groups[g].data.nbr_transitions,
              from_files.groups[g].data.nbr_transitions);
    EXPECT_EQ(from_memory.groups[g].model.log_likelihood,
              from_files.groups[g].model.log_likelihood);
  }
}
