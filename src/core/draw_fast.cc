// draw_fast.cc - rows made ready for many draws (make_draw_rows, draw_step): running sums and
// guides for each row, and one step of many chains by jump-ahead.
// Part of pravlin; see README.md.
//
// A draw picks the first state of positive probability whose running sum reaches it. For each
// row the running sums are formed once, by the same additions in the same order as calc_state,
// so every comparison is the same one. A draw is one of 32768 values r / 32767.0, and the state
// it picks never falls as r grows, so a guide of 256 entries, the state picked by the first draw
// of each run of 128 values, leaves a step or two of the scan to do; guide and sums stay in the
// fastest caches.
#include "draw_fast.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "periods.h"
#include "scratch.h"
#include "sparse_read.h"

static const double* probabilities(const PreparedRows& d, int row) {
  return row == 0 ? d.pv->initial_probability : d.matrix[row];
}

void build_guides(const PreparedRows& d, int row) {
  const int n = d.n;
  const double* p = probabilities(d, row);
  double* key = d.key + static_cast<std::size_t>(row) * (n + 2);
  double sum = 0.0;
  int last = 0;
  for (int i = 1; i <= n; i++) {
    sum += p[i];
    key[i] = p[i] > 0.0 ? sum : -1.0;
    if (p[i] > 0.0)
      last = i;
  }
  d.last_positive[row] = last;
  int* guide = d.guide + static_cast<std::size_t>(row) * DRAW_GUIDE_SIZE;
  int i = 1;
  for (int g = 0; g < DRAW_GUIDE_SIZE; g++) {
    double random_val = (g << DRAW_GUIDE_SHIFT) / 32767.0;
    while (i <= n && !(key[i] >= random_val))
      i++;
    guide[g] = i;
  }
}

// initial_pick for every generator value, in one pass over the initial probabilities: the
// running sums and the test are draw_state's, and the state picked never falls as the value
// grows.
void build_initial_picks(const PreparedRows& d, int* pick) {
  const double* p = d.pv->initial_probability;
  int last = 0;
  for (int i = 1; i <= d.n; i++) {
    if (p[i] > 0.0)
      last = i;
  }
  int i = 1;
  double sum = p[1];
  for (int r = 0; r <= 32767; r++) {
    const double random_val = r / 32767.0;
    while (i <= d.n && !(p[i] > 0.0 && sum >= random_val)) {
      i++;
      if (i <= d.n)
        sum += p[i];
    }
    pick[r] = i <= d.n ? i : random_val == 1.0 ? last : 0;
  }
}

// Rows fit for the fast path: every entry a finite probability, so running sums never fall.
// last_row 0: the initial probabilities alone.
bool rows_are_probabilities(const PreparedRows& d, int last_row) {
  const SPARSE_ROWS* sparse = d.pv->sparse_transitions;
  for (int row = 0; row <= (sparse != nullptr ? 0 : last_row); row++) {
    const double* p = probabilities(d, row);
    for (int i = 1; i <= d.n; i++) {
      if (!(p[i] >= 0.0 && p[i] <= 1.0))
        return false;
    }
  }
  if (last_row == 0)
    return true;
  if (sparse != nullptr) {
    for (const TRANSITION_ENTRY& e : sparse->entries) {
      if (!(e.probability >= 0.0 && e.probability <= 1.0))
        return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// One step of many chains, for a chain table drawn as it is written (stream.cc): the same sums,
// guides and jump-ahead, without a table.

namespace {

// One set of rows made ready; its arrays are null where it has none.
struct DrawRows {
  PreparedRows d;
  Scratch<double> key;
  Scratch<int> guide;
  Scratch<int> last_positive;
  Scratch<int> initial_pick;
};

}  // namespace

struct RunRows {
  const PRAVLIN* pv;
  std::vector<DrawRows> sets;
};

// The rows of a set made ready; its arrays stay null when they are not all probabilities or
// their memory is refused. Only step 0 draws from the initial probabilities, and only set 0
// draws it: a later set without guides needs nothing.
static void make_ready(DrawRows* r, bool first_set) {
  const PRAVLIN* pv = r->d.pv;
  const int n = r->d.n;
  // Without guides, only the first states' picks need their row to be probabilities.
  const bool guided = n <= DRAW_GUIDE_MAX_STATES && pv->sparse_transitions == nullptr;
  if (!guided && !first_set)
    return;
  if (n < 1 || pv->initial_probability == nullptr || !rows_are_probabilities(r->d, guided ? n : 0))
    return;
  const auto count = guided ? static_cast<std::size_t>(n) + 1 : 0;
  Scratch<double> key = scratch<double>(count * (count + 1));
  Scratch<int> guide = scratch<int>(count * DRAW_GUIDE_SIZE);
  Scratch<int> last_positive = scratch<int>(count);
  Scratch<int> initial_pick = scratch<int>(guided ? 0 : 32768);
  if (!key || !guide || !last_positive || !initial_pick)
    return;
  if (!guided) {
    r->initial_pick = std::move(initial_pick);
    r->d.initial_pick = r->initial_pick.get();
    build_initial_picks(r->d, r->d.initial_pick);
    return;
  }
  r->key = std::move(key);
  r->guide = std::move(guide);
  r->last_positive = std::move(last_positive);
  r->d.key = r->key.get();
  r->d.guide = r->guide.get();
  r->d.last_positive = r->last_positive.get();
  for (int row = 0; row <= n; row++)
    build_guides(r->d, row);
}

RunRows* make_run_rows(const PRAVLIN* pv) {
  static const char OOM3[] = " *** ERROR: out of memory 3 in read_xml_file()\n";
  std::unique_ptr<RunRows> r(new (std::nothrow) RunRows{pv, {}});
  if (!r)
    fail("%s", OOM3);
  const std::size_t sets = pv->periods != nullptr ? pv->periods->list.size() : 1;
  or_out_of_memory(OOM3, [&] { r->sets.resize(sets); });
  for (std::size_t p = 0; p < sets; p++) {
    double* const* matrix = pv->periods != nullptr ? pv->periods->list[p].transition_probability
                                                   : pv->transition_probability;
    r->sets[p].d = PreparedRows{pv, pv->nbr_states, matrix, nullptr, nullptr, nullptr, nullptr};
    make_ready(&r->sets[p], p == 0);
  }
  return r.release();
}

void free_run_rows(RunRows* r) {
  delete r;
}

std::size_t rows_of_step(const RunRows* r, long long t) {
  const CHAIN_PERIODS* periods = r->pv->periods;
  if (periods == nullptr || t < 1)
    return 0;
  // The first period that ends at t or after it, or the last one.
  const auto at =
      std::lower_bound(periods->list.begin(), periods->list.end() - 1, t,
                       [](const CHAIN_PERIOD& p, long long step) { return p.last < step; });
  return static_cast<std::size_t>(at - periods->list.begin());
}

std::size_t rows_of_next_step(const RunRows* r, std::size_t set, long long t) {
  const CHAIN_PERIODS* periods = r->pv->periods;
  if (periods == nullptr || t < 0 || t >= r->pv->nbr_years)
    return set;
  return period_of_step(periods, static_cast<int>(t + 1), set);
}

// One step of count chains, each next chain's value chain_step further on.
template <bool kGuided>
static bool draw_step_with(const PreparedRows& d, RandJump chain_step, std::uint32_t x, int* state,
                           std::size_t count) {
  bool found = true;
  for (std::size_t i = 0; i < count; i++) {
    const int s = draw_prepared<kGuided>(d, state[i], rand_value(rand_apply(RAND_STEP, x)));
    found = found && s != 0;
    state[i] = s;
    x = rand_apply(chain_step, x);
  }
  return found;
}

bool draw_step(const RunRows* r, std::size_t set, std::uint32_t x, int* state, std::size_t count) {
  const RandJump chain_step = rand_jump(static_cast<std::uint64_t>(r->pv->nbr_years) + 1);
  const PreparedRows& d = r->sets[set].d;
  if (d.key != nullptr)
    return draw_step_with<true>(d, chain_step, x, state, count);
  return draw_step_with<false>(d, chain_step, x, state, count);
}
