// analyze_entropy.cc - the entropy rate of each closed class and whether it satisfies detailed
// balance (solve_entropy).
// Part of pravlin; see README.md.
#include "analyze_entropy.h"

#include <algorithm>
#include <cmath>

#include "analyze_among.h"
#include "analyze_json_values.h"
#include "analyze_states.h"

using json = nlohmann::ordered_json;

// The largest relative violation of detailed balance over the pairs of state u, into *e; the
// row of u and the transitions into u are both in increasing order of the other state.
static void check_balance(const SPARSE_CHAIN* c, const REVERSED_CHAIN* r, const CHAIN_CLASSES* cl,
                          const double* pi, int u, CLASS_ENTROPY* e) {
  const int k = cl->class_of[u];
  std::size_t out = c->row_start[u], in = r->in_start[u];
  const std::size_t out_end = c->row_start[u + 1], in_end = r->in_start[u + 1];
  while (out < out_end || in < in_end) {
    const int j_out = out < out_end ? c->to[out] : c->n + 1;
    const int j_in = in < in_end ? r->in_from[in] : c->n + 1;
    const int j = j_out < j_in ? j_out : j_in;
    const double forward = j_out == j ? pi[u] * c->p[out++] : 0.0;
    const double backward = j_in == j ? pi[j] * r->in_p[in++] : 0.0;
    // A transient state flows into the class but never back: not a pair of the class.
    if (j == u || cl->class_of[j] != k)
      continue;
    const double larger = std::fmax(forward, backward);
    if (larger == 0.0)
      continue;
    const double v = std::fabs(forward - backward) / larger;
    // Each pair is met from both ends, first from its smaller state: the states and their
    // rows go in increasing order, so the pair kept is the first in that order.
    if (v > e->violation) {
      e->violation = v;
      e->from = std::min(u, j);
      e->to = std::max(u, j);
    }
  }
}

void solve_entropy(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const double* pi,
                   std::vector<CLASS_ENTROPY>* e) {
  e->clear();
  REVERSED_CHAIN r;
  reverse_chain(c, &r);
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    CLASS_ENTROPY x = {k, 0.0, 0.0, 0.0, 0, 0, 1};
    for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++) {
      const int u = cl->member[i];
      double h = 0.0;
      for (std::size_t t = c->row_start[u]; t < c->row_start[u + 1]; t++)
        h -= c->p[t] * std::log(c->p[t]);
      x.nats += pi[u] * h;
      check_balance(c, &r, cl, pi, u, &x);
    }
    x.bits = x.nats / std::log(2.0);
    x.reversible = x.violation <= REVERSIBLE_TOLERANCE;
    e->push_back(x);
  }
}

// "class 1, the whole chain" or "class 2".
static void print_class(FILE* out, const CHAIN_CLASSES* cl, int k) {
  std::fprintf(out, "  class %d%s: ", k, cl->nbr_classes == 1 ? ", the whole chain" : "");
}

void print_entropy(FILE* out, const PRAVLIN* pv, const CHAIN_CLASSES* cl,
                   const std::vector<CLASS_ENTROPY>& e, int precision) {
  std::fprintf(out, "\nentropy rate (-sum_i pi_i sum_j P_ij ln P_ij, a step):\n");
  for (const CLASS_ENTROPY& x : e) {
    print_class(out, cl, x.klass);
    std::fprintf(out, "%.*f nats, %.*f bits\n", precision, x.nats, precision, x.bits);
  }
  std::fprintf(out, "\nreversibility (detailed balance pi_i P_ij = pi_j P_ji, within %.0e):\n",
               REVERSIBLE_TOLERANCE);
  for (const CLASS_ENTROPY& x : e) {
    print_class(out, cl, x.klass);
    std::fprintf(out, "%s, largest relative violation %.1e",
                 x.reversible ? "reversible" : "not reversible", x.violation);
    if (x.from != 0) {
      std::fprintf(out, " (between ");
      print_state(out, pv, x.from);
      std::fprintf(out, " and ");
      print_state(out, pv, x.to);
      std::fprintf(out, ")");
    }
    std::fprintf(out, "\n");
  }
}

void add_entropy_json(const std::vector<CLASS_ENTROPY>& e, json* doc) {
  json rate = json::array(), balance = json::array();
  for (const CLASS_ENTROPY& x : e) {
    rate.push_back(
        {{"class", x.klass}, {"nats", json_number(x.nats)}, {"bits", json_number(x.bits)}});
    balance.push_back({{"class", x.klass},
                       {"reversible", x.reversible != 0},
                       {"largest_violation", json_number(x.violation)},
                       {"between", x.from != 0 ? json::array({x.from, x.to}) : json(nullptr)}});
  }
  (*doc)["entropy_rate"] = rate;
  (*doc)["reversibility"] = balance;
}
