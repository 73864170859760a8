// analyze_run.cc - the sections of the plan solved in order, each once (run_analysis).
// Part of pravlin; see README.md.
#include "analyze_run.h"

#include "analyze_dot.h"

// Tells the face that a section is done, and keeps that it is.
static void finish(unsigned section, ANALYSIS* a, SECTION_DONE done, void* context) {
  a->done |= section;
  if (done != nullptr)
    done(section, a, context);
}

// The spectrum, mixing time and Kemeny constant of each closed class of more than one state.
static void solve_classes(const SPARSE_CHAIN* c, ANALYSIS* a, SECTION_DONE done, void* context) {
  const CHAIN_CLASSES* cl = &a->classes;
  const double* pi = a->pi.data();
  a->spectra.clear();
  a->mixing.clear();
  a->kemeny.clear();
  if (a->plan.sections & SECTION_SPECTRUM) {
    for (int k = next_closed_class(cl, 0); k != 0; k = next_closed_class(cl, k)) {
      a->spectra.emplace_back();
      solve_spectrum(c, cl, k, pi, a->plan.eigenvalues, &a->spectra.back());
    }
    finish(SECTION_SPECTRUM, a, done, context);
  }
  if (a->plan.sections & SECTION_MIXING) {
    for (int k = next_closed_class(cl, 0); k != 0; k = next_closed_class(cl, k)) {
      a->mixing.emplace_back();
      solve_mixing(c, cl, k, pi, a->plan.mixing, &a->mixing.back(), find_spectrum(&a->spectra, k));
    }
    finish(SECTION_MIXING, a, done, context);
  }
  if (a->plan.sections & SECTION_KEMENY) {
    // An absorbing chain has none: it ends in one of its absorbing states.
    if (!chain_is_absorbing(cl)) {
      for (int k = next_closed_class(cl, 0); k != 0; k = next_closed_class(cl, k)) {
        a->kemeny.emplace_back();
        solve_kemeny(c, cl, k, pi, &a->kemeny.back());
      }
    }
    finish(SECTION_KEMENY, a, done, context);
  }
}

void run_analysis(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                  const std::vector<int>& targets, const ANALYSIS_REQUESTS* r, ANALYSIS* a,
                  SECTION_DONE done, void* context) {
  a->plan = plan_analysis(opt);
  // The hitting section comes with targets, the rewards with a value other than 0.
  unsigned unasked = 0;
  if (targets.empty())
    unasked |= SECTION_HITTING;
  if (!rewards_wanted(pv))
    unasked |= SECTION_REWARDS;
  a->plan.shown &= ~unasked;
  a->plan.sections &= ~unasked;
  a->done = 0;
  run_plan(pv, c, opt, targets, r, a, done, context);
}

void run_plan(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
              const std::vector<int>& targets, const ANALYSIS_REQUESTS* r, ANALYSIS* a,
              SECTION_DONE done, void* context) {
  const unsigned sections = a->plan.sections;
  CHAIN_CLASSES* cl = &a->classes;
  // The classes and the stationary distributions, which every section after them may need:
  // once for a chain, however many plans are run on it.
  if ((sections & SECTION_STATIONARY) && (a->done & SECTION_STATIONARY) == 0) {
    find_classes(c, cl);
    check_plan(&a->plan, cl);
    if (sections & SECTION_STRUCTURE)
      finish(SECTION_STRUCTURE, a, done, context);
    a->pi.assign(static_cast<std::size_t>(c->n) + 1, 0.0);
    a->stationary.assign(static_cast<std::size_t>(cl->nbr_classes) + 1, SOLVE_RESULT());
    for (int k = 1; k <= cl->nbr_classes; k++) {
      if (cl->closed[k])
        a->stationary[k] = class_stationary(c, cl, k, a->pi.data());
    }
    a->unique = cl->nbr_closed == 1;
    a->absorption = ABSORPTION();
    finish(SECTION_STATIONARY, a, done, context);
  }
  a->long_run_solved = 0;
  if (sections & SECTION_RECURRENCE) {
    if (cl->nbr_closed >= 2) {
      solve_long_run(pv, c, cl, a->pi.data(), &a->long_run, &a->absorption);
      a->long_run_solved = 1;
    }
    finish(SECTION_RECURRENCE, a, done, context);
  }
  if (sections & SECTION_ENTROPY) {
    a->entropy.clear();
    solve_entropy(c, cl, a->pi.data(), &a->entropy);
    finish(SECTION_ENTROPY, a, done, context);
  }
  if (sections & SECTION_SOLVER) {
    solve_squaring(pv, c, cl, a->pi.data(), &a->squaring);
    finish(SECTION_SOLVER, a, done, context);
  }
  // The long run may have solved it already.
  if ((sections & SECTION_ABSORPTION) && cl->nbr_closed != cl->nbr_classes) {
    if (a->absorption.state.empty())
      solve_absorption(c, cl, &a->absorption);
    finish(SECTION_ABSORPTION, a, done, context);
  }
  if (sections & SECTION_STEPS) {
    a->after.assign(pv->initial_probability, pv->initial_probability + c->n + 1);
    a->after[0] = 0.0;
    step_distribution(c, &a->after, a->plan.steps);
    finish(SECTION_STEPS, a, done, context);
  }
  if (sections & SECTION_HITTING) {
    // The passage times of a single target may come through the stationary distribution.
    a->hitting = HITTING();
    solve_hitting(c, targets, &a->hitting, a->unique ? a->pi.data() : nullptr);
    finish(SECTION_HITTING, a, done, context);
  }
  if (sections & SECTION_REWARDS) {
    a->rewards = REWARDS();
    solve_rewards(pv, c, cl, a->pi.data(), (sections & SECTION_STEPS) ? &a->after : nullptr,
                  a->plan.steps, targets, &a->rewards);
    finish(SECTION_REWARDS, a, done, context);
  }
  if (sections & SECTION_COMMITTOR) {
    a->committor = COMMITTOR();
    solve_committor(c, &r->committor, &a->committor);
    finish(SECTION_COMMITTOR, a, done, context);
  }
  if (sections & SECTION_PASSAGE) {
    a->passage = FIRST_PASSAGE();
    solve_passage(pv, c, targets, opt->passage, &a->passage);
    finish(SECTION_PASSAGE, a, done, context);
  }
  if (sections & SECTION_LUMPING) {
    a->lump = LUMPED_CHAIN();
    solve_requested_lump(pv, c, opt, r, &a->lump);
    finish(SECTION_LUMPING, a, done, context);
  }
  solve_classes(c, a, done, context);
  if (sections & SECTION_HORIZON) {
    a->horizon = HORIZON();
    solve_requested_horizon(pv, c, opt, r, &a->horizon);
    finish(SECTION_HORIZON, a, done, context);
  }
  if (sections & SECTION_CONVERSION) {
    a->conversion = PERIOD_CONVERSION();
    solve_conversion(c, opt->conversion, opt->conversion_k, opt->repair, &a->conversion);
    finish(SECTION_CONVERSION, a, done, context);
    // After the section, which says what the file will hold.
    write_conversion(opt->output, pv, &a->conversion);
  }
  if (opt->dot_file != nullptr) {
    a->drawn = write_dot(opt->dot_file, pv, c, cl, opt->precision);
    finish(SECTION_DRAWING, a, done, context);
  }
}
