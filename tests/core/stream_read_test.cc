// stream_read_test.cc - the stream path of the mapping against the tree's: the same record,
// tables, transitions, notes, messages and exit status, on every document of the case suite
// and on generated configurations in every lenient form the reader accepts, whole, mutated and
// cut short, read in one part and in two.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config.h"
#include "config_schema.h"
#include "config_stream.h"
#include "read_compare.h"
#include "tables.h"
#include "test_util.h"

namespace {

struct Outcome {
  int status;
  std::string err;
  std::string record;
  std::string parts;  // the parts the stream path read it in
};

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A directory of its own for the files of the test.
class StreamRead : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pravlin_stream_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
  }

  // Reads text in a process of its own, as a run would: its status, its messages, and when it
  // succeeded, its record described.
  Outcome read_forked(const std::string& text, ReadMode mode, bool stream, bool split) {
    const std::string config = dir_ + "/config.xml";
    const std::string err = dir_ + "/err";
    const std::string record = dir_ + "/record";
    const std::string parts = dir_ + "/parts";
    {
      std::ofstream out(config, std::ios::binary);
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    std::remove(record.c_str());
    std::remove(parts.c_str());
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      FILE* e = std::freopen(err.c_str(), "w", stderr);
      if (e == nullptr)
        _exit(99);
      set_stream_reading(stream ? 1 : 0);
      set_stream_split_from(split ? 1 : 0);
      set_table_memory_limit(std::size_t{64} << 20);
      static PRAVLIN pv;
      init_pravlin(&pv);
      pv.xmlfilename = const_cast<char*>(config.c_str());
      pv.in = std::fopen(config.c_str(), "r");
      std::vector<TRANSITION_ENTRY> list;
      std::vector<READ_NOTE> notes;
      read_in_mode(&pv, mode, &list, &notes);
      std::ofstream(parts) << stream_parts_read();
      std::ofstream out(record, std::ios::binary);
      out << describe_record(&pv, list, notes);
      out.close();
      std::fflush(stderr);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.err = file_text(err);
    o.record = file_text(record);
    o.parts = file_text(parts);
    return o;
  }

  // Expects the stream path, in one part or two, to read text as the tree path does. Returns
  // the parts it read a document that it read through in.
  std::string expect_same(const std::string& text, ReadMode mode, bool split) {
    const Outcome tree = read_forked(text, mode, false, false);
    const Outcome stream = read_forked(text, mode, true, split);
    EXPECT_NE(tree.status, 99);
    EXPECT_EQ(stream.status, tree.status);
    EXPECT_EQ(stream.err, tree.err);
    EXPECT_EQ(stream.record, tree.record);
    return stream.parts;
  }

  std::string dir_;
};

// ---- Generated configurations --------------------------------------------------------------

std::mt19937_64 rng_for(unsigned seed) {
  return std::mt19937_64(seed);
}

int pick(std::mt19937_64& rng, int n) {
  return static_cast<int>(rng() % static_cast<unsigned>(n));
}

bool chance(std::mt19937_64& rng, int percent) {
  return pick(rng, 100) < percent;
}

// How much rarer than written the forms that draw a warning or end the read are, in the
// document being made: most documents read through, some are refused.
int rarity = 1;

bool odd(std::mt19937_64& rng, int percent) {
  return pick(rng, 100 * rarity) < percent;
}

template <std::size_t N>
const char* one_of(std::mt19937_64& rng, const char* const (&choices)[N]) {
  return choices[pick(rng, static_cast<int>(N))];
}

std::string space(std::mt19937_64& rng) {
  static const char* const spaces[] = {"", "", "", " ", "\n  ", "\t", "\r\n", "  \v\f"};
  return one_of(rng, spaces);
}

// A comment; now and then one that a third dash keeps open to a later "-->" or the end.
std::string comment(std::mt19937_64& rng) {
  static const char* const bodies[] = {" c ", "", " a - b ", "x--y", " <b>1</b> "};
  static const char* const open[] = {"-", "--"};
  return std::string("<!--") + (pick(rng, 1000) < 5 ? one_of(rng, open) : one_of(rng, bodies)) +
         "-->";
}

// Markup that may stand between elements.
std::string between(std::mt19937_64& rng) {
  std::string s = space(rng);
  if (chance(rng, 8))
    s += comment(rng) + space(rng);
  if (chance(rng, 2))
    s += "<![CDATA[ x ]]>";
  if (chance(rng, 2))
    s += "<?pi x?>";
  if (chance(rng, 2))
    s += "stray text";
  return s;
}

// A keyword written as the mapping may still match it (or not): any case, cut to its first 8
// or 3 characters, lengthened.
std::string spelling(std::mt19937_64& rng, const std::string& keyword, int rule) {
  std::string s = keyword;
  const int r = pick(rng, 1000);
  if (rule == 8 && r < 8 && s.size() > 8) {
    s = s.substr(0, 8 + static_cast<std::size_t>(pick(rng, static_cast<int>(s.size()) - 8)));
  } else if (rule == 3 && r < 8) {
    s = s.substr(0, 3) + "id";
  } else if (r < 16) {
    s += "x";
  } else if (r < 24) {
    s = s.substr(0, s.size() - 1);
  }
  if (chance(rng, 10)) {
    for (char& c : s) {
      if (chance(rng, 50) && c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return s;
}

std::string attributes(std::mt19937_64& rng) {
  static const char* const attrs[] = {" a=\"1\"", " ser=\"1\"", " a b=1", " x='2'", " y"};
  return chance(rng, 4) ? one_of(rng, attrs) : "";
}

std::string element(std::mt19937_64& rng, const std::string& name, const std::string& body) {
  if (chance(rng, 2))
    return "<" + name + attributes(rng) + space(rng) + "/>";
  std::string end = name;
  if (pick(rng, 1000) < 2)
    end = spelling(rng, name, 0);
  return "<" + name + attributes(rng) + ">" + body + "</" + end + space(rng) + ">";
}

std::string integer_text(std::mt19937_64& rng, int v) {
  static const char* const forms[] = {
      "",     "abc", "+3",  "-1",  "03", "3abc", "99999999999", "-99999999999",
      "0x10", " 7 ", "2.9", "1e3", "  "};
  std::string s = odd(rng, 8) ? one_of(rng, forms) : std::to_string(v);
  if (odd(rng, 3))
    s = chance(rng, 50) ? comment(rng) + s : s + comment(rng);
  return space(rng) + s + space(rng);
}

std::string real_text(std::mt19937_64& rng, double v) {
  static const char* const forms[] = {"",      "0.5",    ".5",   "5.",     "1e-1",      "1E0",
                                      "-0",    "nan",    "inf",  "0x1p-2", "0,5",       "3/10",
                                      "1e400", "1e-400", "+0.5", "0.5abc", "1.0000001", "2"};
  char buf[40];
  std::snprintf(buf, sizeof buf, chance(rng, 50) ? "%.17g" : "%.6g", v);
  std::string s = odd(rng, 8) ? one_of(rng, forms) : buf;
  if (odd(rng, 3))
    s = chance(rng, 50) ? comment(rng) + s : s + comment(rng);
  return space(rng) + s + space(rng);
}

std::string state(std::mt19937_64& rng, int ser, int n) {
  std::vector<std::string> parts;
  parts.push_back(element(rng, spelling(rng, "ser", 0), integer_text(rng, ser)));
  static const char* const names[] = {"dry", "wet", "a b", "<!--x-->n", "q\"uote", "", "s"};
  if (!chance(rng, 10))
    parts.push_back(element(rng, spelling(rng, "name", 0), one_of(rng, names)));
  if (!chance(rng, 20))
    parts.push_back(element(rng, spelling(rng, "value", 3), real_text(rng, ser * 1.5)));
  if (!chance(rng, 10)) {
    parts.push_back(element(rng, spelling(rng, "initial_probability", 8),
                            real_text(rng, 1.0 / (pick(rng, n) + 1))));
  }
  if (odd(rng, 4))
    parts.push_back(element(rng, "nbr_states", "2"));
  if (odd(rng, 3))
    parts.push_back(comment(rng));
  if (chance(rng, 5))
    std::swap(parts[0], parts[static_cast<std::size_t>(pick(rng, static_cast<int>(parts.size())))]);
  std::string body;
  for (const std::string& p : parts)
    body += space(rng) + p;
  return element(rng, spelling(rng, "state", 0), body + space(rng));
}

std::string transition(std::mt19937_64& rng, int from, int n) {
  std::vector<std::string> parts;
  if (!odd(rng, 3))
    parts.push_back(element(rng, spelling(rng, "from", 0), integer_text(rng, from)));
  const int moves = pick(rng, 4);
  for (int m = 0; m < moves; m++) {
    std::string to;
    if (!odd(rng, 4))
      to += element(rng, spelling(rng, "state", 0),
                    integer_text(rng, odd(rng, 2) ? n + 1 : pick(rng, n) + 1));
    if (!chance(rng, 5)) {
      to += space(rng) + element(rng, spelling(rng, "probability", 8),
                                 real_text(rng, std::uniform_real_distribution<double>(0, 1)(rng)));
    }
    if (odd(rng, 3))
      to += comment(rng);
    if (odd(rng, 2))
      to += "<unknown>1</unknown>";
    parts.push_back(element(rng, spelling(rng, "to", 0), to));
  }
  if (odd(rng, 3))
    parts.push_back(element(rng, "probability", "0.5"));
  if (odd(rng, 3))
    parts.push_back(comment(rng));
  if (!parts.empty() && chance(rng, 20))
    std::swap(parts[0], parts.back());
  std::string body;
  for (const std::string& p : parts)
    body += space(rng) + p;
  return element(rng, spelling(rng, "transition", 0), body + space(rng));
}

std::string settings(std::mt19937_64& rng, int n, std::vector<std::string>* out) {
  out->push_back(element(rng, spelling(rng, "nbr_states", 8), integer_text(rng, n)));
  if (chance(rng, 10))
    out->push_back(element(rng, "nbr_states", integer_text(rng, n)));
  static const char* const flags[] = {"val", "ser", "name", "NAME", "Name", "x"};
  static const char* const yes_no[] = {"yes", "no", "YES", "NO", "1", "0", "Yes", ""};
  if (chance(rng, 50))
    out->push_back(element(rng, spelling(rng, "init_year", 8), integer_text(rng, 1990)));
  if (chance(rng, 50))
    out->push_back(element(rng, spelling(rng, "nbr_years", 8), integer_text(rng, pick(rng, 4))));
  if (chance(rng, 50))
    out->push_back(element(rng, spelling(rng, "nbr_chains", 8), integer_text(rng, pick(rng, 4))));
  if (chance(rng, 40))
    out->push_back(element(rng, spelling(rng, "print_flag", 8), one_of(rng, flags)));
  if (chance(rng, 40))
    out->push_back(element(rng, spelling(rng, "print_header", 8), one_of(rng, yes_no)));
  if (chance(rng, 20))
    out->push_back(element(rng, spelling(rng, "debug", 0), integer_text(rng, pick(rng, 2))));
  if (chance(rng, 20))
    out->push_back(element(rng, spelling(rng, "filename", 0), chance(rng, 50) ? "r.csv" : ""));
  if (chance(rng, 40)) {
    std::string ss;
    if (chance(rng, 70))
      ss += element(rng, spelling(rng, "calc", 0), one_of(rng, yes_no));
    if (chance(rng, 40))
      ss += element(rng, spelling(rng, "max_iteration", 8), integer_text(rng, pick(rng, 200)));
    if (chance(rng, 40))
      ss += element(rng, spelling(rng, "max_error", 8), real_text(rng, 1e-4));
    if (chance(rng, 10))
      ss += comment(rng);
    if (chance(rng, 5))
      ss += element(rng, "state", "1");
    out->push_back(element(rng, spelling(rng, "steadystate", 8), ss));
  }
  if (chance(rng, 10))
    out->push_back(element(rng, "unknown_setting", "1"));
  return "";
}

// A configuration of a few states with every setting, state and transition spelt in one of the
// ways the reader accepts or refuses, in any order.
std::string configuration(std::mt19937_64& rng) {
  const int n = 2 + pick(rng, 4);
  std::vector<std::string> children;
  settings(rng, n, &children);
  const int states = n + (odd(rng, 10) ? 1 : 0) - (chance(rng, 10) ? 1 : 0);
  for (int s = 1; s <= states; s++)
    children.push_back(state(rng, odd(rng, 5) ? pick(rng, n + 2) : s, n));
  const int transitions = n + (odd(rng, 10) ? 1 : 0) - (chance(rng, 10) ? 1 : 0);
  std::vector<std::string> moves;
  for (int t = 1; t <= transitions; t++)
    moves.push_back(transition(rng, odd(rng, 5) ? pick(rng, n + 2) : t, n));
  if (chance(rng, 25)) {
    // The transitions in periods, whose steps mostly follow each other; now and then one
    // without transitions, or a transition left outside them.
    const int periods = 1 + pick(rng, 3);
    int first = 1;
    for (int p = 0; p < periods; p++) {
      const int last = first + pick(rng, 3) - (odd(rng, 5) ? 3 : 0);
      std::string body = "<first>" + std::to_string(odd(rng, 5) ? first + 1 : first) + "</first>" +
                         between(rng) + "<last>" + std::to_string(last) + "</last>";
      if (!odd(rng, 5)) {
        for (const std::string& m : moves)
          body += between(rng) + m;
      }
      children.push_back(element(rng, spelling(rng, "period", 0), body + space(rng)));
      first = last + 1;
    }
    if (odd(rng, 5))
      children.push_back(moves.front());
  } else {
    children.insert(children.end(), moves.begin(), moves.end());
  }
  if (chance(rng, 30)) {
    std::shuffle(children.begin(), children.end(), rng);
  } else if (chance(rng, 30)) {
    std::rotate(children.begin(), children.begin() + 1, children.end());
  }
  std::string root = chance(rng, 5) ? "PRAVLIN" : "pravlin";
  std::string text;
  if (chance(rng, 2))
    text += "<?xml version=\"1.0\"?>";
  if (chance(rng, 2))
    text += "</stray>";
  text += "<" + root + attributes(rng) + ">";
  for (const std::string& c : children)
    text += between(rng) + c;
  text += between(rng) + "</" + root + ">\n";
  if (chance(rng, 3))
    text += "<second>x</second>";
  if (chance(rng, 2))
    text += "<!DOCTYPE x>";
  return text;
}

// Damage of the kinds the reader must survive: constructs too long for its buffer, nesting too
// deep, bytes where they do not belong, a file cut short.
std::string mutated(std::mt19937_64& rng, std::string text) {
  const auto at = [&rng, &text] {
    return static_cast<std::size_t>(pick(rng, static_cast<int>(text.size()) + 1));
  };
  if (chance(rng, 6))
    text.insert(at(),
                "<!--" + std::string(2040 + static_cast<std::size_t>(pick(rng, 8)), 'c') + "-->");
  if (chance(rng, 4))
    text.insert(at(),
                "<t" + std::string(2040 + static_cast<std::size_t>(pick(rng, 10)), 'a') + ">");
  if (chance(rng, 3))
    text.insert(at(),
                "<?" + std::string(2040 + static_cast<std::size_t>(pick(rng, 8)), 'p') + "?>");
  if (chance(rng, 3)) {
    std::string deep;
    for (int i = 0; i < 250 + pick(rng, 12); i++)
      deep += "<d>";
    text.insert(at(), deep);
  }
  static const std::string bytes[] = {"<",    ">", "/",  "</",   "<!",  "<!-", "<![", {"\0", 1},
                                      "\xff", "=", "\"", "<a/>", "-->", "]]>", "?>"};
  const int edits = chance(rng, 30) ? 1 + pick(rng, 3) : 0;
  for (int e = 0; e < edits; e++)
    text.insert(at(), bytes[pick(rng, sizeof bytes / sizeof bytes[0])]);
  if (chance(rng, 8))
    text.resize(at());
  return text;
}

const char* mode_name(ReadMode mode) {
  return mode == READ_MATRIX ? "matrix" : mode == READ_FOR_RUN ? "run" : "analysis";
}

}  // namespace

TEST_F(StreamRead, GeneratedConfigurationsReadAsTheTreeReadsThem) {
  const int documents = kSanitized ? 60 : 400;
  for (int d = 0; d < documents; d++) {
    std::mt19937_64 rng = rng_for(static_cast<unsigned>(d));
    rarity = d % 2 == 0 ? 1 : 30;
    std::string text = configuration(rng);
    if (rarity == 1 && chance(rng, 60))
      text = mutated(rng, text);
    const auto mode = static_cast<ReadMode>(d % 3);
    SCOPED_TRACE("document " + std::to_string(d) + ", " + mode_name(mode) + ":\n" + text);
    expect_same(text, mode, chance(rng, 60));
    if (HasFailure())
      return;
  }
}

TEST_F(StreamRead, EveryCaseExampleAndCorpusFileReadsAsTheTreeReadsIt) {
  std::vector<std::string> files;
  for (const char* dir : {"tests/cases", "examples", "fuzz/corpus"}) {
    const std::filesystem::path root = std::filesystem::path(FIT_SOURCE_DIR) / dir;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (entry.is_regular_file() && entry.path().extension() == ".xml")
        files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  ASSERT_GT(files.size(), 50u);
  for (const std::string& file : files) {
    const std::string text = file_text(file);
    for (ReadMode mode : {READ_MATRIX, READ_FOR_RUN, READ_LIST}) {
      SCOPED_TRACE(file + ", " + mode_name(mode));
      expect_same(text, mode, mode != READ_MATRIX);
    }
  }
}

TEST_F(StreamRead, DocumentsReadInTwoPartsReadAsInOne) {
  // Plain states and transitions with markup between them, whole and damaged: the two parts
  // join to what one part reads.
  std::mt19937_64 rng = rng_for(7);
  const int documents = kSanitized ? 10 : 60;
  int two_parts = 0;
  for (int d = 0; d < documents; d++) {
    std::string text =
        "<pravlin><nbr_states>40</nbr_states><steadystate><calc>no</calc>"
        "</steadystate>\n";
    for (int s = 1; s <= 40; s++) {
      text += "<state><ser>" + std::to_string(s) + "</ser><name>s" + std::to_string(s) +
              "</name></state>\n";
    }
    for (int s = 1; s <= 40; s++) {
      text += "<transition><from>" + std::to_string(s) + "</from><to><state>" +
              std::to_string(s % 40 + 1) + "</state><probability>0.5</probability></to>" +
              between(rng) + "</transition>\n";
    }
    text += "</pravlin>\n";
    if (d % 2 == 1)
      text = mutated(rng, text);
    SCOPED_TRACE("document " + std::to_string(d) + ":\n" + text);
    two_parts += expect_same(text, static_cast<ReadMode>(d % 3), true) == "2";
    if (HasFailure())
      return;
  }
  // Most of them were read in two parts indeed: the first part met the second's start.
  EXPECT_GT(two_parts, documents / 3);
}

TEST(StreamReal, AcceptedNumbersReadBitForBitAsXmlAtofReadsThem) {
  // A real the stream path takes is one strtod reads whole, and its value is xml_atof's; the
  // usual ways of writing a probability are all taken.
  std::mt19937_64 rng(11);
  const auto digits = [&rng](int most) {
    std::string d;
    for (int i = pick(rng, most + 1); i > 0; i--)
      d += static_cast<char>('0' + pick(rng, 10));
    return d;
  };
  for (int k = 0; k < 200000; k++) {
    std::string text;
    if (chance(rng, 20))
      text += '-';
    text += digits(chance(rng, 50) ? 2 : 20);
    if (chance(rng, 70))
      text += "." + digits(chance(rng, 50) ? 8 : 26);
    if (chance(rng, 10))
      text += std::string(chance(rng, 50) ? "e" : "E") + (chance(rng, 50) ? "-" : "") + digits(3);
    if (chance(rng, 3))
      text += "x";
    SCOPED_TRACE(text);
    double v = 0.0;
    if (!stream_clean_real(text.data(), text.size(), &v))
      continue;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    ASSERT_EQ(end, text.c_str() + text.size());
    const double want = xml_atof(text.c_str());
    ASSERT_EQ(std::memcmp(&v, &want, sizeof v), 0) << v << " vs " << want;
  }
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int k = 0; k < 20000; k++) {
    char texts[4][40];
    const double p = u(rng);
    std::snprintf(texts[0], sizeof texts[0], "%.17g", p);
    std::snprintf(texts[1], sizeof texts[1], "%.6g", p);
    std::snprintf(texts[2], sizeof texts[2], "%.8f", p);
    std::snprintf(texts[3], sizeof texts[3], "%g", p / 1000);
    for (const char* text : texts) {
      double v = 0.0;
      ASSERT_TRUE(stream_clean_real(text, std::strlen(text), &v)) << text;
      const double want = xml_atof(text);
      ASSERT_EQ(std::memcmp(&v, &want, sizeof v), 0) << text;
    }
  }
}
