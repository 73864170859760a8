// fit_draws.cc - pravlin-fit's --draws: transition matrices drawn from the posterior of the
// fitted rows, each analysed as pravlin-analyze analyses a chain, and the answers' medians and
// credible intervals over the draws.
// Part of pravlin; see README.md.
#include "fit_draws.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "analyze.h"
#include "analyze_entropy.h"
#include "analyze_kemeny.h"
#include "cancel.h"
#include "cores.h"

// One row as it is drawn: its destinations and the Dirichlet's shapes; a row that has nothing
// to draw (no observations and no prior, or given probabilities) keeps its fitted values.
struct draw_row {
  std::vector<int> to;        // 1-based, increasing
  std::vector<double> shape;  // Dirichlet parameters; empty: fixed
  std::vector<double> fixed;  // the fitted probabilities when not drawn
};

static std::vector<draw_row> rows_to_draw(const FIT_OPTIONS* opt, const FIT_MODEL* model) {
  const std::size_t k = model->rows.size();
  const bool prior = opt->estimator != ESTIMATOR_MLE;
  std::vector<draw_row> out(k);
  for (std::size_t s = 0; s < k; s++) {
    const FIT_ROW& row = model->rows[s];
    draw_row& d = out[s];
    const bool drawn = model->has_counts && row.kind != ROW_GIVEN && (row.total > 0 || prior);
    std::size_t next = 0;
    for (std::size_t j = 0; j < k; j++) {
      const bool in_cells = next < row.cells.size() && row.cells[next].to == j;
      const double p = in_cells ? row.cells[next].probability : row.rest;
      const std::uint64_t count = in_cells ? row.cells[next].count : 0;
      if (in_cells)
        next++;
      // Under maximum likelihood (prior 0) a transition never seen stays impossible.
      if (drawn ? (count == 0 && !prior) : !(p > 0))
        continue;
      d.to.push_back(static_cast<int>(j) + 1);
      if (drawn)
        d.shape.push_back(static_cast<double>(count) + (prior ? opt->alpha : 0.0));
      else
        d.fixed.push_back(p);
    }
  }
  return out;
}

static void make_chain(const std::vector<draw_row>& rows, const std::vector<double>& p,
                       SPARSE_CHAIN* c) {
  const int n = static_cast<int>(rows.size());
  c->n = n;
  c->row_start.assign(static_cast<std::size_t>(n) + 2, 0);
  c->to.clear();
  c->p.clear();
  std::size_t at = 0;
  for (int s = 1; s <= n; s++) {
    const draw_row& r = rows[static_cast<std::size_t>(s - 1)];
    for (std::size_t e = 0; e < r.to.size(); e++, at++) {
      if (p[at] > 0) {
        c->to.push_back(r.to[e]);
        c->p.push_back(p[at]);
      }
    }
    c->row_start[static_cast<std::size_t>(s) + 1] = c->to.size();
  }
}

static std::uint64_t splitmix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// The draw's probabilities, entry by entry in the rows' order. Its generator comes from the
// seed and the draw's number alone, so that any thread may draw it.
static void draw_matrix(const std::vector<draw_row>& rows, std::uint64_t seed, long index,
                        std::vector<double>* p) {
  std::mt19937_64 rng(splitmix(seed ^ splitmix(static_cast<std::uint64_t>(index))));
  p->clear();
  for (const draw_row& r : rows) {
    if (r.shape.empty()) {
      p->insert(p->end(), r.fixed.begin(), r.fixed.end());
      continue;
    }
    const std::size_t start = p->size();
    double total = 0;
    for (const double a : r.shape) {
      std::gamma_distribution<double> gamma(a, 1.0);
      const double g = gamma(rng);
      p->push_back(g);
      total += g;
    }
    for (std::size_t e = start; e < p->size(); e++)
      (*p)[e] = total > 0 ? (*p)[e] / total : 0.0;
  }
}

static bool same_classes(const CHAIN_CLASSES* a, const CHAIN_CLASSES* b) {
  return a->nbr_classes == b->nbr_classes && a->class_of == b->class_of && a->closed == b->closed;
}

// Where each answer of a draw goes in its row of results: the fitted chain's classes say which
// states are recurrent and which transient.
struct answer_layout {
  std::vector<int> recurrent;  // states, increasing
  std::vector<int> transient;  // states, increasing
  std::vector<int> closed;     // closed classes, increasing
  std::vector<int> kemeny;     // the closed classes of 2 to KEMENY_DENSE_MAX states, increasing
  std::size_t width = 0;       // pi and 1/pi per recurrent; the entropy rate per closed
                               // class; the Kemeny constant per class of kemeny; steps and
                               // one probability per closed class per transient
};

static void analyse(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const answer_layout& lay,
                    double* out) {
  std::vector<double> pi(static_cast<std::size_t>(c->n) + 1, 0.0);
  for (const int k : lay.closed)
    class_stationary(c, cl, k, pi.data());
  const std::size_t r = lay.recurrent.size();
  for (std::size_t i = 0; i < r; i++) {
    out[i] = pi[static_cast<std::size_t>(lay.recurrent[i])];
    out[r + i] = 1.0 / out[i];
  }
  const std::size_t kc = lay.closed.size();
  std::vector<CLASS_ENTROPY> entropy;
  solve_entropy(c, cl, pi.data(), &entropy);
  for (std::size_t j = 0; j < kc; j++)
    out[2 * r + j] = entropy[j].nats;
  // Each class of kemeny is small enough for the exact constant.
  const std::size_t kk = lay.kemeny.size();
  for (std::size_t j = 0; j < kk; j++) {
    CLASS_KEMENY km;
    solve_kemeny(c, cl, lay.kemeny[j], pi.data(), &km);
    out[2 * r + kc + j] = km.value;
  }
  if (lay.transient.empty())
    return;
  ABSORPTION ab;
  solve_absorption(c, cl, &ab);
  const std::size_t t = lay.transient.size();
  double* steps = out + 2 * r + kc + kk;
  double* prob = steps + t;
  for (std::size_t i = 0; i < t; i++) {
    steps[i] = ab.steps[i + 1];
    for (std::size_t j = 0; j < kc; j++)
      prob[i * kc + j] = ab.probability[(i + 1) * (kc + 1) + j + 1];
  }
}

// The rough work of one draw, in operations: a fixed part (the draw's allocations, its classes,
// its entropy rates), each entry drawn; each closed class's stationary distribution (GTH,
// m^3 up to DENSE_MAX_STATES states, m b^2 within its band b beyond); the Kemeny constant of
// each class of lay.kemeny (dense, m^3); the absorption's elimination over the transient states
// within their band (t b^2) with its right sides.
static double draw_work(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const answer_layout& lay) {
  double work = FIT_DRAW_FIXED_WORK + FIT_DRAW_ENTRY_WORK * static_cast<double>(c->to.size());
  for (const int k : lay.closed) {
    const double m = class_size(cl, k);
    if (m > DENSE_MAX_STATES) {
      const double band = class_bandwidth(c, cl, k);
      work += m * band * band;
    } else {
      work += m * m * m;
    }
  }
  for (const int k : lay.kemeny) {
    const double m = class_size(cl, k);
    work += m * m * m;
  }
  if (!lay.transient.empty()) {
    // The band of the transient states in their order: the widest step of a transition
    // between two of them.
    std::vector<long> place(static_cast<std::size_t>(c->n) + 1, -1);
    for (std::size_t i = 0; i < lay.transient.size(); i++)
      place[static_cast<std::size_t>(lay.transient[i])] = static_cast<long>(i);
    long band = 0;
    for (std::size_t i = 0; i < lay.transient.size(); i++) {
      const int u = lay.transient[i];
      for (std::size_t e = c->row_start[static_cast<std::size_t>(u)];
           e < c->row_start[static_cast<std::size_t>(u) + 1]; e++) {
        const long j = place[static_cast<std::size_t>(c->to[e])];
        if (j >= 0)
          band = std::max(band, std::labs(j - static_cast<long>(i)));
      }
    }
    const double t = static_cast<double>(lay.transient.size());
    const double b = static_cast<double>(band);
    work += t * b * b + t * (b + 1) * static_cast<double>(lay.closed.size() + 1);
  }
  return work;
}

// The q-quantile of sorted values, interpolated between order statistics (R's type 7).
static double quantile(const std::vector<double>& v, double q) {
  const double h = static_cast<double>(v.size() - 1) * q;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (h - static_cast<double>(lo)) * (v[hi] - v[lo]);
}

void fit_draw(const FIT_OPTIONS* opt, const FIT_DATA* data, const FIT_MODEL* model,
              FIT_DRAWS* draws) {
  draws->draws = opt->draws;
  draws->seed = opt->seed;
  const std::vector<draw_row> rows = rows_to_draw(opt, model);
  std::vector<double> fitted;
  for (const draw_row& r : rows) {
    // The fitted chain, to take its classes from: the posterior mean, the estimate itself.
    if (r.shape.empty()) {
      fitted.insert(fitted.end(), r.fixed.begin(), r.fixed.end());
    } else {
      double total = 0;
      for (const double a : r.shape)
        total += a;
      for (const double a : r.shape)
        fitted.push_back(a / total);
    }
  }
  SPARSE_CHAIN chain;
  make_chain(rows, fitted, &chain);
  CHAIN_CLASSES classes;
  find_classes(&chain, &classes);
  answer_layout lay;
  for (int k = 1; k <= classes.nbr_classes; k++) {
    if (!classes.closed[static_cast<std::size_t>(k)])
      continue;
    lay.closed.push_back(k);
    // A single state is mixed from the start: its constant is 0, and it is left out.
    if (class_size(&classes, k) > 1 && class_size(&classes, k) <= KEMENY_DENSE_MAX)
      lay.kemeny.push_back(k);
  }
  for (int s = 1; s <= chain.n; s++) {
    if (classes.closed[static_cast<std::size_t>(classes.class_of[static_cast<std::size_t>(s)])])
      lay.recurrent.push_back(s);
    else
      lay.transient.push_back(s);
  }
  lay.width = 2 * lay.recurrent.size() + lay.closed.size() + lay.kemeny.size() +
              lay.transient.size() * (1 + lay.closed.size());
  const auto n = static_cast<std::size_t>(opt->draws);
  const double bytes = static_cast<double>(n) * static_cast<double>(lay.width) * 8.0;
  if (bytes > static_cast<double>(physical_memory()) / 2) {
    fail(
        " *** ERROR: --draws %ld of %zu answers each would need %.0f MB, more than half this "
        "machine's memory\n",
        opt->draws, lay.width, bytes / 1e6);
  }

  // Refused before any draw when it would run for hours: each draw of a chain of 1500 states
  // takes a second or more.
  const double per_draw = draw_work(&chain, &classes, lay);
  const double total = per_draw * static_cast<double>(n);
  if (total > FIT_DRAWS_MAX_WORK) {
    fail(
        " *** ERROR: --draws %ld would take some %.1e operations (%.1e a draw), more than the "
        "limit of %.0e: give fewer draws\n",
        opt->draws, total, per_draw, FIT_DRAWS_MAX_WORK);
  }

  std::vector<double> results(n * lay.width, 0.0);
  std::vector<char> changed(n, 0);
  // Progress on a terminal: the draws done, counted by every thread, shown by the first at
  // most twice a second. It changes nothing the draws compute.
  std::atomic<std::size_t> done{0};
  auto shown = std::chrono::steady_clock::now();
  // Draw i goes to part i % parts: each draw's numbers depend on the seed and i alone, and each
  // lands in its own slot, so the parts' number changes nothing the draws compute.
  const auto parts = static_cast<unsigned>(
      std::max<std::size_t>(1, std::min(static_cast<std::size_t>(std::max(1, opt->threads)), n)));
  run_parts(parts, [&](unsigned part) {
    const std::size_t first = part;
    const std::size_t step = parts;
    std::vector<double> p;
    SPARSE_CHAIN c;
    CHAIN_CLASSES cl;
    for (std::size_t i = first; i < n; i += step) {
      cancel_check();
      draw_matrix(rows, opt->seed, static_cast<long>(i), &p);
      make_chain(rows, p, &c);
      find_classes(&c, &cl);
      if (!same_classes(&cl, &classes)) {
        changed[i] = 1;
      } else {
        analyse(&c, &cl, lay, results.data() + i * lay.width);
      }
      const std::size_t now_done = done.fetch_add(1) + 1;
      if (first == 0 && opt->progress) {
        const auto now = std::chrono::steady_clock::now();
        if (now - shown >= std::chrono::milliseconds(500)) {
          shown = now;
          std::fprintf(stderr, "\r draws: %zu of %zu", now_done, n);
          std::fflush(stderr);
        }
      }
    }
  });
  if (opt->progress)
    std::fputs("\r\033[K", stderr);  // the progress line, cleared

  for (const char c : changed)
    draws->classes_changed += c;
  const double tail = (1.0 - opt->confidence) / 2.0;
  const std::vector<std::string>& names = data->labels.names;
  const auto label = [&](int s) { return names[model->order[static_cast<std::size_t>(s - 1)]]; };
  std::vector<double> v;
  const auto summarise = [&](std::size_t column, const char* item, const std::string& from,
                             const std::string& to) {
    v.clear();
    for (std::size_t i = 0; i < n; i++) {
      if (!changed[i])
        v.push_back(results[i * lay.width + column]);
    }
    FIT_ANSWER a{item, from, to, v.size(), std::nan(""), std::nan(""), std::nan("")};
    if (!v.empty()) {
      std::sort(v.begin(), v.end());
      a.median = quantile(v, 0.5);
      a.lower = quantile(v, tail);
      a.upper = quantile(v, 1.0 - tail);
    }
    draws->answers.push_back(a);
  };
  const std::size_t r = lay.recurrent.size();
  for (std::size_t i = 0; i < r; i++)
    summarise(i, "stationary", label(lay.recurrent[i]), "");
  for (std::size_t i = 0; i < r; i++)
    summarise(r + i, "recurrence_time", label(lay.recurrent[i]), "");
  const std::size_t t = lay.transient.size();
  const std::size_t kc = lay.closed.size();
  // A closed class is named as pravlin-analyze names it in the fitted configuration ("class
  // 2"): named by its first state, it read as that state.
  const auto class_label = [&](std::size_t j) { return class_name(&classes, lay.closed[j]); };
  for (std::size_t j = 0; j < kc; j++)
    summarise(2 * r + j, "entropy_rate", class_label(j), "");
  // A class too large for the exact constant is not drawn: its estimate would cost each draw
  // dozens of times the rest of its analysis. An absorbing chain has no constant. Either
  // way one answer says so in place of a number.
  const auto no_number = [&](const std::string& from, const char* none, const std::string& why) {
    FIT_ANSWER a{"kemeny_constant", from, "", 0, std::nan(""), std::nan(""), std::nan("")};
    a.none = none;
    a.why = why;
    draws->answers.push_back(a);
  };
  std::size_t next = 0;
  for (std::size_t j = 0; j < kc; j++) {
    const int k = lay.closed[j];
    if (next < lay.kemeny.size() && lay.kemeny[next] == k) {
      summarise(2 * r + kc + next, "kemeny_constant", class_label(j), "");
      next++;
    } else if (class_size(&classes, k) > KEMENY_DENSE_MAX) {
      no_number(class_label(j), "not_drawn",
                "not drawn: a class of more than " + std::to_string(KEMENY_DENSE_MAX) + " states");
    }
  }
  if (chain_is_absorbing(&classes))
    no_number("", "absorbing", "none: the chain is absorbing");
  const std::size_t kk = lay.kemeny.size();
  const std::size_t base = 2 * r + kc + kk;
  for (std::size_t i = 0; i < t; i++)
    summarise(base + i, "steps_to_absorption", label(lay.transient[i]), "");
  for (std::size_t i = 0; i < t; i++) {
    for (std::size_t j = 0; j < kc; j++)
      summarise(base + t + i * kc + j, "absorption", label(lay.transient[i]), class_label(j));
  }
}
