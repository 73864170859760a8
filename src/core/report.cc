// report.cc - the comma-separated report: the header block (printheader) and the kept chain
// table (printpravlin), through the report's writer.
// Part of pravlin; see README.md.
#include "report.h"

#include <algorithm>
#include <cstddef>
#include <ctime>

#include "periods.h"
#include "report_labels.h"
#include "scratch.h"
#include "table_lines.h"
#include "version.h"

void printpravlin(FILE* out, const PRAVLIN* pv) {
  if (pv == nullptr)
    return;
  if (out == nullptr)
    out = stdout;
  TableWriter t;
  start_table_writer(&t, out, pv);
  put_table_title(&t, 1, pv->nbr_chains);

  // A line of the table is a column of the chains table, one value from each chain's row. The
  // values are gathered up to 16 years at a time, so that each cache line of a row is read once,
  // not once for every year in it. A tile stays within 1 MiB; with more chains than that allows
  // for two years, or without the memory, each line is read straight from the rows.
  const auto chains = static_cast<std::size_t>(pv->nbr_chains);
  const int tile_years =
      static_cast<int>(std::min<std::size_t>(16, (std::size_t{1} << 20) / (sizeof(int) * chains)));
  Scratch<int> tile;
  if (tile_years >= 2)
    tile = scratch<int>(static_cast<std::size_t>(tile_years) * chains);
  const int step = tile ? tile_years : 1;
  // In 64 bits: i0 + step must not overflow for a count near the int limit.
  for (long long i0 = 0; i0 <= pv->nbr_years; i0 += step) {
    const int years = static_cast<int>(std::min<long long>(step, pv->nbr_years - i0 + 1));
    if (!tile) {
      put_table_column(&t, pv->init_year + i0, pv->pravlin + 1, chains, i0);
      continue;
    }
    for (std::size_t j = 0; j < chains; j++) {
      const int* row = pv->pravlin[j + 1] + i0;
      for (int y = 0; y < years; y++)
        tile[static_cast<std::size_t>(y) * chains + j] = row[y];
    }
    for (int y = 0; y < years; y++) {
      put_table_line(&t, pv->init_year + i0 + y, tile.get() + static_cast<std::size_t>(y) * chains,
                     chains);
    }
  }
  flush_table_writer(&t);
}

// ---- The header --------------------------------------------------------------------------------

void printheader(FILE* out, const PRAVLIN* pv) {
  if (pv == nullptr)
    return;
  if (out == nullptr)
    out = stdout;
  char block[REPORT_BLOCK];
  Writer w{out, block, sizeof block, 0};
  std::time_t tm = std::time(nullptr);
  const char* tm_ptr = std::ctime(&tm);
  put_text(&w, LABEL_VERSION);
  put_text(&w, PRAVLIN_VERSION "\n");
  put_text(&w, LABEL_TIME);
  put_text(&w, tm_ptr != nullptr ? tm_ptr : "\n");
  put_text(&w, LABEL_XMLFILENAME);
  if (pv->xmlfilename != nullptr) {
    put_text(&w, " , ");
    put_quoted(&w, pv->xmlfilename);
  }
  put_text(&w, "\n");
  put_text(&w, LABEL_OUTFILENAME);
  if (pv->outfilename != nullptr) {
    put_text(&w, " , ");
    put_quoted(&w, pv->outfilename);
  }
  put_text(&w, "\n");
  put_text(&w, LABEL_NBR_STATES);
  put_long(&w, pv->nbr_states);
  put_text(&w, "\n");
  put_text(&w, LABEL_INIT_YEAR);
  put_long(&w, pv->init_year);
  put_text(&w, "\n");
  put_text(&w, LABEL_NBR_YEARS);
  put_long(&w, pv->nbr_years);
  put_text(&w, "\n");
  put_text(&w, LABEL_NBR_CHAINS);
  put_long(&w, pv->nbr_chains);
  put_text(&w, "\n");
  put_text(&w, LABEL_STATES);
  put_text(&w, "\n");
  const int n = pv->nbr_states;
  for (int i = 1; i <= n; i++) {
    put_long(&w, i);
    put_text(&w, " , ");
    put_name(&w, pv->state_name[i]);
    put_text(&w, " , ");
    put_fixed(&w, pv->val[i]);
    put_text(&w, " , ");
    put_fixed(&w, pv->initial_probability[i]);
    put_text(&w, "\n");
  }
  // A chain with periods lists them; the matrix and the steady state below are the last one's.
  if (pv->periods != nullptr) {
    put_text(&w, LABEL_PERIODS);
    put_text(&w, "\n");
    long long number = 0;
    for (const CHAIN_PERIOD& p : pv->periods->list) {
      put_long(&w, ++number);
      put_text(&w, " , ");
      put_long(&w, p.first);
      put_text(&w, " , ");
      put_long(&w, p.last);
      put_text(&w, "\n");
    }
    put_text(&w,
             "transition_probability and steady state of the last period, held after its end\n");
  }
  // The matrix is written by columns: line i holds the probabilities of moving into state i.
  put_text(&w, "transition_probability\n");
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) {
      put_text(&w, " ");
      put_fixed(&w, pv->transition_probability[j][i]);
      put_text(&w, j < n ? " ," : "\n");
    }
  }
  if (pv->calc_flag) {
    put_text(&w, "max_iteration , ");
    put_long(&w, pv->max_iteration);
    put_text(&w, " , actual_iteration, ");
    put_long(&w, pv->actual_iteration);
    put_text(&w, "\nmax_error , ");
    put_fixed(&w, pv->max_error);
    put_text(&w, " , actual_error, ");
    put_fixed(&w, pv->actual_error);
    put_text(&w, "\nstate ,  steady_state_probability\n");
    for (int i = 1; i <= n; i++) {
      put_long(&w, i);
      put_text(&w, " , ");
      put_fixed(&w, pv->steady_state_probability[i]);
      put_text(&w, "\n");
    }
  }
  flush_writer(&w);
}
