// stream.cc - the chain table drawn as it is written (stream_pravlin): memory for one step of
// every chain instead of the whole table, so a run is bounded by time, not memory.
// Part of pravlin; see README.md.
#include "stream.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "draw.h"
#include "draw_fast.h"
#include "stream_fast.h"
#include "table_lines.h"

static const char OOM3[] = " *** ERROR: out of memory 3 in read_xml_file()\n";

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
  // Each period's rows made ready once, before the first step.
  std::unique_ptr<RunRows, decltype(&free_run_rows)> rows(make_run_rows(pv), free_run_rows);

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
    std::size_t set = 0;        // the rows that draw step t
    for (long long t = 0; t <= pv->nbr_years; t++) {
      if (!draw_step(rows.get(), set, x, states, count))
        fail_stream_draw();
      set = rows_of_next_step(rows.get(), set, t);
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
