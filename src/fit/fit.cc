// fit.cc - pravlin-fit's estimators, model checks, configuration and fit summary.
// Part of pravlin; see README.md.
#include "fit.h"
#include "fit_limits.h"
#include "fit_read.h"

#include <algorithm>
#include <boost/math/distributions/beta.hpp>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "config_write.h"
#include "version.h"

// Boost.Math's default policy throws on an answer it cannot find, and the fit has no use for
// an exception: every call returns its best value instead (or NaN on a domain error), and the
// beta quantiles below check what they get. Iterations are bounded as Boost's defaults bound
// them, here for the reader to see.
using FitPolicy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::underflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::denorm_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::rounding_error<boost::math::policies::ignore_error>,
    boost::math::policies::indeterminate_result_error<boost::math::policies::ignore_error>,
    boost::math::policies::max_root_iterations<FIT_MAX_ROOT_ITERATIONS>,
    boost::math::policies::max_series_iterations<FIT_MAX_SERIES_ITERATIONS>>;

std::string fit_number(double x) {
  return config_number(x);
}

// The numbering of the states: the labels of --states first, in their order; then the others,
// by value when every one is a number (so that ratings 1 to 5 are states 1 to 5), else with
// --sort by their bytes (UTF-8 sorts so by code point), else in order of first appearance.
static void number_states(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_MODEL* model) {
  const std::vector<std::string>& names = data->labels.names;
  const std::size_t k = names.size();
  const std::size_t given = std::min(data->given_states, k);
  model->order.resize(k);
  for (std::size_t i = 0; i < k; i++)
    model->order[i] = static_cast<std::uint32_t>(i);
  std::vector<double> value(k, 0.0);
  bool numeric = true;
  for (std::size_t i = given; i < k && numeric; i++)
    numeric = fit_is_number(names[i], &value[i]) != 0;
  if (!numeric && !opt->sort_flag)
    return;
  std::stable_sort(model->order.begin() + static_cast<std::ptrdiff_t>(given), model->order.end(),
                   [&](std::uint32_t a, std::uint32_t b) {
                     if (numeric)
                       return value[a] < value[b];
                     return names[a] < names[b];
                   });
}

// The row's total as pravlin adds it: every column in order, from 0.0.
static double row_sum(const FIT_ROW& row, std::size_t k) {
  double sum = 0.0;
  if (row.rest == 0.0) {
    for (const FIT_CELL& c : row.cells)
      sum += c.probability;
    return sum;
  }
  std::size_t next = 0;
  for (std::size_t j = 0; j < k; j++) {
    if (next < row.cells.size() && row.cells[next].to == j)
      sum += row.cells[next++].probability;
    else
      sum += row.rest;
  }
  return sum;
}

// pravlin rescales (with a warning) a row whose total is not exactly 1, which would change
// the fitted numbers it reads. The row's last positive probability takes the units in the last
// place that the divisions lost: it is added last, with a single rounding, so it can always be
// set to make the total 1 as pravlin adds it.
static void make_row_total_one(FIT_ROW* row, std::size_t k) {
  if (row->rest > 0 && (row->cells.empty() || row->cells.back().to != k - 1)) {
    row->cells.push_back(FIT_CELL{static_cast<std::uint32_t>(k - 1), 0, row->rest, row->rest_lower,
                                  row->rest_upper});
  }
  std::size_t last = row->cells.size() - 1;
  while (last > 0 && row->cells[last].probability == 0)
    last--;
  double& p = row->cells[last].probability;
  p = 0;
  p = 1.0 - row_sum(*row, k);
  for (int step = 0; step < 64; step++) {
    const double sum = row_sum(*row, k);
    if (sum == 1.0)
      return;
    p = std::nextafter(p, sum < 1.0 ? 2.0 : 0.0);
  }
}

static void make_total_one(std::vector<double>* p) {
  std::size_t last = p->size() - 1;
  while (last > 0 && (*p)[last] == 0)
    last--;
  const auto sum = [p] {
    double total = 0.0;
    for (double x : *p)
      total += x;
    return total;
  };
  (*p)[last] = 0;
  (*p)[last] = 1.0 - sum();
  for (int step = 0; step < 64 && sum() != 1.0; step++)
    (*p)[last] = std::nextafter((*p)[last], sum() < 1.0 ? 2.0 : 0.0);
}

// P(X <= x), or P(X > x) when upper, for X ~ Beta(a, b); NaN where Boost gives up.
static double beta_tail(double a, double b, double x, bool upper) {
  try {
    return upper ? boost::math::ibetac(a, b, x, FitPolicy())
                 : boost::math::ibeta(a, b, x, FitPolicy());
  } catch (const std::exception&) {  // a few inner routines keep the throwing policy
    return std::numeric_limits<double>::quiet_NaN();
  }
}

// The point of Beta(a, b) with tail p below it, or above it when upper; z is the standard
// normal quantile of 1 - p.
// Boost's inverse serves most shapes, but not all: where both shapes pass 10^13 its
// distribution function loses its digits and takes seconds a call, and a shape near 0.5 with
// a tail near 1e-11 fails to converge; a shape of 10^4 beside 10^30 throws. So: where both
// shapes are large the Beta is normal but for a little skew, and its quantile is the
// Cornish-Fisher expansion to the skew, whose next terms are below a millionth of the standard
// deviation from shapes of 10^8 on. Elsewhere Boost's answer is checked against the
// distribution function, and where it misses, the quantile is found by bisection over the
// doubles of [0, 1], about 62 steps.
static double beta_quantile(double a, double b, double p, double z, bool upper) {
  if (std::min(a, b) >= 1e8 && a + b > 1e13) {
    const double n = a + b;
    const double mean = a / n;
    const double sd = std::sqrt(a / n * (b / n) / (n + 1));
    const double skew = 2 * (b - a) * std::sqrt(n + 1) / ((n + 2) * std::sqrt(a) * std::sqrt(b));
    const double w = upper ? z : -z;
    return std::clamp(mean + sd * (w + skew * (w * w - 1) / 6), 0.0, 1.0);
  }
  double q = std::numeric_limits<double>::quiet_NaN();
  try {
    const boost::math::beta_distribution<double, FitPolicy> beta(a, b);
    q = upper ? boost::math::quantile(boost::math::complement(beta, p))
              : boost::math::quantile(beta, p);
  } catch (const std::exception&) {  // a few inner routines keep the throwing policy
  }
  const auto below = [&](double x) {  // x is below the quantile: its tail is short of p
    const double t = beta_tail(a, b, x, upper);
    return upper ? t > p : t < p;
  };
  if (q >= 0 && q <= 1) {
    const double t = beta_tail(a, b, q, upper);
    if (std::fabs(t - p) <= 1e-6 * p)
      return q;
    // The best a double can do: q is above the quantile, and the double below it below.
    if (below(std::nextafter(q, -1.0)) && !below(q))
      return q;
  }
  // Non-negative doubles order as their bit patterns: bisect the patterns of [0, 1].
  std::uint64_t lo = 0;
  std::uint64_t hi = 0x3FF0000000000000u;  // 1.0
  const auto as_double = [](std::uint64_t bits) {
    double x = 0;
    std::memcpy(&x, &bits, sizeof x);
    return x;
  };
  while (hi - lo > 1) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (below(as_double(mid)))
      lo = mid;
    else
      hi = mid;
  }
  return as_double(hi);
}

// The interval of one probability: Wilson's score interval on the row's counts, or with
// --prior the equal-tailed interval of its Beta marginal posterior.
// z is the normal quantile of the level's upper tail.
static void interval(const FIT_OPTIONS* opt, double z, std::uint64_t count, std::uint64_t total,
                     std::size_t k, double* lower, double* upper) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double tail = (1.0 - opt->confidence) / 2.0;
  if (opt->estimator == ESTIMATOR_PRIOR) {
    const double a = static_cast<double>(count) + opt->alpha;
    const double b = static_cast<double>(total - count) + static_cast<double>(k - 1) * opt->alpha;
    *lower = beta_quantile(a, b, tail, z, false);
    *upper = beta_quantile(a, b, tail, z, true);
    return;
  }
  if (total == 0) {
    *lower = nan;
    *upper = nan;
    return;
  }
  const double n = static_cast<double>(total);
  const double p = static_cast<double>(count) / n;
  const double z2 = z * z;
  const double centre = (p + z2 / (2 * n)) / (1 + z2 / n);
  const double half = z / (1 + z2 / n) * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
  // At the ends the interval reaches 0 or 1 exactly, not within a rounding of them.
  *lower = count == 0 ? 0.0 : std::max(0.0, centre - half);
  *upper = count == total ? 1.0 : std::min(1.0, centre + half);
}

static void refuse_unrunnable(const FIT_DATA* data, const FIT_MODEL* model, std::size_t k) {
  if (k == 1 && data->values_flag) {
    fail(
        " *** ERROR: %s: the report prints values (print_flag val), all %s, not states: put "
        "<print_flag>name</print_flag> in its configuration and run it again\n",
        data->name.c_str(), data->labels.names[0].c_str());
  }
  if (k < 2) {
    fail(
        " *** ERROR: %s: one state only (%s): pravlin needs at least 2; add others with "
        "--states\n",
        data->name.c_str(), k == 1 ? data->labels.names[0].c_str() : "");
  }
  // pravlin keeps the transition matrix dense and the chains table whole: a model whose tables
  // cannot fit in this machine's memory is refused here, not written for pravlin to refuse.
  const double bytes =
      static_cast<double>(k + 1) * static_cast<double>(k + 1) * 8.0 +
      static_cast<double>(model->nbr_chains + 1) * static_cast<double>(model->nbr_years + 1) * 4.0;
  if (k > static_cast<std::size_t>(FIT_MAX_STATES) ||
      bytes > static_cast<double>(physical_memory())) {
    fail(
        " *** ERROR: %s: %zu states, %ld chain%s of %ld years: pravlin would need %.0f MB, "
        "more than this machine's memory\n",
        data->name.c_str(), k, model->nbr_chains, model->nbr_chains == 1 ? "" : "s",
        model->nbr_years, bytes / 1e6);
  }
}

// pravlin's reader takes a state's name as its element's text: with no references expanded
// ("&amp;" stays "&amp;"), a "<" read as the start of markup, and white space dropped from both
// ends. A label is therefore written as it is, and one that pravlin would read as another name
// is refused here, before any file is written. An "&" or a "]]>" reads back as written in
// pravlin, but makes the file one that other XML tools refuse: that is only worth a warning.
static void check_labels(const FIT_DATA* data) {
  const char* c = data->name.c_str();
  bool warned = false;
  for (const std::string& label : data->labels.names) {
    // The reader lets through no other character that XML refuses.
    const std::size_t bad = fit_not_xml(label);
    if (bad != std::string::npos) {
      // A control character, or U+FFFE or U+FFFF: three bytes, read as UTF-8 is.
      const auto* u = reinterpret_cast<const unsigned char*>(label.data() + bad);
      const unsigned code =
          u[0] < 0x80 ? u[0] : (u[0] & 0x0Fu) << 12 | (u[1] & 0x3Fu) << 6 | (u[2] & 0x3Fu);
      fail(" *** ERROR: %s: the label (%s) holds U+%04X, which XML does not allow\n", c,
           label.c_str(), code);
    }
    if (label.find('<') != std::string::npos) {
      fail(" *** ERROR: %s: the label (%s) holds \"<\", which pravlin would read as markup\n", c,
           label.c_str());
    }
    const auto space = [](char x) { return x == ' ' || (x >= '\t' && x <= '\r'); };
    if (!label.empty() && (space(label.front()) || space(label.back()))) {
      fail(
          " *** ERROR: %s: the label (%s) begins or ends with white space, which pravlin would "
          "drop\n",
          c, label.c_str());
    }
    const char* odd = label.find('&') != std::string::npos     ? "&"
                      : label.find("]]>") != std::string::npos ? "]]>"
                                                               : nullptr;
    if (odd != nullptr && !warned) {
      warned = true;
      warn(
          " *** WARNING: %s: the label (%s) is written with its \"%s\" as it is: pravlin reads "
          "it so, other XML tools will refuse the file\n",
          c, label.c_str(), odd);
    }
  }
}

void fit_estimate(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_MODEL* model) {
  const std::size_t k = data->labels.names.size();
  number_states(opt, data, model);
  std::vector<std::uint32_t> pos(k);
  for (std::size_t s = 0; s < k; s++)
    pos[model->order[s]] = static_cast<std::uint32_t>(s);

  model->nbr_chains = opt->nbr_chains >= 0 ? opt->nbr_chains
                      : data->matrix_flag  ? 10
                                           : static_cast<long>(data->nbr_sequences);
  model->nbr_years = opt->nbr_years >= 0 ? opt->nbr_years
                     : data->matrix_flag ? 50
                                         : static_cast<long>(data->longest) - 1;
  if (model->nbr_years < 2) {
    // pravlin replaces 1 by 50; 2 is the least it keeps.
    model->nbr_years = 2;
    model->years_raised = 1;
  }
  if (data->nbr_transitions == 0 && !data->probability_flag) {
    fail(" *** ERROR: %s: no transitions: every sequence holds one observation\n",
         data->name.c_str());
  }
  refuse_unrunnable(data, model, k);
  if (!data->checked)
    check_labels(data);
  if (data->values_flag && !data->checked) {
    warn(
        " *** WARNING: %s: the report prints values (print_flag val), not states: states that "
        "share a value are fitted as one; put <print_flag>name</print_flag> in its "
        "configuration to print names\n",
        data->name.c_str());
  }

  model->rows.assign(k, FIT_ROW{});
  model->has_counts = data->probability_flag ? 0 : 1;
  if (data->probability_flag) {
    // Each row is divided by its total, added in label order. Weights whose total overflows
    // to infinity are first divided by the row's largest.
    const std::vector<std::uint32_t>& columns = data->matrix_columns;
    const std::size_t n = columns.size();
    std::vector<std::size_t> by_label(n);
    for (std::size_t c = 0; c < n; c++)
      by_label[c] = c;
    std::sort(by_label.begin(), by_label.end(),
              [&](std::size_t a, std::size_t b) { return columns[a] < columns[b]; });
    for (std::size_t r = 0; r < data->matrix_rows.size(); r++) {
      const double* given = &data->matrix[r * n];
      double scale = 1.0;
      double total = 0;
      for (const std::size_t c : by_label)
        total += given[c];
      if (std::isinf(total)) {
        scale = *std::max_element(given, given + n);
        total = 0;
        for (const std::size_t c : by_label)
          total += given[c] / scale;
      }
      FIT_ROW& row = model->rows[pos[data->matrix_rows[r]]];
      row.kind = ROW_GIVEN;
      for (std::size_t c = 0; c < n && total > 0; c++) {
        const double v = given[c] / scale;
        if (v > 0) {
          const double nan = std::numeric_limits<double>::quiet_NaN();
          row.cells.push_back(FIT_CELL{pos[columns[c]], 0, v / total, nan, nan});
        }
      }
    }
  } else {
    for (const COUNT_MAP::slot& s : data->pairs.slots) {
      if (s.key == 0)
        continue;
      const std::uint64_t key = s.key - 1;
      FIT_ROW& row = model->rows[pos[key >> 32]];
      row.cells.push_back(FIT_CELL{pos[key & 0xFFFFFFFFu], s.count, 0, 0, 0});
      row.total += s.count;
    }
    const std::size_t dk = data->dense_k;
    for (std::size_t i = 0; i < dk; i++) {
      for (std::size_t j = 0; j < dk; j++) {
        const std::uint64_t n = data->dense[i * dk + j];
        if (n == 0)
          continue;
        FIT_ROW& row = model->rows[pos[i]];
        row.cells.push_back(FIT_CELL{pos[j], n, 0, 0, 0});
        row.total += n;
      }
    }
  }

  const bool smoothing = opt->estimator != ESTIMATOR_MLE;
  const double z = boost::math::quantile(
      boost::math::complement(boost::math::normal_distribution<double, FitPolicy>(0.0, 1.0),
                              (1.0 - opt->confidence) / 2.0));
  const double a = opt->alpha;
  for (std::size_t s = 0; s < k; s++) {
    FIT_ROW& row = model->rows[s];
    std::sort(row.cells.begin(), row.cells.end(),
              [](const FIT_CELL& x, const FIT_CELL& y) { return x.to < y.to; });
    if (row.cells.empty()) {
      model->empty_rows++;
      if (data->matrix_flag && !opt->empty_given) {
        fail(
            " *** ERROR: %s: the row of (%s) is all zeros: give --empty absorbing or --empty "
            "uniform\n",
            data->name.c_str(), data->labels.names[model->order[s]].c_str());
      }
    }
    if (row.kind == ROW_GIVEN && !row.cells.empty())
      continue;
    if (smoothing) {
      const double denominator = static_cast<double>(row.total) + static_cast<double>(k) * a;
      for (FIT_CELL& c : row.cells) {
        c.probability = (static_cast<double>(c.count) + a) / denominator;
        interval(opt, z, c.count, row.total, k, &c.lower, &c.upper);
      }
      row.rest = a / denominator;
      interval(opt, z, 0, row.total, k, &row.rest_lower, &row.rest_upper);
      if (row.total == 0)
        row.kind = ROW_UNIFORM;
    } else if (!row.cells.empty()) {
      for (FIT_CELL& c : row.cells) {
        c.probability = static_cast<double>(c.count) / static_cast<double>(row.total);
        interval(opt, z, c.count, row.total, k, &c.lower, &c.upper);
      }
      // The states never reached from here keep probability 0, but a count of 0 in n_i has an
      // interval too: how small "never seen" is.
      if (row.total > 0)
        interval(opt, z, 0, row.total, k, &row.rest_lower, &row.rest_upper);
    } else if (opt->empty == EMPTY_UNIFORM) {
      row.kind = ROW_UNIFORM;
      row.rest = 1.0 / static_cast<double>(k);
      row.rest_lower = row.rest_upper = std::numeric_limits<double>::quiet_NaN();
    } else {
      row.kind = ROW_ABSORBING;
      const double nan = std::numeric_limits<double>::quiet_NaN();
      row.cells.push_back(FIT_CELL{static_cast<std::uint32_t>(s), 0, 1.0, nan, nan});
    }
    if (row.total > 0)
      row.kind = ROW_OBSERVED;
  }
  for (std::size_t s = 0; s < k; s++) {
    if (row_sum(model->rows[s], k) != 1.0)
      make_row_total_one(&model->rows[s], k);
  }

  model->first.assign(k, 0);
  model->initial.assign(k, 0.0);
  std::uint64_t starts = 0;
  for (std::size_t i = 0; i < k; i++) {
    model->first[pos[i]] = data->first[i];
    starts += data->first[i];
  }
  for (std::size_t s = 0; s < k; s++) {
    model->initial[s] = starts == 0
                            ? 1.0 / static_cast<double>(k)
                            : static_cast<double>(model->first[s]) / static_cast<double>(starts);
  }
  make_total_one(&model->initial);

  if (model->has_counts) {
    double ll = 0;
    for (const FIT_ROW& row : model->rows) {
      for (const FIT_CELL& c : row.cells) {
        if (c.count > 0)
          ll += static_cast<double>(c.count) * std::log(c.probability);
      }
    }
    model->log_likelihood = ll;
    model->parameters = static_cast<long>(k) * static_cast<long>(k - 1);
    fit_information_criteria(static_cast<double>(model->parameters), ll,
                             static_cast<double>(data->nbr_transitions), &model->aic, &model->bic);
  }
}

void fit_information_criteria(double parameters, double log_likelihood, double observations,
                              double* aic, double* bic) {
  *aic = 2.0 * parameters - 2.0 * log_likelihood;
  *bic = parameters * std::log(observations) - 2.0 * log_likelihood;
}

double fit_chi_square_p(double statistic, long df) {
  if (df <= 0)
    return 1.0;
  const boost::math::chi_squared_distribution<double, FitPolicy> chi(static_cast<double>(df));
  return boost::math::cdf(boost::math::complement(chi, std::max(0.0, statistic)));
}

// The sum of n ln(n n_b / (n_ab n_bc)), with the degrees of freedom (rows - 1)(columns - 1) of
// each b's table over the rows and columns seen. Keys hold a, b and c in 21 bits each, a highest.
void fit_conditional_g2(const COUNT_MAP* cells, FIT_TEST* test) {
  constexpr unsigned W = 21;
  constexpr std::uint64_t MASK = (std::uint64_t{1} << W) - 1;
  COUNT_MAP ab, bc, b_total;
  for (const COUNT_MAP::slot& s : cells->slots) {
    if (s.key == 0)
      continue;
    const std::uint64_t key = s.key - 1;
    const std::uint64_t a = key >> (2 * W), b = (key >> W) & MASK, c = key & MASK;
    count_map_add(&ab, a << W | b, s.count);
    count_map_add(&bc, b << W | c, s.count);
    count_map_add(&b_total, b, s.count);
  }
  double g2 = 0;
  for (const COUNT_MAP::slot& s : cells->slots) {
    if (s.key == 0)
      continue;
    const std::uint64_t key = s.key - 1;
    const std::uint64_t a = key >> (2 * W), b = (key >> W) & MASK, c = key & MASK;
    const auto n = static_cast<double>(s.count);
    const auto nb = static_cast<double>(count_map_get(&b_total, b));
    const auto nab = static_cast<double>(count_map_get(&ab, a << W | b));
    const auto nbc = static_cast<double>(count_map_get(&bc, b << W | c));
    g2 += n * std::log(n * nb / (nab * nbc));
  }
  COUNT_MAP rows, cols;
  for (const COUNT_MAP::slot& s : ab.slots) {
    if (s.key != 0)
      count_map_add(&rows, (s.key - 1) & MASK, 1);
  }
  for (const COUNT_MAP::slot& s : bc.slots) {
    if (s.key != 0)
      count_map_add(&cols, (s.key - 1) >> W, 1);
  }
  long df = 0;
  for (const COUNT_MAP::slot& s : b_total.slots) {
    if (s.key == 0)
      continue;
    const auto r = static_cast<long>(count_map_get(&rows, s.key - 1));
    const auto c = static_cast<long>(count_map_get(&cols, s.key - 1));
    df += (r - 1) * (c - 1);
  }
  test->statistic = 2.0 * g2;
  test->df = df;
  test->p_value = fit_chi_square_p(test->statistic, df);
}

void fit_markov_test(const FIT_DATA* data, FIT_TEST* test) {
  // Past and future independent given the present: the triples (i, j, l) with j in the middle.
  fit_conditional_g2(&data->triples, test);
}

void fit_homogeneity_test(const FIT_DATA* data, long blocks, FIT_TEST* test) {
  // Block and destination independent given the source: the counts (block, i, j), with the
  // source in the middle of the key as the given variable.
  const std::uint64_t steps = data->longest > 1 ? data->longest - 1 : 1;
  const auto b_count = static_cast<std::uint64_t>(blocks);
  COUNT_MAP cells;
  for (const COUNT_MAP::slot& s : data->timed.slots) {
    if (s.key == 0)
      continue;
    const std::uint64_t key = s.key - 1;
    const std::uint64_t t = (key >> 42) << data->bin_shift;
    const std::uint64_t block = std::min(b_count - 1, t * b_count / steps);
    const std::uint64_t i = (key >> 21) & ((std::uint64_t{1} << 21) - 1);
    const std::uint64_t j = key & ((std::uint64_t{1} << 21) - 1);
    count_map_add(&cells, block << 42 | i << 21 | j, s.count);
  }
  fit_conditional_g2(&cells, test);
}

// ---- the configuration ---------------------------------------------------------------------

static const char* estimator_name(const FIT_OPTIONS* opt) {
  switch (opt->estimator) {
    case ESTIMATOR_LAPLACE:
      return "Laplace smoothing";
    case ESTIMATOR_PRIOR:
      return "Dirichlet posterior mean";
    default:
      return "maximum likelihood";
  }
}

static void put_to(FILE* out, const char* indent, std::size_t to, double p) {
  config_write_to(out, CONFIG_LINES, indent, static_cast<long>(to) + 1, p);
}

void fit_write_config_head(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                           const FIT_MODEL* model) {
  const std::size_t k = model->rows.size();
  // pravlin's reader refuses a whole file over a comment longer than its buffer
  // (FIT_QUOTED_NAME_MAX), and XML tools a comment holding "--" or bytes that are not XML's
  // characters in UTF-8.
  const bool quotable = data->name.find("--") == std::string::npos &&
                        data->name.size() <= FIT_QUOTED_NAME_MAX &&
                        fit_not_xml(data->name) == std::string::npos;
  config_write_open(out);
  std::fprintf(
      out, "  <!-- pravlin-fit %s: %s from %s (%s), %lu sequence%s, %lu transition%s -->\n",
      PRAVLIN_VERSION, estimator_name(opt), quotable ? data->name.c_str() : "the input",
      fit_form_name(data->form), static_cast<unsigned long>(data->nbr_sequences),
      data->nbr_sequences == 1 ? "" : "s", static_cast<unsigned long>(data->nbr_transitions),
      data->nbr_transitions == 1 ? "" : "s");
  config_write_setting(out, CFG_NBR_STATES, static_cast<long>(k));
  if (data->init_year_flag)
    config_write_setting(out, CFG_INIT_YEAR, data->init_year);
  config_write_setting(out, CFG_NBR_YEARS, model->nbr_years);
  config_write_setting(out, CFG_NBR_CHAINS, model->nbr_chains);
  config_write_word(out, CFG_PRINT_FLAG, WORDS_PRINT_FLAG, 2);
  // The header names every state with its number: pravlin-plot draws the states in that order.
  config_write_word(out, CFG_PRINT_HEADER, WORDS_YES_NO, 1);
  for (std::size_t s = 0; s < k; s++) {
    const std::string& label = data->labels.names[model->order[s]];
    // The label as it is: see check_labels.
    double value = 0;
    const bool number = fit_is_number(label, &value);
    config_write_state(out, CONFIG_LINES, static_cast<long>(s) + 1, &label,
                       number ? &value : nullptr, model->initial[s]);
  }
}

void fit_write_transitions(FILE* out, const char* indent, const FIT_MODEL* model) {
  const std::size_t k = model->rows.size();
  for (std::size_t s = 0; s < k; s++) {
    const FIT_ROW& row = model->rows[s];
    config_write_transition_open(out, CONFIG_LINES, indent, static_cast<long>(s) + 1);
    std::size_t next = 0;
    if (row.rest == 0.0) {
      for (const FIT_CELL& c : row.cells) {
        if (c.probability > 0)
          put_to(out, indent, c.to, c.probability);
      }
    } else {
      for (std::size_t j = 0; j < k; j++) {
        if (next < row.cells.size() && row.cells[next].to == j)
          put_to(out, indent, j, row.cells[next++].probability);
        else
          put_to(out, indent, j, row.rest);
      }
    }
    config_write_transition_close(out, CONFIG_LINES, indent);
  }
}

void fit_write_config(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                      const FIT_MODEL* model) {
  fit_write_config_head(out, opt, data, model);
  fit_write_transitions(out, "", model);
  config_write_close(out);
}

// ---- the summary ---------------------------------------------------------------------------

static const char* empty_choice(const FIT_OPTIONS* opt) {
  if (opt->estimator != ESTIMATOR_MLE)
    return "uniform, by the estimator";
  return opt->empty == EMPTY_UNIFORM ? "uniform" : "absorbing";
}

static std::string estimator_text(const FIT_OPTIONS* opt) {
  std::string s = estimator_name(opt);
  if (opt->estimator != ESTIMATOR_MLE)
    s += ", A = " + fit_number(opt->alpha);
  return s;
}

static void put_interval(FILE* out, double lower, double upper) {
  if (std::isnan(lower))
    std::fprintf(out, "\n");
  else
    std::fprintf(out, "  [%.6g, %.6g]\n", lower, upper);
}

void fit_write_summary(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                       const FIT_MODEL* model) {
  const std::size_t k = model->rows.size();
  const std::vector<std::string>& names = data->labels.names;
  std::fprintf(out, "input: %s (%s)\n", data->name.c_str(), fit_form_name(data->form));
  std::fprintf(out, "sequences: %lu, transitions: %lu, missing cells: %lu\n",
               static_cast<unsigned long>(data->nbr_sequences),
               static_cast<unsigned long>(data->nbr_transitions),
               static_cast<unsigned long>(data->nbr_breaks));
  std::fprintf(out, "states: %zu, estimator: %s\n", k, estimator_text(opt).c_str());
  std::fprintf(out, "rows without observations: %lu, made %s\n",
               static_cast<unsigned long>(model->empty_rows), empty_choice(opt));
  if (model->has_counts) {
    std::fprintf(
        out, "intervals: %s, level %g\n",
        opt->estimator == ESTIMATOR_PRIOR ? "Dirichlet posterior, equal tails" : "Wilson score",
        opt->confidence);
    std::fprintf(out, "log-likelihood: %.6f, parameters: %ld, AIC: %.6f, BIC: %.6f\n",
                 model->log_likelihood, model->parameters, model->aic, model->bic);
  }
  if (model->years_raised)
    std::fprintf(out, "nbr_years: 2, the least pravlin keeps (the data's longest is shorter)\n");
  if (opt->test_flag && !data->matrix_flag) {
    std::fprintf(out, "Markov property (order 1 against 2): G2 %.6f, df %ld, p-value %.6g\n",
                 model->markov.statistic, model->markov.df, model->markov.p_value);
    std::fprintf(out, "time-homogeneity (%ld blocks): G2 %.6f, df %ld, p-value %.6g\n", opt->blocks,
                 model->homogeneity.statistic, model->homogeneity.df, model->homogeneity.p_value);
  }
  std::fprintf(out, "initial probabilities:\n");
  for (std::size_t s = 0; s < k; s++) {
    std::fprintf(out, "  %s  %lu  %.6g\n", names[model->order[s]].c_str(),
                 static_cast<unsigned long>(model->first[s]), model->initial[s]);
  }
  fit_write_rows(out, opt, data, model);
}

void fit_write_rows(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                    const FIT_MODEL* model) {
  const std::size_t k = model->rows.size();
  const std::vector<std::string>& names = data->labels.names;
  for (std::size_t s = 0; s < k; s++) {
    const FIT_ROW& row = model->rows[s];
    const char* from = names[model->order[s]].c_str();
    if (row.kind == ROW_GIVEN)
      std::fprintf(out, "%s: given\n", from);
    else if (row.total > 0)
      std::fprintf(out, "%s: %lu transition%s\n", from, static_cast<unsigned long>(row.total),
                   row.total == 1 ? "" : "s");
    else
      std::fprintf(out, "%s: no transitions, made %s\n", from, empty_choice(opt));
    for (const FIT_CELL& c : row.cells) {
      std::fprintf(out, "  -> %s  %lu  %.6g", names[model->order[c.to]].c_str(),
                   static_cast<unsigned long>(c.count), c.probability);
      put_interval(out, c.lower, c.upper);
    }
    if ((row.rest > 0 || row.kind == ROW_OBSERVED) && row.cells.size() < k) {
      std::fprintf(out, "  -> each other state  0  %.6g", row.rest);
      put_interval(out, row.rest_lower, row.rest_upper);
    }
  }
}

void fit_csv_text(FILE* out, std::string_view text) {
  std::fputc('"', out);
  for (char c : text) {
    if (c == '"')
      std::fputc('"', out);
    std::fputc(c, out);
  }
  std::fputc('"', out);
}

static std::string csv_number(double x) {
  return std::isnan(x) ? std::string() : fit_number(x);
}

static void csv_cell(FILE* out, const char* item, const std::string& from, const std::string& to,
                     std::uint64_t count, std::uint64_t total, double p, double lower,
                     double upper) {
  std::fputs(item, out);
  std::fputc(',', out);
  fit_csv_text(out, from);
  std::fputc(',', out);
  if (!to.empty())  // no label is empty: an empty to is every state unseen
    fit_csv_text(out, to);
  std::fprintf(out, ",%lu,%lu,%s,%s,%s,,\n", static_cast<unsigned long>(count),
               static_cast<unsigned long>(total), fit_number(p).c_str(), csv_number(lower).c_str(),
               csv_number(upper).c_str());
}

void fit_write_summary_csv(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                           const FIT_MODEL* model) {
  const std::size_t k = model->rows.size();
  const std::vector<std::string>& names = data->labels.names;
  std::fprintf(out, "item,from,to,count,total,value,lower,upper,df,p_value\n");
  std::fprintf(out, "sequences,,,%lu,,,,,,\n", static_cast<unsigned long>(data->nbr_sequences));
  std::fprintf(out, "transitions,,,%lu,,,,,,\n", static_cast<unsigned long>(data->nbr_transitions));
  std::fprintf(out, "missing_cells,,,%lu,,,,,,\n", static_cast<unsigned long>(data->nbr_breaks));
  std::fprintf(out, "states,,,%zu,,,,,,\n", k);
  if (model->has_counts) {
    std::fprintf(out, "log_likelihood,,,,,%s,,,,\n", fit_number(model->log_likelihood).c_str());
    std::fprintf(out, "parameters,,,%ld,,,,,,\n", model->parameters);
    std::fprintf(out, "aic,,,,,%s,,,,\n", fit_number(model->aic).c_str());
    std::fprintf(out, "bic,,,,,%s,,,,\n", fit_number(model->bic).c_str());
  }
  if (opt->test_flag && !data->matrix_flag) {
    std::fprintf(out, "markov_property,,,,,%s,,,%ld,%s\n",
                 fit_number(model->markov.statistic).c_str(), model->markov.df,
                 fit_number(model->markov.p_value).c_str());
    std::fprintf(out, "homogeneity,,,,%ld,%s,,,%ld,%s\n", opt->blocks,
                 fit_number(model->homogeneity.statistic).c_str(), model->homogeneity.df,
                 fit_number(model->homogeneity.p_value).c_str());
  }
  for (std::size_t s = 0; s < k; s++) {
    std::fputs("initial,", out);
    fit_csv_text(out, names[model->order[s]]);
    std::fprintf(out, ",,%lu,%lu,%s,,,,\n", static_cast<unsigned long>(model->first[s]),
                 static_cast<unsigned long>(data->nbr_sequences),
                 fit_number(model->initial[s]).c_str());
  }
  fit_write_rows_csv(out, data, model, "row", "transition", "unseen_transitions");
}

void fit_write_rows_csv(FILE* out, const FIT_DATA* data, const FIT_MODEL* model,
                        const char* row_item, const char* cell_item, const char* unseen_item) {
  const std::size_t k = model->rows.size();
  const std::vector<std::string>& names = data->labels.names;
  static const char* const KIND[] = {"observed", "absorbing", "uniform", "given"};
  for (std::size_t s = 0; s < k; s++) {
    const FIT_ROW& row = model->rows[s];
    const std::string& from = names[model->order[s]];
    std::fprintf(out, "%s,", row_item);
    fit_csv_text(out, from);
    std::fprintf(out, ",,,%lu,%s,,,,\n", static_cast<unsigned long>(row.total), KIND[row.kind]);
    std::size_t next = 0;
    for (std::size_t j = 0; j < k; j++) {
      if (next < row.cells.size() && row.cells[next].to == j) {
        const FIT_CELL& c = row.cells[next++];
        csv_cell(out, cell_item, from, names[model->order[j]], c.count, row.total, c.probability,
                 c.lower, c.upper);
      } else if (row.rest > 0) {
        csv_cell(out, cell_item, from, names[model->order[j]], 0, row.total, row.rest,
                 row.rest_lower, row.rest_upper);
      } else if (next == row.cells.size()) {
        break;
      }
    }
    // An observed row's transitions never seen have probability 0 and are not listed one by
    // one (a sparse chain would need k^2 lines): one line gives the bound they share, as the
    // text's "each other state" does, its to left empty.
    if (row.kind == ROW_OBSERVED && !(row.rest > 0) && row.cells.size() < k) {
      csv_cell(out, unseen_item, from, std::string(), 0, row.total, row.rest, row.rest_lower,
               row.rest_upper);
    }
  }
}

FIT_OPTIONS fit_default_options() {
  FIT_OPTIONS opt{};
  opt.form = FORM_AUTO;
  opt.estimator = ESTIMATOR_MLE;
  opt.empty = EMPTY_ABSORBING;
  opt.nbr_chains = -1;
  opt.nbr_years = -1;
  opt.confidence = 0.95;
  opt.blocks = 2;
  opt.order = 1;
  opt.seed = FIT_DEFAULT_SEED;
  opt.threads = 2;
  opt.table = -1;
  return opt;
}
