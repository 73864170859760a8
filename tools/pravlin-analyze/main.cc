// main.cc - pravlin-analyze's driver: command line, reading and checking the
// configuration as pravlin does, then the analysis on standard output.
// Part of pravlin; see README.md.

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "analyze.h"
#include "analyze_horizon.h"
#include "analyze_json.h"
#include "analyze_notes.h"
#include "analyze_options.h"
#include "analyze_passage.h"
#include "analyze_report.h"
#include "analyze_requests.h"
#include "analyze_roots.h"
#include "analyze_states.h"
#include "config.h"
#include "output_file.h"
#include "periods.h"

// The whole analysis. Every table it builds grows with the chain, and none has a second way
// when memory runs out: main turns a failed allocation anywhere into one message.
static void analyze(const char* file, const ANALYZE_OPTIONS* opt) {
  // Static, as in pravlin's driver: the tables and the document tree are kept until the process
  // ends and must stay reachable after main returns, or leak checkers would report them.
  static PRAVLIN pv;
  // Checked before anything is printed: the drawing, the lumped chain or standard output onto
  // the configuration or the lump file, however its name is spelt, is refused.
  output_note_input(file);
  if (opt->lump != nullptr && lump_reads_file(opt->lump))
    output_note_input(opt->lump);
  output_declare(nullptr);
  if (opt->dot_file != nullptr)
    output_declare(opt->dot_file);
  if (opt->output != nullptr)
    output_declare(opt->output);
  if (opt->csv != nullptr)
    output_declare(opt->csv);
  init_pravlin(&pv);
  pv.xmlfilename = const_cast<char*>(file);
  hint_xml_declaration(file);
  open_configuration(&pv);

  std::vector<TRANSITION_ENTRY> transitions;
  read_configuration(&pv, READ_LIST, 0, &transitions);
  std::vector<READ_NOTE> notes;
  collect_read_notes(&pv, transitions, &notes);
  // A chain whose matrix changes with the step is read with the last period's transitions, which
  // every analysis then describes; the periods stay in pv.periods.
  if (pv.periods != nullptr) {
    const CHAIN_PERIOD& last = pv.periods->list.back();
    notes.push_back(READ_NOTE{"last_period", "period", "", "",
                              "the matrix changes with the step over " +
                                  std::to_string(pv.periods->list.size()) +
                                  " periods: every analysis below describes the last one, "
                                  "steps " +
                                  std::to_string(last.first) + " and after" +
                                  (opt->horizon >= 0 ? "; the horizon follows each period" : "")});
  }
  // Every period's rows are checked and rescaled, with pravlin's messages, in the order the
  // configuration gives them, before any analysis, whether or not the horizon follows them: a
  // row pravlin refuses is refused here too. Only the horizon keeps the periods before the last.
  ANALYSIS_REQUESTS requests;
  read_horizon_periods(&pv, opt->horizon >= 0 ? &requests.periods : nullptr);
  error_check_transitions(&pv, &transitions);
  std::vector<int> targets;
  if (opt->target != nullptr)
    resolve_states(&pv, opt->target, "--target", &targets);
  read_requests(&pv, opt, &requests);
  if (opt->conversion != CONVERSION_NONE)
    check_conversion_size(opt->conversion, pv.nbr_states);
  if (!opt->json)
    print_read_notes(stdout, notes);
  SPARSE_CHAIN chain;
  sparse_chain_from_list(&chain, pv.nbr_states, transitions);
  transitions = std::vector<TRANSITION_ENTRY>();
  if (opt->json) {
    print_analysis_json(stdout, &pv, &chain, opt, notes, targets, &requests);
    return;
  }
  print_analysis(stdout, &pv, &chain, opt, targets, &requests);
}

int main(int argc, char** argv) {
  answer_alone(argc, argv, &ANALYZE_OPTION_TABLE, ANALYZE_VERSION_TEXT);
  ANALYZE_OPTIONS opt;
  const char* file = parse_analyze_command_line(argc, argv, &opt);
  set_per_state_max(opt.per_state_max);
  try {
    analyze(file, &opt);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    fail(" *** ERROR: out of memory in pravlin-analyze\n");
  } catch (const std::length_error&) {  // a size no vector can hold
    std::fflush(stdout);
    fail(" *** ERROR: out of memory in pravlin-analyze\n");
  }
  // A full disk or a closed stream would otherwise pass for a complete analysis.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  }
  return 0;
}
