// report.cc - the comma-separated report: header block and chain table (printheader,
// printpravlin), and the check that it was all written (finish_report).
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <ctime>

// A state without a name prints as the C library prints a null string.
static const char* name_or_null(const char* name) {
  return name != nullptr ? name : "(null)";
}

void printheader(FILE* out, const PRAVLIN* pv) {
  if (pv == nullptr) return;
  if (out == nullptr) out = stdout;
  std::time_t tm = std::time(nullptr);
  const char* tm_ptr = std::ctime(&tm);
  std::fprintf(out, "PRAVLIN VERSION , %s\n", PRAVLIN_VERSION);
  std::fprintf(out, "time , %s", tm_ptr != nullptr ? tm_ptr : "\n");
  if (pv->xmlfilename != nullptr) {
    std::fprintf(out, "xmlfilename , \"%s\"\n", pv->xmlfilename);
  } else {
    std::fprintf(out, "xmlfilename\n");
  }
  if (pv->outfilename != nullptr) {
    std::fprintf(out, "outfilename , \"%s\"\n", pv->outfilename);
  } else {
    std::fprintf(out, "outfilename\n");
  }
  std::fprintf(out, "nbr_states , %d\n", pv->nbr_states);
  std::fprintf(out, "init_year  , %d\n", pv->init_year);
  std::fprintf(out, "nbr_years  , %d\n", pv->nbr_years);
  std::fprintf(out, "nbr_chains , %d\n", pv->nbr_chains);
  std::fprintf(out, "state , name , val , initial_probability\n");
  const int n = pv->nbr_states;
  for (int i = 1; i <= n; i++) {
    std::fprintf(out, "%d , \"%s\" , %f , %f\n", i, name_or_null(pv->state_name[i]), pv->val[i],
                 pv->initial_probability[i]);
  }
  // The matrix is written by columns: line i holds the probabilities of moving into state i.
  std::fprintf(out, "transition_probability\n");
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j < n; j++) std::fprintf(out, " %f ,", pv->transition_probability[j][i]);
    std::fprintf(out, " %f\n", pv->transition_probability[n][i]);
  }
  if (!pv->calc_flag) return;
  std::fprintf(out, "max_iteration , %d , actual_iteration, %d\n", pv->max_iteration,
               pv->actual_iteration);
  std::fprintf(out, "max_error , %f , actual_error, %f\n", pv->max_error, pv->actual_error);
  std::fprintf(out, "state ,  steady_state_probability\n");
  for (int i = 1; i <= n; i++) std::fprintf(out, "%d , %f\n", i, pv->steady_state_probability[i]);
}

void printpravlin(FILE* out, const PRAVLIN* pv) {
  if (pv == nullptr) return;
  if (out == nullptr) out = stdout;
  std::fprintf(out, "time ");
  for (int j = 1; j <= pv->nbr_chains; j++) std::fprintf(out, ", %d ", j);
  std::fprintf(out, "\n");
  std::fflush(out);
  for (int i = 0; i <= pv->nbr_years; i++) {
    // In 64 bits: the labels go on past the int range rather than wrapping.
    std::fprintf(out, " %lld ", static_cast<long long>(pv->init_year) + i);
    for (int j = 1; j <= pv->nbr_chains; j++) {
      int s = pv->pravlin[j][i];
      switch (pv->print_flag) {
        case 0:
          std::fprintf(out, ", %f ", pv->val[s]);
          break;
        case 1:
          std::fprintf(out, ", %d ", s);
          break;
        case 2:
          std::fprintf(out, ", \"%s\" ", name_or_null(pv->state_name[s]));
          break;
        default:
          break;
      }
    }
    std::fprintf(out, "\n");
  }
}

void finish_report(PRAVLIN* pv) {
  if (pv->out != nullptr && pv->out != stdout) {
    bool failed = std::ferror(pv->out) != 0;
    if (std::fclose(pv->out) != 0) failed = true;
    pv->out = nullptr;
    if (failed) fail(" *** ERROR: Unable to write file (%s)\n", pv->outfilename);
    return;
  }
  // The report went to standard output: a full disk or a closed stream there is a failed run.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  }
}
