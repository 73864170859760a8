// fit_fuzz.cc - libFuzzer target: pravlin-fit's readers on arbitrary bytes, in every form and
// across buffer edges, then the estimate, the model checks, the configuration and both
// summaries of what they read.
// Part of pravlin; see README.md.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "fit.h"
#include "fit_read.h"

// The writers write here: nothing is kept, every byte is still formatted.
static FILE* sink = nullptr;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  sink = std::fopen("/dev/null", "w");
  return 0;
}

// The first byte picks the options: the form (detected, named, or the long form through
// --columns), --test, the estimator, --sort, a --states label and --empty. The second picks
// how the rest is read: from memory, or from a stream a buffer of 4 to 258 bytes at a time.
static void options(std::uint8_t pick, FIT_OPTIONS* opt) {
  static const FIT_FORM FORMS[] = {FORM_AUTO,   FORM_SEQUENCES, FORM_LONG, FORM_REPORT,
                                   FORM_MATRIX, FORM_AUTO,      FORM_AUTO, FORM_AUTO};
  opt->form = FORMS[pick & 7];
  if ((pick & 7) == 5)
    opt->columns = ",t,state";
  else if ((pick & 7) == 6)
    opt->columns = "id,,state";
  opt->test_flag = (pick >> 3) & 1;
  opt->estimator = (pick >> 4) & 1 ? ESTIMATOR_PRIOR : ESTIMATOR_MLE;
  opt->alpha = 0.5;
  opt->sort_flag = (pick >> 5) & 1;
  if ((pick >> 6) & 1)
    opt->states = {"z", "1"};
  opt->empty = (pick >> 7) & 1 ? EMPTY_UNIFORM : EMPTY_ABSORBING;
  opt->empty_given = (pick >> 7) & 1;
  opt->nbr_chains = -1;
  opt->nbr_years = -1;
  opt->confidence = 0.95;
  opt->blocks = 2;
}

// A model with more states than this is read but not estimated: a smoothed row is written
// whole, k^2 cells, which would take seconds per input at the thousands of states 8 KB hold.
static constexpr std::size_t kStates = 512;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  FIT_OPTIONS opt{};
  options(data[0], &opt);
  // The fuzzer's own copy, sized exactly: a read past its end is caught by AddressSanitizer.
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  FILE* in = nullptr;
  if (data[1] != 0 && !text.empty()) {
    in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (in == nullptr)
      return 0;
  }
  try {
    FIT_DATA fit_data;
    if (in != nullptr)
      fit_read_stream(&opt, in, "fuzz.csv", std::size_t{data[1]} + 3, &fit_data);
    else
      fit_read_text(&opt, text, "fuzz.csv", &fit_data);
    // As the driver refuses these pairs before estimating.
    const bool refused = (fit_data.matrix_flag && opt.test_flag) ||
                         (fit_data.probability_flag && opt.estimator != ESTIMATOR_MLE);
    if (!refused && fit_data.labels.names.size() <= kStates) {
      FIT_MODEL model;
      fit_estimate(&opt, &fit_data, &model);
      if (opt.test_flag) {
        fit_markov_test(&fit_data, &model.markov);
        fit_homogeneity_test(&fit_data, opt.blocks, &model.homogeneity);
      }
      fit_write_config(sink, &opt, &fit_data, &model);
      fit_write_summary(sink, &opt, &fit_data, &model);
      fit_write_summary_csv(sink, &opt, &fit_data, &model);
    }
  } catch (const FailExit&) {
    // The input was refused with its message; the data and model are released on the way out.
  }
  if (in != nullptr)
    std::fclose(in);
  return 0;
}
