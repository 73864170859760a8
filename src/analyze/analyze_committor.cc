// analyze_committor.cc - the committor q_s = P(reach B before A | start at s) from every
// state (solve_committor).
// Part of pravlin; see README.md.
#include "analyze_committor.h"

#include <string>

#include "analyze_among.h"
#include "analyze_json_values.h"
#include "analyze_states.h"

using json = nlohmann::ordered_json;

// The states of one side, separated by commas, as every option names states.
static void parse_set(const PRAVLIN* pv, const std::string& text, const char* side,
                      std::vector<int>* set) {
  if (text.empty())
    fail(" *** ERROR: --committor: set %s is empty\n", side);
  resolve_states(pv, text.c_str(), "--committor", set);
}

void parse_committor(const PRAVLIN* pv, const char* text, COMMITTOR_SETS* sets) {
  const std::string all = text;
  const std::size_t colon = all.find(':');
  if (colon == std::string::npos || all.find(':', colon + 1) != std::string::npos) {
    fail(
        " *** ERROR: --committor needs two sets of states A:B, each separated by commas, not "
        "(%s)\n",
        shown(text).c_str());
  }
  parse_set(pv, all.substr(0, colon), "A", &sets->a);
  parse_set(pv, all.substr(colon + 1), "B", &sets->b);
  std::vector<char> in_a(static_cast<std::size_t>(pv->nbr_states) + 1, 0);
  for (int s : sets->a)
    in_a[s] = 1;
  for (int s : sets->b) {
    if (in_a[s])
      fail(" *** ERROR: --committor: state #%d is in both A and B\n", s);
  }
}

void solve_committor(const SPARSE_CHAIN* c, const COMMITTOR_SETS* sets, COMMITTOR* q) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  REVERSED_CHAIN r;
  reverse_chain(c, &r);
  std::vector<char> stop(n + 1, 0), goal(n + 1, 0);
  for (int s : sets->a)
    stop[s] = 1;
  for (int s : sets->b)
    stop[s] = goal[s] = 1;
  GOAL_SETS g;
  find_goal_sets(c, &r, stop, goal, &g);
  q->probability.assign(n + 1, 0.0);
  // Certain states and B have 1; the states that may go either way get b, the probability of
  // stepping at once onto one of those, and the system's matrix the steps among themselves.
  std::vector<double> b(static_cast<std::size_t>(g.nbr_uncertain), 0.0);
  for (int u = 1; u <= c->n; u++) {
    if (goal[u] || g.certain[u] > 0)
      q->probability[u] = 1.0;
    if (g.uncertain[u] == 0)
      continue;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      if (goal[c->to[e]] || g.certain[c->to[e]] > 0)
        b[static_cast<std::size_t>(g.uncertain[u]) - 1] += c->p[e];
    }
  }
  q->nbr_solved = g.nbr_uncertain;
  q->how = solve_among_set(c, g.uncertain, g.nbr_uncertain, &b, 1, "committor");
  for (int u = 1; u <= c->n; u++) {
    if (g.uncertain[u] > 0)
      q->probability[u] = b[static_cast<std::size_t>(g.uncertain[u]) - 1];
  }
}

// In braces: a set's states are never read as the set's own name.
static void print_set(FILE* out, const PRAVLIN* pv, const std::vector<int>& set) {
  std::fprintf(out, "{");
  for (std::size_t i = 0; i < set.size(); i++) {
    std::fprintf(out, "%s", i > 0 ? ", " : "");
    print_state(out, pv, set[i]);
  }
  std::fprintf(out, "}");
}

void print_committor(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                     const COMMITTOR_SETS* sets, const COMMITTOR* q, int precision) {
  // The sets are set_A and set_B, never bare A and B, which states are often named.
  std::fprintf(out, "\ncommittor: the probability of reaching set_B before set_A, set_A = ");
  print_set(out, pv, sets->a);
  std::fprintf(out, "; set_B = ");
  print_set(out, pv, sets->b);
  std::fprintf(out, "\n");
  const bool left_out = state_lines_left_out(out, pv, static_cast<std::size_t>(c->n));
  for (int s = 1; s <= c->n && !left_out; s++) {
    std::fprintf(out, "  ");
    print_state(out, pv, s);
    std::fprintf(out, " %.*f\n", precision, q->probability[s]);
  }
  print_among_residual(out, &q->how);
}

void add_committor_json(const PRAVLIN* pv, const SPARSE_CHAIN* c, const COMMITTOR_SETS* sets,
                        const COMMITTOR* q, json* doc) {
  if (q == nullptr) {
    (*doc)["committor"] = nullptr;
    return;
  }
  (*doc)["committor"] = {
      {"a", sets->a},
      {"a_names", json_state_names(pv, sets->a)},
      {"b", sets->b},
      {"b_names", json_state_names(pv, sets->b)},
      {"probability", json_by_state(q->probability.data(), c->n)},
      {"method", q->how.method},
      {"residual", q->how.sparse ? json_number(q->how.residual) : json(nullptr)}};
}
