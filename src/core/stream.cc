// stream.cc - the chain table drawn as it is written (stream_pravlin): memory for one step of
// every chain instead of the whole table, so a run is bounded by time, not memory.
// Part of pravlin; see README.md.
#include "stream.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "report.h"
#include "simulate.h"
#include "simulate_fast.h"
#include "sparse_read.h"
#include "stream_fast.h"
#include "tables.h"

static const char OOM3[] = " *** ERROR: out of memory 3 in read_xml_file()\n";

static std::uint64_t draws_of_run(const PRAVLIN* pv) {
  return (static_cast<std::uint64_t>(pv->nbr_years) + 1) *
         static_cast<std::uint64_t>(pv->nbr_chains);
}

// A row that no draw can miss: every entry a probability, one of them positive, and a total
// that reaches the largest draw below 1.0 (a draw of 1.0 falls back to the last positive
// state).
static bool row_never_misses(const double* p, int n) {
  double total = 0.0;
  bool positive = false;
  for (int i = 1; i <= n; i++) {
    if (!(p[i] >= 0.0 && p[i] <= 1.0))
      return false;
    positive = positive || p[i] > 0.0;
    total += p[i];
  }
  return positive && total >= 32766 / 32767.0;
}

// The same for the transitions out of state s. A sparse row leaves out only zeros, which add
// nothing to its total.
static bool transitions_never_miss(const PRAVLIN* pv, int s) {
  const SPARSE_ROWS* rows = pv->sparse_transitions;
  if (rows == nullptr)
    return row_never_misses(pv->transition_probability[s], pv->nbr_states);
  double total = 0.0;
  bool positive = false;
  const std::size_t end = rows->row_start[static_cast<std::size_t>(s) + 1];
  for (std::size_t k = rows->row_start[static_cast<std::size_t>(s)]; k < end; k++) {
    const double p = rows->entries[k].probability;
    if (!(p >= 0.0 && p <= 1.0))
      return false;
    positive = positive || p > 0.0;
    total += p;
  }
  return positive && total >= 32766 / 32767.0;
}

StepStates simulate_without_table(PRAVLIN* pv, int first, int last) {
  // Counted with the record's tables, since it lives as long as the run's writing.
  StepStates step(static_cast<int*>(alloc_table(
      static_cast<std::size_t>(last) - static_cast<std::size_t>(first) + 1, sizeof(int), OOM3)));
  const int n = pv->nbr_states;
  bool never_misses =
      n >= 1 && pv->initial_probability != nullptr && row_never_misses(pv->initial_probability, n);
  for (int s = 1; s <= n && never_misses; s++)
    never_misses = transitions_never_miss(pv, s);
  if (never_misses) {
    pravlin_rand_skip(draws_of_run(pv));
    return step;
  }
  // Rows validation did not vouch for: the chains are drawn once here, chain by chain and
  // without keeping them, so that a draw that finds no state ends the run before anything is
  // written, with the message and at the chain where the kept table's run would end.
  for (int c = 1; c <= pv->nbr_chains; c++) {
    int ser = calc_state(pv->initial_probability, n);
    for (int t = 1; t <= pv->nbr_years; t++)
      ser = calc_transition(pv, ser);
  }
  return step;
}

// Progress on standard error, for a user watching a terminal: what was asked for, and how far
// the run is. Files and pipes get nothing.
struct Progress {
  bool shown = false;
  bool terminal = false;
  std::chrono::steady_clock::time_point start, next;
};

static void show_progress(Progress* p, long long done, long long total, int chains) {
  const auto now = std::chrono::steady_clock::now();
  if (now < p->next)
    return;
  p->next = now + std::chrono::seconds(1);
  std::fprintf(stderr, "\rpravlin: step %lld of %lld written (%d chains a step, %lld%%)", done,
               total, chains, done * 100 / total);
  std::fflush(stderr);
  p->shown = true;
}

void stream_pravlin(FILE* out, const PRAVLIN* pv, int first, int last, int* states) {
  if (pv == nullptr)
    return;
  if (out == nullptr)
    out = stdout;
  const std::size_t count = static_cast<std::size_t>(last) - static_cast<std::size_t>(first) + 1;
  std::unique_ptr<TableWriter, decltype(&close_table_writer)> writer(open_table_writer(out, pv),
                                                                     close_table_writer);
  if (writer == nullptr)
    fail("%s", OOM3);
  std::unique_ptr<DrawRows, decltype(&free_draw_rows)> rows(make_draw_rows(pv), free_draw_rows);

  // The simulation slot has counted off the whole run's values; chain c's first value lies
  // (c - 1) * (T + 1) values after the value the run started from. The generator's period is
  // 2^32 values, so going back is going forward by the rest of the period.
  const std::uint64_t per_chain = static_cast<std::uint64_t>(pv->nbr_years) + 1;
  const std::uint64_t back = (std::uint64_t{1} << 32) - draws_of_run(pv) % (std::uint64_t{1} << 32);
  std::uint32_t x = rand_apply(rand_jump(back + static_cast<std::uint64_t>(first - 1) * per_chain),
                               pravlin_rand_state());

  Progress progress;
  progress.terminal = isatty(STDERR_FILENO) != 0;
  progress.start = std::chrono::steady_clock::now();
  // A run shorter than a few seconds shows nothing.
  progress.next = progress.start + std::chrono::seconds(3);

  put_table_title(writer.get(), first, last);
  if (std::ferror(out))
    fail_unwritten_report(pv);
  for (std::size_t i = 0; i < count; i++)
    states[i] = 0;
  const auto steps_written = [&](long long steps) {
    if (progress.terminal)
      show_progress(&progress, steps, static_cast<long long>(per_chain), last - first + 1);
  };
  if (!stream_table_fast(writer.get(), pv, rows.get(), x, states, count, steps_written)) {
    std::size_t unchecked = 0;  // cells written since the clock was last read
    for (long long t = 0; t <= pv->nbr_years; t++) {
      if (!draw_step(pv, rows.get(), x, states, count))
        fail_stream_draw();
      put_table_line(writer.get(), pv->init_year + t, states, count);
      // A full disk ends the run at once, not after years of writing into nothing.
      if (std::ferror(out))
        fail_unwritten_report(pv);
      x = rand_apply(RAND_STEP, x);
      unchecked += count;
      if (unchecked >= (std::size_t{1} << 16)) {
        unchecked = 0;
        steps_written(t + 1);
      }
    }
  }
  flush_table_writer(writer.get());
  if (std::ferror(out))
    fail_unwritten_report(pv);
  if (progress.shown) {
    std::fprintf(stderr, "\rpravlin: %lld steps of %d chains written%20s\n",
                 static_cast<long long>(per_chain), last - first + 1, "");
  }
}
