// sparse_sim_test.cc - a run that keeps no dense matrix draws from sparse rows: the same report,
// messages and status as the dense path, on random sparse models.
// Part of pravlin; see README.md.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "config.h"
#include "draw.h"
#include "run.h"
#include "sparse_read.h"
#include "test_util.h"

namespace {

struct RunOutput {
  std::string out, err;
  int status;
};

// Which rows a model has: "zeros" rows written normalised, with zeros, -0 and overridden
// entries; "weights" rows not totalling 1, rescaled with a warning; "tiny" weights with
// subnormal entries, some of which the rescale rounds to 0; "short" rows of 0.1, 0.2 and 0.3,
// which total 0.9999999999999999 once rescaled, so a draw of 1.0 takes the fallback; "zero"
// weights with one row of zeros, which ends the run.
struct Shape {
  const char* what;
  int n, chains, years;
  int first, last;  // a --chains slice, or 0 for the whole run
  std::string rows;
  std::string extra;  // settings added to the configuration
};

}  // namespace

static std::string number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

static std::string to(int state, const std::string& p) {
  return "<to><state>" + std::to_string(state) + "</state><probability>" + p +
         "</probability></to>";
}

static std::string model(const Shape& s, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> any(1, s.n);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::string x = "<pravlin><nbr_states>" + std::to_string(s.n) + "</nbr_states><nbr_years>" +
                  std::to_string(s.years) + "</nbr_years><nbr_chains>" + std::to_string(s.chains) +
                  "</nbr_chains><print_flag>ser</print_flag>"
                  "<steadystate><calc>no</calc></steadystate>" +
                  s.extra;
  for (int i = 1; i <= s.n; i++) {
    const std::string p = i == 1 ? "0.5" : u(rng) < 0.5 ? "0" : number(u(rng));
    x += "<state><ser>" + std::to_string(i) + "</ser><name>s" + std::to_string(i) +
         "</name><initial_probability>" + p + "</initial_probability></state>";
  }
  for (int i = 1; i <= s.n; i++) {
    x += "<transition><from>" + std::to_string(i) + "</from>";
    if (s.rows == "short") {
      const int j = any(rng);
      x += to(j, "0.1") + to(j % s.n + 1, "0.2") + to((j + 1) % s.n + 1, "0.3");
    } else if (s.rows == "zero" && i == s.n / 2) {
      x += to(any(rng), "0") + to(any(rng), "-0");
    } else {
      const int m = 1 + static_cast<int>(rng() % 4);
      double w[4], total = 0.0;
      for (int e = 0; e < m; e++) {
        w[e] = 1e-3 + 0.999 * u(rng);
        total += w[e];
      }
      const int overridden = any(rng);
      x += to(overridden, "0.5") + to(any(rng), "0") + to(any(rng), "-0");
      for (int e = 0; e < m; e++) {
        const int j = e == 0 ? overridden : any(rng);
        x += to(j, number(s.rows == "zeros" ? w[e] / total : w[e]));
      }
      if (s.rows == "tiny")
        x += to(any(rng), "4.9406564584124654e-324") + to(any(rng), "1e-310");
    }
    x += "</transition>";
  }
  return x + "</pravlin>";
}

// A run of pravlin on text as the driver makes it, in a child process: from the literal dense
// matrix with dense set, otherwise as the driver reads it (sparse rows, which the child checks
// it got, for these runs need no matrix).
static RunOutput run_child(const std::string& text, bool dense, int first, int last) {
  FilePtr out = open_sink();
  FilePtr err = open_sink();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out.get()), STDOUT_FILENO);
    dup2(fileno(err.get()), STDERR_FILENO);
    pravlin_rand_reset();
    static PRAVLIN pv;
    init_pravlin(&pv);
    pv.xmlfilename = const_cast<char*>("model.xml");
    pv.in = open_text(text).release();
    if (dense) {
      read_configuration(&pv, READ_MATRIX, 1);
    } else {
      set_sparse_rows_from(1);
      read_configuration(&pv, READ_FOR_RUN, 1);
      if (pv.sparse_transitions == nullptr)
        _exit(99);
    }
    if (first == 0) {
      run_pravlin(&pv);
    } else {
      run_pravlin_chains(&pv, first, last);
    }
    std::fflush(nullptr);
    _exit(0);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return RunOutput{read_all(out.get()), read_all(err.get()),
                   WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(SparseSimulation, DrawsTheDensePathsBytesOnRandomSparseModels) {
  const Shape shapes[] = {
      {"zeros, -0 and overridden entries", 40, 6, 30, 0, 0, "zeros", ""},
      {"rows rescaled with a warning", 25, 5, 20, 0, 0, "weights", ""},
      {"subnormal entries, some rounded to 0", 30, 4, 25, 0, 0, "tiny", ""},
      {"rows short of 1: draws of 1.0 fall back", 20, 14, 5000, 0, 0, "short", ""},
      {"one chain", 15, 1, 40, 0, 0, "weights", ""},
      {"two years, debug marks, names", 12, 9, 2, 0, 0, "zeros",
       "<debug>1</debug><print_flag>name</print_flag>"},
      {"a streamed table over 1 MiB", 60, 300, 1000, 0, 0, "weights", ""},
      {"a --chains slice", 30, 12, 40, 3, 9, "tiny", ""},
      {"a slice of a streamed table", 30, 300, 1000, 101, 180, "short", ""},
      {"a row of zeros ends the run", 10, 3, 10, 0, 0, "zero", ""},
  };
  for (const Shape& s : shapes) {
    for (unsigned seed = 1; seed <= 3; seed++) {
      SCOPED_TRACE(std::string(s.what) + ", seed " + std::to_string(seed));
      const std::string text = model(s, seed);
      const RunOutput want = run_child(text, true, s.first, s.last);
      const RunOutput got = run_child(text, false, s.first, s.last);
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(got.err, want.err);
      EXPECT_TRUE(got.out == want.out) << "reports differ; dense one:\n" << want.out.substr(0, 400);
      EXPECT_EQ(want.status, s.rows == "zero" ? 1 : 0);
    }
  }
}

TEST(SortTransitions, GivesTheWholeListsStableOrderWhetherOrNotItsRowsComeInOrder) {
  // Pairs given twice keep their document order: the probability tells the two apart.
  const std::vector<std::vector<TRANSITION_ENTRY>> lists = {
      {},
      {{1, 2, 0.1}, {1, 1, 0.2}, {1, 2, 0.3}, {2, 2, 0.4}, {3, 1, 0.5}, {3, 1, 0.6}},
      {{2, 1, 0.1}, {1, 3, 0.2}, {2, 1, 0.3}, {1, 1, 0.4}, {1, 3, 0.5}},
  };
  for (const std::vector<TRANSITION_ENTRY>& list : lists) {
    std::vector<TRANSITION_ENTRY> want = list, got = list;
    std::stable_sort(want.begin(), want.end(), [](const auto& a, const auto& b) {
      return a.from != b.from ? a.from < b.from : a.to < b.to;
    });
    sort_transitions(&got);
    expect_same_transitions(got, want);
  }
}
