// analyze_lump.cc - strong lumpability: a partition from the values or a file, the coarsest
// lumpable refinement (refine_lumpable), the largest violation and the lumped chain, written
// as a pravlin configuration on request.
// Part of pravlin; see README.md.
#include "analyze_lump.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "analyze_among.h"
#include "analyze_json_values.h"
#include "analyze_states.h"
#include "config_write.h"
#include "output_file.h"

using json = nlohmann::ordered_json;

// ORDER LUMPBY
static const char* const LUMP_BY_NAME[] = {"", "value", "file", "coarsest"};

// Renumbers the blocks of block_of[1..n] in the order of their lowest state; returns their
// count. The blocks may come numbered anyhow from 0 or 1 up to n.
static int number_by_lowest(std::vector<int>* block_of, int n, std::vector<int>* old_of_new) {
  std::vector<int> renamed(static_cast<std::size_t>(n) + 2, 0);
  int count = 0;
  old_of_new->assign(1, 0);
  for (int s = 1; s <= n; s++) {
    int& b = renamed[static_cast<std::size_t>((*block_of)[s])];
    if (b == 0) {
      b = ++count;
      old_of_new->push_back((*block_of)[s]);
    }
    (*block_of)[s] = b;
  }
  return count;
}

// Equal values together; every NaN counts as one value.
static void partition_by_value(const PRAVLIN* pv, LUMP_PARTITION* part) {
  const int n = pv->nbr_states;
  std::vector<int> order(static_cast<std::size_t>(n));
  for (int s = 1; s <= n; s++)
    order[s - 1] = s;
  const double* v = pv->val;
  auto less = [v](int a, int b) {
    const bool na = std::isnan(v[a]), nb = std::isnan(v[b]);
    if (na || nb)
      return !na && nb;
    return v[a] < v[b];
  };
  std::stable_sort(order.begin(), order.end(), less);
  part->block_of.assign(static_cast<std::size_t>(n) + 1, 0);
  int block = 0;
  for (int i = 0; i < n; i++) {
    if (i == 0 || less(order[i - 1], order[i]))
      block++;
    part->block_of[order[i]] = block;
  }
  std::vector<int> old_of_new;
  part->nbr_blocks = number_by_lowest(&part->block_of, n, &old_of_new);
  part->name.assign(static_cast<std::size_t>(part->nbr_blocks) + 1, std::string());
}

static bool is_blank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
}

// The file's lines "STATE BLOCK".
static void partition_from_file(const PRAVLIN* pv, const char* file, LUMP_PARTITION* part) {
  const std::string name = shown(file);
  FILE* in = std::fopen(file, "r");
  if (in == nullptr)
    fail(" *** ERROR: Unable to open file (%s)\n", name.c_str());
  const int n = pv->nbr_states;
  STATE_LOOKUP names;
  state_lookup_init(&names, pv);
  part->block_of.assign(static_cast<std::size_t>(n) + 1, 0);
  std::vector<std::string> label;  // of each block, by first appearance
  std::unordered_map<std::string, int> block_named;
  std::string line, where;
  long number = 0;
  int ch = 0;
  while (ch != EOF) {
    line.clear();
    while ((ch = std::getc(in)) != EOF && ch != '\n')
      line += static_cast<char>(ch);
    number++;
    // A byte-order mark, as some editors save a text file, is no part of the first state.
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
      line.erase(0, 3);
    std::size_t end = line.size();
    while (end > 0 && is_blank(line[end - 1]))
      end--;
    std::size_t start = 0;
    while (start < end && is_blank(line[start]))
      start++;
    if (start == end)
      continue;
    // The block is the last word: a state's name may hold blanks.
    std::size_t cut = end;
    while (cut > start && !is_blank(line[cut - 1]) && line[cut - 1] != ',')
      cut--;
    std::size_t state_end = cut;
    while (state_end > start && (is_blank(line[state_end - 1]) || line[state_end - 1] == ','))
      state_end--;
    if (cut == start || state_end == start) {
      fail(" *** ERROR: %s:%ld: needs a state and its block\n", name.c_str(), number);
    }
    const std::string block = line.substr(cut, end - cut);
    if (block.find('<') != std::string::npos) {
      fail(" *** ERROR: %s:%ld: a block's name cannot hold \"<\"\n", name.c_str(), number);
    }
    // Shown and written, a name ends at a NUL: two names that differ only after it would be
    // two blocks of one name.
    if (block.find('\0') != std::string::npos) {
      fail(" *** ERROR: %s:%ld: a block's name cannot hold a NUL byte\n", name.c_str(), number);
    }
    where = name + ":" + std::to_string(number);
    const int s =
        lookup_state(&names, line.substr(start, state_end - start).c_str(), where.c_str());
    if (part->block_of[s] != 0)
      fail(" *** ERROR: %s: state #%d is given a block twice\n", where.c_str(), s);
    auto found = block_named.emplace(block, static_cast<int>(label.size()) + 1);
    if (found.second)
      label.push_back(block);
    part->block_of[s] = found.first->second;
  }
  const bool bad = std::ferror(in) != 0;
  std::fclose(in);
  if (bad)
    fail(" *** ERROR: Unable to read file (%s)\n", name.c_str());
  for (int s = 1; s <= n; s++) {
    if (part->block_of[s] == 0)
      fail(" *** ERROR: %s: state #%d has no block\n", name.c_str(), s);
  }
  std::vector<int> old_of_new;
  part->nbr_blocks = number_by_lowest(&part->block_of, n, &old_of_new);
  part->name.assign(static_cast<std::size_t>(part->nbr_blocks) + 1, std::string());
  for (int b = 1; b <= part->nbr_blocks; b++)
    part->name[b] = label[static_cast<std::size_t>(old_of_new[b]) - 1];
}

int lump_reads_file(const char* how) {
  return std::strcmp(how, "value") != 0 && std::strcmp(how, "coarsest") != 0;
}

void read_lump_partition(const PRAVLIN* pv, const char* how, LUMP_PARTITION* part) {
  part->file = nullptr;
  if (!lump_reads_file(how)) {
    part->by = how[0] == 'v' ? LUMP_VALUE : LUMP_COARSEST;
    partition_by_value(pv, part);
  } else {
    part->by = LUMP_FILE;
    part->file = how;
    partition_from_file(pv, how, part);
  }
}

// ---- the coarsest lumpable refinement ---------------------------------------------------------

// The blocks as ranges of one array of states: block b is elems[begin[b] .. end[b] - 1], and
// pos[s] is where state s stands in it.
struct refinement {
  std::vector<int> elems, pos, block;
  std::vector<int> begin, end;
  std::vector<char> queued;
  std::vector<int> queue;
};

// Splits block b by the weights w[] of its touched states t[0..count-1], sorted by decreasing
// weight; the others weigh 0. Pieces are cut where two weights next in order differ by more
// than tolerance. The largest piece keeps the number b; the others are new blocks, queued as
// splitters: b's own weight into each is constant when it is, and so is the largest piece's.
static void split_block(refinement* r, int b, const int* t, std::size_t count,
                        const std::vector<double>& w, double tolerance) {
  const int first = r->begin[b], last = r->end[b];
  const std::size_t size = static_cast<std::size_t>(last - first);
  // Cut points, as offsets within the block once the touched states lead, heaviest first.
  std::vector<std::size_t> cuts = {0};
  for (std::size_t i = 1; i < count; i++) {
    if (w[t[i - 1]] - w[t[i]] > tolerance)
      cuts.push_back(i);
  }
  if (count < size && w[t[count - 1]] > tolerance)
    cuts.push_back(count);
  if (cuts.size() == 1)
    return;
  // The touched states to the front, in their sorted order.
  int mid = first;
  for (std::size_t i = 0; i < count; i++) {
    const int s = t[i], at = r->pos[s];
    const int other = r->elems[mid];
    r->elems[at] = other;
    r->pos[other] = at;
    r->elems[mid] = s;
    r->pos[s] = mid;
    mid++;
  }
  cuts.push_back(size);
  std::size_t largest = 0;
  for (std::size_t k = 1; k + 1 < cuts.size(); k++) {
    if (cuts[k + 1] - cuts[k] > cuts[largest + 1] - cuts[largest])
      largest = k;
  }
  for (std::size_t k = 0; k + 1 < cuts.size(); k++) {
    const int lo = first + static_cast<int>(cuts[k]), hi = first + static_cast<int>(cuts[k + 1]);
    if (k == largest) {
      r->begin[b] = lo;
      r->end[b] = hi;
      continue;
    }
    const int nb = static_cast<int>(r->begin.size());
    r->begin.push_back(lo);
    r->end.push_back(hi);
    r->queued.push_back(1);
    r->queue.push_back(nb);
    for (int i = lo; i < hi; i++)
      r->block[r->elems[i]] = nb;
  }
}

void refine_lumpable(const SPARSE_CHAIN* c, double tolerance, LUMP_PARTITION* part) {
  const int n = c->n;
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  REVERSED_CHAIN rc;
  reverse_chain(c, &rc);
  refinement r;
  r.pos.assign(size, 0);
  r.block.assign(size, 0);
  r.elems.assign(static_cast<std::size_t>(n), 0);
  const int k = part->nbr_blocks;
  r.begin.assign(static_cast<std::size_t>(k), 0);
  r.end.assign(static_cast<std::size_t>(k), 0);
  for (int s = 1; s <= n; s++)
    r.end[part->block_of[s] - 1]++;
  for (int b = 1; b < k; b++)
    r.end[b] += r.end[b - 1];
  for (int b = k - 1; b >= 0; b--)
    r.begin[b] = b > 0 ? r.end[b - 1] : 0;
  std::vector<int> fill(r.begin);
  for (int s = 1; s <= n; s++) {
    const int b = part->block_of[s] - 1;
    r.block[s] = b;
    r.pos[s] = fill[b];
    r.elems[fill[b]++] = s;
  }
  // Every row totals 1, into the whole chain: all blocks but the largest will do.
  int largest = 0;
  for (int b = 1; b < k; b++) {
    if (r.end[b] - r.begin[b] > r.end[largest] - r.begin[largest])
      largest = b;
  }
  r.queued.assign(static_cast<std::size_t>(k), 0);
  for (int b = k - 1; b >= 0; b--) {
    if (b != largest) {
      r.queued[b] = 1;
      r.queue.push_back(b);
    }
  }

  std::vector<double> w(size, 0.0);
  std::vector<int> touched, grouped, splitter, blocks, count;
  std::vector<std::size_t> at, fill_at;
  while (!r.queue.empty()) {
    const int sb = r.queue.back();
    r.queue.pop_back();
    r.queued[sb] = 0;
    splitter.assign(r.elems.begin() + r.begin[sb], r.elems.begin() + r.end[sb]);
    touched.clear();
    for (int j : splitter) {
      for (std::size_t e = rc.in_start[j]; e < rc.in_start[j + 1]; e++) {
        const int i = rc.in_from[e];
        if (w[i] == 0.0)
          touched.push_back(i);
        w[i] += rc.in_p[e];
      }
    }
    // The touched states grouped by block, by counting: blocks in the order first met.
    count.resize(r.begin.size(), 0);
    blocks.clear();
    for (int i : touched) {
      if (count[r.block[i]]++ == 0)
        blocks.push_back(r.block[i]);
    }
    at.assign(blocks.size() + 1, 0);
    for (std::size_t g = 0; g < blocks.size(); g++) {
      at[g + 1] = at[g] + static_cast<std::size_t>(count[blocks[g]]);
      count[blocks[g]] = static_cast<int>(g);
    }
    grouped.resize(touched.size());
    fill_at.assign(at.begin(), at.end() - 1);
    for (int i : touched)
      grouped[fill_at[static_cast<std::size_t>(count[r.block[i]])]++] = i;
    for (std::size_t g = 0; g < blocks.size(); g++) {
      const int b = blocks[g];
      count[b] = 0;
      int* t = grouped.data() + at[g];
      const std::size_t nt = at[g + 1] - at[g];
      // Most blocks a splitter touches stay whole: one piece needs no sort.
      double lo = w[t[0]], hi = w[t[0]];
      for (std::size_t i = 1; i < nt; i++) {
        lo = std::fmin(lo, w[t[i]]);
        hi = std::fmax(hi, w[t[i]]);
      }
      const bool whole = static_cast<int>(nt) == r.end[b] - r.begin[b];
      if (hi - lo <= tolerance && (whole || lo <= tolerance))
        continue;
      std::sort(t, t + nt, [&](int x, int y) { return w[x] != w[y] ? w[x] > w[y] : x < y; });
      split_block(&r, b, t, nt, w, tolerance);
    }
    for (int i : touched)
      w[i] = 0.0;
  }
  std::vector<int> old_of_new;
  part->block_of.assign(r.block.begin(), r.block.end());
  for (int s = 1; s <= n; s++)
    part->block_of[s]++;
  part->nbr_blocks = number_by_lowest(&part->block_of, n, &old_of_new);
  part->name.assign(static_cast<std::size_t>(part->nbr_blocks) + 1, std::string());
}

// ---- the check and the lumped chain ----------------------------------------------------------

void lump_chain(const PRAVLIN* pv, const SPARSE_CHAIN* c, const LUMP_PARTITION* part,
                double tolerance, LUMPED_CHAIN* l) {
  const int n = c->n, k = part->nbr_blocks;
  const std::size_t kw = static_cast<std::size_t>(k) + 1;
  l->part = *part;
  l->tolerance = tolerance;
  l->first.assign(kw + 1, 0);
  l->member.assign(static_cast<std::size_t>(n), 0);
  for (int s = 1; s <= n; s++)
    l->first[static_cast<std::size_t>(part->block_of[s]) + 1]++;
  for (std::size_t b = 1; b <= kw; b++)
    l->first[b] += l->first[b - 1];
  std::vector<std::size_t> fill(l->first.begin() + 1, l->first.end());
  for (int s = 1; s <= n; s++)
    l->member[fill[part->block_of[s] - 1]++] = s;
  l->initial.assign(kw, 0.0);
  l->value.assign(kw, 0.0);
  l->violation = 0.0;
  l->from = l->into = 0;
  SPARSE_CHAIN& q = l->chain;
  q.n = k;
  q.row_start.assign(kw + 1, 0);
  q.to.clear();
  q.p.clear();

  // Per block B: into[B] the current state's probability of moving into B (mark[B] says for
  // which state it holds), and over the states of block A so far lowest, highest, total and
  // count (seen[B] says for which A).
  std::vector<double> into(kw, 0.0), lowest(kw), highest(kw), total(kw);
  std::vector<int> mark(kw, 0), seen(kw, 0), count(kw, 0), row_blocks, blocks;
  for (int a = 1; a <= k; a++) {
    const std::size_t lo = l->first[a], hi = l->first[a + 1];
    const int size = static_cast<int>(hi - lo);
    blocks.clear();
    double value_total = 0.0;
    bool one_value = true;
    for (std::size_t i = lo; i < hi; i++) {
      const int u = l->member[i];
      l->initial[a] += pv->initial_probability[u];
      value_total += pv->val[u];
      one_value = one_value && (pv->val[u] == pv->val[l->member[lo]]);
      row_blocks.clear();
      for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
        const int b = part->block_of[c->to[e]];
        if (mark[b] != u) {
          mark[b] = u;
          into[b] = 0.0;
          row_blocks.push_back(b);
        }
        into[b] += c->p[e];
      }
      for (int b : row_blocks) {
        const double v = into[b];
        if (seen[b] != a) {
          seen[b] = a;
          blocks.push_back(b);
          lowest[b] = highest[b] = total[b] = v;
          count[b] = 1;
        } else {
          lowest[b] = std::fmin(lowest[b], v);
          highest[b] = std::fmax(highest[b], v);
          total[b] += v;
          count[b]++;
        }
      }
    }
    l->value[a] = one_value ? pv->val[l->member[lo]] : value_total / size;
    std::sort(blocks.begin(), blocks.end());
    for (int b : blocks) {
      // A state of A that never moves into B moves there with probability 0.
      const double low = count[b] < size ? 0.0 : lowest[b];
      if (highest[b] - low > l->violation) {
        l->violation = highest[b] - low;
        l->from = a;
        l->into = b;
      }
      q.to.push_back(b);
      q.p.push_back(total[b] / size);
    }
    q.row_start[static_cast<std::size_t>(a) + 1] = q.to.size();
  }
  l->lumpable = l->violation <= tolerance;
}

// ---- output ----------------------------------------------------------------------------------

// The name the written configuration gives block b, or "" for none.
static std::string block_name(const PRAVLIN* pv, const LUMPED_CHAIN* l, int b) {
  if (l->part.by == LUMP_FILE)
    return l->part.name[b];
  if (l->part.by == LUMP_VALUE)
    return config_number(l->value[b]);
  const char* lowest = pv->state_name[l->member[l->first[b]]];
  return lowest != nullptr && std::strchr(lowest, '<') == nullptr ? lowest : "";
}

void write_lumped_configuration(const char* file, const PRAVLIN* pv, const LUMPED_CHAIN* l) {
  const SPARSE_CHAIN& q = l->chain;
  char line[256];
  std::snprintf(line, sizeof line,
                "  <!-- lumped by pravlin-analyze (%s): %d blocks of %d states -->\n",
                LUMP_BY_NAME[l->part.by], q.n, pv->nbr_states);
  std::string comment = line;
  // Marked where whoever reads or simulates it will see: this chain is no reduction of the
  // original, only the means of its rows.
  if (!l->lumpable) {
    std::snprintf(line, sizeof line,
                  "  <!-- NOT LUMPABLE within %.0e (largest violation %.1e, from block %d into "
                  "block %d): the original chain does not reduce to this one -->\n",
                  l->tolerance, l->violation, l->from, l->into);
    comment += line;
  }
  std::vector<std::string> name(static_cast<std::size_t>(q.n) + 1);
  for (int b = 1; b <= q.n; b++)
    name[b] = block_name(pv, l, b);
  write_chain_configuration(file, pv, &q, name, l->value.data(), l->initial.data(), comment);
}

void print_lump(FILE* out, const PRAVLIN* pv, const LUMPED_CHAIN* l, const char* output,
                int precision) {
  const SPARSE_CHAIN& q = l->chain;
  std::fprintf(out, "\nlumping ");
  if (l->part.by == LUMP_VALUE) {
    std::fprintf(out, "by value");
  } else if (l->part.by == LUMP_FILE) {
    std::fprintf(out, "by the blocks of %s", shown(l->part.file).c_str());
  } else {
    std::fprintf(out, "to the coarsest lumpable partition that refines the values");
  }
  std::fprintf(out, ": %d block%s; %s within %.0e, largest violation %.1e", q.n,
               q.n == 1 ? "" : "s", l->lumpable ? "lumpable" : "not lumpable", l->tolerance,
               l->violation);
  if (l->from != 0)
    std::fprintf(out, " (from block %d into block %d)", l->from, l->into);
  std::fprintf(out, "\n");
  for (int b = 1; b <= q.n; b++) {
    const std::size_t size = l->first[b + 1] - l->first[b];
    std::fprintf(out, "  block %d", b);
    if (l->part.by == LUMP_FILE) {
      std::fprintf(out, " (%s)", shown(l->part.name[b].c_str()).c_str());
    } else {
      std::fprintf(out, " (value %.*f)", precision, l->value[b]);
    }
    std::fprintf(out, ", %zu state%s:", size, size == 1 ? "" : "s");
    for (std::size_t i = l->first[b]; i < l->first[b + 1]; i++) {
      std::fprintf(out, "%s", i > l->first[b] ? ", " : " ");
      print_state(out, pv, l->member[i]);
    }
    std::fprintf(out, "\n");
  }
  std::fprintf(out,
               "lumped chain (P(A, B) the mean over the states i of A of P(i, B)), and each "
               "block's initial probability:\n");
  for (int a = 1; a <= q.n; a++) {
    std::fprintf(out, "  block %d:", a);
    for (std::size_t e = q.row_start[a]; e < q.row_start[a + 1]; e++) {
      std::fprintf(out, "%s block %d %.*f", e > q.row_start[a] ? "," : "", q.to[e], precision,
                   q.p[e]);
    }
    std::fprintf(out, "; initial %.*f\n", precision, l->initial[a]);
  }
  if (output != nullptr) {
    std::fprintf(out, "  written to %s as a pravlin configuration%s\n", shown(output).c_str(),
                 l->lumpable ? "" : ", marked in the file as not lumpable");
  }
}

void add_lump_json(const LUMPED_CHAIN* l, const char* output, json* doc) {
  if (l == nullptr) {
    (*doc)["lump"] = nullptr;
    return;
  }
  const SPARSE_CHAIN& q = l->chain;
  json blocks = json::array(), chain = json::array(), initial = json::array();
  for (int b = 1; b <= q.n; b++) {
    json states = json::array(), to = json::array(), p = json::array();
    for (std::size_t i = l->first[b]; i < l->first[b + 1]; i++)
      states.push_back(l->member[i]);
    blocks.push_back({{"number", b},
                      {"name", l->part.by == LUMP_FILE ? json(l->part.name[b]) : json(nullptr)},
                      {"value", json_number(l->value[b])},
                      {"states", states}});
    for (std::size_t e = q.row_start[b]; e < q.row_start[b + 1]; e++) {
      to.push_back(q.to[e]);
      p.push_back(json_number(q.p[e]));
    }
    chain.push_back({{"block", b}, {"to", to}, {"probability", p}});
    initial.push_back(json_number(l->initial[b]));
  }
  (*doc)["lump"] = {{"by", LUMP_BY_NAME[l->part.by]},
                    {"file", l->part.file != nullptr ? json(l->part.file) : json(nullptr)},
                    {"tolerance", json_number(l->tolerance)},
                    {"lumpable", l->lumpable != 0},
                    {"largest_violation", json_number(l->violation)},
                    {"between", l->from != 0 ? json::array({l->from, l->into}) : json(nullptr)},
                    {"blocks", blocks},
                    {"chain", chain},
                    {"initial_probability", initial},
                    {"output", output != nullptr ? json(output) : json(nullptr)}};
}
