// xml_literal_test.cc - the XML entity reader against its literal twin: a second reader written
// the plain way, one fgetc at a time, run on thousands of random documents beside the real one.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml.h"
#include "xml/xml_test_util.h"

// GCC 12 warns of overlapping copies inside std::string's insert once "text" + string is inlined,
// which the document generator below does a great deal of: a known false alarm of that version.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace {

using namespace std::literals;

// ---- The twin ----------------------------------------------------------------------------------

// The reader as it is defined, with nothing clever: the twin reads with fgetc, one character at
// a time, never looks ahead or puts back, and scans each tag, comment, CDATA section,
// instruction and declaration into one fixed 2048-byte buffer. Only an element's own text grows.
// Its limits are written out here rather than taken from xml.h, so that a change there shows.
namespace twin {

constexpr int kScan = 2048;
constexpr int kDeepest = 256;  // the root element is level 1
enum Code { kOk, kEof, kMalformed, kTooLong, kEndTag };

struct Node {
  std::string name;
  std::optional<std::string> s;
  int type = 0;
  int errflag = 0;
  std::vector<Node> child = {}, attr = {};
};

bool white(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// What a C string made of buf[0..n) holds: everything before the first zero byte.
std::string c_string(const char* buf, int n) {
  std::string t(buf, static_cast<std::size_t>(n));
  return t.substr(0, t.find('\0'));
}

std::string strip(std::string t) {
  while (!t.empty() && white(static_cast<unsigned char>(t.back())))
    t.pop_back();
  std::size_t i = 0;
  while (i < t.size() && white(static_cast<unsigned char>(t[i])))
    ++i;
  return t.substr(i);
}

// Tag text (a C string, so without zero bytes) split into the element's name and attributes.
Node split(const std::string& s) {
  Node e;
  const std::size_t end = s.size();
  std::size_t i = 0;
  while (i < end && white(s[i]))
    ++i;
  std::size_t start = i;
  while (i < end && !white(s[i]))
    ++i;
  e.name = s.substr(start, i - start);
  while (i < end) {
    ++i;  // past what ended the previous item
    while (i < end && white(s[i]))
      ++i;
    if (i == end)
      break;
    start = i;
    while (i < end && s[i] != '=')
      ++i;  // white space does not end an attribute name
    Node a;
    a.name = s.substr(start, i - start);
    while (!a.name.empty() && white(a.name.back()))
      a.name.pop_back();
    e.attr.push_back(std::move(a));
    if (i == end)
      break;
    ++i;
    while (i < end && white(s[i]))
      ++i;
    if (i == end)
      break;
    if (s[i] == '"') {
      start = ++i;
      while (i < end && s[i] != '"')
        ++i;
    } else {
      start = i;
      while (i < end && !white(s[i]))
        ++i;
    }
    e.attr.back().s = s.substr(start, i - start);
  }
  return e;
}

class Reader {
 public:
  explicit Reader(FILE* in) : in_(in) {}
  bool too_deep = false;  // an element past the deepest level was met
  bool stopped = false;   // that, or a construct too long at any level: everything stops

  std::vector<Node> file(int* code) {
    std::vector<Node> top;
    *code = kOk;
    int c;
    while (!stopped && (c = get()) != EOF) {
      if (c != '<')
        continue;
      int err = kOk;
      std::optional<Node> x = construct(&err, 1);
      if (!x && err == kTooLong) {  // reported, and the end of the read
        *code = kTooLong;
        stopped = true;
      }
      if (!x)
        continue;
      x->errflag = err;
      if (err != kOk)
        *code = err;
      top.push_back(std::move(*x));
    }
    return top;
  }

  // One construct after its "<"; level is the one an element read here has.
  std::optional<Node> construct(int* code, int level) {
    int c = get();
    if (c == '/')
      return fail(code, kEndTag);
    if (c == '?')
      return instruction(code);
    if (c != '!')
      return tag(code, c, level);
    c = get();
    if (c == '>')
      return fail(code, kMalformed);
    if (c == '[')
      return cdata(code);
    if (c != '-')
      return declaration(code);  // that character is not kept
    if (get() != '-')
      return fail(code, kMalformed);
    return closed_body(code, '-', "COMMENT", 1);
  }

 private:
  FILE* in_;
  int get() {
    return std::fgetc(in_);
  }
  static std::optional<Node> fail(int* code, int with) {
    *code = with;
    return std::nullopt;
  }

  // Reads characters into the scan buffer until done(c) holds for one, and gives its position;
  // completed by the character at the buffer's last position, a construct overruns all the same.
  // -1 when the input ends first or the buffer fills, with the code written.
  template <typename Done>
  int scan(char* buf, int* code, Done done) {
    for (int pos = 0; pos < kScan; ++pos) {
      int c = get();
      if (c == EOF) {
        *code = kEof;
        return -1;
      }
      buf[pos] = static_cast<char>(c);
      if (done(c)) {
        if (pos == kScan - 1)
          break;
        return pos;
      }
    }
    *code = kTooLong;
    return -1;
  }

  // A body up to "--" and ">" (or "]]" and ">"); a third mark starts the match over.
  std::optional<Node> closed_body(int* code, int mark, const char* name, int type) {
    char buf[kScan];
    int marks = 0;
    const int end = scan(buf, code, [&](int c) {
      if (marks == 2 && c == '>')
        return true;
      marks = c == mark && marks < 2 ? marks + 1 : 0;
      return false;
    });
    if (end < 0)
      return std::nullopt;
    return Node{name, c_string(buf, end - 2), type};
  }

  std::optional<Node> cdata(int* code) {
    char buf[7] = {'['};
    for (int pos = 1; pos < 7; ++pos) {
      int c = get();
      if (c == EOF)
        return fail(code, kEof);
      buf[pos] = static_cast<char>(c);
    }
    if (std::string_view(buf, 7) != "[CDATA[")
      return fail(code, kMalformed);
    return closed_body(code, ']', "CDATA", 2);
  }

  // Up to the ">" that closes the first "<", every "<" read opening one more level.
  std::optional<Node> declaration(int* code) {
    char buf[kScan];
    int depth = 1;
    const int end = scan(buf, code, [&](int c) {
      depth += c == '<' ? 1 : c == '>' ? -1 : 0;
      return depth == 0;
    });
    if (end < 0)
      return std::nullopt;
    *code = kMalformed;
    return Node{"UNKNOWN", c_string(buf, end), 0};
  }

  // Up to the first ">" after the first "?"; the two characters before the ">" are dropped.
  std::optional<Node> instruction(int* code) {
    char buf[kScan];
    bool question = false;
    const int end = scan(buf, code, [&](int c) {
      if (question && c == '>')
        return true;
      question = question || c == '?';
      return false;
    });
    if (end < 0)
      return std::nullopt;
    return Node{"PROCESSING INSTRUCTION", strip(c_string(buf, end - 1)), 3};
  }

  std::optional<Node> tag(int* code, int first, int level) {
    if (first == EOF)
      return fail(code, kEof);
    char buf[kScan];
    int pos = 0;
    buf[0] = static_cast<char>(first);  // even a ">" here is tag text
    do {
      int c = get();
      if (c == EOF)
        return fail(code, kEof);
      buf[++pos] = static_cast<char>(c);
    } while (buf[pos] != '>' && pos < kScan - 1);
    // Read whole, a tag past the deepest level stops everything, overlong or not.
    if (level > kDeepest)
      too_deep = stopped = true;
    if (pos == kScan - 1 || too_deep)
      return fail(code, kTooLong);
    const bool empty = buf[pos - 1] == '/';  // the character before ">", even after a zero byte
    Node e = split(c_string(buf, empty ? pos - 1 : pos));
    e.type = 4;
    if (!empty)
      content(e, code, level);
    return e;
  }

  // The element's own text, with one "<" where each construct inside it began; a construct that
  // yields no node leaves its "<" and loses its code, except an overlong one, which stops
  // everything. Unlike a construct, the text has no limit.
  void content(Node& e, int* code, int level) {
    std::string text;
    for (;;) {
      int c = get();
      if (c == EOF) {
        *code = kEof;
        e.s = c_string(text.data(), static_cast<int>(text.size()));
        return;
      }
      text.push_back(static_cast<char>(c));
      if (c != '<')
        continue;
      int err = kOk;
      std::optional<Node> x = construct(&err, level + 1);
      if (x) {
        e.child.push_back(std::move(*x));
        if (err != kOk)
          *code = err;
      } else if (err == kEndTag) {
        text.pop_back();
        return end_tag(e, text, code);
      } else if (err == kTooLong) {
        stopped = true;
      }
      if (stopped) {  // every level stops where it stands, its text untrimmed
        *code = kTooLong;
        e.s = c_string(text.data(), static_cast<int>(text.size()));
        return;
      }
    }
  }

  // The end tag must repeat the name as the start tag wrote it, then white space and ">".
  void end_tag(Node& e, const std::string& text, int* code) {
    const std::string t = c_string(text.data(), static_cast<int>(text.size()));
    for (char n : e.name) {
      int c = get();
      if (c != static_cast<unsigned char>(n)) {
        *code = c == EOF ? kEof : kMalformed;
        e.s = t;
        return;
      }
    }
    int c;
    do
      c = get();
    while (white(c));
    if (c != '>')
      *code = c == EOF ? kEof : kMalformed;
    e.s = strip(t);
  }
};

}  // namespace twin

// ---- Comparing the two -------------------------------------------------------------------------

// Bytes as text: printable ASCII as it is, every other byte in hex, runs of eight or more as one
// byte and a count, so that a failing document of 60 KiB still fits on a screen.
std::string shown(std::string_view t) {
  std::string out;
  for (std::size_t i = 0, j; i < t.size(); i = j) {
    for (j = i + 1; j < t.size() && t[j] == t[i];)
      ++j;
    const auto c = static_cast<unsigned char>(t[i]);
    char one[8] = {t[i]};
    if (c < 0x20 || c >= 0x7F || c == '\\' || c == '{')
      std::snprintf(one, sizeof one, "\\x%02x", c);
    if (j - i >= 8) {
      out.append(one).append("{").append(std::to_string(j - i)).append("}");
    } else {
      for (std::size_t k = i; k < j; ++k)
        out += one;
    }
  }
  return out;
}

// The real reader's list in the twin's terms; names and texts are C strings, so they end at the
// first zero byte on both sides.
std::vector<twin::Node> nodes(const XMLENTITY* x) {
  std::vector<twin::Node> list;
  for (; x != nullptr; x = x->next) {
    std::optional<std::string> s;
    if (x->s != nullptr)
      s = x->s;
    list.push_back({x->name != nullptr ? x->name : "(no name)", s, x->type, x->errflag,
                    nodes(x->child), nodes(x->Nmtoken)});
  }
  return list;
}

// A list and everything below it, one line per node: attributes ("@") before children ("-").
void dump(std::string& out, const std::vector<twin::Node>& list, int indent = 0, char kind = '-') {
  for (const twin::Node& x : list) {
    out.append(static_cast<std::size_t>(indent), ' ');
    out += kind + std::to_string(x.type) + " e" + std::to_string(x.errflag) + " \"" +
           shown(x.name) + "\" " + (x.s ? "\"" + shown(*x.s) + "\"" : "null") + "\n";
    dump(out, x.attr, indent + 1, '@');
    dump(out, x.child, indent + 1, '-');
  }
}

struct Outcome {
  std::string tree;  // the nodes returned, dumped
  int code;          // the result code
  long where;        // the stream's position afterwards
  std::string rest;  // what the stream still holds
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "code " << o.code << ", stopped at " << o.where << ", left \"" << shown(o.rest) << "\"\n"
      << o.tree;
}

Outcome finish(FILE* f, std::string tree, int code) {
  Outcome o{std::move(tree), code, std::ftell(f), {}};
  for (int c; (c = std::fgetc(f)) != EOF;)
    o.rest.push_back(static_cast<char>(c));
  return o;
}

// What the real reader makes of input: the whole stream, or one construct after its "<".
Outcome real(const std::string& input, bool whole) {
  FilePtr f = open_text(input);
  int code = whole ? -1 : 0;
  XMLENTITY* x = whole ? readfile_XMLENTITY(f.get(), &code) : fget_XMLENTITY(f.get(), &code);
  std::string tree;
  dump(tree, nodes(x));
  free_XMLENTITY(x);
  return finish(f.get(), tree, code);
}

// The same from the twin; *deep tells whether it stopped at an element nested too deep.
Outcome literal(const std::string& input, bool whole, bool* deep) {
  FilePtr f = open_text(input);
  int code = whole ? -1 : 0;
  twin::Reader r(f.get());
  std::vector<twin::Node> list;
  if (whole) {
    list = r.file(&code);
  } else if (std::optional<twin::Node> x = r.construct(&code, 1)) {
    list.push_back(std::move(*x));
  }
  std::string tree;
  dump(tree, list);
  *deep = r.too_deep;
  return finish(f.get(), tree, code);
}

// ---- Random documents --------------------------------------------------------------------------

// Documents leaning on what is easy to get wrong: near misses of every closing sequence, sizes
// right at the scan buffer's limits, nesting around the deepest level, zero and 0xFF bytes, and
// input cut short anywhere.
class Gen {
 public:
  explicit Gen(std::uint32_t seed) : rng_(seed) {}

  std::string document() {
    std::string d;
    if (one_in(25)) {
      d = deep();
    } else {
      for (int k = 1 + below(4); k > 0; --k)
        d += one_in(6) ? text() : one_in(6) ? ">" : item(1);
    }
    d = damaged(std::move(d));
    // Now and then past the end of the reader's first 64 KiB block.
    if (one_in(30))
      d = fill(65536 - below(2200), "x \n") + d;
    return d;
  }

  // One construct and what follows it, without the "<" that begins it.
  std::string after_lt() {
    std::string d = damaged((one_in(25) ? deep() : item(1)) + (one_in(2) ? text() : item(1)));
    return d.empty() ? d : d.substr(1);
  }

 private:
  std::mt19937 rng_;

  int below(std::size_t n) {
    return std::uniform_int_distribution<int>(0, static_cast<int>(n) - 1)(rng_);
  }
  bool one_in(int n) {
    return below(static_cast<std::size_t>(n)) == 0;
  }
  const char* pick(std::initializer_list<const char*> options) {
    return options.begin()[below(options.size())];
  }
  // A length at a scan limit, or one or two either side of it.
  int near(int limit) {
    return limit - 2 + below(5);
  }
  std::string fill(int n, std::string_view pool) {
    std::string s;
    for (int i = 0; i < n; ++i)
      s += pool[static_cast<std::size_t>(below(pool.size()))];
    return s;
  }
  std::string white() {
    return one_in(2) ? "" : fill(1 + below(3), " \t\n\v\f\r");
  }
  std::string text() {
    if (one_in(8))
      return number();
    const int n = one_in(20) ? near(2048) + below(2) * below(4000) : below(7);
    return fill(n, one_in(4) ? " \t\nxy\0\xff-]?/=>"sv : " \t\n\r\v\fxyXY0179-]?/=\"'>!;"sv);
  }
  const char* number() {
    return pick({"1", "01", " 1 ", "7", "007", "10", "9999", "10000", "99999", "0", "00"});
  }
  std::string name() {
    if (one_in(10))
      return fill(1 + below(40), "abcXYZ_-.:");
    if (one_in(30))
      return pick({"a/", "b/", "a-", "\xff"});
    if (one_in(30))
      return std::string("a\0b", 3);
    return pick({"a", "b", "A", "ab", "aB", "x", "state", "to", "alpha_and_omega_a"});
  }
  std::string attrs() {
    std::string s;
    for (int k = below(4); k > 0; --k) {
      s += one_in(4) ? white() : " ";
      s += name();
      const std::string value = fill(below(6), "v w'=/ \t-");
      switch (below(8)) {
        case 0:
          break;
        case 1:
          s += "=";
          break;
        case 2:
          s += white() + "=" + white() + "\"" + value + "\"";
          break;
        case 3:
          s += "=\"" + value;
          break;
        case 4:
          s += "='" + value + "'";
          break;
        default:
          s += "=" + fill(below(4), "1xY'\"/");
      }
    }
    return s;
  }

  std::string element(int level) {
    std::string nm = name();
    std::string tag = (one_in(8) ? white() : "") + nm + attrs() + white();
    if (one_in(25))
      tag = nm = "t" + fill(near(2046) - 1, "abAB");
    if (one_in(5))
      return "<" + tag + pick({"/>", "/>", " />", "/"});
    std::string s = "<" + tag + ">" + (one_in(2) ? text() : "");
    for (int k = below(level < 3 ? 5 : 3); k > 0; --k)
      s += item(level + 1) + (one_in(2) ? text() : "");
    // Rows of numbered leaves, as a configuration holds them.
    for (int k = one_in(6) ? below(9) : 0; k > 0; --k) {
      const std::string leaf = name();
      s += "<" + leaf + ">" + number() + "</" + leaf + ">";
    }
    switch (below(12)) {
      case 0:
        return s;
      case 1:
        return s + "</" + static_cast<char>(nm[0] ^ 0x20) + nm.substr(1) + ">";  // "A" for "a"
      case 2:
        return s + "</" + nm + pick({"x>", " x>", "", "/>"});
      case 3:
        return s + "</" + nm.substr(0, nm.size() / 2) + ">";
      default:
        return s + "</" + nm + white() + ">";
    }
  }

  // The body of a construct: one of its near misses and some text, or a filler of about the
  // longest length the scan buffer holds for it.
  std::string body(int limit, std::initializer_list<const char*> near_misses) {
    return one_in(15) ? fill(near(limit), "ab \t") : pick(near_misses) + text();
  }

  // A construct from its "<" on; an element only down to level 6.
  std::string item(int level) {
    switch (below(16)) {
      case 0:
        return "<!--" + body(2044, {"", " c ", "a-b", "--->", "- -", "-- >", "a--", "->"}) +
               pick({"-->", "-->", "-->", "--->", "- ->", "--", ""});
      case 1:
        return pick({"<![CDATA[", "<![CDATA[", "<![CDATA[", "<![CDAT", "<![cdata[", "<!["}) +
               body(2044, {"", "x", "]", "]]]>", "a]b>", "<e/>"}) +
               pick({"]]>", "]]>", "]]>", "]]]>", "] ]>", ""});
      case 2:
        return "<?" + body(2045, {"a?b", " xml version=\"1.0\" ", "", "a>b", "??"}) +
               pick({"?>", "?>", "?>", ">", "?", ""});
      case 3:  // "<!" and one more character, which is not kept
        return "<!D" + body(2046, {"OCTYPE x", "OCTYPE d [<!ENTITY e \"v\">]", "x<y<z>>w", "<"}) +
               pick({">", ">", ">", ""});
      case 4:
        return "</" + name() + white() + ">";
      case 5:
        return pick({"<!>", "<!-x>", "<>", "< >", "<", "<!", "<>/>", "<!E>"});
      default:
        return level <= 6 ? element(level) : "<e/>";
    }
  }

  // Start tags down to around the deepest level read, something at the bottom, end tags back up.
  std::string deep() {
    const int n = 254 + below(5);  // the innermost construct at level 255 to 259
    std::vector<std::string> names;
    std::string s;
    for (int level = 1; level <= n; ++level) {
      names.push_back(pick({"a", "a", "b", "State", "x"}));
      s += "<" + names.back() + pick({"", "", " k=\"v\"", " k"}) + ">";
      s += (one_in(10) ? text() : "") + (one_in(20) ? "<!--c--><e/>" : "");
    }
    s += one_in(4) ? "<" + fill(near(2046), "c") + ">" : one_in(3) ? item(n + 1) : element(n + 1);
    for (int level = n; level >= 1; --level)
      s += (one_in(30) ? "" : "</" + names[level - 1] + ">");
    return s + item(1) + text();
  }

  // Zero and 0xFF bytes anywhere, a byte that means something put over another, input cut short.
  std::string damaged(std::string d) {
    for (int k = one_in(5) ? 1 + below(3) : 0; k > 0; --k)
      d.insert(static_cast<std::size_t>(below(d.size() + 1)), 1, "\0\xff"[below(2)]);
    if (one_in(10) && !d.empty())
      d[static_cast<std::size_t>(below(d.size()))] = "<>/!-?[]\"= "[below(11)];
    if (one_in(4))
      d.resize(static_cast<std::size_t>(below(d.size() + 1)));
    return d;
  }
};

}  // namespace

// ---- The tests ---------------------------------------------------------------------------------

TEST(XmlReaderTwin, MatchesTheCharacterAtATimeReaderOnRandomDocuments) {
  Gen gen(20240611);
  int codes[5] = {};
  int stopped_deep = 0;
  for (int i = 0; i < 8000; ++i) {
    const std::string doc = gen.document();
    bool deep = false;
    const Outcome want = literal(doc, true, &deep);
    ASSERT_EQ(real(doc, true), want) << "document " << i << ": \"" << shown(doc) << "\"";
    codes[want.code]++;
    stopped_deep += deep ? 1 : 0;
  }
  // The documents reach every code a whole read can give, and the nesting limit.
  for (int code = 0; code < 4; ++code)
    EXPECT_GE(codes[code], 40) << "code " << code;
  EXPECT_GE(stopped_deep, 40);
}

TEST(XmlReaderTwin, ReadsOneConstructAsTheCharacterAtATimeReaderDoes) {
  Gen gen(7);
  int codes[5] = {};
  for (int i = 0; i < 6000; ++i) {
    const std::string after_lt = gen.after_lt();
    bool deep = false;
    const Outcome want = literal(after_lt, false, &deep);
    ASSERT_EQ(real(after_lt, false), want)
        << "construct " << i << ": \"<" << shown(after_lt) << "\"";
    codes[want.code]++;
  }
  for (int code = 0; code < 5; ++code)
    EXPECT_GE(codes[code], 40) << "code " << code;
}
