// analyze_rewards.cc - rewards from the states' values: long-run averages, the expected value
// after n steps, expected totals before absorption and before the target (solve_rewards).
// Part of pravlin; see README.md.
#include "analyze_rewards.h"

#include <cmath>

#include "analyze_among.h"
#include "analyze_json_values.h"
#include "analyze_states.h"

using json = nlohmann::ordered_json;

int rewards_wanted(const PRAVLIN* pv) {
  for (int s = 1; s <= pv->nbr_states; s++) {
    if (pv->val[s] != 0.0)
      return 1;
  }
  return 0;
}

// A value that is not finite ("nan", "inf") is left out of the systems, whose answers it would
// spoil; the states that can meet one are given its kind afterwards (mark_not_finite).
static double finite_or_zero(double v) {
  return std::isfinite(v) ? v : 0.0;
}

// sum_s w_s v_s over the states with w_s > 0, s from 1 to n: +-inf when infinite values of one
// sign meet positive weight, NaN when a NaN or both signs do; a weight of 0 never makes NaN.
static double weighted_total(const double* w, const double* v, int n) {
  double total = 0.0;
  for (int s = 1; s <= n; s++) {
    if (w[s] > 0.0)
      total += w[s] * v[s];
  }
  return total;
}

// Every state s with index[s] > 0 that can meet a state of a value not finite while within
// the set (index[] > 0) gets x[s] = +inf, -inf or NaN, as the values it can meet add up.
static void mark_not_finite(const PRAVLIN* pv, const REVERSED_CHAIN* rc,
                            const std::vector<int>& index, std::vector<double>* x) {
  const std::size_t n = index.size() - 1;
  std::vector<char> pass(n + 1, 0), plus(n + 1, 0), minus(n + 1, 0), nan(n + 1, 0);
  bool any = false;
  for (std::size_t s = 1; s <= n; s++) {
    if (index[s] == 0)
      continue;
    pass[s] = 1;
    const double v = pv->val[s];
    plus[s] = v == HUGE_VAL ? 1 : 0;
    minus[s] = v == -HUGE_VAL ? 1 : 0;
    nan[s] = std::isnan(v) ? 1 : 0;
    any = any || !std::isfinite(v);
  }
  if (!any)
    return;
  reach_backwards(rc, pass, &plus);
  reach_backwards(rc, pass, &minus);
  reach_backwards(rc, pass, &nan);
  for (std::size_t s = 1; s <= n; s++) {
    if (index[s] == 0 || !(plus[s] || minus[s] || nan[s]))
      continue;
    (*x)[s] = nan[s] || (plus[s] && minus[s]) ? NAN : plus[s] ? HUGE_VAL : -HUGE_VAL;
  }
}

// sum_t v(X_t) before leaving the m states with index[s] > 0, from each of them, into
// x[s]: (I - Q) x = v, solved for the positive and the negative parts of v as two columns
// that must not be negative.
static SOLVE_RESULT total_before_leaving(const PRAVLIN* pv, const SPARSE_CHAIN* c,
                                         const std::vector<int>& index, int m, const char* what,
                                         std::vector<double>* x) {
  std::vector<double> b(2 * static_cast<std::size_t>(m), 0.0);
  for (int s = 1; s <= c->n; s++) {
    if (index[s] == 0)
      continue;
    const std::size_t i = static_cast<std::size_t>(index[s]) - 1;
    b[2 * i] = std::fmax(finite_or_zero(pv->val[s]), 0.0);
    b[2 * i + 1] = std::fmax(-finite_or_zero(pv->val[s]), 0.0);
  }
  const SOLVE_RESULT how = solve_among_set(c, index, m, &b, 2, what);
  for (int s = 1; s <= c->n; s++) {
    if (index[s] == 0)
      continue;
    const std::size_t i = static_cast<std::size_t>(index[s]) - 1;
    (*x)[s] = b[2 * i] - b[2 * i + 1];
  }
  return how;
}

void solve_rewards(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                   const double* pi, const std::vector<double>* after, long steps,
                   const std::vector<int>& targets, REWARDS* r) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  r->klass.clear();
  r->average.clear();
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    double a = 0.0;
    for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++) {
      if (pi[cl->member[i]] > 0.0)
        a += pi[cl->member[i]] * pv->val[cl->member[i]];
    }
    r->klass.push_back(k);
    r->average.push_back(a);
  }
  r->steps = after != nullptr ? steps : -1;
  r->after_steps = after != nullptr ? weighted_total(after->data(), pv->val, c->n) : 0.0;

  std::vector<int> index(n + 1, 0);
  r->transient.clear();
  for (int s = 1; s <= c->n; s++) {
    if (!cl->closed[cl->class_of[s]]) {
      r->transient.push_back(s);
      index[s] = static_cast<int>(r->transient.size());
    }
  }
  REVERSED_CHAIN rc;
  reverse_chain(c, &rc);
  std::vector<double> x(n + 1, 0.0);
  r->absorption_how = total_before_leaving(pv, c, index, static_cast<int>(r->transient.size()),
                                           "rewards before absorption", &x);
  mark_not_finite(pv, &rc, index, &x);
  r->before_absorption.clear();
  for (int s : r->transient)
    r->before_absorption.push_back(x[s]);

  r->targets = targets;
  r->before_target.clear();
  r->reach.clear();
  r->target_how = SOLVE_RESULT{"elimination", 0, 0.0};
  if (targets.empty())
    return;
  // Only where the target is certain is the total defined: elsewhere the chain may collect
  // values for ever.
  std::vector<char> target(n + 1, 0);
  for (int s : targets)
    target[s] = 1;
  GOAL_SETS g;
  find_goal_sets(c, &rc, target, target, &g);
  r->before_target.assign(n + 1, NAN);
  r->target_how = total_before_leaving(pv, c, g.certain, g.nbr_certain, "rewards before the target",
                                       &r->before_target);
  mark_not_finite(pv, &rc, g.certain, &r->before_target);
  r->reach.assign(n + 1, 0);
  for (int s = 1; s <= c->n; s++)
    r->reach[s] = static_cast<char>(g.certain[s] > 0 ? 2 : g.reaches[s] ? 1 : 0);
  for (int s : targets) {
    r->before_target[s] = 0.0;
    r->reach[s] = 2;
  }
}

// " <number>" and the end of the line; words where a value that is not finite made it so.
static void print_total(FILE* out, double v, int precision) {
  if (std::isnan(v)) {
    std::fprintf(out, " undefined (a value it depends on is nan, or infinite of both signs)\n");
  } else if (std::isinf(v)) {
    std::fprintf(out, v > 0 ? " infinite (a value it depends on is inf)\n"
                            : " minus infinite (a value it depends on is -inf)\n");
  } else {
    std::fprintf(out, " %.*f\n", precision, v);
  }
}

static void print_class(FILE* out, const CHAIN_CLASSES* cl, int k) {
  std::fprintf(out, "class %d%s", k, cl->nbr_classes == 1 ? ", the whole chain" : "");
}

void print_rewards(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                   const REWARDS* r, int precision) {
  std::fprintf(out, "\nrewards from the states' values:\n");
  for (std::size_t i = 0; i < r->klass.size(); i++) {
    std::fprintf(out, "  long-run average value of ");
    print_class(out, cl, r->klass[i]);
    std::fprintf(out, ":");
    print_total(out, r->average[i], precision);
  }
  if (r->steps >= 0) {
    std::fprintf(out, "  expected value after %ld step%s from the initial probabilities:", r->steps,
                 r->steps == 1 ? "" : "s");
    print_total(out, r->after_steps, precision);
  }
  if (!r->transient.empty()) {
    std::fprintf(out,
                 "  expected total value before absorption (steps 0 until a closed class is "
                 "entered), from each transient state:\n");
    const bool left_out = state_lines_left_out(out, pv, r->transient.size());
    for (std::size_t i = 0; i < r->transient.size() && !left_out; i++) {
      std::fprintf(out, "    ");
      print_state(out, pv, r->transient[i]);
      print_total(out, r->before_absorption[i], precision);
    }
    print_among_residual(out, &r->absorption_how);
  }
  if (r->targets.empty())
    return;
  std::fprintf(out, "  expected total value before reaching ");
  for (std::size_t i = 0; i < r->targets.size(); i++) {
    std::fprintf(out, "%s", i > 0 ? ", " : "");
    print_state(out, pv, r->targets[i]);
  }
  std::fprintf(out, " (steps 0 until it is reached), from each state:\n");
  const bool left_out = state_lines_left_out(out, pv, static_cast<std::size_t>(c->n));
  for (int s = 1; s <= c->n && !left_out; s++) {
    std::fprintf(out, "    ");
    print_state(out, pv, s);
    if (r->reach[s] < 2) {
      // The same words as the hitting section's for the same state.
      std::fprintf(out, r->reach[s] ? " undefined (it may never be reached)\n"
                                    : " undefined (it is never reached)\n");
    } else {
      print_total(out, r->before_target[s], precision);
    }
  }
  print_among_residual(out, &r->target_how);
}

// The method and residual of a system's solve, as the other sections give them.
static void add_how(const SOLVE_RESULT& how, json* to) {
  (*to)["method"] = how.method;
  (*to)["residual"] = how.sparse ? json_number(how.residual) : json(nullptr);
}

void add_rewards_json(const PRAVLIN* pv, const SPARSE_CHAIN* c, const REWARDS* r, json* doc) {
  if (r == nullptr) {
    (*doc)["rewards"] = nullptr;
    return;
  }
  json average = json::array();
  for (std::size_t i = 0; i < r->klass.size(); i++)
    average.push_back({{"class", r->klass[i]}, {"value", json_number(r->average[i])}});
  json w = {{"long_run", average}};
  w["after_steps"] = nullptr;
  if (r->steps >= 0)
    w["after_steps"] = {{"count", r->steps}, {"value", json_number(r->after_steps)}};
  w["before_absorption"] = nullptr;
  if (!r->transient.empty()) {
    json states = json::array();
    for (std::size_t i = 0; i < r->transient.size(); i++) {
      states.push_back(
          {{"state", r->transient[i]}, {"value", json_number(r->before_absorption[i])}});
    }
    json a = {{"transient", states}};
    add_how(r->absorption_how, &a);
    w["before_absorption"] = a;
  }
  w["before_target"] = nullptr;
  if (!r->targets.empty()) {
    json t = {{"targets", r->targets},
              {"target_names", json_state_names(pv, r->targets)},
              {"value", json_by_state(r->before_target.data(), c->n)}};
    add_how(r->target_how, &t);
    w["before_target"] = t;
  }
  (*doc)["rewards"] = w;
}
