// config.h - the configuration mapping's one entry point, for every reader of a configuration:
// the settings, the states, and the transitions in the form the caller asks for.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_H
#define PRAVLIN_CONFIG_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "pravlin.h"
#include "sparse_read.h"

/// What a reader of a configuration keeps of its transitions.
enum ConfigRead {
  READ_MATRIX,    // the dense matrix, as read_xml_file keeps it
  READ_FOR_RUN,   // what a run of pravlin draws from: the matrix, or sparse rows (below)
  READ_LIST,      // a list in document order, and no matrix (pravlin-analyze)
  READ_SETTINGS,  // the settings alone, with their defaults: no table, no state (pravlin-merge)
};

/// Reads the configuration from pv->in (and closes it) into the record: settings, defaults,
/// report stream, the per-state arrays, the states and the transition matrix; read_configuration
/// with READ_MATRIX, opening the report file. Does not return on error.
void read_xml_file(PRAVLIN* pv);

/// Reads the configuration from pv->in (and closes it) into the record: the settings, the
/// defaults, the report stream (only when open_report_file is not 0: a program that writes no
/// report, or the fuzz target, leaves no file behind), the per-state arrays, the states, and the
/// transitions as what says. The chains table is the run's to grant (keep_chains_table).
/// - READ_MATRIX: the matrix in transition_probability.
/// - READ_FOR_RUN: when the run needs no dense matrix (calc_flag and print_header both 0:
///   neither the solver nor the header reads it) and the model has 2048 states or more, the
///   transitions are kept as sparse rows in pv->sparse_transitions instead, validated then by
///   error_check_sparse_rows; otherwise the matrix.
/// - READ_SETTINGS: the settings and their defaults alone, with the same messages up to there.
/// - READ_LIST: the transitions appended to list (emptied first) in document order, later ones
///   for a pair not yet overriding earlier ones; the rows of transition_probability and the
///   chains' row table's rows stay null.
/// Every way gives the same messages and statuses, but only the matrix's size can be refused.
/// Does not return on error.
void read_configuration(PRAVLIN* pv, ConfigRead what, int open_report_file,
                        std::vector<TRANSITION_ENTRY>* list = nullptr);

/// Counts the memory of the document tree that reading in will build, before it is read, with
/// the tables (count_kept_memory), and returns the bytes the reader may take from in, for
/// readfile_XMLENTITY_bounded: a regular file is counted whole (about 12 bytes of tree a byte)
/// and refused at once with alloc_XMLENTITY's message when it cannot fit, then read whole; a
/// stream of unknown size (a pipe, a terminal, /dev/zero), which may never end, is read only as
/// far as the room left. Every program that reads a configuration bounds its read so.
std::size_t count_tree_estimate(FILE* in);

/// A slice's name for the report file name: the range "A-B" before its extension, as in
/// credit.1-4.csv, or after the name when it has none (report.1-4).
std::string slice_file_name(const char* name, int first, int last);

/// Makes states the fewest with which a run that needs no dense matrix keeps sparse rows
/// (read_configuration, READ_FOR_RUN); 0 restores the default, 2048: lets tests reach the sparse
/// rows with small models.
void set_sparse_rows_from(int states);

#endif
