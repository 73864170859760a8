// report_labels.h - the labels of the report's header and title lines, which the report
// writes and pravlin-merge reads back: one spelling for both.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_REPORT_LABELS_H
#define PRAVLIN_REPORT_LABELS_H

#include <string_view>

// ORDER HEADER: the header's lines as printheader writes them, from its first (line 0).
constexpr std::string_view LABEL_VERSION = "PRAVLIN VERSION , ";
constexpr std::string_view LABEL_TIME = "time , ";  // the header's time line, then the date
constexpr std::string_view LABEL_XMLFILENAME = "xmlfilename";
constexpr std::string_view LABEL_OUTFILENAME = "outfilename";
constexpr std::string_view LABEL_NBR_STATES = "nbr_states , ";
constexpr std::string_view LABEL_INIT_YEAR = "init_year  , ";
constexpr std::string_view LABEL_NBR_YEARS = "nbr_years  , ";
constexpr std::string_view LABEL_NBR_CHAINS = "nbr_chains , ";
constexpr std::string_view LABEL_STATES = "state , name , val , initial_probability";
constexpr std::string_view LABEL_PERIODS = "period , first_step , last_step";

/// The header's line numbers (from 0) that hold a label above.
constexpr long long HEADER_LINE_NBR_STATES = 4;
constexpr long long HEADER_LINE_INIT_YEAR = 5;
constexpr long long HEADER_LINE_STATES = 8;

/// The chain table's title line starts so, then ", " and a chain number for each chain: "time
/// , 1 , 2 \n". Its first bytes are the header's time line's; a digit after them tells it.
constexpr std::string_view LABEL_TITLE = "time ";

#endif
