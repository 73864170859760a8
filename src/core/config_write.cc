// config_write.cc - a configuration written (config_number, the config_write_* elements,
// config_write_chain): the one writer of pravlin-analyze's -o, pravlin-fit and the
// Python module.
// Part of pravlin; see README.md.
#include "config_write.h"

#include <charconv>
#include <cmath>

std::string config_number(double x) {
  char text[64];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, x);
  return std::string(text, r.ptr);
}

// The entries added in order from 0.0, as pravlin adds a row when it reads one.
static double total_in_order(const double* p, std::size_t m) {
  double total = 0.0;
  for (std::size_t i = 0; i < m; i++)
    total += p[i];
  return total;
}

// The means of a lumped row total 1 only to within rounding; moved by a few ulps, the file reads
// back without a warning and unscaled. First the largest entry, by the difference and then by
// single ulps; that can step over 1 when the additions after it round, and then an entry j,
// from the last back, becomes 1 - (p[0] + ... + p[j-1]), exact for a prefix from 1/2 to 1 and
// exactly 1 once added back (the entries after j being too small to move the total).
void total_exactly_one(double* p, std::size_t m) {
  if (m == 0)
    return;
  std::size_t k = 0;
  for (std::size_t i = 1; i < m; i++) {
    if (p[i] > p[k])
      k = i;
  }
  const double largest = p[k];
  for (int round = 0; round < 8; round++) {
    const double total = total_in_order(p, m);
    if (total == 1.0)
      return;
    const double moved =
        round < 2 ? p[k] + (1.0 - total) : std::nextafter(p[k], total < 1.0 ? 2.0 : 0.0);
    if (!(moved > 0.0 && moved <= 1.0))
      break;
    p[k] = moved;
  }
  p[k] = largest;
  for (std::size_t j = m; j-- > 0;) {
    const double rest = 1.0 - total_in_order(p, j);
    if (!(rest > 0.0))
      continue;
    const double kept = p[j];
    p[j] = rest;
    if (total_in_order(p, m) == 1.0)
      return;
    p[j] = kept;
  }
}

void config_write_open(FILE* out) {
  std::fprintf(out, "<pravlin>\n");
}

void config_write_close(FILE* out) {
  std::fprintf(out, "</pravlin>\n");
}

void config_write_setting(FILE* out, ConfigName e, long value) {
  std::fprintf(out, "  <%s>%ld</%s>\n", config_keyword(e), value, config_keyword(e));
}

void config_write_word(FILE* out, ConfigName e, ConfigWords words, int value) {
  const char* word = config_word(words, value);
  if (word != nullptr)
    std::fprintf(out, "  <%s>%s</%s>\n", config_keyword(e), word, config_keyword(e));
}

void config_write_steadystate(FILE* out, int calc_flag, int max_iteration, double max_error) {
  std::fprintf(out,
               "  <steadystate><calc>%s</calc><max_iteration>%d</max_iteration>"
               "<max_error>%s</max_error></steadystate>\n",
               config_word(WORDS_YES_NO, calc_flag ? 1 : 0), max_iteration,
               config_number(max_error).c_str());
}

void config_write_state(FILE* out, ConfigLayout layout, long ser, const std::string* name,
                        const double* value, double initial_probability) {
  // A line a state; or an element a line, inside the state's own lines.
  const bool lines = layout == CONFIG_LINES;
  const char* open = lines ? "\n    " : "";
  std::fprintf(out, "  <state>%s<ser>%ld</ser>", open, ser);
  if (name != nullptr) {
    std::fprintf(out, "%s<name>", open);
    std::fwrite(name->data(), 1, name->size(), out);  // the bytes as they are
    std::fprintf(out, "</name>");
  }
  if (value != nullptr)
    std::fprintf(out, "%s<value>%s</value>", open, config_number(*value).c_str());
  std::fprintf(out, "%s<initial_probability>%s</initial_probability>%s</state>\n", open,
               config_number(initial_probability).c_str(), lines ? "\n  " : "");
}

void config_write_transition_open(FILE* out, ConfigLayout layout, const char* indent, long from) {
  if (layout == CONFIG_LINES) {
    std::fprintf(out, "%s  <transition>\n%s    <from>%ld</from>\n", indent, indent, from);
  } else {
    std::fprintf(out, "%s  <transition><from>%ld</from>", indent, from);
  }
}

void config_write_to(FILE* out, ConfigLayout layout, const char* indent, long to,
                     double probability) {
  const bool lines = layout == CONFIG_LINES;
  std::fprintf(out, "%s%s<to><state>%ld</state><probability>%s</probability></to>%s",
               lines ? indent : "", lines ? "    " : "", to, config_number(probability).c_str(),
               lines ? "\n" : "");
}

void config_write_transition_close(FILE* out, ConfigLayout layout, const char* indent) {
  if (layout == CONFIG_LINES) {
    std::fprintf(out, "%s  </transition>\n", indent);
  } else {
    std::fprintf(out, "</transition>\n");
  }
}

void config_write_period_open(FILE* out, long first, long last) {
  std::fprintf(out, "  <period>\n    <first>%ld</first> <last>%ld</last>\n", first, last);
}

void config_write_period_close(FILE* out) {
  std::fprintf(out, "  </period>\n");
}

// The root's start, the lines of comment, the settings and the states of config_write_chain.
static void write_head(FILE* out, const CONFIG_SETTINGS* settings, const std::string& comment,
                       int n, const std::vector<std::string>& name, const double* value,
                       const double* initial) {
  config_write_open(out);
  std::fputs(comment.c_str(), out);
  config_write_setting(out, CFG_NBR_STATES, n);
  if (settings->given) {
    config_write_setting(out, CFG_INIT_YEAR, settings->init_year);
    config_write_setting(out, CFG_NBR_YEARS, settings->nbr_years);
    config_write_setting(out, CFG_NBR_CHAINS, settings->nbr_chains);
    config_write_word(out, CFG_PRINT_FLAG, WORDS_PRINT_FLAG, settings->print_flag);
    config_write_word(out, CFG_PRINT_HEADER, WORDS_YES_NO, settings->print_header ? 1 : 0);
    config_write_steadystate(out, settings->calc_flag, settings->max_iteration,
                             settings->max_error);
  }
  std::vector<double> first(initial + 1, initial + n + 1);
  total_exactly_one(first.data(), first.size());
  for (int b = 1; b <= n; b++) {
    const std::string& called = name[static_cast<std::size_t>(b)];
    config_write_state(out, CONFIG_COMPACT, b, called.empty() ? nullptr : &called, &value[b],
                       first[static_cast<std::size_t>(b) - 1]);
  }
}

// The transitions of rows 1..n, each row moved by total_exactly_one; indent as for
// config_write_transition_open.
static void write_rows(FILE* out, const char* indent, int n, const std::size_t* row_start,
                       const int* to, const double* p) {
  std::vector<double> row;
  for (int a = 1; a <= n; a++) {
    const std::size_t start = row_start[a];
    row.assign(p + start, p + row_start[a + 1]);
    total_exactly_one(row.data(), row.size());
    config_write_transition_open(out, CONFIG_COMPACT, indent, a);
    for (std::size_t e = start; e < row_start[a + 1]; e++)
      config_write_to(out, CONFIG_COMPACT, indent, to[e], row[e - start]);
    config_write_transition_close(out, CONFIG_COMPACT, indent);
  }
}

void config_write_chain(FILE* out, const CONFIG_SETTINGS* settings, const std::string& comment,
                        int n, const std::vector<std::string>& name, const double* value,
                        const double* initial, const std::size_t* row_start, const int* to,
                        const double* p) {
  write_head(out, settings, comment, n, name, value, initial);
  write_rows(out, "", n, row_start, to, p);
  config_write_close(out);
}

void config_write_periods(FILE* out, const CONFIG_SETTINGS* settings, const std::string& comment,
                          int n, const std::vector<std::string>& name, const double* value,
                          const double* initial, const std::vector<CONFIG_PERIOD_ROWS>& periods) {
  write_head(out, settings, comment, n, name, value, initial);
  for (const CONFIG_PERIOD_ROWS& k : periods) {
    config_write_period_open(out, k.first, k.last);
    write_rows(out, "  ", n, k.row_start, k.to, k.p);
    config_write_period_close(out);
  }
  config_write_close(out);
}
