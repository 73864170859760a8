// core_limits.h - where the calculator's stages change method: the sizes beyond which a fast
// path gives way, and the work below which threads or kernels cost more than they save.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CORE_LIMITS_H
#define PRAVLIN_CORE_LIMITS_H

#include <cstddef>
#include <cstdint>

/// Largest model whose rows get their sums and guides: (N + 1)^2 doubles, 32 MiB at most.
/// Larger ones scan the probability rows as calc_state does.
constexpr int DRAW_GUIDE_MAX_STATES = 2047;

/// The fewest states whose run keeps sparse rows when it needs no dense matrix: the first model
/// the draws do not guide, where a row is scanned whole either way (set_sparse_rows_from moves
/// it, for tests).
constexpr int SPARSE_ROWS_FROM = DRAW_GUIDE_MAX_STATES + 1;

/// Chains tables up to this size are kept: drawn on every core, then written. Around it both
/// ways take the same time; beyond it the stream is faster, since it fills no table page by
/// page, and it needs a fraction of the memory.
constexpr std::uint64_t KEEP_TABLE_BYTES = std::uint64_t{1} << 20;

/// Below this many multiply-adds a product's threads cost more than they save.
constexpr std::size_t MATMUL_PARALLEL_MIN_WORK = std::size_t{1} << 21;
/// Below this many multiply-adds the kernels' blocks cost more than they save.
constexpr std::size_t MATMUL_KERNEL_MIN_WORK = std::size_t{1} << 15;

/// Below this many draws the simulation's threads cost more than they save.
constexpr std::uint64_t SIMULATE_PARALLEL_MIN_DRAWS = 1 << 18;

/// Below this many draws the stream's threads cost more than they save on a busy machine, where
/// a thread may wait for its turn at every block (set_stream_cores_from moves it, for tests).
constexpr std::uint64_t STREAM_PARALLEL_MIN_DRAWS = std::uint64_t{1} << 25;

#endif
