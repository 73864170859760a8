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

#include <memory>
#include <new>

#include "scratch.h"
#include "sparse_read.h"

static const double* probabilities(const PreparedRows& d, int row) {
  return row == 0 ? d.pv->initial_probability : d.pv->transition_probability[row];
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

struct DrawRows {
  PreparedRows d;
  Scratch<double> key;
  Scratch<int> guide;
  Scratch<int> last_positive;
  Scratch<int> initial_pick;
};

DrawRows* make_draw_rows(const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  PreparedRows d{pv, n, nullptr, nullptr, nullptr, nullptr};
  // Without guides, only the first states' picks need their row to be probabilities.
  const bool guided = n <= DRAW_GUIDE_MAX_STATES && pv->sparse_transitions == nullptr;
  if (n < 1 || pv->initial_probability == nullptr || !rows_are_probabilities(d, guided ? n : 0))
    return nullptr;
  const auto count = guided ? static_cast<std::size_t>(n) + 1 : 0;
  auto* rows = new (std::nothrow)
      DrawRows{d, scratch<double>(count * (count + 1)), scratch<int>(count * DRAW_GUIDE_SIZE),
               scratch<int>(count), scratch<int>(guided ? 0 : 32768)};
  std::unique_ptr<DrawRows> r(rows);
  if (!r || !r->key || !r->guide || !r->last_positive || !r->initial_pick)
    return nullptr;
  if (!guided) {
    r->d.initial_pick = r->initial_pick.get();
    build_initial_picks(r->d, r->d.initial_pick);
    return r.release();
  }
  r->d.key = r->key.get();
  r->d.guide = r->guide.get();
  r->d.last_positive = r->last_positive.get();
  for (int row = 0; row <= n; row++)
    build_guides(r->d, row);
  return r.release();
}

void free_draw_rows(DrawRows* r) {
  delete r;
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

bool draw_step(const PRAVLIN* pv, const DrawRows* r, std::uint32_t x, int* state,
               std::size_t count) {
  const RandJump chain_step = rand_jump(static_cast<std::uint64_t>(pv->nbr_years) + 1);
  if (r != nullptr && r->d.key != nullptr)
    return draw_step_with<true>(r->d, chain_step, x, state, count);
  const PreparedRows d =
      r != nullptr ? r->d : PreparedRows{pv, pv->nbr_states, nullptr, nullptr, nullptr, nullptr};
  return draw_step_with<false>(d, chain_step, x, state, count);
}
