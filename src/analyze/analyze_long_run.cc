// analyze_long_run.cc - mean recurrence times, and where a chain with several closed classes
// spends its time in the long run from its initial probabilities (solve_long_run).
// Part of pravlin; see README.md.
#include "analyze_long_run.h"

#include "analyze_states.h"

void solve_long_run(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, LONG_RUN* lr, ABSORPTION* ab) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  lr->enter.assign(static_cast<std::size_t>(cl->nbr_classes) + 1, 0.0);
  lr->share.assign(n + 1, 0.0);
  lr->periodic = 0;
  int from_transient = 0;
  for (int s = 1; s <= c->n; s++) {
    const int k = cl->class_of[s];
    if (cl->closed[k]) {
      lr->enter[k] += pv->initial_probability[s];
    } else if (pv->initial_probability[s] > 0.0) {
      from_transient = 1;
    }
  }
  // A start on transient states is carried to the closed classes by the absorption
  // probabilities; a start on closed states alone needs no solve.
  if (from_transient) {
    ABSORPTION own;
    if (ab == nullptr)
      ab = &own;
    if (ab->state.empty())
      solve_absorption(c, cl, ab);
    const std::size_t nb = static_cast<std::size_t>(ab->nbr_closed) + 1;
    for (int i = 1; i <= ab->nbr_transient; i++) {
      const double start = pv->initial_probability[ab->state[i]];
      if (start == 0.0)
        continue;
      for (std::size_t j = 1; j < nb; j++)
        lr->enter[ab->closed_class[j]] += start * ab->probability[i * nb + j];
    }
  }
  for (int s = 1; s <= c->n; s++) {
    const int k = cl->class_of[s];
    if (cl->closed[k])
      lr->share[s] = lr->enter[k] * pi[s];
  }
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k] && cl->period[k] > 1 && lr->enter[k] > 0.0)
      lr->periodic = 1;
  }
}

void print_long_run(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, const LONG_RUN* lr, int precision) {
  std::fprintf(out, "\nmean recurrence times (1 / stationary probability, in steps):\n");
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    print_state_lines(out, pv, cl->member.data() + cl->first[k], cl->first[k + 1] - cl->first[k],
                      pi, precision, 1);
  }
  if (lr == nullptr)
    return;
  std::fprintf(out, "\nlong run from the initial probabilities, %s:\n",
               lr->periodic ? "a long-run average, not a limit (a periodic class is entered, and "
                              "its distribution cycles)"
                            : "the limiting distribution");
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k])
      std::fprintf(out, "  class %d entered with probability %.*f\n", k, precision, lr->enter[k]);
  }
  std::vector<int> all(static_cast<std::size_t>(c->n));
  for (int s = 1; s <= c->n; s++)
    all[s - 1] = s;
  print_state_lines(out, pv, all.data(), all.size(), lr->share.data(), precision, 0);
}
