// analyze_lump.h - strong lumpability: checking a partition of the states, finding the
// coarsest lumpable one that refines the values, and the lumped chain.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_LUMP_H
#define PRAVLIN_ANALYZE_LUMP_H

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analyze.h"

/// How the blocks of --lump are given. ORDER LUMPBY: the names in analyze_lump.cc.
enum lump_by { LUMP_NONE, LUMP_VALUE, LUMP_FILE, LUMP_COARSEST };

/// The default of --lump-tolerance.
const double LUMP_TOLERANCE = 1e-9;

/// A partition of the states into blocks 1..nbr_blocks, numbered in the order of their
/// lowest state.
struct lump_partition {
  int by;            // enum lump_by
  const char* file;  // the file of LUMP_FILE; null otherwise
  int nbr_blocks;
  std::vector<int> block_of;      // [n + 1]
  std::vector<std::string> name;  // [nbr_blocks + 1] the file's name of each block (LUMP_FILE)
};
typedef struct lump_partition LUMP_PARTITION;

/// 1 when --lump's how names a file of blocks: neither "value" nor "coarsest".
int lump_reads_file(const char* how);

/// The partition that --lump asks for before any refinement: "value" and "coarsest" the
/// states of equal value together, else the file of lines "STATE BLOCK" (the state by name or
/// #N as every option names states, then the block's name after the last blank or comma; empty
/// lines skipped), which must give every state one block. Does not return on a bad file.
void read_lump_partition(const PRAVLIN* pv, const char* how, LUMP_PARTITION* part);

/// The coarsest partition that refines part and is lumpable: within each block the
/// probabilities of moving into any one block differ by at most tolerance, up to chaining
/// (states are kept together when a run of them lies within tolerance step by step). Partition
/// refinement by the smaller pieces (Hopcroft): O(m log n) transitions visited, those touched
/// by a splitter sorted within their block. part->by is kept.
void refine_lumpable(const SPARSE_CHAIN* c, double tolerance, LUMP_PARTITION* part);

/// The chain lumped by a partition.
struct lumped_chain {
  LUMP_PARTITION part;
  double tolerance;
  std::vector<std::size_t> first;  // [K + 2] block k's states are member[first[k] .. first[k+1]-1]
  std::vector<int> member;         // [n] increasing within each block
  double violation;                // max over blocks A, B of max - min over i in A of P(i, B)
  int from, into;      // the first pair of blocks (A, B) where it is largest; 0 when it is 0
  int lumpable;        // violation <= tolerance
  SPARSE_CHAIN chain;  // K states: P(A, B), the mean over i in A of P(i, B)
  std::vector<double> initial;  // [K + 1] the total initial probability of each block
  std::vector<double> value;    // [K + 1] the value its states share, else their mean
};
typedef struct lumped_chain LUMPED_CHAIN;

/// The largest violation and the lumped chain of part, in time linear in the transitions.
void lump_chain(const PRAVLIN* pv, const SPARSE_CHAIN* c, const LUMP_PARTITION* part,
                double tolerance, LUMPED_CHAIN* l);

/// Writes the lumped chain to file as a pravlin configuration, with the original's settings
/// (but no report file), through output_open: declare file with output_declare, after noting
/// the configuration and the lump file with output_note_input, before anything is printed, and
/// it never replaces either. Does not return when the file cannot be written.
void write_lumped_configuration(const char* file, const PRAVLIN* pv, const LUMPED_CHAIN* l);

/// The lumping section of the text output; output: the file written, or null.
void print_lump(FILE* out, const PRAVLIN* pv, const LUMPED_CHAIN* l, const char* output,
                int precision);

/// Member "lump" of the JSON document; null when l is null.
void add_lump_json(const LUMPED_CHAIN* l, const char* output, nlohmann::ordered_json* doc);

#endif
