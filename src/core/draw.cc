// draw.cc - the generator and one draw (pravlin_rand, calc_state, calc_transition).
// Part of pravlin; see README.md.
#include "draw.h"

#include "sparse_read.h"

// The generator's state: x = 1 when the process starts, never seeded, so every run of a
// configuration draws the same chains. Written only by pravlin_rand, pravlin_rand_skip and
// pravlin_rand_reset.
static std::uint32_t rand_state = 1;

// The classic 15-bit C library generator, so the chains agree with other programs built on it;
// std::rand's range and sequence vary by C library.
int pravlin_rand() {
  rand_state = rand_apply(RAND_STEP, rand_state);
  return rand_value(rand_state);
}

RandJump rand_jump(std::uint64_t k) {
  RandJump acc{1u, 0u};
  RandJump cur = RAND_STEP;
  while (k != 0) {
    if (k & 1)
      acc = RandJump{cur.mul * acc.mul, rand_apply(cur, acc.add)};
    cur = RandJump{cur.mul * cur.mul, rand_apply(cur, cur.add)};
    k >>= 1;
  }
  return acc;
}

std::uint32_t pravlin_rand_state() {
  return rand_state;
}

void pravlin_rand_skip(std::uint64_t k) {
  rand_state = rand_apply(rand_jump(k), rand_state);
}

void pravlin_rand_reset() {
  rand_state = 1;
}

int draw_state(const double* p, int n, int r, double* total) {
  // 32767.0, not 32768: a draw of exactly 1.0 must be possible, as must 0.0.
  double random_val = r / 32767.0;
  double prob_partial_sum = 0.0;
  for (int i = 1; i <= n; i++) {
    prob_partial_sum += p[i];
    // A state of probability zero is never drawn, not even by a draw of 0.0, which every
    // running sum reaches.
    if (p[i] > 0.0 && prob_partial_sum >= random_val)
      return i;
  }
  // A normalised row may total just below 1.0 by rounding, and a draw of exactly 1.0 would
  // then find no state: it belongs to the last state that can be drawn at all.
  if (random_val == 1.0) {
    for (int j = n; j >= 1; j--) {
      if (p[j] > 0.0)
        return j;
    }
  }
  *total = prob_partial_sum;
  return 0;
}

void fail_no_state(int r, double total, int n) {
  fail(
      " *** ERROR: Did not find new state -- random_val = %f  prob_partial_sum = %f  i = %d n = %d"
      " in calc_state()\n",
      r / 32767.0, total, n + 1, n);
}

int calc_state(const double* probability_table, int n) {
  if (probability_table == nullptr || n < 1) {
    fail(" *** ERROR: either NULL Pointer for probability_table or n < 1 (%d) in calc_state\n", n);
  }
  int r = pravlin_rand();
  double total = 0.0;
  int state = draw_state(probability_table, n, r, &total);
  if (state == 0)
    fail_no_state(r, total, n);
  return state;
}

int draw_sparse_state(const SPARSE_ROWS* rows, int s, int r, double* total) {
  // draw_state's running sum with the zeros left out: adding 0.0 leaves a sum as it was, and a
  // state of probability zero is never drawn, so every comparison and the state it picks are
  // those of the row's dense form.
  double random_val = r / 32767.0;
  double prob_partial_sum = 0.0;
  const TRANSITION_ENTRY* e = rows->entries.data();
  const std::size_t begin = rows->row_start[static_cast<std::size_t>(s)];
  const std::size_t end = rows->row_start[static_cast<std::size_t>(s) + 1];
  for (std::size_t k = begin; k < end; k++) {
    prob_partial_sum += e[k].probability;
    if (e[k].probability > 0.0 && prob_partial_sum >= random_val)
      return e[k].to;
  }
  if (random_val == 1.0) {
    for (std::size_t k = end; k > begin; k--) {
      if (e[k - 1].probability > 0.0)
        return e[k - 1].to;
    }
  }
  *total = prob_partial_sum;
  return 0;
}

int draw_transition(const PRAVLIN* pv, int s, int r, double* total) {
  if (pv->sparse_transitions != nullptr)
    return draw_sparse_state(pv->sparse_transitions, s, r, total);
  return draw_state(pv->transition_probability[s], pv->nbr_states, r, total);
}

int calc_transition(const PRAVLIN* pv, int s) {
  if (pv->sparse_transitions == nullptr)
    return calc_state(pv->transition_probability[s], pv->nbr_states);
  int r = pravlin_rand();
  double total = 0.0;
  int state = draw_sparse_state(pv->sparse_transitions, s, r, &total);
  if (state == 0)
    fail_no_state(r, total, pv->nbr_states);
  return state;
}

void fail_stream_draw() {
  // simulate_without_table has drawn these values already and found a state for each.
  fail(" *** ERROR: Did not find new state in stream_pravlin()\n");
}
