// simulate.cc - the generator and chain simulation (calc_state, create_pravlin).
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "stream.h"

// The generator's state: x = 1 when the process starts, never seeded, so every run of a
// configuration draws the same chains. Written only by pravlin_rand and pravlin_rand_reset.
static std::uint32_t rand_state = 1;

int pravlin_rand() {
  // The classic 15-bit C library generator, so the chains agree with other programs built on
  // it; std::rand's range and sequence vary by C library.
  rand_state = rand_state * 214013u + 2531011u;
  return static_cast<int>((rand_state >> 16) & 0x7FFFu);
}

void pravlin_rand_reset() {
  rand_state = 1;
}

int calc_state(const double* probability_table, int n) {
  if (probability_table == nullptr || n < 1) {
    fail(" *** ERROR: either NULL Pointer for probability_table or n < 1 (%d) in calc_state\n", n);
  }
  // 32767.0, not 32768: a draw of exactly 1.0 must be possible, as must 0.0.
  double random_val = pravlin_rand() / 32767.0;
  double prob_partial_sum = 0.0;
  int i;
  for (i = 1; i <= n; i++) {
    prob_partial_sum += probability_table[i];
    // A state of probability zero is never drawn, not even by a draw of 0.0, which every
    // running sum reaches.
    if (probability_table[i] > 0.0 && prob_partial_sum >= random_val)
      return i;
  }
  // A normalised row may total just below 1.0 by rounding, and a draw of exactly 1.0 would
  // then find no state: it belongs to the last state that can be drawn at all.
  if (random_val == 1.0) {
    for (int j = n; j >= 1; j--) {
      if (probability_table[j] > 0.0)
        return j;
    }
  }
  fail(
      " *** ERROR: Did not find new state -- random_val = %f  prob_partial_sum = %f  i = %d n = %d"
      " in calc_state()\n",
      random_val, prob_partial_sum, i, n);
}

void create_pravlin(int n, PRAVLIN* pv) {
  if (pv == nullptr)
    fail(" *** ERROR: PRAVLIN NULL Pointer in create_pravlin()\n");
  if (n < 1 || n > pv->nbr_chains) {
    fail(" *** ERROR: n (%d) is less than 1 or greater than pv->nbr_chains (%d)\n", n,
         pv->nbr_chains);
  }
  int* chain = pv->pravlin[n];
  int ser = calc_state(pv->initial_probability, pv->nbr_states);
  chain[0] = ser;
  for (int i = 1; i <= pv->nbr_years; i++) {
    ser = calc_state(pv->transition_probability[ser], pv->nbr_states);
    chain[i] = ser;
  }
}

// ---------------------------------------------------------------------------------------------
// All chains at once: the same chains table and the same generator state afterwards as
// create_pravlin(1), ..., create_pravlin(nbr_chains) in order, many times faster.
//
// A draw picks the first state of positive probability whose running sum reaches it. For each
// row the running sums are formed once, by the same additions in the same order as calc_state,
// so every comparison is the same one. A draw is one of 32768 values r / 32767.0, and the state
// it picks never falls as r grows, so a guide of 256 entries, the state picked by the first
// draw of each run of 128 values, leaves a step or two of the scan to do; guide and sums stay
// in the fastest caches. Chain c starts at generator value (c - 1) * (T + 1) of the run, which a
// linear congruential generator reaches by jump-ahead, so chains are drawn on several threads.

namespace {

constexpr int kGuideShift = 7;
constexpr int kGuideSize = 32768 >> kGuideShift;
// Largest model whose rows get their sums and guides: (N + 1)^2 doubles, 32 MiB at most.
// Larger ones scan the transition row itself, as calc_state does, and allocate nothing.
constexpr int kGuideMaxStates = 2047;
// Below this many draws the threads cost more than they save.
constexpr std::uint64_t kParallelMinDraws = 1 << 18;

struct Lcg {
  std::uint32_t mul, add;  // x -> mul * x + add
};

// The generator advanced by k values, composed by repeated squaring of one step.
Lcg lcg_jump(std::uint64_t k) {
  Lcg acc{1u, 0u};
  Lcg cur{214013u, 2531011u};
  while (k != 0) {
    if (k & 1)
      acc = Lcg{cur.mul * acc.mul, cur.mul * acc.add + cur.add};
    cur = Lcg{cur.mul * cur.mul, cur.mul * cur.add + cur.add};
    k >>= 1;
  }
  return acc;
}

// One probability row p[1..n] made ready for draws.
struct DrawRow {
  // key[i]: the running sum of p[1..i] where p[i] > 0, and -1 where state i cannot be drawn,
  // so that "key[i] >= draw" is calc_state's whole test.
  std::vector<double> key;
  std::vector<int> guide;  // state picked by draw (g << kGuideShift) / 32767.0; n + 1 if none
  int last_positive;       // the state a draw of 1.0 falls back to
  double total;            // the row's sum, for the failure message
};

struct Failure {
  int chain;  // the lowest failing chain, or 0
  int r;      // its generator value
  double total;
};

}  // namespace

static void build_draw_row(DrawRow& d, const double* p, int n) {
  d.key.assign(static_cast<std::size_t>(n) + 2, 0.0);
  double sum = 0.0;
  d.last_positive = 0;
  for (int i = 1; i <= n; i++) {
    sum += p[i];
    d.key[static_cast<std::size_t>(i)] = p[i] > 0.0 ? sum : -1.0;
    if (p[i] > 0.0)
      d.last_positive = i;
  }
  d.total = sum;
  d.guide.assign(kGuideSize, n + 1);
  int i = 1;
  for (int g = 0; g < kGuideSize; g++) {
    double random_val = (g << kGuideShift) / 32767.0;
    while (i <= n && !(d.key[static_cast<std::size_t>(i)] >= random_val))
      i++;
    d.guide[static_cast<std::size_t>(g)] = i;
  }
}

// The state calc_state picks for generator value r, or 0 where it reports no state.
static inline int draw_from(const DrawRow& d, int r, int n) {
  double random_val = r / 32767.0;
  int i = d.guide[static_cast<std::size_t>(r >> kGuideShift)];
  const double* key = d.key.data();
  while (i <= n && !(key[i] >= random_val))
    i++;
  if (i <= n)
    return i;
  return random_val == 1.0 ? d.last_positive : 0;
}

// calc_state's own scan, for models too large for guides.
static inline int scan_row(const double* p, int r, int n, double* total) {
  double random_val = r / 32767.0;
  double prob_partial_sum = 0.0;
  for (int i = 1; i <= n; i++) {
    prob_partial_sum += p[i];
    if (p[i] > 0.0 && prob_partial_sum >= random_val)
      return i;
  }
  if (random_val == 1.0) {
    for (int j = n; j >= 1; j--) {
      if (p[j] > 0.0)
        return j;
    }
  }
  *total = prob_partial_sum;
  return 0;
}

// Rows fit for the fast path: every entry a finite probability, so running sums never fall.
static bool rows_are_probabilities(const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  auto ok = [n](const double* p) {
    for (int i = 1; i <= n; i++) {
      if (!(p[i] >= 0.0 && p[i] <= 1.0))
        return false;
    }
    return true;
  };
  if (!ok(pv->initial_probability))
    return false;
  for (int s = 1; s <= n; s++) {
    if (!ok(pv->transition_probability[s]))
      return false;
  }
  return true;
}

// One chain c, drawing after generator state x; returns false, with the failure recorded,
// where calc_state would have ended the run. rows is empty for a model too large for guides.
static bool draw_chain(const PRAVLIN* pv, const std::vector<DrawRow>& rows, int c, std::uint32_t x,
                       Failure* failure) {
  const int n = pv->nbr_states;
  const int years = pv->nbr_years;
  int* chain = pv->pravlin[c];
  int row = 0;
  for (int t = 0; t <= years; t++) {
    x = x * 214013u + 2531011u;
    int r = static_cast<int>((x >> 16) & 0x7FFFu);
    double total = 0.0;
    int s;
    if (!rows.empty()) {
      const DrawRow& d = rows[static_cast<std::size_t>(row)];
      s = draw_from(d, r, n);
      total = d.total;
    } else {
      s = scan_row(row == 0 ? pv->initial_probability : pv->transition_probability[row], r, n,
                   &total);
    }
    if (s == 0) {
      *failure = Failure{c, r, total};
      return false;
    }
    chain[t] = s;
    row = s;
  }
  return true;
}

// Two guided chains side by side: each step of a chain waits on the one before it, and the
// other chain's step fills that wait. Returns false if either would fail; the caller then
// draws them one at a time to find which failure comes first.
static bool draw_chain_pair(const PRAVLIN* pv, const std::vector<DrawRow>& rows, int c,
                            std::uint32_t xa, std::uint32_t xb) {
  const int n = pv->nbr_states;
  const int years = pv->nbr_years;
  int* chain_a = pv->pravlin[c];
  int* chain_b = pv->pravlin[c + 1];
  int row_a = 0, row_b = 0;
  for (int t = 0; t <= years; t++) {
    xa = xa * 214013u + 2531011u;
    xb = xb * 214013u + 2531011u;
    int sa =
        draw_from(rows[static_cast<std::size_t>(row_a)], static_cast<int>((xa >> 16) & 0x7FFFu), n);
    int sb =
        draw_from(rows[static_cast<std::size_t>(row_b)], static_cast<int>((xb >> 16) & 0x7FFFu), n);
    if (sa == 0 || sb == 0)
      return false;
    chain_a[t] = sa;
    chain_b[t] = sb;
    row_a = sa;
    row_b = sb;
  }
  return true;
}

// Chains first_chain..last_chain, the first drawing after generator state x.
static void draw_chains(const PRAVLIN* pv, const std::vector<DrawRow>* rows, int first_chain,
                        int last_chain, std::uint32_t x, Failure* failure) {
  const Lcg chain_step = lcg_jump(static_cast<std::uint64_t>(pv->nbr_years) + 1);
  int c = first_chain;
  if (!rows->empty()) {
    for (; c + 1 <= last_chain; c += 2) {
      std::uint32_t xb = chain_step.mul * x + chain_step.add;
      if (!draw_chain_pair(pv, *rows, c, x, xb))
        break;
      x = chain_step.mul * xb + chain_step.add;
    }
  }
  for (; c <= last_chain; c++) {
    if (!draw_chain(pv, *rows, c, x, failure))
      return;
    x = chain_step.mul * x + chain_step.add;
  }
}

void create_all_pravlin(PRAVLIN* pv) {
  if (pv == nullptr)
    fail(" *** ERROR: PRAVLIN NULL Pointer in create_pravlin()\n");
  if (pv->pravlin == nullptr) {
    simulate_without_table(pv);  // a table too large to keep is drawn as it is written
    return;
  }
  const int k = pv->nbr_chains;
  const int n = pv->nbr_states;
  if (k < 1)
    return;
  if (n < 1 || pv->initial_probability == nullptr || !rows_are_probabilities(pv)) {
    // Rows the fast path cannot vouch for take the literal path, messages and all.
    for (int c = 1; c <= k; c++)
      create_pravlin(c, pv);
    return;
  }
  const std::uint64_t per_chain = static_cast<std::uint64_t>(pv->nbr_years) + 1;
  const std::uint64_t draws = per_chain * static_cast<std::uint64_t>(k);
  const std::uint32_t start = rand_state;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  if (draws < kParallelMinDraws)
    threads = 1;
  threads = std::min<unsigned>(threads, static_cast<unsigned>(k));

  std::vector<DrawRow> rows;
  std::vector<Failure> failures;
  std::vector<std::thread> workers;
  try {
    // Sums and guides cost about a row's scan for every row; they pay only when there are
    // many more draws than rows.
    const bool guided = n <= kGuideMaxStates && draws >= 8 * (static_cast<std::uint64_t>(n) + 1);
    if (guided) {
      rows.resize(static_cast<std::size_t>(n) + 1);
      build_draw_row(rows[0], pv->initial_probability, n);
      for (int s = 1; s <= n; s++) {
        build_draw_row(rows[static_cast<std::size_t>(s)], pv->transition_probability[s], n);
      }
    }
    failures.assign(threads, Failure{0, 0, 0.0});
    workers.reserve(threads);
  } catch (const std::bad_alloc&) {
    // Without the memory for sums and guides the chains are drawn as calc_state draws them,
    // which needs none: the same chains, only slower. The solver may still find its memory.
    std::vector<DrawRow>().swap(rows);
    for (int c = 1; c <= k; c++)
      create_pravlin(c, pv);
    return;
  }
  int next_chain = 1;
  for (unsigned w = 0; w < threads; w++) {
    int share =
        k / static_cast<int>(threads) + (static_cast<int>(w) < k % static_cast<int>(threads));
    int first = next_chain, last = next_chain + share - 1;
    next_chain = last + 1;
    Lcg jump = lcg_jump(static_cast<std::uint64_t>(first - 1) * per_chain);
    std::uint32_t x = jump.mul * start + jump.add;
    if (w + 1 == threads) {
      draw_chains(pv, &rows, first, last, x, &failures[w]);
    } else {
      try {
        workers.emplace_back(draw_chains, pv, &rows, first, last, x, &failures[w]);
      } catch (const std::system_error&) {
        // No thread to be had (an address-space limit may leave no room for its stack): this
        // share is drawn here instead, from the same generator values.
        draw_chains(pv, &rows, first, last, x, &failures[w]);
      }
    }
  }
  for (std::thread& th : workers)
    th.join();

  // In one thread the chains run one after another, so the lowest failing chain is the one
  // that would have ended the run.
  for (const Failure& f : failures) {
    if (f.chain == 0)
      continue;
    fail(
        " *** ERROR: Did not find new state -- random_val = %f  prob_partial_sum = %f  i = %d "
        "n = %d in calc_state()\n",
        f.r / 32767.0, f.total, n + 1, n);
  }
  Lcg all = lcg_jump(draws);
  rand_state = all.mul * start + all.add;
}

// ---------------------------------------------------------------------------------------------
// One step of many chains at a time, for a chain table drawn as it is written (stream.cc): the
// same sums, guides and jump-ahead as above, with no table.

struct DrawRows {
  std::vector<DrawRow> rows;  // row 0: the initial probabilities; row s: out of state s
};

DrawRows* make_draw_rows(const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  if (n < 1 || n > kGuideMaxStates || pv->initial_probability == nullptr ||
      !rows_are_probabilities(pv))
    return nullptr;
  try {
    auto* d = new DrawRows;
    d->rows.resize(static_cast<std::size_t>(n) + 1);
    build_draw_row(d->rows[0], pv->initial_probability, n);
    for (int s = 1; s <= n; s++)
      build_draw_row(d->rows[static_cast<std::size_t>(s)], pv->transition_probability[s], n);
    return d;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void free_draw_rows(DrawRows* d) {
  delete d;
}

std::uint32_t pravlin_rand_state() {
  return rand_state;
}

void pravlin_rand_skip(std::uint64_t k) {
  Lcg j = lcg_jump(k);
  rand_state = j.mul * rand_state + j.add;
}

std::uint32_t rand_jump_ahead(std::uint32_t x, std::uint64_t k) {
  Lcg j = lcg_jump(k);
  return j.mul * x + j.add;
}

bool draw_step(const PRAVLIN* pv, const DrawRows* d, std::uint32_t x, int* state,
               std::size_t count) {
  const int n = pv->nbr_states;
  const Lcg chain_step = lcg_jump(static_cast<std::uint64_t>(pv->nbr_years) + 1);
  bool found = true;
  for (std::size_t i = 0; i < count; i++) {
    const std::uint32_t y = x * 214013u + 2531011u;
    const int r = static_cast<int>((y >> 16) & 0x7FFFu);
    const int row = state[i];
    int s;
    if (d != nullptr) {
      s = draw_from(d->rows[static_cast<std::size_t>(row)], r, n);
    } else {
      double total = 0.0;
      s = scan_row(row == 0 ? pv->initial_probability : pv->transition_probability[row], r, n,
                   &total);
    }
    found = found && s != 0;
    state[i] = s;
    x = chain_step.mul * x + chain_step.add;
  }
  return found;
}
