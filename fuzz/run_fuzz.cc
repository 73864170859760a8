// run_fuzz.cc - libFuzzer target: a whole run on arbitrary bytes, as the driver makes it
// (mapping, dense or sparse rows, validation, simulation, steady state, report), with the
// report in memory.
// Part of pravlin; see README.md.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "config.h"
#include "draw.h"
#include "pravlin.h"
#include "run.h"
#include "tables.h"

// A run may ask for gigabytes or hours with a few bytes. Tables past this many bytes end in
// the mapping's out-of-memory messages, so the fuzzer reaches those paths too, and a run whose
// simulation and solver would take more than kWork steps is skipped once its counts are known.
static constexpr std::size_t kTableBytes = 4u << 20;
static constexpr double kWork = 2e7;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  set_table_memory_limit(kTableBytes);
  return 0;
}

// Steps the stages after the mapping would take, roughly: every draw, every squaring, with
// the solver's trace written for each of them when debug is on.
static double work(const PRAVLIN* pv) {
  const double n = pv->nbr_states;
  // Every draw, and the running sums and guides the simulation forms for every row.
  double steps = (static_cast<double>(pv->nbr_years) + 1.0) * pv->nbr_chains * 4.0;
  steps += (n + 1) * (n + 256) * 2.0;
  if (pv->calc_flag) {
    double squaring = n * n * n + n * n + 64.0;
    if (pv->debug)
      squaring += n * n * 50.0;
    steps += squaring * (pv->max_iteration >= 1 ? pv->max_iteration : 100);
  }
  return steps;
}

// The report goes to a memory stream; report and report_size belong to the caller, since a
// failing stage leaves the stream open for the caller to close. The configuration is read as a
// run reads it, never with a report file (the fuzzer must not write files it names); an input
// of odd length keeps sparse rows whatever its number of states, when the run needs no dense
// matrix, so that both readers and both draws are fuzzed.
static void run(PRAVLIN* pv, std::size_t size, char** report, std::size_t* report_size) {
  set_sparse_rows_from(size % 2 == 1 ? 2 : 0);
  read_configuration(pv, READ_FOR_RUN, 0);
  if (work(pv) > kWork)
    return;
  pv->out = open_memstream(report, report_size);
  if (pv->out == nullptr)
    return;
  run_pravlin(pv);  // closes out
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every input starts as a fresh process would: the generator at its first value, no tables.
  pravlin_rand_reset();
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.xmlfilename = const_cast<char*>("fuzz.xml");
  pv.in = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (pv.in == nullptr)
    return 0;
  char* report = nullptr;
  std::size_t report_size = 0;
  try {
    run(&pv, size, &report, &report_size);
  } catch (const FailExit&) {
    // The run ended with its message; what the record holds is released below.
  }
  if (pv.in != nullptr)
    std::fclose(pv.in);
  if (pv.out != nullptr)
    std::fclose(pv.out);
  std::free(report);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
  return 0;
}
