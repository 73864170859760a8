// fit_order.cc - pravlin-fit's higher orders: the K-th order chain written as a first-order
// chain on K-tuples of states, and the comparison of orders 0..K.
// Part of pravlin; see README.md.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "fit.h"
#include "fit_limits.h"
#include "fit_order.h"
#include "fit_pairs.h"
#include "fit_read.h"

// Bytes of the dense matrix pravlin would hold for t states.
static double matrix_bytes(double t) {
  return (t + 1) * (t + 1) * 8.0;
}

static void refuse_tuples(const FIT_DATA* data, long order, double t) {
  fail(
      " *** ERROR: %s: --order %ld gives %.0f tuples of states: pravlin would need %.0f MB for "
      "their matrix, more than this machine's memory\n",
      data->name.c_str(), order, t, matrix_bytes(t) / 1e6);
}

constexpr std::uint64_t MERSENNE61 = (std::uint64_t{1} << 61) - 1;

static std::uint64_t mul61(std::uint64_t a, std::uint64_t b) {
  __extension__ typedef unsigned __int128 wide;
  const wide x = static_cast<wide>(a) * b;
  const std::uint64_t r =
      static_cast<std::uint64_t>(x & MERSENNE61) + static_cast<std::uint64_t>(x >> 61);
  return r >= MERSENNE61 ? r - MERSENNE61 : r;
}

// The distinct windows of k observations within the runs of the kept sequences, counted by two
// rolling polynomial hashes modulo 2^61 - 1 of each window, without naming any: two windows
// taken for one (a chance near 2^-120 a pair) would only lower the count by one.
static std::uint64_t distinct_windows(const std::vector<std::uint32_t>& kept, std::size_t k) {
  const std::uint64_t base[2] = {0x1B873593A5D2C1ULL, 0x0CC9E2D51B873593ULL};
  std::uint64_t top[2] = {1, 1};  // base^(k - 1): the weight of a window's oldest state
  for (int b = 0; b < 2; b++) {
    for (std::size_t i = 1; i < k; i++)
      top[b] = mul61(top[b], base[b]);
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> hashes;
  std::uint64_t h[2] = {0, 0};
  std::size_t run = 0;
  for (std::size_t i = 0; i < kept.size(); i++) {
    const std::uint32_t s = kept[i];
    if (s == FIT_KEPT_END || s == FIT_KEPT_BREAK) {
      run = 0;
      h[0] = h[1] = 0;
      continue;
    }
    run++;
    for (int b = 0; b < 2; b++) {
      if (run > k)
        h[b] = (h[b] + MERSENNE61 - mul61(kept[i - k] + std::uint64_t{1}, top[b])) % MERSENNE61;
      h[b] = (mul61(h[b], base[b]) + s + 1) % MERSENNE61;
    }
    if (run >= k)
      hashes.emplace_back(h[0], h[1]);
  }
  std::sort(hashes.begin(), hashes.end());
  return static_cast<std::uint64_t>(std::unique(hashes.begin(), hashes.end()) - hashes.begin());
}

// The tuples number at most the windows of K observations, and at most m^K: while that many
// could be held nothing is counted. Otherwise they are counted before any is named, since the
// names of long tuples take far more memory than their count (3.7 GB for --order 10000 on a
// file of 400 KB), and refused when pravlin could not hold their matrix.
static void check_tuples_first(const FIT_DATA* data, long order) {
  const auto k = static_cast<std::size_t>(order);
  double windows = 0;
  std::size_t run = 0;
  for (const std::uint32_t s : data->kept) {
    run = s == FIT_KEPT_END || s == FIT_KEPT_BREAK ? 0 : run + 1;
    if (run >= k)
      windows++;
  }
  const double m = static_cast<double>(data->labels.names.size());
  const double bound = std::min(windows, std::pow(m, static_cast<double>(order)));
  const double memory = static_cast<double>(physical_memory());
  if (matrix_bytes(bound) <= memory)
    return;
  const auto t = static_cast<double>(distinct_windows(data->kept, k));
  if (matrix_bytes(t) > memory)
    refuse_tuples(data, order, t);
}

void fit_tuples(const FIT_OPTIONS* opt, const FIT_DATA* data, long order, FIT_DATA* tuples) {
  const std::vector<std::string>& names = data->labels.names;
  for (const std::string& label : names) {
    if (label.find(FIT_TUPLE_SEPARATOR) != std::string::npos) {
      fail(
          " *** ERROR: %s: the label (%s) holds \"%c\", which --order puts between the labels "
          "of a tuple\n",
          data->name.c_str(), label.c_str(), FIT_TUPLE_SEPARATOR);
    }
  }
  check_tuples_first(data, order);
  tuples->form = data->form;
  tuples->name = data->name;
  tuples->init_year_flag = data->init_year_flag;
  tuples->init_year = data->init_year;
  tuples->test_flag = data->test_flag;
  tuples->max_bins = data->max_bins;
  tuples->nbr_breaks = data->nbr_breaks;
  const auto k = static_cast<std::size_t>(order);
  // Each sequence becomes the sequence of its windows of K observations; a missing cell ends
  // a run of windows, as it ends a run of transitions.
  FIT_SEQUENCE seq;
  std::vector<std::uint32_t> window;
  std::string name;
  for (const std::uint32_t s : data->kept) {
    if (s == FIT_KEPT_END || s == FIT_KEPT_BREAK) {
      window.clear();
      if (s == FIT_KEPT_END) {
        if (seq.started) {
          tuples->nbr_sequences++;
          tuples->longest = std::max(tuples->longest, seq.t);
        }
        seq = FIT_SEQUENCE{};
      } else if (seq.started) {
        fit_observe(tuples, &seq, -1);
        tuples->nbr_breaks--;  // counted once, in the data's own
      }
      continue;
    }
    window.push_back(s);
    if (window.size() > k)
      window.erase(window.begin());
    if (window.size() < k)
      continue;
    name.clear();
    for (std::size_t i = 0; i < k; i++) {
      if (i > 0)
        name.push_back(FIT_TUPLE_SEPARATOR);
      name += names[window[i]];
    }
    fit_observe(tuples, &seq, label_intern(&tuples->labels, name));
  }
  fit_pairs_flush(tuples);
  if (tuples->nbr_transitions == 0) {
    fail(" *** ERROR: %s: no run of more than %ld observations: --order %ld has no transitions\n",
         data->name.c_str(), order, order);
  }
  if (tuples->test_flag && tuples->labels.names.size() > FIT_MAX_TEST_STATES) {
    fail(" *** ERROR: %s: --order %ld gives more than %zu tuples for --test\n", data->name.c_str(),
         order, FIT_MAX_TEST_STATES);
  }
  tuples->first.resize(tuples->labels.names.size(), 0);
  // pravlin holds the matrix of the tuples dense: refused here with the count it would need.
  const double t = static_cast<double>(tuples->labels.names.size());
  if (matrix_bytes(t) > static_cast<double>(physical_memory()))
    refuse_tuples(data, order, t);
  (void)opt;
}

// Ids of the contexts of one length: the previous context's id and one more state.
struct context_ids {
  std::unordered_map<std::uint64_t, std::uint32_t> ids;
  std::uint32_t get(std::uint64_t key) {
    const auto it = ids.emplace(key, static_cast<std::uint32_t>(ids.size()));
    if (ids.size() > FIT_MAX_TEST_STATES)
      fail(" *** ERROR: --select-order: more than %zu contexts of one length\n",
           FIT_MAX_TEST_STATES);
    return it.first->second;
  }
};

void fit_select_order(const FIT_DATA* data, long max_order, FIT_ORDER_CHOICE* choice) {
  const auto top = static_cast<std::size_t>(max_order);
  const double m = static_cast<double>(data->labels.names.size());
  // ctx[r] of a position: the id of its r states before, the id of ctx[r - 1] and one state
  // more; cells[r] counts (the state r + 1 back, ctx[r], the state) for the test of order r
  // against r + 1, and pairs[r] (ctx[r], state) for the likelihood of order r.
  std::vector<context_ids> ids(top + 1);
  std::vector<COUNT_MAP> cells(top), pairs(top + 1);
  std::vector<std::uint32_t> run;  // the states since the last break
  std::vector<std::uint32_t> ctx(top + 1, 0);
  for (const std::uint32_t s : data->kept) {
    if (s == FIT_KEPT_END || s == FIT_KEPT_BREAK) {
      run.clear();
      continue;
    }
    run.push_back(s);
    const std::size_t at = run.size() - 1;
    if (at < top)
      continue;  // every order is scored on the same observations
    choice->observations++;
    for (std::size_t r = 1; r <= top; r++)
      ctx[r] = ids[r].get(std::uint64_t{ctx[r - 1]} << 32 | run[at - r]);
    for (std::size_t r = 0; r <= top; r++) {
      count_map_add(&pairs[r], std::uint64_t{ctx[r]} << 21 | s, 1);
      if (r < top)
        count_map_add(&cells[r],
                      std::uint64_t{run[at - r - 1]} << 42 | std::uint64_t{ctx[r]} << 21 | s, 1);
    }
  }
  // Every order is scored on what follows the first K observations of each run: with none, or
  // one, the likelihoods are all 0 and the criteria choose nothing.
  if (choice->observations < 2) {
    fail(
        " *** ERROR: %s: %lu observation%s after the first %ld of each run: too few for "
        "--select-order %ld to score the orders on\n",
        data->name.c_str(), static_cast<unsigned long>(choice->observations),
        choice->observations == 1 ? "" : "s", max_order, max_order);
  }
  choice->rows.assign(top + 1, FIT_ORDER_ROW{});
  const double n = static_cast<double>(choice->observations);
  for (std::size_t r = 0; r <= top; r++) {
    COUNT_MAP totals;
    for (const COUNT_MAP::slot& c : pairs[r].slots) {
      if (c.key != 0)
        count_map_add(&totals, (c.key - 1) >> 21, c.count);
    }
    double ll = 0;
    for (const COUNT_MAP::slot& c : pairs[r].slots) {
      if (c.key == 0)
        continue;
      const auto count = static_cast<double>(c.count);
      ll +=
          count * std::log(count / static_cast<double>(count_map_get(&totals, (c.key - 1) >> 21)));
    }
    FIT_ORDER_ROW& row = choice->rows[r];
    row.log_likelihood = ll;
    row.parameters = std::pow(m, static_cast<double>(r)) * (m - 1);
    fit_information_criteria(row.parameters, ll, n, &row.aic, &row.bic);
    if (r < top)
      fit_conditional_g2(&cells[r], &row.against_next);
    if (row.bic < choice->rows[static_cast<std::size_t>(choice->bic_order)].bic)
      choice->bic_order = static_cast<long>(r);
    if (row.aic < choice->rows[static_cast<std::size_t>(choice->aic_order)].aic)
      choice->aic_order = static_cast<long>(r);
  }
}

void fit_tuple_parameters(const FIT_DATA* data, const FIT_DATA* tuples, FIT_MODEL* model) {
  // Each tuple's row chooses among the states: m - 1 free probabilities, not one a tuple.
  const auto m = static_cast<double>(data->labels.names.size());
  model->parameters = static_cast<long>(model->rows.size()) * static_cast<long>(m - 1);
  fit_information_criteria(static_cast<double>(model->parameters), model->log_likelihood,
                           static_cast<double>(tuples->nbr_transitions), &model->aic, &model->bic);
}
