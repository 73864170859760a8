// analyze_roots.h - the chain over another period: its K-th root (a step of 1/K), its generator
// (the rates of a continuous-time chain) and its K-th power, with whether the root or generator
// exists as a chain and, when not, a repair into one (--root, --generator, --power, --repair).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_ROOTS_H
#define PRAVLIN_ANALYZE_ROOTS_H

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analyze.h"
#include "analyze_roots_eigen.h"

/// The conversions. ORDER CONVERSION: the names in analyze_roots.cc.
enum conversion_kind { CONVERSION_NONE, CONVERSION_ROOT, CONVERSION_GENERATOR, CONVERSION_POWER };
/// The repairs of --repair. ORDER REPAIR: the names in analyze_roots.cc.
enum conversion_repair { REPAIR_NONE, REPAIR_QO, REPAIR_DA, REPAIR_WA };
/// Whether the principal root or logarithm is a chain or a generator, and if not, why: checked
/// in this order, the first that holds.
enum conversion_verdict {
  VERDICT_EMBEDDABLE,
  VERDICT_NEGATIVE_EIGENVALUE,  // a real eigenvalue below 0: the principal logarithm is not real
  VERDICT_DETERMINANT,          // det <= 0 (an eigenvalue 0 to rounding): there is no logarithm
  VERDICT_NEGATIVE_ENTRIES,     // the root has entries below 0, or the logarithm off its diagonal
};

/// The most states converted: the matrices are dense, and the logarithm (two complex Schur
/// forms, then Schur-Parlett) grows with the cube of the states, to half a minute of one core
/// at the largest (doc/design/solvers.md, "Measurements").
const int CONVERSION_MAX_STATES = 1000;
/// Entries of the root or logarithm within this much of 0 are rounding, and are 0.
const double CONVERSION_ROUNDING = 1e-12;
/// An eigenvalue of modulus below this is 0: the logarithm would be of rounding.
const double CONVERSION_SINGULAR = 1e-12;

/// Fails with one message when a chain of n states is too large to convert by kind.
void check_conversion_size(int kind, int n);

/// The repair named by text ("qo", "da", "wa"), or REPAIR_NONE when it names none.
int conversion_repair_named(const char* text);

/// A conversion of the chain and its verdict. Matrices are n x n, 1-based and row-major in
/// (n + 1) * (n + 1) doubles, as in analyze_roots_eigen.h.
struct period_conversion {
  int kind;    // enum conversion_kind
  long k;      // the K of --root or --power; 1 for --generator
  int repair;  // enum conversion_repair, as asked
  int n;
  LOG_SPECTRUM spectrum;  // of P (--root and --generator)
  int verdict;            // enum conversion_verdict (--root and --generator)
  int nbr_negative;       // entries of the principal root (logarithm, off its diagonal) below 0
  double least;           // the least of them, at (least_from, least_to); 0 when none
  int least_from, least_to;
  int converted;               // 1 when matrix holds the result: a chain, or a generator
  int repaired;                // 1 when matrix is the repair of a root or logarithm
  std::vector<double> matrix;  // X (root), Q (generator) or P^K; empty when not converted
  double distance;             // ||X^K - P|| or ||exp(Q) - P||, the largest row sum of |.|
};
typedef struct period_conversion PERIOD_CONVERSION;

/// Row i (1..n) of a, moved onto the valid rows by the repair: the rows of a chain (entries
/// from 0, totalling 1) when generator is 0, else the rows of a generator (entries off the
/// diagonal from 0, totalling 0). QO: the nearest such row in the Euclidean norm; DA: the
/// negative entries to 0 and the diagonal makes up the total; WA: the negative entries to 0
/// and the total made up from every entry in proportion to its size. Returns 0 when the row
/// cannot be made valid that way (DA of a chain's row whose other entries exceed 1).
int repair_row(double* a, int n, int i, int repair, int generator);

/// P^k into power (1-based, (n + 1)^2) by repeated squaring, each product by the squaring
/// solver's kernel (matmul.h): every entry the plain loop's sum, the same bits on any machine.
void dense_power(const std::vector<double>& p, int n, long k, std::vector<double>* power);

/// Converts the chain c as kind asks (k the K of --root or --power), repairing a root or
/// generator that is not valid when repair is not REPAIR_NONE and the matrix has a
/// logarithm. Fails with one message beyond CONVERSION_MAX_STATES states, and when DA cannot
/// repair a row.
void solve_conversion(const SPARSE_CHAIN* c, int kind, long k, int repair, PERIOD_CONVERSION* pc);

/// The conversion section of the text output: the verdict, the repair and its distance, the
/// matrix by rows; output: the file of -o, or null.
void print_conversion(FILE* out, const PRAVLIN* pv, const PERIOD_CONVERSION* pc, const char* output,
                      int precision);

/// Member "conversion" of the JSON document.
void add_conversion_json(const PERIOD_CONVERSION* pc, const char* output,
                         nlohmann::ordered_json* doc);

/// Why pc holds no chain (a root that is not embeddable and was not repaired), as the refusal
/// to write it says: "the root is not embeddable; --repair qo, da or wa repairs it".
std::string conversion_refusal(const PERIOD_CONVERSION* pc);

/// What marks a repaired root: "NOT EMBEDDABLE (negative entries in the root): repaired by qo,
/// ||X^12 - P|| 4.4e-04, the largest row sum". Empty when it was not repaired.
std::string conversion_mark(const PERIOD_CONVERSION* pc);

/// The converted chain (pc->converted): the matrix without its entries of 0, as written.
void conversion_chain(const PERIOD_CONVERSION* pc, SPARSE_CHAIN* q);

/// With output not null: writes the converted chain there as a pravlin configuration, with the
/// original's states, names, values, initial probabilities and settings, marked in its comment
/// as the root or power it is, and as repaired when it was. Fails with one message when there
/// is no chain to write: a root that is not embeddable and was not repaired, a generator.
void write_conversion(const char* output, const PRAVLIN* pv, const PERIOD_CONVERSION* pc);

#endif
