// analyze_report.cc - the text face of pravlin-analyze: each section printed as soon as the
// engine has solved it (print_analysis); the structure, stationary distributions, the squaring
// solver's verdict, absorption and n-step distributions are worded here, the other sections
// beside their solves.
// Part of pravlin; see README.md.
#include "analyze_report.h"

#include <charconv>
#include <string>
#include <vector>

#include "analyze_dot.h"
#include "analyze_run.h"
#include "analyze_states.h"
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

// Every closed class's stationary distribution, and the chain's when it has one closed class
// among others.
static void print_stationary(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYSIS* a,
                             int precision) {
  const CHAIN_CLASSES* cl = &a->classes;
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    const SOLVE_RESULT& how = a->stationary[k];
    std::fprintf(out, "\nstationary distribution of class %d%s:\n", k,
                 cl->nbr_classes == 1 ? ", the whole chain" : "");
    print_state_lines(out, pv, cl->member.data() + cl->first[k], cl->first[k + 1] - cl->first[k],
                      a->pi.data(), precision, 0);
    // GTH is exact to rounding; a sparse solve says how close it came.
    if (how.sparse) {
      std::fprintf(out, "  residual |pi P - pi|_1 %.1e (sparse solve: %s)\n", how.residual,
                   how.method);
    }
  }
  if (a->unique && cl->nbr_classes > 1) {
    std::fprintf(out, "\nstationary distribution of the chain:\n");
    std::vector<int> all(static_cast<std::size_t>(c->n));
    for (int s = 1; s <= c->n; s++)
      all[s - 1] = s;
    print_state_lines(out, pv, all.data(), all.size(), a->pi.data(), precision, 0);
  }
}

static void print_solver(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                         const CHAIN_CLASSES* cl, const SQUARING_RUN* run, int precision) {
  std::fprintf(out, "\nsquaring solver: ");
  if (run->can_converge) {
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
  if (!run->asked) {
    std::fprintf(out, "  not run: the configuration does not ask for the steady state\n");
    return;
  }
  if (!run->cost.fits) {
    std::fprintf(out,
                 "  not run: %d states are too many for its dense matrices in memory (pravlin "
                 "stops there; the answers above do not need them)\n",
                 c->n);
    print_squaring_cost(out, &run->cost);
    return;
  }
  if (!run->cost.worth) {
    std::fprintf(out,
                 "  not run: on %d states it would take longer than all the rest of the "
                 "analysis, which does not need it (pravlin runs it)\n",
                 c->n);
    print_squaring_cost(out, &run->cost);
    return;
  }
  std::fprintf(out, "  max_iteration %d, actual_iteration %d, actual_error %.*f\n",
               pv->max_iteration, run->iterations, precision, run->error);
  print_outcome(out, pv, cl, &run->vector, run->error, precision);
  if (!run->compared) {
    std::fprintf(out, "  no single stationary distribution to compare with\n");
    return;
  }
  std::fprintf(out, "  largest difference from the stationary distribution: %.*f\n", precision,
               run->largest_difference);
}

static void print_absorption(FILE* out, const PRAVLIN* pv, const ABSORPTION* abp, int precision) {
  const ABSORPTION& ab = *abp;
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

static void print_steps(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, long steps,
                        const std::vector<double>& x, int precision) {
  std::fprintf(out, "\ndistribution after %ld step%s:\n", steps, steps == 1 ? "" : "s");
  std::vector<int> all(static_cast<std::size_t>(c->n));
  for (int s = 1; s <= c->n; s++)
    all[s - 1] = s;
  print_state_lines(out, pv, all.data(), all.size(), x.data(), precision, 0);
}

// What the text face needs beside the records.
struct text_face {
  FILE* out;
  const PRAVLIN* pv;
  const SPARSE_CHAIN* c;
  const ANALYZE_OPTIONS* opt;
  const std::vector<int>* targets;
  const ANALYSIS_REQUESTS* r;
};

// Prints a section as soon as it is solved, when it is to be shown, and flushes it, so that what
// was found stays visible when a later solve is refused.
static void print_section(unsigned section, const ANALYSIS* a, void* context) {
  const text_face* f = static_cast<const text_face*>(context);
  FILE* out = f->out;
  const PRAVLIN* pv = f->pv;
  const SPARSE_CHAIN* c = f->c;
  const CHAIN_CLASSES* cl = &a->classes;
  const int precision = f->opt->precision;
  if ((a->plan.shown & section) == 0 && section != SECTION_DRAWING)
    return;
  switch (section) {
    case SECTION_STRUCTURE:
      print_structure(out, pv, c, cl);
      break;
    case SECTION_STATIONARY:
      print_stationary(out, pv, c, a, precision);
      break;
    case SECTION_RECURRENCE:
      print_long_run(out, pv, c, cl, a->pi.data(), a->long_run_solved ? &a->long_run : nullptr,
                     precision);
      break;
    case SECTION_ENTROPY:
      print_entropy(out, pv, cl, a->entropy, precision);
      break;
    case SECTION_SOLVER:
      print_solver(out, pv, c, cl, &a->squaring, precision);
      break;
    case SECTION_ABSORPTION:
      print_absorption(out, pv, &a->absorption, precision);
      break;
    case SECTION_STEPS:
      print_steps(out, pv, c, a->plan.steps, a->after, precision);
      break;
    case SECTION_HITTING:
      print_hitting(out, pv, c, *f->targets, &a->hitting, precision);
      break;
    case SECTION_REWARDS:
      print_rewards(out, pv, c, cl, &a->rewards, precision);
      break;
    case SECTION_COMMITTOR:
      print_committor(out, pv, c, &f->r->committor, &a->committor, precision);
      break;
    case SECTION_PASSAGE:
      print_passage(out, pv, *f->targets, &a->passage, precision);
      break;
    case SECTION_LUMPING:
      print_lump(out, pv, &a->lump, f->opt->output, precision);
      break;
    case SECTION_SPECTRUM:
      print_spectrum(out, cl, a->spectra, precision);
      break;
    case SECTION_MIXING:
      print_mixing(out, cl, a->mixing, a->plan.mixing, precision);
      break;
    case SECTION_KEMENY:
      print_kemeny(out, cl, a->kemeny, precision);
      break;
    case SECTION_HORIZON:
      print_horizon(out, pv, &a->horizon, precision);
      break;
    case SECTION_CONVERSION:
      print_conversion(out, pv, &a->conversion, f->opt->output, precision);
      break;
    case SECTION_DRAWING:
      print_dot_line(out, f->opt->dot_file, a->drawn, c, cl);
      break;
    default:
      break;
  }
  std::fflush(out);
}

void print_analysis(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                    const std::vector<int>& targets, const ANALYSIS_REQUESTS* requests) {
  text_face face = {out, pv, c, opt, &targets, requests};
  ANALYSIS a;
  run_analysis(pv, c, opt, targets, requests, &a, print_section, &face);
}
