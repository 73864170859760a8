// analyze_report.h - the analysis as text, section by section.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_REPORT_H
#define PRAVLIN_ANALYZE_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "analyze.h"
#include "analyze_plan.h"

struct analysis_requests;  // analyze_requests.h

/// Writes the whole analysis of a checked model to out, section by section, flushing each so
/// that what was computed stays visible when a later dense solve is refused, then the hitting
/// section for targets, when there are any, then the analyses that requests holds, and last the
/// spectrum, mixing and Kemeny sections that opt asks for. pv must
/// have been read by read_configuration (READ_LIST) and checked by error_check_transitions.
/// Does not return on failure.
void print_analysis(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                    const std::vector<int>& targets, const struct analysis_requests* requests);

#endif
