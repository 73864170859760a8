// analyze_report.cc - the text pravlin-analyze prints: structure, stationary distributions, the
// squaring solver's verdict, absorption and n-step distributions (print_analysis).
// Part of pravlin; see README.md.
#include "analyze_report.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "analyze.h"
#include "analyze_dot.h"
#include "analyze_eigen.h"
#include "analyze_entropy.h"
#include "analyze_hitting.h"
#include "analyze_horizon.h"
#include "analyze_kemeny.h"
#include "analyze_long_run.h"
#include "analyze_mixing.h"
#include "analyze_requests.h"
#include "analyze_roots.h"
#include "analyze_states.h"
#include "steady_state.h"
#include "table_lines.h"

static void put_int(std::string* line, int v) {
  char text[16];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  line->append(text, r.ptr);
}

static const char* yes_no(int flag) {
  return flag ? "yes" : "no";
}

static void print_structure(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                            const CHAIN_CLASSES* cl) {
  std::fprintf(out, "configuration: %s\n", shown(pv->xmlfilename).c_str());
  std::fprintf(out, "states: %d\n", c->n);
  std::fprintf(out, "transitions: %zu with positive probability\n", c->to.size());
  std::fprintf(out, "classes: %d, closed %d, transient %d\n", cl->nbr_classes, cl->nbr_closed,
               cl->nbr_classes - cl->nbr_closed);
  int absorbing = 0, aperiodic = 1;
  for (int k = 1; k <= cl->nbr_classes; k++) {
    const int size = class_size(cl, k);
    std::fprintf(out, "class %d: %s, ", k, cl->closed[k] ? "closed" : "transient");
    if (cl->period[k] == 0) {
      std::fprintf(out, "no cycle");
    } else {
      std::fprintf(out, "period %d", cl->period[k]);
    }
    std::fprintf(out, ", %d state%s\n", size, size == 1 ? "" : "s");
    print_state_lines(out, pv, cl->member.data() + cl->first[k], cl->first[k + 1] - cl->first[k],
                      nullptr, 0, 0);
    if (cl->closed[k] && size == 1)
      absorbing++;
    if (cl->closed[k] && cl->period[k] != 1)
      aperiodic = 0;
  }
  std::fprintf(out, "absorbing states: %d\n", absorbing);
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k] || class_size(cl, k) != 1)
      continue;
    std::fprintf(out, "  ");
    print_state(out, pv, cl->member[cl->first[k]]);
    std::fprintf(out, "\n");
  }
  const int irreducible = cl->nbr_classes == 1;
  std::fprintf(out, "irreducible: %s\n", yes_no(irreducible));
  std::fprintf(out, "aperiodic: %s\n", yes_no(aperiodic));
  std::fprintf(out, "regular: %s\n", yes_no(irreducible && aperiodic));
}

// Fills pi[1..n] with the chain's stationary distribution when it has exactly one closed class
// (and returns 1); prints every closed class's distribution either way.
// Solved whether shown or not: the sections after it need pi.
static int print_stationary(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                            const CHAIN_CLASSES* cl, int precision, std::vector<double>* pi,
                            int shown) {
  pi->assign(static_cast<std::size_t>(c->n) + 1, 0.0);
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    const SOLVE_RESULT how = class_stationary(c, cl, k, pi->data());
    if (!shown)
      continue;
    std::fprintf(out, "\nstationary distribution of class %d%s:\n", k,
                 cl->nbr_classes == 1 ? ", the whole chain" : "");
    print_state_lines(out, pv, cl->member.data() + cl->first[k], cl->first[k + 1] - cl->first[k],
                      pi->data(), precision, 0);
    // GTH is exact to rounding; a sparse solve says how close it came.
    if (how.sparse) {
      std::fprintf(out, "  residual |pi P - pi|_1 %.1e (sparse solve: %s)\n", how.residual,
                   how.method);
    }
    // Before a long solve, not after each of a million absorbing states.
    if (class_size(cl, k) > 1)
      std::fflush(out);
  }
  if (cl->nbr_closed != 1)
    return 0;
  if (cl->nbr_classes > 1 && shown) {
    std::fprintf(out, "\nstationary distribution of the chain:\n");
    std::vector<int> all(static_cast<std::size_t>(c->n));
    for (int s = 1; s <= c->n; s++)
      all[s - 1] = s;
    print_state_lines(out, pv, all.data(), all.size(), pi->data(), precision, 0);
  }
  return 1;
}

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

static void print_solver(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                         const CHAIN_CLASSES* cl, int precision, const std::vector<double>* pi,
                         int unique) {
  std::fprintf(out, "\nsquaring solver: ");
  if (squaring_can_converge(cl)) {
    std::fprintf(out, "can converge (one closed class, aperiodic)\n");
  } else if (cl->nbr_closed > 1) {
    std::fprintf(out, "cannot converge (%d closed classes: the rows of the powers never agree)\n",
                 cl->nbr_closed);
  } else {
    int k = 1;
    while (!cl->closed[k])
      k++;
    std::fprintf(out, "cannot converge (class %d has period %d: the powers cycle)\n", k,
                 cl->period[k]);
  }
  if (!pv->calc_flag) {
    std::fprintf(out, "  not run: the configuration does not ask for the steady state\n");
    return;
  }
  // The analysis has its own solvers: a chain too big for pravlin's is still analysed, and one
  // on which the squaring would take longer than everything else is described instead.
  const SQUARING_COST cost = estimate_squaring(pv, c, cl);
  if (!cost.fits) {
    std::fprintf(out,
                 "  not run: %d states are too many for its dense matrices in memory (pravlin "
                 "stops there; the answers above do not need them)\n",
                 c->n);
    print_squaring_cost(out, &cost);
    return;
  }
  if (!cost.worth) {
    std::fprintf(out,
                 "  not run: on %d states it would take longer than all the rest of the "
                 "analysis, which does not need it (pravlin runs it)\n",
                 c->n);
    print_squaring_cost(out, &cost);
    return;
  }
  std::fflush(out);
  std::vector<double> b;
  double error = 0.0;
  const int iterations = run_solver(pv, c, &b, &error);
  std::fprintf(out, "  max_iteration %d, actual_iteration %d, actual_error %.*f\n",
               pv->max_iteration, iterations, precision, error);
  print_outcome(out, pv, cl, &b, error, precision);
  if (!unique) {
    std::fprintf(out, "  no single stationary distribution to compare with\n");
    return;
  }
  double largest = 0.0;
  for (int s = 1; s <= c->n; s++)
    largest = std::fmax(largest, std::fabs(b[s] - (*pi)[s]));
  std::fprintf(out, "  largest difference from the stationary distribution: %.*f\n", precision,
               largest);
}

// ab: the absorption systems, when the long run has solved them already (ab->state not empty).
static void print_absorption(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                             const CHAIN_CLASSES* cl, int precision, ABSORPTION* abp) {
  if (cl->nbr_closed == cl->nbr_classes)
    return;
  std::fflush(out);
  ABSORPTION& ab = *abp;
  if (ab.state.empty())
    solve_absorption(c, cl, &ab);
  const std::size_t nb = static_cast<std::size_t>(ab.nbr_closed) + 1;
  std::fprintf(out,
               "\nabsorption: expected steps until a closed class is entered, and the "
               "probability of ending in each\n");
  if (ab.how.sparse) {
    std::fprintf(out,
                 "  residual |(I - Q) x - b|_1 %.1e, relative for the steps (sparse solve: %s)\n",
                 ab.how.residual, ab.how.method);
  }
  // One line per transient state, of one number per closed class: a hundred classes make
  // ten million numbers at 10^5 states. (Formatting blocks of lines on two cores was measured
  // and dropped: std::to_chars did not go faster on two threads here.)
  std::vector<std::string> label(nb);
  for (std::size_t j = 1; j < nb; j++) {
    label[j] = ", class ";
    put_int(&label[j], ab.closed_class[j]);
    label[j] += ' ';
  }
  if (state_lines_left_out(out, pv, static_cast<std::size_t>(ab.nbr_transient)))
    return;
  std::string line;
  for (int i = 1; i <= ab.nbr_transient; i++) {
    line.assign("  ");
    put_int(&line, ab.state[i]);
    if (pv->state_name[ab.state[i]] != nullptr) {
      line += ' ';
      append_shown(&line, pv->state_name[ab.state[i]]);
    }
    line += ": steps ";
    format_fixed(line, ab.steps[i], precision);
    for (std::size_t j = 1; j < nb; j++) {
      line += label[j];
      format_fixed(line, ab.probability[i * nb + j], precision);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
  }
}

// x: the distribution printed, for the rewards.
static void print_steps(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, long steps,
                        int precision, std::vector<double>* xp, int shown) {
  std::vector<double>& x = *xp;
  x.assign(pv->initial_probability, pv->initial_probability + c->n + 1);
  x[0] = 0.0;
  step_distribution(c, &x, steps);
  if (!shown)
    return;
  std::fprintf(out, "\ndistribution after %ld step%s:\n", steps, steps == 1 ? "" : "s");
  std::vector<int> all(static_cast<std::size_t>(c->n));
  for (int s = 1; s <= c->n; s++)
    all[s - 1] = s;
  print_state_lines(out, pv, all.data(), all.size(), x.data(), precision, 0);
}

void print_analysis(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                    const std::vector<int>& targets, const struct analysis_requests* requests) {
  const ANALYSIS_PLAN plan = plan_analysis(opt);
  CHAIN_CLASSES cl;
  find_classes(c, &cl);
  check_plan(&plan, &cl);
  if (section_shown(opt, SECTION_STRUCTURE))
    print_structure(out, pv, c, &cl);
  std::fflush(out);
  std::vector<double> pi;
  const int unique = print_stationary(out, pv, c, &cl, opt->precision, &pi,
                                      section_shown(opt, SECTION_STATIONARY));
  // Solved at most once: the long run and the absorption section both want it.
  ABSORPTION ab;
  if (section_shown(opt, SECTION_RECURRENCE))
    print_long_run(out, pv, c, &cl, pi.data(), opt->precision, &ab);
  if (section_shown(opt, SECTION_ENTROPY)) {
    std::vector<CLASS_ENTROPY> entropy;
    solve_entropy(c, &cl, pi.data(), &entropy);
    print_entropy(out, pv, &cl, entropy, opt->precision);
  }
  if (section_shown(opt, SECTION_SOLVER))
    print_solver(out, pv, c, &cl, opt->precision, &pi, unique);
  if (section_shown(opt, SECTION_ABSORPTION))
    print_absorption(out, pv, c, &cl, opt->precision, &ab);
  std::vector<double> after;
  if (plan.steps >= 0)
    print_steps(out, pv, c, plan.steps, opt->precision, &after, section_shown(opt, SECTION_STEPS));
  std::fflush(out);
  if (!targets.empty() && section_shown(opt, SECTION_HITTING)) {
    // The passage times of a single target may come through the stationary distribution,
    // solved above once already when it is unique.
    HITTING h;
    solve_hitting(c, targets, &h, cl.nbr_closed == 1 ? pi.data() : nullptr);
    print_hitting(out, pv, c, targets, &h, opt->precision);
    std::fflush(out);
  }
  print_requested(out, pv, c, &cl, pi.data(), opt, targets, opt->steps >= 0 ? &after : nullptr,
                  requests);
  std::vector<CLASS_SPECTRUM> spectra;  // found once, for the mixing time's bounds too
  const bool mixing = plan.mixing > 0.0 && section_shown(opt, SECTION_MIXING);
  if (plan.eigenvalues > 0) {
    if (section_shown(opt, SECTION_SPECTRUM)) {
      print_spectrum(out, c, &cl, pi.data(), plan.eigenvalues, opt->precision, &spectra);
    } else if (mixing) {
      // Unprinted, so that the mixing section is the same with or without it.
      for (int k = next_closed_class(&cl, 0); k != 0; k = next_closed_class(&cl, k)) {
        spectra.emplace_back();
        solve_spectrum(c, &cl, k, pi.data(), plan.eigenvalues, &spectra.back());
      }
    }
  }
  if (mixing)
    print_mixing(out, c, &cl, pi.data(), plan.mixing, opt->precision, &spectra);
  if (plan.kemeny && section_shown(opt, SECTION_KEMENY))
    print_kemeny(out, c, &cl, pi.data(), opt->precision);
  if (opt->horizon >= 0) {
    HORIZON h;
    solve_requested_horizon(pv, c, opt, requests, &h);
    if (section_shown(opt, SECTION_HORIZON))
      print_horizon(out, pv, &h, opt->precision);
  }
  // The file of -o is written whether the section is shown or not.
  if (opt->conversion != CONVERSION_NONE) {
    PERIOD_CONVERSION pc;
    solve_conversion(c, opt->conversion, opt->conversion_k, opt->repair, &pc);
    if (section_shown(opt, SECTION_CONVERSION))
      print_conversion(out, pv, &pc, opt->output, opt->precision);
    std::fflush(out);
    write_conversion(opt->output, pv, &pc);
  }
  if (opt->dot_file != nullptr) {
    const int drawn = write_dot(opt->dot_file, pv, c, &cl, opt->precision);
    print_dot_line(out, opt->dot_file, drawn, c, &cl);
  }
}
