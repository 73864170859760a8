// analyze_notes.cc - notes on how a configuration was read: every place where pravlin's lenient
// rules made the file read differ from what it seems to say (collect_read_notes).
// Part of pravlin; see README.md.
#include "analyze_notes.h"
#include "analyze_states.h"
#include "config_schema.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

// The kinds of note, as they appear in the text and the JSON. ORDER NOTEKIND
//   number_not_read      no number at the start of the text: read as 0
//   number_partly_read   a number, then more text that was ignored
//   number_out_of_range  an integer beyond the range of int: read as the nearest limit
//   keyword_not_known    a keyword value outside its list: the setting kept its earlier value
//   default_replaced     a value out of range that a default replaced
//   name_abbreviated     an element name matched on its first 8 (or 3) characters only
//   markup_in_container  a comment, CDATA section or instruction inside state, transition, to
//                        or steadystate: pravlin warns of an unknown tag
//   markup_in_text       a '<' left in a name or file name where a comment stood
//   total_far_from_one   probabilities whose total was far from 1 before they were rescaled
//   value_not_finite     a state's value read as nan or as an infinity ("inf", "1e999")
//   last_period          a chain whose matrix changes with the step: the analyses describe the
//                        last period's matrix (pravlin-analyze's driver adds it)

// Totals outside these bounds were probably not meant as probabilities.
static const double NEAR_ONE_LOW = 0.9;
static const double NEAR_ONE_HIGH = 1.1;

// Where the walk is: a fixed text, then up to two state numbers ("transition from 3 to 5"). The
// text is put together only for a note: a million transitions mostly have none.
struct note_walk {
  std::vector<READ_NOTE>* notes;
  const char* place;  // "", "steadystate", "state", "transition from"
  int numbers;        // how many of first, second are set
  int first, second;
};

static void place(note_walk* w, const char* text, int numbers = 0, int first = 0, int second = 0) {
  w->place = text;
  w->numbers = numbers;
  w->first = first;
  w->second = second;
}

static void add(note_walk* w, const char* kind, const XMLENTITY* x, const std::string& message) {
  READ_NOTE n;
  n.kind = kind;
  n.element = x->name != nullptr ? x->name : "";
  n.where = w->place;
  if (w->numbers > 0)
    n.where.append(" ").append(std::to_string(w->first));
  if (w->numbers > 1)
    n.where.append(" to ").append(std::to_string(w->second));
  n.text = x->s != nullptr ? x->s : "";
  n.message = message;
  w->notes->push_back(n);
}

static std::string number_text(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

static const char* text_of_or_empty(const XMLENTITY* x) {
  return x != nullptr ? config_text(x) : "";
}

static std::string marked(const char* t) {
  return std::strchr(t, '<') != nullptr
             ? " (a \"<\" stands where a comment or other markup was inside the element)"
             : "";
}

// A note when x, read as the element e, only begins as e's keyword does.
static void check_name(note_walk* w, const XMLENTITY* x, ConfigName e) {
  if (e != CFG_UNKNOWN && std::strcmp(x->name, config_keyword(e)) != 0) {
    add(w, "name_abbreviated", x,
        std::string("read as <") + config_keyword(e) + ">: only the first " +
            std::to_string(config_matched_characters(e)) + " characters of a name count");
  }
}

// The element of place that x names, with a note when the name only begins as the keyword does.
static ConfigName element(note_walk* w, const XMLENTITY* x, ConfigPlace place) {
  const ConfigName e = config_name(x, place);
  check_name(w, x, e);
  return e;
}

// An integer as atoi reads it: sign, digits, the rest ignored; pravlin saturates at the limits.
static void check_integer(note_walk* w, const XMLENTITY* x, const char* keyword_note) {
  const char* t = config_text(x);
  const char* p = t;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
    p++;
  if (*p == '+' || *p == '-')
    p++;
  const char* digits = p;
  while (*p >= '0' && *p <= '9')
    p++;
  const int v = xml_atoi(t);
  if (p == digits) {
    add(w, keyword_note != nullptr ? "keyword_not_known" : "number_not_read", x,
        std::string(*t == '\0' ? "no text" : "not a number") + ": read as 0" +
            (keyword_note != nullptr ? keyword_note : "") + marked(t));
    return;
  }
  if (*p != '\0') {
    add(w, "number_partly_read", x,
        "a number only up to \"" + std::string(p) + "\": read as " + std::to_string(v) + marked(t));
  }
  const long long exact = std::strtoll(t, nullptr, 10);
  if (exact != v) {
    add(w, "number_out_of_range", x, "beyond the range of int: read as " + std::to_string(v));
  }
}

static double check_real(note_walk* w, const XMLENTITY* x) {
  const char* t = config_text(x);
  char* end = nullptr;
  const double v = std::strtod(t, &end);
  if (end == t) {
    add(w, "number_not_read", x,
        std::string(*t == '\0' ? "no text" : "not a number") + ": read as 0" + marked(t));
  } else if (*end != '\0') {
    add(w, "number_partly_read", x,
        "a number only up to \"" + std::string(end) + "\": read as " + number_text(v) + marked(t));
  }
  return v;
}

static void check_keyword(note_walk* w, const XMLENTITY* x, ConfigWords words) {
  if (config_word_value(words, config_text(x)) >= 0)
    return;
  add(w, "keyword_not_known", x,
      std::string("not one of ") + config_word_list(words) +
          " (keywords are case-sensitive): ignored, the setting "
          "keeps its earlier value");
}

// Comments and the like inside a container are not passed over as they are at the root.
static void check_markup(note_walk* w, const XMLENTITY* x, const char* container) {
  if (x->type == XML_ELEMENT)
    return;
  add(w, "markup_in_container", x,
      std::string("inside <") + container +
          ">, where pravlin warns of it as an unknown tag; harmless, or move it outside the "
          "element");
}

// Defaults replace a value only after all settings are read, so only the last element counts.
struct last_settings {
  const XMLENTITY* nbr_years = nullptr;
  const XMLENTITY* nbr_chains = nullptr;
  const XMLENTITY* max_iteration = nullptr;
  const XMLENTITY* max_error = nullptr;
};

static void walk_steadystate(note_walk* w, const XMLENTITY* ss, last_settings* last) {
  place(w, "steadystate");
  for (const XMLENTITY* x = ss->child; x != nullptr; x = x->next) {
    switch (element(w, x, IN_STEADYSTATE)) {
      case CFG_CALC:
        check_keyword(w, x, WORDS_YES_NO);
        break;
      case CFG_MAX_ITERATION:
        check_integer(w, x, nullptr);
        last->max_iteration = x;
        break;
      case CFG_MAX_ERROR:
        check_real(w, x);
        last->max_error = x;
        break;
      default:
        check_markup(w, x, "steadystate");
    }
  }
  place(w, "");
}

static void walk_state(note_walk* w, const XMLENTITY* state) {
  int ser = 0;
  for (const XMLENTITY* x = state->child; x != nullptr; x = x->next) {
    if (config_name(x, IN_STATE) == CFG_SER)
      ser = xml_atoi(config_text(x));
  }
  place(w, "state", 1, ser);
  for (const XMLENTITY* x = state->child; x != nullptr; x = x->next) {
    switch (element(w, x, IN_STATE)) {
      case CFG_SER:
        check_integer(w, x, nullptr);
        break;
      case CFG_NAME:
        if (std::strchr(config_text(x), '<') != nullptr) {
          add(w, "markup_in_text", x,
              "the name keeps a \"<\" where a comment or other markup was inside the element");
        }
        break;
      case CFG_INITIAL_PROBABILITY:
        check_real(w, x);
        break;
      case CFG_VALUE: {
        const double v = check_real(w, x);
        if (!std::isfinite(v)) {
          add(w, "value_not_finite", x,
              "read as " +
                  std::string(std::isnan(v) ? "nan"
                              : v > 0       ? "inf"
                                            : "-inf") +
                  ": the rewards that depend on it are not numbers");
        }
        break;
      }
      default:
        check_markup(w, x, "state");
    }
  }
  place(w, "");
}

static void note_transition(note_walk* w, const XMLENTITY* transition) {
  walk_transition(transition, [&](const transition_step& s) {
    if (s.step == STEP_CHILD) {
      place(w, "transition from", 1, s.from);
      check_name(w, s.x, s.name);
      if (s.name == CFG_FROM) {
        check_integer(w, s.x, nullptr);
      } else if (s.name != CFG_TO) {
        check_markup(w, s.x, "transition");
      }
    } else if (s.step == STEP_TO_CHILD) {
      place(w, "transition from", 2, s.from, s.to);
      check_name(w, s.x, s.name);
      if (s.name == CFG_TO_STATE) {
        check_integer(w, s.x, nullptr);
      } else if (s.name == CFG_PROBABILITY) {
        check_real(w, s.x);
      } else {
        check_markup(w, s.x, "to");
      }
    }
  });
  place(w, "");
}

// The settings in the order of pravlin's table of the root's children: the first match decides.
static void walk_root(note_walk* w, const XMLENTITY* root, last_settings* last) {
  for (const XMLENTITY* x = root->child; x != nullptr; x = x->next) {
    if (x->type != XML_ELEMENT)
      continue;
    switch (element(w, x, IN_ROOT)) {
      case CFG_NBR_STATES:
      case CFG_INIT_YEAR:
        check_integer(w, x, nullptr);
        break;
      case CFG_NBR_YEARS:
        check_integer(w, x, nullptr);
        last->nbr_years = x;
        break;
      case CFG_NBR_CHAINS:
        check_integer(w, x, nullptr);
        last->nbr_chains = x;
        break;
      case CFG_PRINT_FLAG:
        check_keyword(w, x, WORDS_PRINT_FLAG);
        break;
      case CFG_PRINT_HEADER:
        check_keyword(w, x, WORDS_YES_NO);
        break;
      case CFG_DEBUG:
        check_integer(w, x, " (debug takes a number: 1 on, 0 off)");
        break;
      case CFG_FILENAME:
        if (std::strchr(config_text(x), '<') != nullptr) {
          add(w, "markup_in_text", x,
              "the file name keeps a \"<\" where a comment or other markup was inside the element");
        }
        break;
      case CFG_STEADYSTATE:
        walk_steadystate(w, x, last);
        break;
      case CFG_STATE:
        walk_state(w, x);
        break;
      case CFG_TRANSITION:
        note_transition(w, x);
        break;
      default:
        break;
    }
  }
}

static void check_default(note_walk* w, const XMLENTITY* x, bool replaced, const char* value,
                          const char* where) {
  place(w, where);
  if (x != nullptr && replaced)
    add(w, "default_replaced", x, std::string("replaced by the default ") + value);
  place(w, "");
}

// Entries all 0 or 1 are weights, written so on purpose: one of several equally likely moves.
static void check_total(note_walk* w, const char* what, int state, double total, bool weights) {
  if (weights || total <= 0.0 || (total >= NEAR_ONE_LOW && total <= NEAR_ONE_HIGH))
    return;
  READ_NOTE n;
  n.kind = "total_far_from_one";
  n.element = what;
  if (state > 0)
    n.where = "transition from " + std::to_string(state);
  n.message = "the probabilities total " + number_text(total) +
              " and are divided by that; a total this far from 1 hints at a typo";
  w->notes->push_back(n);
}

void collect_read_notes(const PRAVLIN* pv, const std::vector<TRANSITION_ENTRY>& transitions,
                        std::vector<READ_NOTE>* notes) {
  notes->clear();
  note_walk w{notes, "", 0, 0, 0};
  last_settings last;
  walk_root(&w, pv->xml, &last);
  check_default(&w, last.nbr_years, xml_atoi(text_of_or_empty(last.nbr_years)) <= 1, "50", "");
  check_default(&w, last.nbr_chains, xml_atoi(text_of_or_empty(last.nbr_chains)) < 1, "10", "");
  check_default(&w, last.max_iteration, xml_atoi(text_of_or_empty(last.max_iteration)) < 1, "100",
                "steadystate");
  check_default(&w, last.max_error, !(xml_atof(text_of_or_empty(last.max_error)) > 0.0), "1e-6",
                "steadystate");

  double initial = 0.0;
  bool weights = true;
  for (int i = 1; i <= pv->nbr_states; i++) {
    initial += pv->initial_probability[i];
    weights = weights && (pv->initial_probability[i] == 0.0 || pv->initial_probability[i] == 1.0);
  }
  check_total(&w, "initial_probability", 0, initial, weights);
  // The rows as pravlin holds them: the last entry for a pair wins.
  std::vector<TRANSITION_ENTRY> t = transitions;
  sort_transitions(&t);
  for (std::size_t e = 0; e < t.size();) {
    const int from = t[e].from;
    double total = 0.0;
    weights = true;
    for (; e < t.size() && t[e].from == from; e++) {
      if (e + 1 < t.size() && t[e + 1].from == from && t[e + 1].to == t[e].to)
        continue;
      total += t[e].probability;
      weights = weights && (t[e].probability == 0.0 || t[e].probability == 1.0);
    }
    check_total(&w, "probability", from, total, weights);
  }
}

void print_read_notes(FILE* out, const std::vector<READ_NOTE>& notes) {
  if (notes.empty())
    return;
  std::fprintf(out, "notes on how the file was read: %zu\n", notes.size());
  for (const READ_NOTE& n : notes) {
    // The element's name and text, and the message quoting them, are the file's bytes.
    std::fprintf(out, "  <%s>", shown(n.element.c_str()).c_str());
    if (!n.where.empty())
      std::fprintf(out, " in %s", n.where.c_str());
    if (n.kind != "total_far_from_one" && n.kind != "name_abbreviated" && n.kind != "last_period")
      std::fprintf(out, ", text \"%s\"", shown(n.text.c_str()).c_str());
    std::fprintf(out, ": %s\n", shown(n.message.c_str()).c_str());
  }
  std::fprintf(out, "\n");
}

void hint_xml_declaration(const char* file) {
  // Only a regular file is looked at: a pipe read here would lose its text to the reading that
  // follows, and a device such as /dev/zero never ends. A file whose first markup lies beyond
  // the first MiB gets no hint.
  constexpr long kMostBeforeMarkup = 1L << 20;
  FILE* f = std::fopen(file, "r");
  if (f == nullptr)
    return;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return;
  }
  char head[6] = {0};
  int ch;
  long seen = 0;
  while ((ch = std::fgetc(f)) != EOF && ch != '<' && ++seen < kMostBeforeMarkup) {
  }
  const std::size_t got = ch == '<' ? std::fread(head, 1, 5, f) : 0;
  std::fclose(f);
  if (got == 5 && head[0] == '?' && (head[1] | 0x20) == 'x' && (head[2] | 0x20) == 'm' &&
      (head[3] | 0x20) == 'l' &&
      (head[4] == ' ' || (head[4] >= '\t' && head[4] <= '\r') || head[4] == '?')) {
    warn(
        " *** NOTE: %s begins with an XML declaration (<?xml ...?>), and pravlin reads only a "
        "file whose first markup is <pravlin>: delete the declaration\n",
        file);
  }
}
