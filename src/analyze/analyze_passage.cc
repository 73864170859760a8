// analyze_passage.cc - P(T = n) for the first passage T into the target states, n = 1..N,
// from the initial probabilities (solve_passage).
// Part of pravlin; see README.md.
#include "analyze_passage.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "analyze_among.h"
#include "analyze_json_values.h"
#include "analyze_states.h"
#include "analyze_step.h"

using json = nlohmann::ordered_json;

// reach[s] = 1 for each state s from which some target can be entered in one step or more.
static std::vector<char> reaching(const SPARSE_CHAIN* c, const std::vector<char>& target) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<std::vector<int>> into(n + 1);
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      if (c->p[e] != 0.0)
        into[static_cast<std::size_t>(c->to[e])].push_back(u);
    }
  }
  std::vector<char> reach(n + 1, 0);
  std::vector<int> work;
  for (int s = 1; s <= c->n; s++) {
    if (target[s])
      work.push_back(s);
  }
  std::vector<char> seen(target);  // targets are searched from once, as ends
  while (!work.empty()) {
    const int v = work.back();
    work.pop_back();
    for (int u : into[static_cast<std::size_t>(v)]) {
      if (!reach[u]) {
        reach[u] = 1;
        if (!seen[u]) {
          seen[u] = 1;
          work.push_back(u);
        }
      }
    }
  }
  return reach;
}

void solve_passage(const PRAVLIN* pv, const SPARSE_CHAIN* c, const std::vector<int>& targets,
                   long steps, FIRST_PASSAGE* f, double work_max) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<char> target(n + 1, 0);
  for (int s : targets)
    target[s] = 1;
  const std::vector<char> reach = reaching(c, target);
  std::vector<double> x(pv->initial_probability, pv->initial_probability + n + 1), y(n + 1);
  x[0] = 0.0;
  f->probability.assign(static_cast<std::size_t>(steps) + 1, 0.0);
  const double per_step = static_cast<double>(c->row_start[c->n + 1]) + 1.0;
  const double estimate = per_step * static_cast<double>(steps);
  const int terminal = isatty(STDERR_FILENO);
  const auto start = std::chrono::steady_clock::now();
  auto shown = start;
  int progress = 0;
  // Mass on a state that cannot reach a target never can again: once none is left elsewhere,
  // every later probability is 0 and the mass off the targets stays as it is.
  auto settled = [&]() {
    for (std::size_t s = 1; s <= n; s++) {
      if (reach[s] && x[s] != 0.0)
        return false;
    }
    return true;
  };
  for (long step = 1; step <= steps && !settled(); step++) {
    if (per_step * static_cast<double>(step) > work_max) {
      if (progress)
        std::fprintf(stderr, "%70s\r", "");
      fail(
          " *** ERROR: --passage %ld: about %.1e transitions followed (%ld steps of %.0f), beyond "
          "the limit of %.0e, and the passage is not settled after %ld steps\n",
          steps, estimate, steps, per_step - 1.0, work_max, step - 1);
    }
    step_product(c, x.data(), y.data());
    double hit = 0.0;
    for (int s : targets) {
      hit += y[s];
      y[s] = 0.0;
    }
    f->probability[step] = hit;
    x.swap(y);
    if (terminal && (step & 63) == 0) {
      const auto now = std::chrono::steady_clock::now();
      if (now - start > std::chrono::seconds(2) && now - shown > std::chrono::seconds(1)) {
        std::fprintf(stderr, "pravlin-analyze: passage step %ld of %ld\r", step, steps);
        shown = now;
        progress = 1;
      }
    }
  }
  if (progress)
    std::fprintf(stderr, "%70s\r", "");
  double beyond = 0.0;
  for (int s = 1; s <= c->n; s++)
    beyond += x[s];
  f->beyond = beyond;
}

void print_passage(FILE* out, const PRAVLIN* pv, const std::vector<int>& targets,
                   const FIRST_PASSAGE* f, int precision) {
  std::fprintf(out, "\nfirst passage to ");
  for (std::size_t i = 0; i < targets.size(); i++) {
    std::fprintf(out, "%s", i > 0 ? ", " : "");
    print_state(out, pv, targets[i]);
  }
  std::fprintf(out, " from the initial probabilities: P(T = n), T the first step n >= 1 on it\n");
  const long steps = static_cast<long>(f->probability.size()) - 1;
  for (long step = 1; step <= steps; step++)
    std::fprintf(out, "  n = %ld: %.*f\n", step, precision, f->probability[step]);
  std::fprintf(out, "  n > %ld: %.*f\n", steps, precision, f->beyond);
}

void add_passage_json(const PRAVLIN* pv, const std::vector<int>& targets, const FIRST_PASSAGE* f,
                      json* doc) {
  if (f == nullptr) {
    (*doc)["passage"] = nullptr;
    return;
  }
  json p = json::array();
  for (std::size_t step = 1; step < f->probability.size(); step++)
    p.push_back(json_number(f->probability[step]));
  (*doc)["passage"] = {{"targets", targets},
                       {"target_names", json_state_names(pv, targets)},
                       {"probability", p},
                       {"beyond", json_number(f->beyond)}};
}
