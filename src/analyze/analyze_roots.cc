// analyze_roots.cc - the chain over another period: the K-th root and the generator from the
// principal logarithm, their verdict and repairs, the K-th power by squaring; their text, JSON
// and configuration (solve_conversion, print_conversion, add_conversion_json, write_conversion).
// Part of pravlin; see README.md.
#include "analyze_roots.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "analyze_json_values.h"
#include "analyze_lump.h"
#include "analyze_states.h"
#include "matmul.h"

using json = nlohmann::ordered_json;

// ORDER CONVERSION
static const char* const KIND_NAME[] = {"", "root", "generator", "power"};
// ORDER REPAIR
static const char* const REPAIR_NAME[] = {"", "qo", "da", "wa"};
// ORDER VERDICT
static const char* const VERDICT_NAME[] = {"embeddable", "negative_eigenvalue", "determinant",
                                           "negative_entries"};

int conversion_repair_named(const char* text) {
  for (int r = REPAIR_QO; r <= REPAIR_WA; r++) {
    if (std::strcmp(text, REPAIR_NAME[r]) == 0)
      return r;
  }
  return REPAIR_NONE;
}

void check_conversion_size(int kind, int n) {
  if (n > CONVERSION_MAX_STATES) {
    fail(" *** ERROR: --%s works on the dense matrix: %d states are more than %d\n",
         KIND_NAME[kind], n, CONVERSION_MAX_STATES);
  }
}

// ---- the repairs -----------------------------------------------------------------------------

// The nearest row in the Euclidean norm whose entries total total, each from 0 except the one
// at free (none when 0), which may take any value: every entry less one amount lambda, those
// held at 0 excepted. Over the entries sorted from the largest, lambda is found where the
// total, which falls as lambda rises, meets total (Kreinin and Sidelnikova's projection).
static void project_row(double* row, int n, int free, double total) {
  std::vector<double> u;
  double sum = 0.0;
  for (int j = 1; j <= n; j++) {
    if (j == free) {
      sum = row[j];
    } else {
      u.push_back(row[j]);
    }
  }
  std::sort(u.begin(), u.end(), std::greater<double>());
  const std::size_t fixed = free != 0 ? 1 : 0;
  double lambda = 0.0;
  for (std::size_t k = 0; k <= u.size(); k++) {
    if (k > 0)
      sum += u[k - 1];
    if (fixed + k == 0)
      continue;
    lambda = (sum - total) / static_cast<double>(fixed + k);
    if (k == u.size() || u[k] <= lambda)
      break;
  }
  for (int j = 1; j <= n; j++)
    row[j] = j == free ? row[j] - lambda : std::fmax(row[j] - lambda, 0.0);
}

int repair_row(double* a, int n, int i, int repair, int generator) {
  double* row = a + static_cast<std::size_t>(i) * (static_cast<std::size_t>(n) + 1);
  if (repair == REPAIR_QO) {
    project_row(row, n, generator ? i : 0, generator ? 0.0 : 1.0);
    return 1;
  }
  for (int j = 1; j <= n; j++) {
    if (j != i || !generator)
      row[j] = std::fmax(row[j], 0.0);
  }
  if (repair == REPAIR_DA) {
    double off = 0.0;
    for (int j = 1; j <= n; j++) {
      if (j != i)
        off += row[j];
    }
    if (!generator && off > 1.0)
      return 0;
    row[i] = (generator ? 0.0 : 1.0) - off;
    return 1;
  }
  double total = 0.0, size = 0.0;
  for (int j = 1; j <= n; j++) {
    total += row[j];
    size += std::fabs(row[j]);
  }
  if (!generator) {
    if (!(total > 0.0))
      return 0;
    for (int j = 1; j <= n; j++)
      row[j] /= total;
    return 1;
  }
  // Raising the negative entries left the total above 0, at most the sum of the moduli: each
  // entry off the diagonal gives up at most all of itself.
  if (size > 0.0) {
    for (int j = 1; j <= n; j++)
      row[j] -= std::fabs(row[j]) * total / size;
  }
  return 1;
}

// ---- powers ----------------------------------------------------------------------------------

// c = a b, by the squaring solver's kernel.
static void multiply(std::vector<double>* a, std::vector<double>* b, int n,
                     std::vector<double>* c) {
  const std::size_t w = static_cast<std::size_t>(n) + 1, m = static_cast<std::size_t>(n);
  std::vector<double*> ra(w), rb(w);
  for (std::size_t i = 0; i < w; i++) {
    ra[i] = a->data() + i * w;
    rb[i] = b->data() + i * w;
  }
  std::vector<double> t(m * m, 0.0);
  matmul_with(matmul_kernel(), t.data(), ra.data(), rb.data(), m, m, m);
  c->assign(w * w, 0.0);
  for (std::size_t j = 0; j < m; j++) {
    for (std::size_t k = 1; k <= m; k++)
      (*c)[(j + 1) * w + k] = t[j * m + k - 1];
  }
}

void dense_power(const std::vector<double>& p, int n, long k, std::vector<double>* power) {
  std::vector<double> base = p, result, next;
  bool started = false;
  for (long e = k; e > 0; e >>= 1) {
    if ((e & 1) != 0) {
      if (!started) {
        result = base;
        started = true;
      } else {
        multiply(&result, &base, n, &next);
        result.swap(next);
      }
    }
    if (e > 1) {
      multiply(&base, &base, n, &next);
      base.swap(next);
    }
  }
  *power = result;
}

// The largest over the rows of the sum of |a - b|; NaN when an entry is.
static double row_sum_distance(const std::vector<double>& a, const std::vector<double>& b, int n) {
  const std::size_t w = static_cast<std::size_t>(n) + 1;
  double largest = 0.0;
  for (std::size_t i = 1; i < w; i++) {
    double sum = 0.0;
    for (std::size_t j = 1; j < w; j++)
      sum += std::fabs(a[i * w + j] - b[i * w + j]);
    if (!(sum <= largest))
      largest = sum;
  }
  return largest;
}

// ---- the conversion --------------------------------------------------------------------------

void solve_conversion(const SPARSE_CHAIN* c, int kind, long k, int repair, PERIOD_CONVERSION* pc) {
  const int n = c->n;
  check_conversion_size(kind, n);
  const std::size_t w = static_cast<std::size_t>(n) + 1;
  pc->kind = kind;
  pc->k = kind == CONVERSION_GENERATOR ? 1 : k;
  pc->repair = repair;
  pc->n = n;
  pc->spectrum = LOG_SPECTRUM{0.0, 0.0, 0.0};
  pc->verdict = VERDICT_EMBEDDABLE;
  pc->nbr_negative = 0;
  pc->least = 0.0;
  pc->least_from = pc->least_to = 0;
  pc->converted = pc->repaired = 0;
  pc->matrix.clear();
  pc->distance = NAN;
  std::vector<double> p(w * w, 0.0);
  for (int u = 1; u <= n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++)
      p[u * w + c->to[e]] = c->p[e];
  }
  if (kind == CONVERSION_POWER) {
    dense_power(p, n, k, &pc->matrix);
    pc->converted = 1;
    return;
  }
  dense_log_spectrum(p.data(), n, &pc->spectrum);
  if (pc->spectrum.negative < 0.0) {
    pc->verdict = VERDICT_NEGATIVE_EIGENVALUE;
  } else if (!(pc->spectrum.determinant > 0.0) ||
             !(pc->spectrum.smallest_modulus >= CONVERSION_SINGULAR)) {
    pc->verdict = VERDICT_DETERMINANT;
  }
  // No logarithm, and no real one without a repair to follow: nothing to compute.
  if (pc->verdict == VERDICT_DETERMINANT ||
      (pc->verdict == VERDICT_NEGATIVE_EIGENVALUE && repair == REPAIR_NONE))
    return;
  const int generator = kind == CONVERSION_GENERATOR;
  std::vector<double> x(w * w, 0.0);
  dense_log(p.data(), n, x.data());
  if (!generator) {
    for (double& v : x)
      v /= static_cast<double>(k);
    std::vector<double> l = x;
    dense_exp(l.data(), n, x.data());
  }
  std::vector<char> negative_row(w, 0);
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) {
      double& v = x[i * w + j];
      // Rounding would otherwise give an absorbing state a way out.
      if (std::fabs(v) <= CONVERSION_ROUNDING) {
        v = 0.0;
      } else if ((!generator || i != j) && v < 0.0) {
        pc->nbr_negative++;
        negative_row[i] = 1;
        if (v < pc->least) {
          pc->least = v;
          pc->least_from = i;
          pc->least_to = j;
        }
      }
    }
  }
  if (pc->verdict == VERDICT_EMBEDDABLE && pc->nbr_negative > 0)
    pc->verdict = VERDICT_NEGATIVE_ENTRIES;
  if (pc->verdict != VERDICT_EMBEDDABLE) {
    if (repair == REPAIR_NONE)
      return;
    // Only the rows that are not valid move: the others are as near as can be already.
    for (int i = 1; i <= n; i++) {
      if (negative_row[i] && !repair_row(x.data(), n, i, repair, generator)) {
        fail(
            " *** ERROR: --repair da cannot repair row %d of the root: its entries off the "
            "diagonal total more than 1; --repair qo or wa can\n",
            i);
      }
    }
    pc->repaired = 1;
  }
  std::vector<double> back;
  if (generator) {
    back.assign(w * w, 0.0);
    dense_exp(x.data(), n, back.data());
  } else {
    dense_power(x, n, k, &back);
  }
  pc->distance = row_sum_distance(back, p, n);
  pc->matrix.swap(x);
  pc->converted = 1;
}

// ---- output ----------------------------------------------------------------------------------

static const char* const REPAIR_WORDS[] = {
    "", "each row moved to the nearest valid row in the Euclidean norm (Kreinin-Sidelnikova)",
    "the negative entries set to 0, and the diagonal made up to the row's total "
    "(Israel-Rosenthal-Wei)",
    "the negative entries set to 0, and the row's total made up from every entry in proportion "
    "to its size (Israel-Rosenthal-Wei)"};

void print_conversion(FILE* out, const PRAVLIN* pv, const PERIOD_CONVERSION* pc, const char* output,
                      int precision) {
  const long k = pc->k;
  const int generator = pc->kind == CONVERSION_GENERATOR;
  if (pc->kind == CONVERSION_ROOT) {
    std::fprintf(out, "\nconversion: root %ld, X with X^%ld = P: the chain of a step of 1/%ld\n", k,
                 k, k);
  } else if (generator) {
    std::fprintf(out,
                 "\nconversion: generator, Q with exp(Q) = P: the rates of a continuous-time "
                 "chain, per step\n");
  } else {
    std::fprintf(out, "\nconversion: power %ld, P^%ld: the chain of %ld steps\n", k, k, k);
  }
  if (pc->kind != CONVERSION_POWER) {
    std::fprintf(out, "  determinant %.*g, ", precision, pc->spectrum.determinant);
    if (pc->spectrum.negative < 0.0) {
      std::fprintf(out, "real negative eigenvalue %.*g\n", precision, pc->spectrum.negative);
    } else {
      std::fprintf(out, "no real negative eigenvalue\n");
    }
    const char* what = generator ? "principal logarithm" : "principal root";
    switch (pc->verdict) {
      case VERDICT_EMBEDDABLE:
        std::fprintf(out, "  embeddable: the %s has no negative entry%s\n", what,
                     generator ? " off its diagonal" : "");
        break;
      case VERDICT_NEGATIVE_EIGENVALUE:
        std::fprintf(out,
                     "  not embeddable: an eigenvalue is real and negative, so the principal "
                     "%s not real\n",
                     generator ? "logarithm is" : "logarithm and root are");
        break;
      case VERDICT_DETERMINANT:
        std::fprintf(out,
                     "  not embeddable: the determinant is not positive (an eigenvalue of "
                     "modulus %.1e), so there is no logarithm\n",
                     pc->spectrum.smallest_modulus);
        break;
      default:
        std::fprintf(out,
                     "  not embeddable: the %s has %d negative entr%s%s, the least %.*f, from ",
                     what, pc->nbr_negative, pc->nbr_negative == 1 ? "y" : "ies",
                     generator ? " off its diagonal" : "", precision, pc->least);
        print_state(out, pv, pc->least_from);
        std::fprintf(out, " into ");
        print_state(out, pv, pc->least_to);
        std::fprintf(out, "\n");
    }
    if (!pc->converted) {
      if (pc->verdict == VERDICT_DETERMINANT) {
        std::fprintf(out, "  not converted: no repair starts without a logarithm\n");
      } else {
        std::fprintf(out, "  not converted: --repair qo, da or wa gives a valid %s near it\n",
                     generator ? "generator" : "chain");
      }
      return;
    }
    if (pc->repaired) {
      std::fprintf(out, "  repaired by %s%s: %s\n", REPAIR_NAME[pc->repair],
                   pc->verdict == VERDICT_NEGATIVE_EIGENVALUE
                       ? " from the real part of the principal logarithm"
                       : "",
                   REPAIR_WORDS[pc->repair]);
    }
    if (generator) {
      std::fprintf(out, "  distance ||exp(Q) - P|| %.1e", pc->distance);
    } else {
      std::fprintf(out, "  distance ||X^%ld - P|| %.1e", k, pc->distance);
    }
    std::fprintf(out, ", the largest over the rows of the sum of absolute differences\n");
  }
  if (pc->kind == CONVERSION_POWER) {
    std::fprintf(out, "  P^%ld by rows, entries of 0 left out:\n", k);
  } else {
    std::fprintf(out, "  %s by rows, entries of 0 left out:\n", generator ? "Q" : "X");
  }
  const int n = pc->n;
  const std::size_t w = static_cast<std::size_t>(n) + 1;
  if (!state_lines_left_out(out, pv, static_cast<std::size_t>(n))) {
    for (int i = 1; i <= n; i++) {
      std::fprintf(out, "  ");
      print_state(out, pv, i);
      std::fprintf(out, ":");
      const char* separator = " ";
      for (int j = 1; j <= n; j++) {
        const double v = pc->matrix[i * w + j];
        if (v == 0.0)
          continue;
        std::fprintf(out, "%s%d %.*f", separator, j, precision, v);
        separator = ", ";
      }
      std::fprintf(out, "\n");
    }
  }
  if (output != nullptr) {
    std::fprintf(out, "  written to %s as a pravlin configuration%s\n", shown(output).c_str(),
                 pc->repaired ? ", marked in the file as repaired" : "");
  }
}

void add_conversion_json(const PERIOD_CONVERSION* pc, const char* output, json* doc) {
  const bool power = pc->kind == CONVERSION_POWER;
  const std::size_t w = static_cast<std::size_t>(pc->n) + 1;
  json matrix = nullptr;
  if (pc->converted) {
    matrix = json::array();
    for (int i = 1; i <= pc->n; i++)
      matrix.push_back(json_by_state(pc->matrix.data() + i * w, pc->n));
  }
  json least = nullptr;
  if (pc->nbr_negative > 0) {
    least = {{"value", json_number(pc->least)}, {"from", pc->least_from}, {"to", pc->least_to}};
  }
  (*doc)["conversion"] = {
      {"kind", KIND_NAME[pc->kind]},
      {"k", pc->kind == CONVERSION_GENERATOR ? json(nullptr) : json(pc->k)},
      {"determinant", power ? json(nullptr) : json_number(pc->spectrum.determinant)},
      {"negative_eigenvalue",
       pc->spectrum.negative < 0.0 ? json_number(pc->spectrum.negative) : json(nullptr)},
      {"embeddable", power ? json(nullptr) : json(pc->verdict == VERDICT_EMBEDDABLE)},
      {"verdict", power ? json(nullptr) : json(VERDICT_NAME[pc->verdict])},
      {"negative_entries", power ? json(nullptr) : json(pc->nbr_negative)},
      {"least_entry", least},
      {"repair", pc->repaired ? json(REPAIR_NAME[pc->repair]) : json(nullptr)},
      {"distance", pc->converted && !power ? json_number(pc->distance) : json(nullptr)},
      {"matrix", matrix},
      {"output", output != nullptr ? json(output) : json(nullptr)}};
}

std::string conversion_refusal(const PERIOD_CONVERSION* pc) {
  return std::string("the root is not embeddable") + (pc->verdict == VERDICT_DETERMINANT
                                                          ? " and has no logarithm to repair"
                                                          : "; --repair qo, da or wa repairs it");
}

std::string conversion_mark(const PERIOD_CONVERSION* pc) {
  if (!pc->repaired)
    return std::string();
  char line[256];
  std::snprintf(line, sizeof line,
                "NOT EMBEDDABLE (%s): repaired by %s, ||X^%ld - P|| %.1e, the largest row sum",
                pc->verdict == VERDICT_NEGATIVE_EIGENVALUE ? "a real negative eigenvalue"
                                                           : "negative entries in the root",
                REPAIR_NAME[pc->repair], pc->k, pc->distance);
  return line;
}

void conversion_chain(const PERIOD_CONVERSION* pc, SPARSE_CHAIN* q) {
  const std::size_t w = static_cast<std::size_t>(pc->n) + 1;
  std::vector<double> a = pc->matrix;
  std::vector<double*> rows(w);
  for (std::size_t i = 0; i < w; i++)
    rows[i] = a.data() + i * w;
  sparse_chain_from_matrix(q, rows.data(), pc->n);
}

void write_conversion(const char* output, const PRAVLIN* pv, const PERIOD_CONVERSION* pc) {
  if (output == nullptr)
    return;
  if (!pc->converted) {
    fail(" *** ERROR: no chain to write to %s: %s\n", shown(output).c_str(),
         conversion_refusal(pc).c_str());
  }
  const int n = pc->n;
  SPARSE_CHAIN q;
  conversion_chain(pc, &q);
  std::vector<std::string> name(static_cast<std::size_t>(n) + 1);
  for (int s = 1; s <= n; s++) {
    const char* given = pv->state_name[s];
    if (given != nullptr && std::strchr(given, '<') == nullptr)
      name[s] = given;
  }
  char line[256];
  if (pc->kind == CONVERSION_ROOT) {
    std::snprintf(line, sizeof line,
                  "  <!-- root %ld by pravlin-analyze: the chain of a step of 1/%ld -->\n", pc->k,
                  pc->k);
  } else {
    std::snprintf(line, sizeof line,
                  "  <!-- power %ld by pravlin-analyze: the chain of %ld steps -->\n", pc->k,
                  pc->k);
  }
  std::string comment = line;
  // Marked where whoever reads or simulates it will see: this is a chain near the root, not
  // the root.
  if (pc->repaired)
    comment += "  <!-- " + conversion_mark(pc) + " -->\n";
  write_chain_configuration(output, pv, &q, name, pv->val, pv->initial_probability, comment);
}
