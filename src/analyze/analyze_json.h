// analyze_json.h - the whole analysis as one JSON document.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_JSON_H
#define PRAVLIN_ANALYZE_JSON_H

#include <cstdio>
#include <vector>

#include "analyze.h"
#include "analyze_notes.h"
#include "analyze_plan.h"

struct analysis_requests;  // analyze_requests.h

/// The whole analysis as one JSON document on out (layout in pravlin-analyze(1)): what the
/// text output says, numbers with every digit needed to read them back bit for bit. Does not
/// return on failure.
void print_analysis_json(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                         const ANALYZE_OPTIONS* opt, const std::vector<READ_NOTE>& notes,
                         const std::vector<int>& targets, const struct analysis_requests* requests);

#endif
