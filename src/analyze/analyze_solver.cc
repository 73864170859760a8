// analyze_solver.cc - pravlin's squaring solver run on the analysed chain: its cost, its run and
// the words of its outcome (solve_squaring).
// Part of pravlin; see README.md.
#include "analyze_solver.h"

#include <cmath>
#include <exception>

#include "fail.h"
#include "steady_state.h"

int squaring_fits(const SPARSE_CHAIN* c) {
  const std::size_t w = static_cast<std::size_t>(c->n) + 1;
  // The copy, the solver's working power and its product's temporary.
  return w <= SIZE_MAX / 3 / w && dense_fits(3 * w * w);
}

SQUARING_COST estimate_squaring(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl) {
  SQUARING_COST cost;
  const double n = c->n;
  cost.bytes = 3.0 * (n + 1.0) * (n + 1.0) * sizeof(double);
  cost.work = n * n * n;
  // calc_steady_state's own default for a limit below 1.
  cost.max_iteration = pv->max_iteration >= 1 ? pv->max_iteration : 100;
  // Rows that can never agree run every squaring the limit allows.
  cost.squarings = squaring_can_converge(cl) ? 1 : cost.max_iteration;
  cost.fits = squaring_fits(c);
  cost.worth = cost.fits && cost.squarings * cost.work <= SQUARING_MAX_WORK;
  return cost;
}

// A positive amount with two significant digits, or as a whole number from 100 on.
static void print_amount(FILE* out, double v, const char* unit) {
  std::fprintf(out, v < 99.5 ? "%.2g %s" : "%.0f %s", v, unit);
}

static void print_duration(FILE* out, double seconds) {
  if (seconds < 120) {
    print_amount(out, seconds, "s");
  } else if (seconds < 7200) {
    print_amount(out, seconds / 60, "min");
  } else if (seconds < 172800) {
    print_amount(out, seconds / 3600, "h");
  } else {
    print_amount(out, seconds / 86400, "days");
  }
}

void print_squaring_cost(FILE* out, const SQUARING_COST* cost) {
  std::fprintf(out, "  its cost: %.1e multiply-adds a squaring (about ", cost->work);
  print_duration(out, cost->work / SQUARING_RATE);
  if (cost->squarings > 1) {
    std::fprintf(out, "), all %d of max_iteration as it cannot converge (about ", cost->squarings);
    print_duration(out, cost->squarings * cost->work / SQUARING_RATE);
    std::fprintf(out, "), and ");
  } else {
    std::fprintf(out, "), up to %d squarings (max_iteration), and ", cost->max_iteration);
  }
  if (cost->bytes < 1e9) {
    print_amount(out, cost->bytes / 1e6, "MB");
  } else if (cost->bytes < 1e12) {
    print_amount(out, cost->bytes / 1e9, "GB");
  } else {
    print_amount(out, cost->bytes / 1e12, "TB");
  }
  std::fprintf(out, " for its three dense matrices\n");
}

// Runs calc_steady_state as pravlin does, on the same normalised matrix, and returns its
// vector in b[1..n].
int run_solver(const PRAVLIN* pv, const SPARSE_CHAIN* c, std::vector<double>* b, double* error) {
  const std::size_t w = static_cast<std::size_t>(c->n) + 1;
  if (!squaring_fits(c)) {
    fail(" *** ERROR: %d states are too many for the squaring solver in memory\n", c->n);
  }
  std::vector<double> block;
  std::vector<double*> rows;
  try {
    block.assign(w * w, 0.0);
    rows.assign(w, nullptr);
    b->assign(w, 0.0);
  } catch (const std::exception&) {
    fail(" *** ERROR: %d states are too many for the squaring solver in memory\n", c->n);
  }
  for (std::size_t i = 0; i < w; i++)
    rows[i] = block.data() + i * w;
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      rows[u][c->to[e]] = c->p[e];
    }
  }
  return calc_steady_state(rows.data(), b->data(), c->n, pv->max_iteration, pv->max_error, error,
                           pv->debug);
}

// What the run did, when that is not what the structure foretold: the structure speaks of exact
// arithmetic, the run of rounded arithmetic and of its limits.
void print_outcome(FILE* out, const PRAVLIN* pv, const CHAIN_CLASSES* cl,
                   const std::vector<double>* b, double error, int precision) {
  static const char kDrift[] =
      "rounding makes the rows' totals drift from 1 and each squaring doubles the drift, while "
      "this chain leaves a state so rarely that it needs more squarings than that allows";
  // The solver stops when the rows agree within max_error, which the reading has already made
  // positive: NaN compares false and counts as not converged.
  const int converged = error < pv->max_error;
  double total = 0.0;
  for (std::size_t s = 1; s < b->size(); s++)
    total += (*b)[s];
  if (!squaring_can_converge(cl)) {
    if (converged) {
      std::fprintf(out,
                   "  but its rows agreed within max_error all the same: max_error is larger "
                   "than the difference between rows that never agree, so its vector is no "
                   "steady state\n");
    }
    return;
  }
  if (!std::isfinite(total) || !std::isfinite(error)) {
    std::fprintf(out, "  but it failed: the powers overflowed; %s\n", kDrift);
  } else if (std::fabs(total - 1.0) > 1e-9) {
    std::fprintf(out, "  but its vector is wrong: it totals %.*f, not 1; %s\n", precision, total,
                 kDrift);
  } else if (!converged) {
    std::fprintf(out,
                 "  but it did not converge: after max_iteration squarings its rows still differ "
                 "by more than max_error; this chain mixes too slowly for that many squarings, "
                 "or its rows agree only to within rounding\n");
  }
}

void solve_squaring(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, SQUARING_RUN* run) {
  run->can_converge = squaring_can_converge(cl);
  run->asked = pv->calc_flag != 0;
  // The analysis has its own solvers: a chain too big for pravlin's is still analysed, and one
  // on which the squaring would take longer than everything else is described instead.
  run->cost = estimate_squaring(pv, c, cl);
  run->ran = run->asked && run->cost.worth;
  run->iterations = 0;
  run->error = 0.0;
  run->vector.clear();
  run->compared = 0;
  run->largest_difference = 0.0;
  if (!run->ran)
    return;
  run->iterations = run_solver(pv, c, &run->vector, &run->error);
  if (cl->nbr_closed != 1)
    return;
  run->compared = 1;
  for (int s = 1; s <= c->n; s++)
    run->largest_difference = std::fmax(run->largest_difference, std::fabs(run->vector[s] - pi[s]));
}
