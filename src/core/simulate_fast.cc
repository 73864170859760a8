// simulate_fast.cc - every chain at once (create_all_pravlin_fast): running sums and guides for
// each row, jump-ahead, and the chains drawn on all cores.
// Part of pravlin; see README.md.
//
// The chains table and the generator state afterwards are those of create_pravlin(1), ...,
// create_pravlin(nbr_chains) in order. A draw picks the first state of positive probability
// whose running sum reaches it. For each row the running sums are formed once, by the same
// additions in the same order as calc_state, so every comparison is the same one. A draw is one
// of 32768 values r / 32767.0, and the state it picks never falls as r grows, so a guide of 256
// entries, the state picked by the first draw of each run of 128 values, leaves a step or two of
// the scan to do; guide and sums stay in the fastest caches. Chain c starts at generator value
// (c - 1) * (T + 1) of the run, which the generator reaches by jump-ahead, so chains are drawn
// on several cores.
#include "simulate_fast.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "fast.h"
#include "simulate.h"
#include "sparse_read.h"

namespace {

constexpr int kGuideShift = 7;
constexpr int kGuideSize = 32768 >> kGuideShift;
// Largest model whose rows get their sums and guides: (N + 1)^2 doubles, 32 MiB at most.
// Larger ones scan the probability rows as calc_state does.
constexpr int kGuideMaxStates = 2047;
// Below this many draws the threads cost more than they save.
constexpr std::uint64_t kParallelMinDraws = 1 << 18;

// The rows a chain draws from: row 0 is the initial probabilities, row s the transitions out
// of state s.
struct Rows {
  const PRAVLIN* pv;
  int n;
  // key[row * (n + 2) + i]: the running sum of p[1..i] where p[i] > 0, and -1 where state i
  // cannot be drawn, so that "key >= draw" is calc_state's whole test. Null: no guides, the
  // rows themselves are scanned.
  double* key;
  int* guide;          // guide[row * kGuideSize + g]: state picked by (g << kGuideShift) / 32767.0
  int* last_positive;  // the state a draw of 1.0 falls back to, per row
  // Without guides: initial_pick[r], the state that generator value r draws from the initial
  // probabilities (0 for none), or null, the row itself scanned. Every chain draws its first
  // state from that row, and on a large model a scan of it is most of a short chain's work.
  int* initial_pick;
};

struct Failure {
  int chain;  // the lowest failing chain of a share, or 0
  int r;      // its generator value
  double total;
};

}  // namespace

static const double* probabilities(const Rows& d, int row) {
  return row == 0 ? d.pv->initial_probability : d.pv->transition_probability[row];
}

// A row scanned as calc_state scans it: the dense row, or the sparse row of a run that keeps no
// matrix (which gets no guides).
static int draw_row(const Rows& d, int row, int r, double* total) {
  if (row == 0)
    return draw_state(d.pv->initial_probability, d.n, r, total);
  return draw_transition(d.pv, row, r, total);
}

static void build_guides(const Rows& d, int row) {
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
  int* guide = d.guide + static_cast<std::size_t>(row) * kGuideSize;
  int i = 1;
  for (int g = 0; g < kGuideSize; g++) {
    double random_val = (g << kGuideShift) / 32767.0;
    while (i <= n && !(key[i] >= random_val))
      i++;
    guide[g] = i;
  }
}

// initial_pick for every generator value, in one pass over the initial probabilities: the
// running sums and the test are draw_state's, and the state picked never falls as the value
// grows.
static void build_initial_picks(const Rows& d, int* pick) {
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

// The state calc_state picks from the row for generator value r, or 0 where it finds none.
template <bool kGuided>
static inline int draw(const Rows& d, int row, int r) {
  const int n = d.n;
  if (!kGuided) {
    if (row == 0 && d.initial_pick != nullptr)
      return d.initial_pick[r];
    double total;
    return draw_row(d, row, r, &total);
  }
  double random_val = r / 32767.0;
  const double* key = d.key + static_cast<std::size_t>(row) * (n + 2);
  int i = d.guide[static_cast<std::size_t>(row) * kGuideSize + (r >> kGuideShift)];
  while (i <= n && !(key[i] >= random_val))
    i++;
  if (i <= n)
    return i;
  return random_val == 1.0 ? d.last_positive[row] : 0;
}

// Chains c, ..., c + L - 1 side by side, each after its own generator state x[l]: each step of a
// chain waits on the one before it, and the other chains' steps fill that wait. Returns false
// where calc_state would have ended the run in one of them; with L = 1, the failure is recorded.
template <int L, bool kGuided>
static bool draw_chains_together(const Rows& rows, int c, const std::uint32_t* start,
                                 Failure* failure) {
  // Local copies, which the writes to the chains cannot alias.
  const Rows d = rows;
  std::uint32_t x[L];
  int* chain[L];
  int row[L] = {};
  for (int l = 0; l < L; l++) {
    x[l] = start[l];
    chain[l] = d.pv->pravlin[c + l];
  }
  for (int t = 0; t <= d.pv->nbr_years; t++) {
    int s[L];
    bool found = true;
#pragma GCC unroll 2
    for (int l = 0; l < L; l++) {
      x[l] = rand_apply(RAND_STEP, x[l]);
      s[l] = draw<kGuided>(d, row[l], rand_value(x[l]));
      found = found && s[l] != 0;
    }
    if (!found) {
      if (L == 1) {
        failure->chain = c;
        failure->r = rand_value(x[0]);
        draw_row(d, row[0], failure->r, &failure->total);
      }
      return false;
    }
#pragma GCC unroll 2
    for (int l = 0; l < L; l++) {
      chain[l][t] = s[l];
      row[l] = s[l];
    }
  }
  return true;
}

// Chains first..last, the first drawing after generator state x. Two at a time, and one at a
// time from a pair that fails, to find which chain fails first.
template <bool kGuided>
static void draw_chains(const Rows& d, int first, int last, std::uint32_t x, Failure* failure) {
  const RandJump chain_step = rand_jump(static_cast<std::uint64_t>(d.pv->nbr_years) + 1);
  int c = first;
  for (; c + 1 <= last; c += 2) {
    const std::uint32_t second = rand_apply(chain_step, x);
    std::uint32_t pair[2] = {x, second};
    if (!draw_chains_together<2, kGuided>(d, c, pair, failure))
      break;
    x = rand_apply(chain_step, second);
  }
  for (; c <= last; c++) {
    std::uint32_t one[1] = {x};
    if (!draw_chains_together<1, kGuided>(d, c, one, failure))
      return;
    x = rand_apply(chain_step, x);
  }
}

// Rows fit for the fast path: every entry a finite probability, so running sums never fall.
// last_row 0: the initial probabilities alone.
static bool rows_are_probabilities(const Rows& d, int last_row) {
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

bool create_all_pravlin_fast(PRAVLIN* pv) {
  const int k = pv->nbr_chains;
  const int n = pv->nbr_states;
  Rows d{pv, n, nullptr, nullptr, nullptr, nullptr};
  if (k < 1 || n < 1 || pv->initial_probability == nullptr || !rows_are_probabilities(d, n))
    return false;
  const std::uint64_t per_chain = static_cast<std::uint64_t>(pv->nbr_years) + 1;
  const std::uint64_t draws = per_chain * static_cast<std::uint64_t>(k);
  const unsigned parts =
      draws < kParallelMinDraws ? 1u : std::min<unsigned>(core_count(), static_cast<unsigned>(k));

  // Sums and guides cost about a row's scan for every row; they pay only when there are many
  // more draws than rows.
  const auto rows = static_cast<std::size_t>(n) + 1;
  const bool guided =
      pv->sparse_transitions == nullptr && n <= kGuideMaxStates && draws >= 8 * rows;
  Scratch<double> key = scratch<double>(guided ? rows * (rows + 1) : 0);
  Scratch<int> guide = scratch<int>(guided ? rows * kGuideSize : 0);
  Scratch<int> last_positive = scratch<int>(guided ? rows : 0);
  Scratch<Failure> failures = scratch<Failure>(parts);
  if (!key || !guide || !last_positive || !failures)
    return false;
  // Without it, the first states are drawn by scanning the row: only slower.
  Scratch<int> initial_pick = scratch<int>(guided ? 0 : 32768);
  if (guided) {
    d.key = key.get();
    d.guide = guide.get();
    d.last_positive = last_positive.get();
    for (int row = 0; row <= n; row++)
      build_guides(d, row);
  } else if (initial_pick) {
    d.initial_pick = initial_pick.get();
    build_initial_picks(d, d.initial_pick);
  }

  const std::uint32_t start = pravlin_rand_state();
  run_parts(parts, [&](unsigned part) {
    // Shares of chains as even as they can be, in chain order.
    const int first = static_cast<int>(static_cast<std::uint64_t>(k) * part / parts) + 1;
    const int last = static_cast<int>(static_cast<std::uint64_t>(k) * (part + 1) / parts);
    failures[part] = Failure{0, 0, 0.0};
    std::uint32_t x =
        rand_apply(rand_jump(static_cast<std::uint64_t>(first - 1) * per_chain), start);
    if (guided) {
      draw_chains<true>(d, first, last, x, &failures[part]);
    } else {
      draw_chains<false>(d, first, last, x, &failures[part]);
    }
  });

  // In one thread the chains run one after another, so the lowest failing chain is the one
  // that would have ended the run.
  for (unsigned part = 0; part < parts; part++) {
    if (failures[part].chain != 0)
      fail_no_state(failures[part].r, failures[part].total, n);
  }
  pravlin_rand_skip(draws);
  return true;
}

// ---------------------------------------------------------------------------------------------
// One step of many chains, for a chain table drawn as it is written (stream.cc): the same sums,
// guides and jump-ahead, without a table.

struct DrawRows {
  Rows d;
  Scratch<double> key;
  Scratch<int> guide;
  Scratch<int> last_positive;
  Scratch<int> initial_pick;
};

DrawRows* make_draw_rows(const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  Rows d{pv, n, nullptr, nullptr, nullptr, nullptr};
  // Without guides, only the first states' picks need their row to be probabilities.
  const bool guided = n <= kGuideMaxStates && pv->sparse_transitions == nullptr;
  if (n < 1 || pv->initial_probability == nullptr || !rows_are_probabilities(d, guided ? n : 0))
    return nullptr;
  const auto count = guided ? static_cast<std::size_t>(n) + 1 : 0;
  auto* rows = new (std::nothrow)
      DrawRows{d, scratch<double>(count * (count + 1)), scratch<int>(count * kGuideSize),
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
static bool draw_step_with(const Rows& d, RandJump chain_step, std::uint32_t x, int* state,
                           std::size_t count) {
  bool found = true;
  for (std::size_t i = 0; i < count; i++) {
    const int s = draw<kGuided>(d, state[i], rand_value(rand_apply(RAND_STEP, x)));
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
  const Rows d = r != nullptr ? r->d : Rows{pv, pv->nbr_states, nullptr, nullptr, nullptr, nullptr};
  return draw_step_with<false>(d, chain_step, x, state, count);
}
