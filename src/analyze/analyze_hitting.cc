// analyze_hitting.cc - hitting a set of target states: the probability of ever reaching it
// and the expected steps to do so, from every state, and mean first passage times
// (solve_hitting).
// Part of pravlin; see README.md.
#include "analyze_hitting.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "analyze_sparse.h"
#include "analyze_states.h"

// The relative residual above which hitting's numbers are said to be untrustworthy.
static const double HITTING_RESIDUAL_GOAL = 1e-10;
// How far rounding may take an answer past what is possible before it counts as impossible:
// a step count of 1 - 1e-16 is a count of 1, not a sign of an ill-conditioned system.
static const double HITTING_ROUNDING = 1e-12;

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

// I - Q over the states with index[s] > 0 (numbered 1..m), Q the transitions among them. The
// diagonal of I - Q is each state's outflow to other states, a sum of positive terms:
// 1 - P[s][s] would lose every digit of a state that leaves with probability 1e-17.
SPARSE_MATRIX among_matrix(const SPARSE_CHAIN* c, const std::vector<int>& index, int m) {
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
  a.makeCompressed();
  return a;
}

// The largest absolute residual of a x = b, against the sizes involved (each row of I - Q
// totals at most 2 in absolute value).
static double among_residual(const SPARSE_MATRIX& a, const Eigen::VectorXd& x,
                             const Eigen::VectorXd& b) {
  const Eigen::VectorXd r = a * x - b;
  const double size = 2.0 * x.cwiseAbs().maxCoeff() + b.cwiseAbs().maxCoeff();
  return size > 0.0 ? r.cwiseAbs().maxCoeff() / size : 0.0;
}

// (I - Q) x = b over the states with index[s] > 0 (numbered 1..m) by elimination within the
// band, as the absorption systems are solved, when the band's work m band^2 is at most
// most_work: exact to rounding, where the sparse solvers lose digits on a slow chain. 0 when
// it is not cheap enough, or its memory cannot be had.
static int banded_among(const SPARSE_CHAIN* c, const std::vector<int>& index, int m,
                        const std::vector<double>& b, std::vector<double>* x, double most_work) {
  int band = 0;
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; index[u] > 0 && e < c->row_start[u + 1]; e++) {
      if (index[c->to[e]] > 0)
        band = std::max(band, std::abs(index[c->to[e]] - index[u]));
    }
  }
  if (static_cast<double>(m) * band * band > most_work)
    return 0;
  const std::size_t w = 2 * static_cast<std::size_t>(band) + 1;
  std::vector<double> a, s, y;
  try {
    a.assign((static_cast<std::size_t>(m) + 1) * w, 0.0);
    s.assign(static_cast<std::size_t>(m) + 1, 0.0);
    y.assign(static_cast<std::size_t>(m) + 1, 0.0);
  } catch (const std::exception&) {  // bad_alloc: the sparse solvers may still manage
    return 0;
  }
  for (int u = 1; u <= c->n; u++) {
    const int i = index[u];
    if (i <= 0)
      continue;
    y[i] = b[static_cast<std::size_t>(i) - 1];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int j = index[c->to[e]];
      if (c->to[e] == u)
        continue;
      if (j > 0) {
        a[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j - i + band)] = c->p[e];
      } else {
        s[i] += c->p[e];
      }
    }
  }
  banded_elimination(a.data(), m, band, s.data(), y.data(), 1);
  for (int i = 1; i <= m; i++)
    (*x)[static_cast<std::size_t>(i) - 1] = y[i];
  return 1;
}

// Mean first passage times into the single state j of a chain with one closed class, which
// holds j, into steps[s] for the states s with index[s] > 0 (all but j). Removing one state
// from a fast-mixing chain of n states leaves I - Q nearly singular (its smallest eigenvalue
// is about pi_j): its system crawls however it is solved. Through the stationary distribution
// it is well conditioned instead: (I - P) y = e_j - pi_j 1 is consistent (pi (I - P) = 0 and
// pi (e_j - pi_j 1) = 0), its solutions differ by a constant, and m_i = (y_j - y_i) / pi_j
// solves (I - Q) m = 1, whose matrix is a. Returns that system's residual as among_residual
// measures it, or HUGE_VAL when the route fails (a slow-mixing chain, where the direct system
// does better).
static double passage_times(const SPARSE_CHAIN* c, int j, const std::vector<int>& index,
                            const SPARSE_MATRIX& a, const double* known_pi,
                            std::vector<double>* steps) {
  const int m = static_cast<int>(a.rows());
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<double> pi;
  if (known_pi != nullptr) {
    pi.assign(known_pi, known_pi + n + 1);
  } else {
    CHAIN_CLASSES cl;
    find_classes(c, &cl);
    pi.assign(n + 1, 0.0);
    class_stationary(c, &cl, cl.class_of[j], pi.data());
  }
  std::vector<int> all(n + 1, 0);
  for (int s = 1; s <= c->n; s++)
    all[s] = s;
  Eigen::MatrixXd b(c->n, 1), y;
  for (int s = 1; s <= c->n; s++)
    b(s - 1, 0) = (s == j ? 1.0 : 0.0) - pi[j];
  solve_iteratively(among_matrix(c, all, c->n), b.sparseView(), &y, 1,
                    HITTING_RESIDUAL_GOAL * 1e-3);
  if (y.rows() != c->n)
    return HUGE_VAL;
  Eigen::VectorXd x(m), ones = Eigen::VectorXd::Ones(m);
  for (int s = 1; s <= c->n; s++) {
    if (index[s] > 0)
      x(index[s] - 1) = (y(j - 1, 0) - y(s - 1, 0)) / pi[j];
  }
  if (!(x.minCoeff() >= 1.0 - HITTING_ROUNDING))
    return HUGE_VAL;
  const double residual = among_residual(a, x, ones);
  if (!(residual <= HITTING_RESIDUAL_GOAL))
    return HUGE_VAL;
  for (int i = 0; i < m; i++)
    (*steps)[static_cast<std::size_t>(i)] = x(i);
  return residual;
}

// Solves (I - Q) x = b over the states with index[s] > 0 (numbered 1..m); b must not be
// negative. passage_target, when not 0, is the single target of a chain with one closed class
// whose steps these are (b all 1), and pi that class's stationary distribution when already
// solved (else null). Returns the largest absolute residual, as among_residual measures it.
static double solve_among(const SPARSE_CHAIN* c, const std::vector<int>& index, int m,
                          const std::vector<double>& b, std::vector<double>* x, int passage_target,
                          const double* pi) {
  x->assign(static_cast<std::size_t>(m), 0.0);
  if (m == 0)
    return 0.0;
  const SPARSE_MATRIX a = among_matrix(c, index, m);
  const Eigen::MatrixXd rhs = Eigen::Map<const Eigen::VectorXd>(b.data(), m);
  // Up to the dense size every system is eliminated, exactly as the absorption systems are;
  // beyond it a narrow band still is, as the stationary distribution of such a class is.
  const double most_work = m <= DENSE_MAX_STATES ? HUGE_VAL : BANDED_MAX_WORK;
  if (banded_among(c, index, m, b, x, most_work)) {
    return among_residual(a, Eigen::Map<const Eigen::VectorXd>(x->data(), m), rhs.col(0));
  }
  if (passage_target != 0) {
    const double residual = passage_times(c, passage_target, index, a, pi, x);
    if (residual != HUGE_VAL)
      return residual;
  }
  // The shared sparse solver, asked for three digits beyond the goal (its residual is in the
  // 1-norm relative to ||b||_1). Its verdict is not the last word: the residual below decides.
  Eigen::MatrixXd solution;
  solve_with_goal(a, rhs.sparseView(), &solution, 1, HITTING_RESIDUAL_GOAL * 1e-3);
  if (solution.rows() != m)
    fail(" *** ERROR: the hitting system of %d states could not be solved\n", m);
  for (int i = 0; i < m; i++)
    (*x)[static_cast<std::size_t>(i)] = solution(i, 0);
  return among_residual(a, solution.col(0), rhs.col(0));
}

void solve_hitting(const SPARSE_CHAIN* c, const std::vector<int>& targets, HITTING* h,
                   const double* pi) {
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
  std::vector<double> b(static_cast<std::size_t>(nc), 1.0), x(static_cast<std::size_t>(nc));
  // A single target that every state reaches: beyond the dense size, the passage times may come
  // through the stationary distribution.
  const int passage_target =
      targets.size() == 1 && nc + 1 == c->n && nc > DENSE_MAX_STATES ? targets[0] : 0;
  h->steps_residual = solve_among(c, certain, nc, b, &x, passage_target, pi);
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
  h->probability_residual = solve_among(c, uncertain, nu, b, &x, 0, nullptr);
  for (int s = 1; s <= c->n; s++) {
    if (uncertain[s] > 0)
      h->probability[s] = x[static_cast<std::size_t>(uncertain[s]) - 1];
  }
  // The residual bounds the error against the largest number only: on a slow chain the
  // smaller ones can come out impossible.
  h->trusted = h->probability_residual <= HITTING_RESIDUAL_GOAL &&
               h->steps_residual <= HITTING_RESIDUAL_GOAL;
  for (int s = 1; s <= c->n; s++) {
    if (!(h->probability[s] >= -HITTING_ROUNDING && h->probability[s] <= 1.0 + HITTING_ROUNDING) ||
        (!target[s] && !(h->steps[s] >= 1.0 - HITTING_ROUNDING)))
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
  const bool left_out = state_lines_left_out(out, pv, static_cast<std::size_t>(c->n));
  for (int s = 1; s <= c->n && !left_out; s++) {
    std::fprintf(out, "  ");
    print_state(out, pv, s);
    std::fprintf(out, ": probability %.*f, steps ", precision, h->probability[s]);
    if (std::isinf(h->steps[s])) {
      std::fprintf(out, h->probability[s] == 0.0 ? "infinite (it is never reached)\n"
                                                 : "infinite (it may never be reached)\n");
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
