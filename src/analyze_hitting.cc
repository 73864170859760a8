// analyze_hitting.cc - hitting a set of target states: the probability of ever reaching it
// and the expected steps to do so, from every state, and mean first passage times
// (solve_hitting).
// Part of pravlin; see README.md.
#include "analyze_more.h"

#include <cmath>
#include <cstring>

#include "analyze_sparse.h"

// The relative residual above which hitting's numbers are said to be untrustworthy.
static const double HITTING_RESIDUAL_GOAL = 1e-10;

int parse_targets(const PRAVLIN* pv, const char* text, std::vector<int>* targets) {
  targets->clear();
  const std::string all = text;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(',', start);
    if (end == std::string::npos)
      end = all.size();
    const std::string item = all.substr(start, end - start);
    start = end + 1;
    int state = 0;
    const bool number = !item.empty() && item.find_first_not_of("0123456789") == std::string::npos;
    if (number && item.size() <= 10) {
      const long v = std::strtol(item.c_str(), nullptr, 10);
      if (v >= 1 && v <= pv->nbr_states)
        state = static_cast<int>(v);
    }
    for (int s = 1; state == 0 && s <= pv->nbr_states; s++) {
      if (pv->state_name[s] != nullptr && item == pv->state_name[s])
        state = s;
    }
    if (state == 0)
      fail(" *** ERROR: --target: no state numbered or named (%s)\n", item.c_str());
    targets->push_back(state);
  }
  return static_cast<int>(targets->size());
}

// The states that reach a marked state, by breadth-first search over the reversed transitions,
// passing only through states that may be left (leave[u] != 0). marked[] grows in place.
static void reached_backwards(const SPARSE_CHAIN* c, const std::vector<std::size_t>& in_start,
                              const std::vector<int>& in_from, const std::vector<char>& leave,
                              std::vector<char>* marked) {
  std::vector<int> queue;
  for (int s = 1; s <= c->n; s++) {
    if ((*marked)[s])
      queue.push_back(s);
  }
  for (std::size_t head = 0; head < queue.size(); head++) {
    const int v = queue[head];
    for (std::size_t e = in_start[v]; e < in_start[v + 1]; e++) {
      const int u = in_from[e];
      if (!(*marked)[u] && leave[u]) {
        (*marked)[u] = 1;
        queue.push_back(u);
      }
    }
  }
}

// Solves (I - Q) x = b over the states with index[s] > 0 (numbered 1..m), Q the transitions
// among them. The diagonal of I - Q is each state's outflow to other states, a sum of positive
// terms: 1 - P[s][s] would lose every digit of a state that leaves with probability 1e-17.
// Returns the largest absolute residual.
static double solve_among(const SPARSE_CHAIN* c, const std::vector<int>& index, int m,
                          const std::vector<double>& b, std::vector<double>* x) {
  x->assign(static_cast<std::size_t>(m), 0.0);
  if (m == 0)
    return 0.0;
  std::vector<Eigen::Triplet<double>> entries;
  std::vector<double> diagonal(static_cast<std::size_t>(m), 0.0);
  for (int u = 1; u <= c->n; u++) {
    const int i = index[u] - 1;
    if (i < 0)
      continue;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int v = c->to[e];
      if (v == u)
        continue;
      diagonal[i] += c->p[e];
      if (index[v] > 0)
        entries.emplace_back(i, index[v] - 1, -c->p[e]);
    }
  }
  for (int i = 0; i < m; i++)
    entries.emplace_back(i, i, diagonal[i]);
  SPARSE_MATRIX a(m, m);
  a.setFromTriplets(entries.begin(), entries.end());
  entries = std::vector<Eigen::Triplet<double>>();
  a.makeCompressed();
  const Eigen::MatrixXd rhs = Eigen::Map<const Eigen::VectorXd>(b.data(), m);
  // The shared sparse solver, asked for three digits beyond the goal (its residual is in the
  // 1-norm relative to ||b||_1). Its verdict is not the last word: the residual below decides,
  // against the sizes involved (each row of I - Q totals at most 2 in absolute value).
  Eigen::MatrixXd solution;
  solve_with_goal(a, rhs, &solution, 1, HITTING_RESIDUAL_GOAL * 1e-3);
  if (solution.rows() != m)
    fail(" *** ERROR: the hitting system of %d states could not be solved\n", m);
  const Eigen::VectorXd r = a * solution.col(0) - rhs.col(0);
  for (int i = 0; i < m; i++)
    (*x)[static_cast<std::size_t>(i)] = solution(i, 0);
  const double size = 2.0 * solution.cwiseAbs().maxCoeff() + rhs.cwiseAbs().maxCoeff();
  return size > 0.0 ? r.cwiseAbs().maxCoeff() / size : 0.0;
}

void solve_hitting(const SPARSE_CHAIN* c, const std::vector<int>& targets, HITTING* h) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  // The reversed transitions, for searches backwards from the target.
  std::vector<std::size_t> in_start(n + 2, 0);
  std::vector<int> in_from(c->to.size(), 0);
  for (int v : c->to)
    in_start[static_cast<std::size_t>(v) + 1]++;
  for (std::size_t i = 1; i < n + 2; i++)
    in_start[i] += in_start[i - 1];
  std::vector<std::size_t> fill(in_start.begin(), in_start.end() - 1);
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++)
      in_from[fill[c->to[e]]++] = u;
  }

  std::vector<char> target(n + 1, 0), free_to_leave(n + 1, 1);
  for (int s : targets)
    target[s] = 1;
  // The chain stops at the target: a path through it has already hit it.
  for (int s = 1; s <= c->n; s++)
    free_to_leave[s] = static_cast<char>(target[s] == 0);
  std::vector<char> reaches = target;
  reached_backwards(c, in_start, in_from, free_to_leave, &reaches);
  // States that may never hit: those that can get, without passing the target, to a state from
  // which it cannot be reached.
  std::vector<char> may_miss(n + 1, 0);
  for (int s = 1; s <= c->n; s++)
    may_miss[s] = static_cast<char>(reaches[s] == 0);
  reached_backwards(c, in_start, in_from, free_to_leave, &may_miss);

  h->probability.assign(n + 1, 0.0);
  h->steps.assign(n + 1, HUGE_VAL);
  // Certain states: probability exactly 1, steps from the system over them alone (they move
  // only among themselves and into the target). Uncertain ones that reach: probability from the
  // system over them, with the certain states and the target as its right side.
  std::vector<int> certain(n + 1, 0), uncertain(n + 1, 0);
  int nc = 0, nu = 0;
  for (int s = 1; s <= c->n; s++) {
    if (target[s]) {
      h->probability[s] = 1.0;
      h->steps[s] = 0.0;
    } else if (!may_miss[s]) {
      certain[s] = ++nc;
      h->probability[s] = 1.0;
    } else if (reaches[s]) {
      uncertain[s] = ++nu;
    }
  }
  std::vector<double> b(static_cast<std::size_t>(nc), 1.0), x;
  h->steps_residual = solve_among(c, certain, nc, b, &x);
  for (int s = 1; s <= c->n; s++) {
    if (certain[s] > 0)
      h->steps[s] = x[static_cast<std::size_t>(certain[s]) - 1];
  }
  b.assign(static_cast<std::size_t>(nu), 0.0);
  for (int u = 1; u <= c->n; u++) {
    if (uncertain[u] == 0)
      continue;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      if (target[c->to[e]] || certain[c->to[e]] > 0)
        b[static_cast<std::size_t>(uncertain[u]) - 1] += c->p[e];
    }
  }
  h->probability_residual = solve_among(c, uncertain, nu, b, &x);
  for (int s = 1; s <= c->n; s++) {
    if (uncertain[s] > 0)
      h->probability[s] = x[static_cast<std::size_t>(uncertain[s]) - 1];
  }
  // The residual bounds the error against the largest number only: on a slow chain the
  // smaller ones can come out impossible.
  h->trusted = h->probability_residual <= HITTING_RESIDUAL_GOAL &&
               h->steps_residual <= HITTING_RESIDUAL_GOAL;
  for (int s = 1; s <= c->n; s++) {
    if (!(h->probability[s] >= 0.0 && h->probability[s] <= 1.0) ||
        (!target[s] && !(h->steps[s] >= 1.0)))
      h->trusted = 0;
  }
  // A single target every state reaches for certain: the steps are mean first passage times,
  // and one step out of it plus the passage back is its mean return time.
  h->return_time = -1.0;
  if (targets.size() == 1 && nc + 1 == c->n) {
    const int j = targets[0];
    double m = 1.0;
    for (std::size_t e = c->row_start[j]; e < c->row_start[j + 1]; e++)
      m += c->p[e] * h->steps[c->to[e]];
    h->return_time = m;
  }
}

static void print_state(FILE* out, const PRAVLIN* pv, int s) {
  if (pv->state_name[s] != nullptr) {
    std::fprintf(out, "%d %s", s, pv->state_name[s]);
  } else {
    std::fprintf(out, "%d", s);
  }
}

void print_hitting(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                   const std::vector<int>& targets, const HITTING* h, int precision) {
  std::fprintf(out, "\nhitting ");
  for (std::size_t i = 0; i < targets.size(); i++) {
    std::fprintf(out, "%s", i > 0 ? ", " : "");
    print_state(out, pv, targets[i]);
  }
  std::fprintf(out,
               ": the probability of ever reaching it, and the expected steps when that is "
               "certain\n");
  for (int s = 1; s <= c->n; s++) {
    std::fprintf(out, "  ");
    print_state(out, pv, s);
    std::fprintf(out, ": probability %.*f, steps ", precision, h->probability[s]);
    if (std::isinf(h->steps[s])) {
      std::fprintf(out, "infinite (it may never be reached)\n");
    } else {
      std::fprintf(out, "%.*f\n", precision, h->steps[s]);
    }
  }
  std::fprintf(out, "  largest relative residual: probabilities %.1e, steps %.1e\n",
               h->probability_residual, h->steps_residual);
  if (!h->trusted) {
    std::fprintf(out,
                 "  but these numbers cannot be trusted: the system is too ill-conditioned (a "
                 "residual above %.0e, or steps below 1 or a probability outside 0 to 1)\n",
                 HITTING_RESIDUAL_GOAL);
  }
  if (h->return_time >= 0.0) {
    std::fprintf(out,
                 "  every state reaches it for certain: the steps are mean first passage "
                 "times, and its mean return time is %.*f\n",
                 precision, h->return_time);
  }
}
