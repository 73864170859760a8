// simulate_fast.cc - every chain at once (create_all_pravlin_fast): the rows' sums and guides
// (draw_fast.h), jump-ahead, and the chains drawn on all cores.
// Part of pravlin; see README.md.
//
// The chains table and the generator state afterwards are those of create_pravlin(1), ...,
// create_pravlin(nbr_chains) in order. Chain c starts at generator value (c - 1) * (T + 1) of
// the run, which the generator reaches by jump-ahead, so chains are drawn on several cores.
#include "simulate_fast.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "cancel.h"
#include "core_limits.h"
#include "cores.h"
#include "draw.h"
#include "draw_fast.h"
#include "scratch.h"

namespace {

struct Failure {
  int chain;  // the lowest failing chain of a share, or 0
  int r;      // its generator value
  double total;
};

}  // namespace

// Chains c, ..., c + L - 1 side by side, each after its own generator state x[l]: each step of a
// chain waits on the one before it, and the other chains' steps fill that wait. Returns false
// where calc_state would have ended the run in one of them; with L = 1, the failure is recorded.
template <int L, bool kGuided>
static bool draw_chains_together(const PreparedRows& rows, int c, const std::uint32_t* start,
                                 Failure* failure) {
  // Local copies, which the writes to the chains cannot alias.
  const PreparedRows d = rows;
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
      s[l] = draw_prepared<kGuided>(d, row[l], rand_value(x[l]));
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
static void draw_chains(const PreparedRows& d, int first, int last, std::uint32_t x,
                        Failure* failure) {
  const RandJump chain_step = rand_jump(static_cast<std::uint64_t>(d.pv->nbr_years) + 1);
  int c = first;
  for (; c + 1 <= last; c += 2) {
    cancel_check();
    const std::uint32_t second = rand_apply(chain_step, x);
    std::uint32_t pair[2] = {x, second};
    if (!draw_chains_together<2, kGuided>(d, c, pair, failure))
      break;
    x = rand_apply(chain_step, second);
  }
  for (; c <= last; c++) {
    cancel_check();
    std::uint32_t one[1] = {x};
    if (!draw_chains_together<1, kGuided>(d, c, one, failure))
      return;
    x = rand_apply(chain_step, x);
  }
}

bool create_all_pravlin_fast(PRAVLIN* pv) {
  const int k = pv->nbr_chains;
  const int n = pv->nbr_states;
  PreparedRows d{pv, n, pv->transition_probability, nullptr, nullptr, nullptr, nullptr};
  if (k < 1 || n < 1 || pv->initial_probability == nullptr || !rows_are_probabilities(d, n))
    return false;
  const std::uint64_t per_chain = static_cast<std::uint64_t>(pv->nbr_years) + 1;
  const std::uint64_t draws = per_chain * static_cast<std::uint64_t>(k);
  const unsigned parts = draws < SIMULATE_PARALLEL_MIN_DRAWS
                             ? 1u
                             : std::min<unsigned>(core_count(), static_cast<unsigned>(k));

  // Sums and guides cost about a row's scan for every row; they pay only when there are many
  // more draws than rows.
  const auto rows = static_cast<std::size_t>(n) + 1;
  const bool guided =
      pv->sparse_transitions == nullptr && n <= DRAW_GUIDE_MAX_STATES && draws >= 8 * rows;
  Scratch<double> key = scratch<double>(guided ? rows * (rows + 1) : 0);
  Scratch<int> guide = scratch<int>(guided ? rows * DRAW_GUIDE_SIZE : 0);
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
