// bench_stages.cc - each stage of a run on generated models: reader, simulation, squaring, report.
// Part of pravlin; see README.md.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "config.h"
#include "draw.h"
#include "pravlin.h"
#include "report.h"
#include "simulate.h"
#include "steady_state.h"
#include "test_util.h"
#include "validate.h"
#include "xml.h"

// Inputs come from a fixed seed and std::mt19937, whose sequence the standard fixes, turned into
// doubles by hand: the distributions of <random> may differ between library versions, and then
// two machines would not time the same model.
static double unit_random(std::mt19937& rng) {
  return static_cast<double>(rng() >> 8) / 16777216.0;
}

// Weights in [0.01, 1.01) scaled to total 1, as error_check_pravlin leaves a row: every entry
// positive, so every state can be drawn and the draw's scan never stops early by accident.
static void fill_row(std::mt19937& rng, double* p, int n) {
  double total = 0.0;
  for (int i = 1; i <= n; i++) {
    p[i] = unit_random(rng) + 0.01;
    total += p[i];
  }
  for (int i = 1; i <= n; i++)
    p[i] /= total;
}

// A model of n dense states, k chains of t years, values with six decimals worth printing.
static void fill_model(TestModel& m, int n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (int s = 1; s <= n; s++)
    m.val[static_cast<std::size_t>(s)] = 1000.0 * s / 7.0;
  fill_row(rng, m.pv.initial_probability, n);
  for (int s = 1; s <= n; s++)
    fill_row(rng, m.pv.transition_probability[s], n);
}

// ---------------------------------------------------------------------------------------------
// Reader

// A configuration laid out as bench/make_model.py writes W3, scaled down to n states:
// probabilities typed with 6 to 8 significant digits, one <to> element per destination.
static std::string make_configuration(int n) {
  std::mt19937 rng(3);
  std::string text = "<pravlin>\n";
  char line[256];
  std::snprintf(line, sizeof line,
                "  <nbr_states>%d</nbr_states>\n  <init_year>2000</init_year>\n"
                "  <nbr_years>2</nbr_years>\n  <nbr_chains>1</nbr_chains>\n"
                "  <print_flag>val</print_flag>\n  <print_header>no</print_header>\n"
                "  <steadystate><calc>no</calc></steadystate>\n",
                n);
  text += line;
  std::vector<double> p(static_cast<std::size_t>(n) + 1);
  fill_row(rng, p.data(), n);
  for (int i = 1; i <= n; i++) {
    std::snprintf(line, sizeof line,
                  "  <state><ser>%d</ser><name>s%d</name><value>%g</value>"
                  "<initial_probability>%.*g</initial_probability></state>\n",
                  i, i, i * 1.5, 6 + static_cast<int>(rng() % 3), p[static_cast<std::size_t>(i)]);
    text += line;
  }
  for (int i = 1; i <= n; i++) {
    fill_row(rng, p.data(), n);
    std::snprintf(line, sizeof line, "  <transition>\n    <from>%d</from>\n", i);
    text += line;
    for (int j = 1; j <= n; j++) {
      std::snprintf(line, sizeof line,
                    "    <to><state>%d</state><probability>%.*g</probability></to>\n", j,
                    6 + static_cast<int>(rng() % 3), p[static_cast<std::size_t>(j)]);
      text += line;
    }
    text += "  </transition>\n";
  }
  text += "</pravlin>\n";
  return text;
}

// The document tree only, as read_xml_file gets it; the tree is freed inside the timing, since
// a run pays for that too (and a reader that never frees would look fast).
static void BM_Reader(benchmark::State& state) {
  std::string text = make_configuration(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    FILE* in = fmemopen(text.data(), text.size(), "r");
    if (in == nullptr) {
      state.SkipWithError("fmemopen failed");
      break;
    }
    int errflag = 0;
    XMLENTITY* xml = readfile_XMLENTITY(in, &errflag);
    benchmark::DoNotOptimize(xml);
    free_XMLENTITY(xml);
    std::fclose(in);
    if (errflag != XML_OK) {
      state.SkipWithError(xml_result_name(errflag));
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_Reader)->ArgName("states")->Arg(250)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------------------------------------
// Simulation. Both start from a fresh generator, so every iteration draws the same chains.
// Real time: create_all_pravlin draws on every core, and the CPU time of this thread alone
// would flatter it.

static void BM_CreateAllPravlin(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int k = static_cast<int>(state.range(1));
  const int t = static_cast<int>(state.range(2));
  TestModel m(n, k, t);
  fill_model(m, n, 1);
  for (auto _ : state) {
    pravlin_rand_reset();
    create_all_pravlin(&m.pv);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * k * (static_cast<std::int64_t>(t) + 1));
}
BENCHMARK(BM_CreateAllPravlin)
    ->ArgNames({"states", "chains", "years"})
    ->Args({50, 2000, 500})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The literal way, chain by chain with a running sum per draw, for scale.
static void BM_CreatePravlinByChain(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int k = static_cast<int>(state.range(1));
  const int t = static_cast<int>(state.range(2));
  TestModel m(n, k, t);
  fill_model(m, n, 1);
  for (auto _ : state) {
    pravlin_rand_reset();
    for (int c = 1; c <= k; c++)
      create_pravlin(c, &m.pv);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * k * (static_cast<std::int64_t>(t) + 1));
}
BENCHMARK(BM_CreatePravlinByChain)
    ->ArgNames({"states", "chains", "years"})
    ->Args({50, 2000, 500})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---------------------------------------------------------------------------------------------
// Squaring, in place as calc_steady_state does it. Powers of a stochastic matrix stay
// stochastic and tend to rows of positive entries, so repeated squaring meets neither overflow
// nor subnormals that would slow later iterations.

static void BM_SquareInPlace(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TestModel m(n, 1, 1);
  fill_model(m, n, 2);
  double** a = m.pv.transition_probability;
  for (auto _ : state) {
    multiply_array_by_array(a, a, a, n, n, n);
    benchmark::ClobberMemory();
  }
  const double flops = 2.0 * n * n * static_cast<double>(n);
  state.counters["FLOP"] = benchmark::Counter(flops * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SquareInPlace)
    ->ArgName("n")
    ->Arg(256)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---------------------------------------------------------------------------------------------
// Report: the chain table only. /dev/null keeps the disk out of the number; the size comes from
// one write to a temporary file first.

static void BM_PrintPravlin(benchmark::State& state) {
  const int n = 50, k = 2000, t = 500;
  TestModel m(n, k, t);
  fill_model(m, n, 3);
  m.pv.init_year = 2000;
  m.pv.print_flag = static_cast<int>(state.range(0));
  pravlin_rand_reset();
  create_all_pravlin(&m.pv);

  FilePtr sized = open_sink();
  FilePtr sink(std::fopen("/dev/null", "w"));
  if (sized == nullptr || sink == nullptr) {
    state.SkipWithError("cannot open the output streams");
    return;
  }
  printpravlin(sized.get(), &m.pv);
  std::fflush(sized.get());
  const long size = std::ftell(sized.get());

  for (auto _ : state) {
    printpravlin(sink.get(), &m.pv);
    std::fflush(sink.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_PrintPravlin)
    ->ArgName("print_flag")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
