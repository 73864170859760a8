// analyze_passage.cc - P(T = n) for the first passage T into the target states, n = 1..N,
// from the initial probabilities (solve_passage).
// Part of pravlin; see README.md.
#include "analyze_passage.h"

#include <algorithm>

#include "analyze_among.h"
#include "analyze_json_values.h"
#include "analyze_states.h"

using json = nlohmann::ordered_json;

void solve_passage(const PRAVLIN* pv, const SPARSE_CHAIN* c, const std::vector<int>& targets,
                   long steps, FIRST_PASSAGE* f) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<char> target(n + 1, 0);
  for (int s : targets)
    target[s] = 1;
  std::vector<double> x(pv->initial_probability, pv->initial_probability + n + 1), y(n + 1);
  x[0] = 0.0;
  f->probability.assign(static_cast<std::size_t>(steps) + 1, 0.0);
  // Once nothing is left off the targets, every later probability is 0.
  bool left = true;
  for (long step = 1; step <= steps && left; step++) {
    std::fill(y.begin(), y.end(), 0.0);
    for (int u = 1; u <= c->n; u++) {
      const double xu = x[u];
      if (xu == 0.0)
        continue;
      for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++)
        y[c->to[e]] += xu * c->p[e];
    }
    double hit = 0.0;
    for (int s : targets) {
      hit += y[s];
      y[s] = 0.0;
    }
    f->probability[step] = hit;
    x.swap(y);
    left = std::any_of(x.begin(), x.end(), [](double v) { return v != 0.0; });
  }
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
