// draw.h - the generator and one draw: a state drawn from a row, a transition, and the failure
// when a draw finds no state; what the simulation and the stream draw with.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_DRAW_H
#define PRAVLIN_DRAW_H

#include <cstdint>

#include "pravlin.h"

/// The next value, 0..32767, of the process-wide 15-bit linear congruential generator
/// x = x * 214013 + 2531011 (mod 2^32), value (x >> 16) & 0x7FFF. Never seeded.
int pravlin_rand();

/// A step of the linear congruential generator, or many steps composed: x -> mul * x + add
/// (mod 2^32). RAND_STEP is one step; its value is (x >> 16) & 0x7FFF.
struct RandJump {
  std::uint32_t mul, add;
};
constexpr RandJump RAND_STEP{214013u, 2531011u};

inline std::uint32_t rand_apply(RandJump j, std::uint32_t x) {
  return j.mul * x + j.add;
}
inline int rand_value(std::uint32_t x) {
  return static_cast<int>((x >> 16) & 0x7FFFu);
}
/// RAND_STEP taken k times, composed by repeated squaring.
RandJump rand_jump(std::uint64_t k);

/// Puts the generator back to its state when the process starts. For tests.
void pravlin_rand_reset();

/// The generator's state now, and moving it on by k values at once.
std::uint32_t pravlin_rand_state();
void pravlin_rand_skip(std::uint64_t k);

/// The generator values a whole run of pv takes: one a step, nbr_years + 1 steps a chain.
inline std::uint64_t draws_of_run(const PRAVLIN* pv) {
  return (static_cast<std::uint64_t>(pv->nbr_years) + 1) *
         static_cast<std::uint64_t>(pv->nbr_chains);
}

/// A state 1..n drawn with the probabilities probability_table[1..n], taking exactly one
/// generator value. Does not return on failure.
int calc_state(const double* probability_table, int n);

/// The state 1..n that generator value r draws from the row p[1..n], as calc_state draws it,
/// or 0 when no state is found; *total then holds the row's sum.
int draw_state(const double* p, int n, int r, double* total);
/// Ends the run as calc_state does when value r finds no state in a row of n states.
[[noreturn]] void fail_no_state(int r, double total, int n);

/// The state that generator value r draws from the positive entries of sparse row s, as
/// draw_state draws from the row's dense form, or 0 when no state is found; *total then holds
/// the row's sum.
int draw_sparse_state(const sparse_rows* rows, int s, int r, double* total);
/// draw_state on the transitions out of state s (1..nbr_states): row s of the matrix, or its
/// sparse row when the run keeps no matrix.
int draw_transition(const PRAVLIN* pv, int s, int r, double* total);
/// calc_state on the transitions out of state s, dense or sparse, with the same draw, the same
/// generator value and the same failure. Does not return on failure.
int calc_transition(const PRAVLIN* pv, int s);

/// Ends the run when a draw of a table drawn as it is written finds no state, which the
/// simulation before it rules out.
[[noreturn]] void fail_stream_draw();

#endif
