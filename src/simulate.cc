// simulate.cc - the generator and chain simulation (calc_state, create_pravlin).
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <cstdint>

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
    if (probability_table[i] > 0.0 && prob_partial_sum >= random_val) return i;
  }
  // A normalised row may total just below 1.0 by rounding, and a draw of exactly 1.0 would
  // then find no state: it belongs to the last state that can be drawn at all.
  if (random_val == 1.0) {
    for (int j = n; j >= 1; j--) {
      if (probability_table[j] > 0.0) return j;
    }
  }
  fail(" *** ERROR: Did not find new state -- random_val = %f  prob_partial_sum = %f  i = %d n = %d"
       " in calc_state()\n",
       random_val, prob_partial_sum, i, n);
}

void create_pravlin(int n, PRAVLIN* pv) {
  if (pv == nullptr) fail(" *** ERROR: PRAVLIN NULL Pointer in create_pravlin()\n");
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
