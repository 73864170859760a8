// fit_limits.h - where pravlin-fit refuses its input or its options, and where a count or a
// draw changes method: each size and cap written once, with its reason. The figures measured
// when they were set are in doc/design/fit.md.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_LIMITS_H
#define PRAVLIN_FIT_LIMITS_H

#include <cstddef>
#include <cstdint>

// ---- reading ----------------------------------------------------------------------------------

/// A label longer than this many bytes is refused: it is surely not a state.
constexpr std::size_t FIT_MAX_LABEL = 65536;
/// A field longer than this is not read as a number: no number written to be read back needs
/// so many digits, and the field is copied to a terminated buffer of this size for strtod.
constexpr std::size_t FIT_NUMBER_MAX_BYTES = 400;
/// Bytes read from a file at a time: a field may span two reads.
constexpr std::size_t FIT_READ_BUFFER = std::size_t{1} << 20;
/// Detection reads ahead until the first two lines are whole, up to this many bytes: a header
/// longer than one read is still seen whole, while no input holds all of memory before its
/// form is known.
constexpr std::size_t FIT_DETECT_LIMIT = std::size_t{64} << 20;

// ---- counting ---------------------------------------------------------------------------------

/// Pairs are counted in a dense table while there are at most this many states: 32 MiB of
/// counts; beyond it the hash map takes them all.
constexpr std::size_t FIT_DENSE_STATES = 2048;
/// With --test, states are packed 21 bits each into the keys of the triple and block counts
/// (and groups and periods so into theirs): more states, groups or tuples are refused.
constexpr std::size_t FIT_MAX_TEST_STATES = std::size_t{1} << 21;
/// The time bins of the homogeneity test a block may hold before they double in width: the
/// block counts stay in proportion to the blocks asked for, however long the sequences.
constexpr std::uint64_t FIT_BINS_PER_BLOCK = 64;

// ---- what pravlin can run -----------------------------------------------------------------------

/// pravlin numbers states and steps as ints: the most states of a model it is given, and the
/// last step of --years and of a period (its steps run to nbr_years).
constexpr long FIT_MAX_STATES = 2147483646L;
constexpr long FIT_MAX_STEP = 2147483646L;
/// The most chains of --chains, as pravlin's nbr_chains holds them.
constexpr long FIT_MAX_CHAINS = 2147483647L;

// ---- options ----------------------------------------------------------------------------------

/// The bounds of the options' numbers, as --help and the messages name them. Each bounds the
/// number alone; what the number costs is refused from the data: the blocks' time bins stay
/// FIT_BINS_PER_BLOCK each, the tuples of --order beyond memory (refuse_tuples), the contexts
/// of --select-order beyond FIT_MAX_TEST_STATES, the draws' answers beyond memory and their
/// work beyond FIT_DRAWS_MAX_WORK. The threads of the draws change no byte, however many.
constexpr long FIT_MAX_BLOCKS = 1000;
constexpr long FIT_MAX_ORDER = 1000000;
constexpr long FIT_MAX_SELECT_ORDER = 20;
constexpr long FIT_MAX_DRAWS = 100000000;
constexpr long FIT_MAX_THREADS = 64;

// ---- the draws --------------------------------------------------------------------------------

/// The rough work of a draw (fit_draw's estimate): a fixed part and a part per entry drawn,
/// besides the solves, which grow with the classes.
constexpr double FIT_DRAW_FIXED_WORK = 3e4;
constexpr double FIT_DRAW_ENTRY_WORK = 100;
/// --draws is refused before any draw when their estimated work passes this: a run a user would
/// not wait for (what it comes to on a machine: doc/design/fit.md).
constexpr double FIT_DRAWS_MAX_WORK = 1e13;

// ---- the summary and the configuration
// -----------------------------------------------------------

/// The states the summary's table shows (and twice as many of the draws' answers): a short
/// table, whatever the chain's size; --listing and --summary FILE give them all.
constexpr std::size_t FIT_TABLE_STATES = 20;
/// The longest input name quoted in the configuration's comment: pravlin's reader refuses a
/// whole file over a comment longer than its 2048-byte buffer.
constexpr std::size_t FIT_QUOTED_NAME_MAX = 1024;
/// The most steps Boost.Math takes to find a quantile (an interval's end) and the most terms of
/// a series it sums (a p-value) before it gives up.
constexpr unsigned long FIT_MAX_ROOT_ITERATIONS = 200;
constexpr unsigned long FIT_MAX_SERIES_ITERATIONS = 1000000;

#endif
