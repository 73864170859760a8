// analyze_horizon.cc - the path from the initial probabilities to step T, one sparse product
// a step (solve_horizon), and its text, JSON and CSV.
// Part of pravlin; see README.md.
#include "analyze_horizon.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "analyze_json_values.h"
#include "analyze_states.h"
#include "analyze_step_fast.h"
#include "cancel.h"
#include "fail.h"
#include "output_file.h"
#include "periods.h"
#include "sparse_read.h"
#include "table_lines.h"

using json = nlohmann::ordered_json;

// ORDER CORRECTION: as enum horizon_correction.
static const char* const CORRECTION_NAME[] = {"none", "half", "trapezoid", "simpson"};

const char* correction_name(int correction) {
  return CORRECTION_NAME[correction];
}

int parse_correction(const char* word) {
  for (int k = 0; k < 4; k++) {
    if (std::strcmp(word, CORRECTION_NAME[k]) == 0)
      return k;
  }
  return -1;
}

const SPARSE_CHAIN* horizon_same_chain(long, const void* context) {
  return static_cast<const SPARSE_CHAIN*>(context);
}

void read_horizon_periods(PRAVLIN* pv, HORIZON_PERIODS* hp) {
  if (hp != nullptr) {
    hp->last.clear();
    hp->chain.clear();
  }
  if (pv->periods == nullptr)
    return;
  const std::size_t before_last = pv->periods->list.size() - 1;
  if (hp != nullptr)
    hp->chain.resize(before_last);
  for (std::size_t k = 0; k < before_last; k++) {
    std::vector<TRANSITION_ENTRY> list = pv->periods->list[k].entries;
    error_check_transitions(pv, &list);
    if (hp == nullptr)
      continue;
    sparse_chain_from_list(&hp->chain[k], pv->nbr_states, list);
    hp->last.push_back(pv->periods->list[k].last);
  }
}

const SPARSE_CHAIN* horizon_period_chain(long t, const void* context) {
  const HORIZON_PERIOD_CHAINS* pc = static_cast<const HORIZON_PERIOD_CHAINS*>(context);
  const std::vector<int>& last = pc->periods->last;
  // Step t + 1 belongs to the first period whose last step is not before it.
  const auto k = std::lower_bound(last.begin(), last.end(), t + 1,
                                  [](int end, long step) { return end < step; }) -
                 last.begin();
  return static_cast<std::size_t>(k) < last.size() ? &pc->periods->chain[k] : pc->last;
}

// sum_s x_s v_s over the states with x_s > 0, s from 1 to n: a state the chain is never on
// adds nothing, whatever its value.
static double expected_value(const std::vector<double>& x, const double* value, int n) {
  double total = 0.0;
  for (int s = 1; s <= n; s++) {
    if (x[s] > 0.0)
      total += x[s] * value[s];
  }
  return total;
}

// The state s is absorbing: its one transition is onto itself.
static bool absorbing_state(const SPARSE_CHAIN* c, int s) {
  return c->row_start[s + 1] - c->row_start[s] == 1 && c->to[c->row_start[s]] == s;
}

// The running sums that give the corrected total of a[0..t] in constant time a step:
// plain = a_0 + ... + a_t; odd_even = a_0 + 4 a_1 + 2 a_2 + 4 a_3 + ... (Simpson's inner
// weights, times 3); total[t - 3] for the 3/8 rule's tail.
struct running_sums {
  double plain;
  double odd_even;
};

static double next_total(const std::vector<double>& a, const std::vector<double>& total, long t,
                         int correction, struct running_sums* r) {
  const double at = a[static_cast<std::size_t>(t)];
  if (t == 0) {
    r->plain = at;
    r->odd_even = at;
  } else {
    r->plain += at;
    r->odd_even += (t % 2 == 1 ? 4.0 : 2.0) * at;
  }
  switch (correction) {
    case CORRECTION_HALF:
      return r->plain - 0.5 * a[0];
    case CORRECTION_TRAPEZOID:
      return t == 0 ? 0.0 : r->plain - 0.5 * a[0] - 0.5 * at;
    case CORRECTION_SIMPSON:
      if (t == 0)
        return 0.0;
      if (t == 1)
        return 0.5 * (a[0] + at);
      if (t % 2 == 0)
        return (r->odd_even - at) / 3.0;
      {
        const std::size_t u = static_cast<std::size_t>(t);
        return total[u - 3] + 0.375 * (a[u - 3] + 3.0 * a[u - 2] + 3.0 * a[u - 1] + at);
      }
    default:
      return r->plain;
  }
}

void solve_horizon(const double* initial, const double* value, int n, HORIZON_CHAIN_AT chain_at,
                   const void* context, const HORIZON_SETTINGS* set, HORIZON* h) {
  const std::size_t w = static_cast<std::size_t>(n) + 1;
  const std::size_t steps = static_cast<std::size_t>(set->steps);
  const SPARSE_CHAIN* first = chain_at(0, context);
  const double per_step = static_cast<double>(first->row_start[first->n + 1]) + 1.0;
  if (per_step * static_cast<double>(set->steps) > HORIZON_WORK_MAX) {
    fail(
        " *** ERROR: --horizon %ld: about %.1e transitions followed (%ld steps of %.0f), beyond "
        "the limit of %.0e\n",
        set->steps, per_step * static_cast<double>(set->steps), set->steps, per_step - 1.0,
        HORIZON_WORK_MAX);
  }
  // Every step's distribution and steps spent, when kept, are two dense blocks of T + 1 rows.
  const double kept = 2.0 * static_cast<double>(steps + 1) * static_cast<double>(w);
  if (set->trace && (kept > 1e18 || !dense_fits(static_cast<std::size_t>(kept)))) {
    fail(
        " *** ERROR: --horizon %ld: the path of %d states at every step takes %.1e bytes, more "
        "than the memory holds\n",
        set->steps, n, 8.0 * kept);
  }
  h->set = *set;
  h->n = n;
  h->rows = set->trace ? steps + 1 : 1;
  h->distribution.assign(h->rows * w, 0.0);
  h->spent.assign(h->rows * w, 0.0);
  h->value.assign(steps + 1, 0.0);
  h->factor.assign(steps + 1, 1.0);
  h->total.assign(steps + 1, 0.0);
  // Absorbing in the chain of every step: the chain changes only between periods.
  std::vector<int> absorbing(w, 0);
  for (int s = 1; s <= n; s++)
    absorbing[s] = absorbing_state(first, s);
  const SPARSE_CHAIN* seen = first;
  for (long t = 1; t < set->steps; t++) {
    const SPARSE_CHAIN* now = chain_at(t, context);
    if (now == seen)
      continue;
    for (int s = 1; s <= n; s++)
      absorbing[s] = absorbing[s] && absorbing_state(now, s);
    seen = now;
  }
  h->absorbing.clear();
  for (int s = 1; s <= n; s++) {
    if (absorbing[s])
      h->absorbing.push_back(s);
  }
  const std::size_t na = h->absorbing.size();
  h->absorbed.assign((steps + 1) * na, 0.0);

  std::vector<double> x(initial, initial + w), y(w, 0.0), spent(w, 0.0), a(steps + 1, 0.0);
  x[0] = 0.0;
  struct running_sums sums = {0.0, 0.0};
  // The chain of the steps now being taken, made ready once for the steps it takes in a row.
  CHAIN_STEPS ready;
  const SPARSE_CHAIN* ready_for = nullptr;
  for (std::size_t t = 0; t <= steps; t++) {
    cancel_check();
    if (t > 0) {
      const SPARSE_CHAIN* now = chain_at(static_cast<long>(t) - 1, context);
      if (now != ready_for) {
        long run = 1;
        while (static_cast<long>(t) - 1 + run < set->steps &&
               chain_at(static_cast<long>(t) - 1 + run, context) == now)
          run++;
        ready = CHAIN_STEPS{};  // the last chain's groups go before the next one's are built
        prepare_steps(now, run, set->path, &ready);
        ready_for = now;
      }
      take_step(&ready, x.data(), y.data());
      x.swap(y);
    }
    for (std::size_t s = 1; s < w; s++)
      spent[s] += x[s];
    if (set->trace || t == steps) {
      const std::size_t r = set->trace ? t : 0;
      std::copy(x.begin(), x.end(), h->distribution.begin() + static_cast<long>(r * w));
      std::copy(spent.begin(), spent.end(), h->spent.begin() + static_cast<long>(r * w));
    }
    for (std::size_t k = 0; k < na; k++)
      h->absorbed[t * na + k] = x[static_cast<std::size_t>(h->absorbing[k])];
    h->value[t] = expected_value(x, value, n);
    if (set->discounted)
      h->factor[t] = 1.0 / std::pow(1.0 + set->discount, static_cast<double>(t));
    a[t] = h->factor[t] * h->value[t];
    h->total[t] = next_total(a, h->total, static_cast<long>(t), set->correction, &sums);
  }
}

// The words after "horizon:" that say how the totals are summed.
static std::string how_summed(const HORIZON_SETTINGS* set) {
  std::string text = "summed over steps 0..t";
  if (set->discounted) {
    char rate[64];
    std::snprintf(rate, sizeof rate, ", discounted by 1/(1 + %g)^t", set->discount);
    text += rate;
  }
  static const char* const RULE[] = {"", ", half-cycle correction", ", trapezoid rule",
                                     ", Simpson's rule"};
  text += RULE[set->correction];
  return text;
}

void print_horizon(FILE* out, const PRAVLIN* pv, const HORIZON* h, int precision) {
  const long steps = h->set.steps;
  std::fprintf(out, "\nhorizon: %ld step%s from the initial probabilities\n", steps,
               steps == 1 ? "" : "s");
  std::fprintf(out, "  value: E[v(X_t)]; total: the value %s\n", how_summed(&h->set).c_str());
  // The states' lines of every step, or the one line that says they are left out.
  const bool by_state = !state_lines_left_out(out, pv, static_cast<std::size_t>(h->n));
  const std::size_t w = static_cast<std::size_t>(h->n) + 1;
  const std::size_t na = h->absorbing.size();
  std::string line;
  for (long t = 0; t <= steps; t++) {
    const std::size_t u = static_cast<std::size_t>(t);
    line = "  step ";
    format_long(line, t);
    line += ": value ";
    format_fixed(line, h->value[u], precision);
    line += ", total ";
    format_fixed(line, h->total[u], precision);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    for (std::size_t k = 0; k < na; k++) {
      std::fprintf(out, "    absorbed in ");
      print_state(out, pv, h->absorbing[k]);
      line = " ";
      format_fixed(line, h->absorbed[u * na + k], precision);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), out);
    }
    // Without every step kept, the states' lines are those of step T alone.
    if (!by_state || (h->rows == 1 && t != steps))
      continue;
    const std::size_t r = h->rows == 1 ? 0 : u;
    for (int s = 1; s <= h->n; s++) {
      std::fprintf(out, "    ");
      print_state(out, pv, s);
      line = " ";
      format_fixed(line, h->distribution[r * w + static_cast<std::size_t>(s)], precision);
      line += ", steps spent ";
      format_fixed(line, h->spent[r * w + static_cast<std::size_t>(s)], precision);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), out);
    }
  }
}

void add_horizon_json(const PRAVLIN* pv, const HORIZON* h, json* doc) {
  const std::size_t w = static_cast<std::size_t>(h->n) + 1;
  const std::size_t na = h->absorbing.size();
  json path = json::array();
  for (long t = 0; t <= h->set.steps; t++) {
    const std::size_t u = static_cast<std::size_t>(t);
    json absorbed = json::array();
    for (std::size_t k = 0; k < na; k++)
      absorbed.push_back(json_number(h->absorbed[u * na + k]));
    json step = {{"step", t},
                 {"value", json_number(h->value[u])},
                 {"factor", json_number(h->factor[u])},
                 {"total", json_number(h->total[u])},
                 {"absorbed", absorbed}};
    if (h->rows > 1 || t == h->set.steps) {
      const std::size_t r = h->rows == 1 ? 0 : u;
      step["distribution"] = json_by_state(h->distribution.data() + r * w, h->n);
      step["steps_spent"] = json_by_state(h->spent.data() + r * w, h->n);
    }
    path.push_back(step);
  }
  (*doc)["horizon"] = {
      {"steps", h->set.steps},
      {"discount", h->set.discounted ? json_number(h->set.discount) : json(nullptr)},
      {"cycle_correction", correction_name(h->set.correction)},
      {"absorbing", h->absorbing},
      {"absorbing_names", json_state_names(pv, h->absorbing)},
      {"path", path}};
}

// A number as the shortest text that reads back to the same double; NaN, Inf and -Inf as
// pandas and R both read them.
static void append_csv_number(std::string* line, double v) {
  if (std::isnan(v)) {
    *line += "NaN";
  } else if (std::isinf(v)) {
    *line += v > 0 ? "Inf" : "-Inf";
  } else {
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
    line->append(text, r.ptr);
  }
}

// A state's column heading: its name, or #N; quoted, with its quotes doubled, when it holds a
// comma, a quote or a line end, begins or ends with a blank, or is empty.
static void append_csv_name(std::string* line, const PRAVLIN* pv, int s) {
  std::string name;
  if (pv->state_name[s] != nullptr) {
    name = pv->state_name[s];
  } else {
    name = "#";
    format_long(name, s);
  }
  const bool quote = name.empty() || name.find_first_of(",\"\r\n") != std::string::npos ||
                     name.front() == ' ' || name.front() == '\t' || name.back() == ' ' ||
                     name.back() == '\t';
  if (!quote) {
    *line += name;
    return;
  }
  *line += '"';
  for (char ch : name) {
    if (ch == '"')
      *line += '"';
    *line += ch;
  }
  *line += '"';
}

void write_horizon_csv(FILE* out, const PRAVLIN* pv, const HORIZON* h) {
  const std::size_t w = static_cast<std::size_t>(h->n) + 1;
  std::string line = "step";
  for (int s = 1; s <= h->n; s++) {
    line += ',';
    append_csv_name(&line, pv, s);
  }
  line += ",value,total\n";
  for (long t = 0; t <= h->set.steps; t++) {
    const std::size_t u = static_cast<std::size_t>(t);
    format_long(line, t);
    for (std::size_t s = 1; s < w; s++) {
      line += ',';
      append_csv_number(&line, h->distribution[u * w + s]);
    }
    line += ',';
    append_csv_number(&line, h->value[u]);
    line += ',';
    append_csv_number(&line, h->total[u]);
    line += '\n';
    if (line.size() > (std::size_t{1} << 16)) {
      std::fwrite(line.data(), 1, line.size(), out);
      line.clear();
    }
  }
  std::fwrite(line.data(), 1, line.size(), out);
}

void write_horizon_file(const char* file, const PRAVLIN* pv, const HORIZON* h) {
  FILE* f = output_open(file);
  write_horizon_csv(f, pv, h);
  output_finish();
}
