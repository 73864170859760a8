// xml_test.cc - the XML entity reader: node utilities, reader, limits and printer.
// Part of pravlin; see README.md.
#include "xml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "xml/xml_test_util.h"

namespace {

struct DocFree {
  void operator()(XMLENTITY* x) const {
    free_XMLENTITY(x);
  }
};
using Doc = std::unique_ptr<XMLENTITY, DocFree>;

struct Parsed {
  Doc doc;
  int code;
};

Parsed read_doc(const std::string& text) {
  FilePtr f = open_text(text);
  int code = -1;
  Doc doc(readfile_XMLENTITY(f.get(), &code));
  return {std::move(doc), code};
}

// One construct, as the reader sees it after a "<"; rest is what it left in the stream.
struct Construct {
  Doc node;
  int code;
  std::string rest;
};

Construct read_one(const std::string& after_lt) {
  FilePtr f = open_text(after_lt);
  int code = 0;
  Doc node(fget_XMLENTITY(f.get(), &code));
  std::string rest;
  for (int c; (c = std::fgetc(f.get())) != EOF;)
    rest.push_back(static_cast<char>(c));
  return {std::move(node), code, rest};
}

std::string print(const XMLENTITY* x, int indent = 0) {
  FilePtr out = open_sink();
  xmlfprint(out.get(), x, indent);
  return read_all(out.get());
}

// The whole top-level list as printed, then the stream's code by name.
std::string dump(const std::string& text) {
  Parsed p = read_doc(text);
  std::string s;
  for (const XMLENTITY* x = p.doc.get(); x != nullptr; x = x->next)
    s += print(x);
  return s + "result " + xml_result_name(p.code) + "\n";
}

int count_list(const XMLENTITY* x) {
  int n = 0;
  for (; x != nullptr; x = x->next)
    ++n;
  return n;
}

std::string repeat(const std::string& s, int n) {
  std::string r;
  r.reserve(s.size() * n);
  for (int i = 0; i < n; ++i)
    r += s;
  return r;
}

}  // namespace

// ---- Node utilities ----------------------------------------------------------------------------

TEST(XmlNode, StripRemovesOnlyOuterWhiteSpaceAndCopyKeepsEmpty) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {" \t\n\v\f\rab  c\r\n", "ab  c"}, {"", ""}, {" \n\t ", ""}, {"x", "x"},
      {"\xA0x\xA0", "\xA0x\xA0"},  // no byte above 0x7F is white space
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    std::string s = c.in;
    xmlStringStrip(s.data());
    EXPECT_STREQ(s.c_str(), c.out);
  }
  xmlStringStrip(nullptr);

  char* copy = xmlcopystring("");
  EXPECT_STREQ(copy, "");
  std::free(copy);
  EXPECT_EQ(xmlcopystring(nullptr), nullptr);
}

TEST(XmlNode, LowerCasingChangesOnlyAToZ) {
  std::string s = "AZaz@[`{\xC4\xD6-9";
  xmlstr2lower(s.data());
  EXPECT_EQ(s, "azaz@[`{\xC4\xD6-9");
}

TEST(XmlNode, LowerCasingNamesReachesEveryKindBelowButNotSiblingsOrAttributes) {
  Parsed p = read_doc("<A K='v'><B><C/></B><!--x--><?p?><![CDATA[d]]><!DOCTYPE E></A><N/>");
  name2lower_XMLENTITY(p.doc.get(), 0);
  EXPECT_STREQ(p.doc->name, "a");
  EXPECT_STREQ(p.doc->child->name, "B");

  name2lower_XMLENTITY(p.doc.get(), 1);
  const XMLENTITY* b = p.doc->child;
  EXPECT_STREQ(b->name, "b");
  EXPECT_STREQ(b->child->name, "c");
  EXPECT_STREQ(b->next->name, "comment");
  EXPECT_STREQ(b->next->next->name, "processing instruction");
  EXPECT_STREQ(b->next->next->next->name, "cdata");
  EXPECT_STREQ(b->next->next->next->next->name, "unknown");
  EXPECT_STREQ(p.doc->Nmtoken->name, "K");
  EXPECT_STREQ(p.doc->next->name, "N");
  name2lower_XMLENTITY(nullptr, 1);
}

TEST(XmlNode, ExtractFindsTheFirstDirectChildByExactName) {
  Parsed p = read_doc("<r><g><x/></g><k>1</k><k>2</k></r>");
  const XMLENTITY* k = extract_XMLENTITY_name(p.doc.get(), "k");
  ASSERT_NE(k, nullptr);
  EXPECT_STREQ(k->s, "1");
  EXPECT_EQ(extract_XMLENTITY_name(p.doc.get(), "x"), nullptr);
  EXPECT_EQ(extract_XMLENTITY_name(p.doc.get(), "K"), nullptr);
  EXPECT_EQ(extract_XMLENTITY_name(nullptr, "k"), nullptr);
  EXPECT_EQ(extract_XMLENTITY_name(p.doc.get(), nullptr), nullptr);
}

TEST(XmlNode, FreeingAMillionSiblingsDoesNotRecursePerSibling) {
  XMLENTITY* head = nullptr;
  for (int i = 0; i < 1000000; ++i) {
    XMLENTITY* x = alloc_XMLENTITY();
    x->name = xmlcopystring("n");
    x->next = head;
    head = x;
  }
  free_XMLENTITY(head);
  free_XMLENTITY(nullptr);
}

// ---- Reader: elements --------------------------------------------------------------------------

TEST(XmlReaderElement, KeepsOwnTextWithOneMarkPerChild) {
  EXPECT_EQ(dump("<a>x<b>y</b>z</a>"),
            "<a>[ENTITY_DATA errflag = 0]\n{x<z}\n"
            " <b>[ENTITY_DATA errflag = 0]\n {y}\n </b>\n"
            "</a>\nresult XML_OK\n");
}

TEST(XmlReaderElement, EmptyAndWhiteBodiesGiveTheEmptyStringButEmptyTagsNull) {
  Parsed p = read_doc("<a></a><b> \n\t </b><c />");
  ASSERT_EQ(count_list(p.doc.get()), 3);
  EXPECT_STREQ(p.doc->s, "");
  EXPECT_STREQ(p.doc->next->s, "");
  const XMLENTITY* c = p.doc->next->next;
  EXPECT_STREQ(c->name, "c");
  EXPECT_EQ(c->s, nullptr);
  EXPECT_EQ(c->Nmtoken, nullptr);
  EXPECT_EQ(c->type, XML_ELEMENT);
}

TEST(XmlReaderElement, IgnoresTextAroundTopLevelNodes) {
  EXPECT_EQ(dump("text > <a/> between <b/> after"),
            "<a>[ENTITY_DATA errflag = 0]\n</a>\n<b>[ENTITY_DATA errflag = 0]\n</b>\n"
            "result XML_OK\n");
  Parsed p = read_doc(" only text ");
  EXPECT_EQ(p.doc, nullptr);
  EXPECT_STREQ(xml_result_name(p.code), "XML_OK");
  EXPECT_EQ(read_doc("").doc, nullptr);
}

TEST(XmlReaderElement, ReadsContentLongerThanTheScanBufferWhole) {
  std::string body = repeat("0.25 ", 2000);
  Parsed p = read_doc("<t>" + body + "</t>");
  EXPECT_EQ(p.code, XML_OK);
  body.pop_back();
  EXPECT_EQ(p.doc->s, body);
}

TEST(XmlReaderElement, ReadsAMillionChildrenInOrder) {
  Parsed p = read_doc("<r>" + repeat("<c/>", 1000000) + "<last/></r>" + repeat("<t/>", 100000));
  EXPECT_EQ(p.code, XML_OK);
  EXPECT_EQ(count_list(p.doc->child), 1000001);
  EXPECT_EQ(std::strlen(p.doc->s), 1000001U);
  EXPECT_EQ(count_list(p.doc.get()), 100001);
}

// Equal lower-case names and short texts are one string per read, counted once for each node
// that bears it: nodes freed one at a time, the sharers first, leave every other node's strings
// intact (AddressSanitizer would see a use after free). The 105,000 distinct texts go past the
// number a read shares.
TEST(XmlReaderElement, SharedNamesAndTextsOutliveAnyNodeFreedFirst) {
  auto v_text = [](int k) { return k % 2 == 0 ? std::to_string(k) : std::string("7"); };
  std::string doc = "<r>";
  for (int k = 0; k < 70000; ++k)
    doc += "<v>" + v_text(k) + "</v><Up>" + std::to_string(k + 100000) + "</Up>";
  Parsed p = read_doc(doc + "</r>");
  ASSERT_EQ(p.code, XML_OK);
  std::vector<XMLENTITY*> children;
  for (XMLENTITY* x = p.doc->child; x != nullptr; x = x->next)
    children.push_back(x);
  ASSERT_EQ(children.size(), 140000U);
  p.doc->child = nullptr;
  for (XMLENTITY* x : children)
    x->next = nullptr;
  for (std::size_t i = 2; i < children.size(); i += 4)  // every <v>7</v>
    free_XMLENTITY(children[i]);
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (i % 4 == 2)
      continue;
    const int k = static_cast<int>(i / 2);
    ASSERT_STREQ(children[i]->name, i % 2 == 0 ? "v" : "Up") << i;
    ASSERT_EQ(children[i]->s, i % 2 == 0 ? v_text(k) : std::to_string(k + 100000)) << i;
    free_XMLENTITY(children[i]);
  }
}

TEST(XmlReaderElement, TreatsByteFFAsAnOrdinaryCharacter) {
  Parsed p = read_doc("\xFF<a\xFF k=\"\xFF\">x\xFFy<!--\xFF--></a\xFF>\xFF<b/>");
  EXPECT_EQ(p.code, XML_OK);
  ASSERT_NE(p.doc, nullptr);
  EXPECT_STREQ(p.doc->name, "a\xFF");
  ASSERT_NE(p.doc->Nmtoken, nullptr);
  ASSERT_NE(p.doc->child, nullptr);
  EXPECT_STREQ(p.doc->Nmtoken->s, "\xFF");
  EXPECT_STREQ(p.doc->s, "x\xFFy<");
  EXPECT_STREQ(p.doc->child->s, "\xFF");
  ASSERT_NE(p.doc->next, nullptr);
  EXPECT_STREQ(p.doc->next->name, "b");
}

TEST(XmlReaderElement, AZeroByteEndsStringsWhereTheyAreUsed) {
  using namespace std::string_literals;
  Parsed p = read_doc("<y\0z/><x/\0>1</x/><t> ab \0 cd </t><!--c\0d-->"s);
  EXPECT_EQ(p.code, XML_OK);
  const XMLENTITY* y = p.doc.get();
  EXPECT_STREQ(y->name, "y");
  EXPECT_EQ(y->s, nullptr);
  const XMLENTITY* x = y->next;
  EXPECT_STREQ(x->name, "x/");
  EXPECT_STREQ(x->s, "1");
  EXPECT_STREQ(x->next->s, "ab");
  EXPECT_STREQ(x->next->next->s, "c");
}

// ---- Reader: attributes ------------------------------------------------------------------------

TEST(XmlReaderAttributes, SplitsTagTextIntoNameAndAttributes) {
  const struct {
    const char* tag;
    const char* parts;  // name, then |attr=value or |attr for a null value
  } cases[] = {
      {"e", "e"},
      {"  e  ", "e"},
      {"e a=\"1\" b=2", "e|a=1|b=2"},
      {"e a b=\"1\"", "e|a b=1"},
      {"e a='1'", "e|a='1'"},
      {"e a=\"x y\"c=3", "e|a=x y|c=3"},
      {"e a = \"1\"", "e|a=1"},
      {"e a", "e|a"},
      {"e a=", "e|a"},
      {"e a=  ", "e|a"},
      {"e a=\"open", "e|a=open"},
      {"e a=\"\"", "e|a="},
      {"e a=1 a=2", "e|a=1|a=2"},
      {"e a=&lt;", "e|a=&lt;"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    std::string text = c.tag;
    Doc e(xmlParseTag(text.data()));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->type, 0);
    std::string parts = e->name;
    for (const XMLENTITY* a = e->Nmtoken; a != nullptr; a = a->next) {
      parts += std::string("|") + a->name + (a->s != nullptr ? std::string("=") + a->s : "");
      EXPECT_EQ(a->type, 0);
    }
    EXPECT_EQ(parts, c.parts);
  }
  EXPECT_EQ(xmlParseTag(nullptr), nullptr);
}

// ---- Reader: comments, CDATA, instructions, declarations ---------------------------------------

TEST(XmlReaderConstructs, YieldsEachKindWithItsBody) {
  const struct {
    const char* after_lt;
    int type;
    const char* name;
    const char* s;
    int code;
  } cases[] = {
      {"!-- a\n-->", XML_COMMENT, "COMMENT", " a\n", XML_OK},
      {"!--a--b-->", XML_COMMENT, "COMMENT", "a--b", XML_OK},
      {"!--a--->b-->", XML_COMMENT, "COMMENT", "a--->b", XML_OK},  // a third dash resets
      {"!---->", XML_COMMENT, "COMMENT", "", XML_OK},
      {"![CDATA[ <a>&x; ]]>", XML_CDATA, "CDATA", " <a>&x; ", XML_OK},
      {"![CDATA[a]]]>b]]>", XML_CDATA, "CDATA", "a]]]>b", XML_OK},
      {"?xml version=\"1.0\"?>", XML_PI, "PROCESSING INSTRUCTION", "xml version=\"1.0\"", XML_OK},
      {"?a?b>", XML_PI, "PROCESSING INSTRUCTION", "a?", XML_OK},
      {"? p \n?>", XML_PI, "PROCESSING INSTRUCTION", "p", XML_OK},
      {"!DOCTYPE x>", XML_DECLARATION, "UNKNOWN", "OCTYPE x", XML_MALFORMED},
      {"!DOCTYPE x [<!ENTITY y>]>", XML_DECLARATION, "UNKNOWN", "OCTYPE x [<!ENTITY y>]",
       XML_MALFORMED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.after_lt);
    Construct r = read_one(c.after_lt);
    ASSERT_NE(r.node, nullptr);
    EXPECT_EQ(r.node->type, c.type);
    EXPECT_STREQ(r.node->name, c.name);
    EXPECT_STREQ(r.node->s, c.s);
    EXPECT_STREQ(xml_result_name(r.code), xml_result_name(c.code));
    EXPECT_EQ(r.rest, "");
  }
}

TEST(XmlReaderConstructs, RefusesNearMissesWithoutANode) {
  const struct {
    const char* after_lt;
    int code;
    const char* rest;
  } cases[] = {
      {"/a>", XML_END_TAG, "a>"},
      {"!>x", XML_MALFORMED, "x"},
      {"!-x", XML_MALFORMED, ""},
      {"!-", XML_MALFORMED, ""},
      {"![CDATX[a]]>", XML_MALFORMED, "a]]>"},
      {"![cdata[a]]>", XML_MALFORMED, "a]]>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.after_lt);
    Construct r = read_one(c.after_lt);
    EXPECT_EQ(r.node, nullptr);
    EXPECT_STREQ(xml_result_name(r.code), xml_result_name(c.code));
    EXPECT_EQ(r.rest, c.rest);
  }
}

// ---- Reader: end tags --------------------------------------------------------------------------

TEST(XmlReaderEndTag, ClosesOnTheExactNameAndOptionalWhiteSpace) {
  const struct {
    const char* after_lt;
    int code;
    const char* s;
    const char* rest;
  } cases[] = {
      {"a> x </a>", XML_OK, "x", ""},
      {"a> x </a \n>", XML_OK, "x", ""},
      {"a> x </A>", XML_MALFORMED, " x ", ">"},  // untrimmed, rest of the end tag left behind
      {"ab> x </ax>", XML_MALFORMED, " x ", ">"},
      {"a> x </ab>", XML_MALFORMED, "x", ">"},  // completed all the same
      {"a> x </a b>", XML_MALFORMED, "x", ">"},
      {"a> x ", XML_EOF, " x ", ""},
      {"a> x </", XML_EOF, " x ", ""},
      {"a> x </a ", XML_EOF, "x", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.after_lt);
    Construct r = read_one(c.after_lt);
    ASSERT_NE(r.node, nullptr);
    EXPECT_STREQ(xml_result_name(r.code), xml_result_name(c.code));
    EXPECT_STREQ(r.node->s, c.s);
    EXPECT_EQ(r.rest, c.rest);
  }
}

TEST(XmlReaderEndTag, StrayEndTagAtTopLevelIsIgnored) {
  EXPECT_EQ(dump("</x><a/></y>"), "<a>[ENTITY_DATA errflag = 0]\n</a>\nresult XML_OK\n");
}

TEST(XmlReaderEndTag, ChildWithWrongEndTagMarksParentAndStream) {
  EXPECT_EQ(dump("<p><c>x</C></p><q/>"),
            "<p>[ENTITY_DATA errflag = 2]\n{<>}\n"
            " <c>[ENTITY_DATA errflag = 0]\n {x}\n </c>\n"
            "</p>\n<q>[ENTITY_DATA errflag = 0]\n</q>\nresult XML_MALFORMED\n");
}

// ---- Reader: result codes ----------------------------------------------------------------------

TEST(XmlReaderCodes, StreamKeepsTheLastNonZeroTopLevelCode) {
  const struct {
    const char* text;
    int code;
  } cases[] = {
      {"<a/><!DOCTYPE x>", XML_MALFORMED},  // a declaration after the last element counts
      {"<a>x</A><b/>", XML_MALFORMED},
      {"<!DOCTYPE x><a>", XML_EOF},
      {"<a/><!-- open", XML_OK},  // constructs without a node report nothing
      {"<a/><![CDATA[ open", XML_OK},
      {"<a/><!DOCTYPE", XML_OK},
      {"<a/><?pi", XML_OK},
      {"<a/><b c=", XML_OK},
      {"<a/><", XML_OK},
      {"<a/><!", XML_OK},
      {"<a/><!>", XML_OK},
      {"<a/><![CDATX[", XML_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed p = read_doc(c.text);
    EXPECT_STREQ(xml_result_name(p.code), xml_result_name(c.code));
    ASSERT_NE(p.doc, nullptr);
  }
}

TEST(XmlReaderCodes, EachTopLevelNodeRecordsItsOwnCode) {
  Parsed p = read_doc("<!DOCTYPE x><a/><b>open");
  ASSERT_EQ(count_list(p.doc.get()), 3);
  EXPECT_EQ(p.doc->errflag, XML_MALFORMED);
  EXPECT_EQ(p.doc->next->errflag, XML_OK);
  EXPECT_EQ(p.doc->next->next->errflag, XML_EOF);
  EXPECT_STREQ(p.doc->next->next->s, "open");
}

TEST(XmlReaderCodes, InputEndingInsideEachConstructGivesEndOfInput) {
  const char* cases[] = {"",        "a",     "a b=\"1",      "!",     "!D",
                         "!-- x -", "![CDA", "![CDATA[ x ]", "?pi ?", "a>x<b>y"};
  for (const char* after_lt : cases) {
    SCOPED_TRACE(after_lt);
    Construct r = read_one(after_lt);
    EXPECT_STREQ(xml_result_name(r.code), "XML_EOF");
  }
  Construct nested = read_one("a>x<b>y");
  ASSERT_NE(nested.node, nullptr);
  EXPECT_STREQ(nested.node->s, "x<");
  EXPECT_STREQ(nested.node->child->s, "y");
}

// ---- Reader: scan buffer limits ----------------------------------------------------------------

TEST(XmlReaderLimits, EachConstructFitsExactlyUpToItsBoundary) {
  const struct {
    const char* what;
    std::string head;
    std::string tail;
    int fits;  // longest text that is still read
    int code;  // code when it fits
  } cases[] = {
      {"tag", "", "/>", 2045, XML_OK},  // tag text is the name plus "/": 2046
      {"comment", "!--", "-->", 2044, XML_OK},  {"cdata", "![CDATA[", "]]>", 2044, XML_OK},
      {"instruction", "?", "?>", 2045, XML_OK}, {"declaration", "!D", ">", 2046, XML_MALFORMED},
  };
  for (const auto& c : cases) {
    for (int n : {c.fits, c.fits + 1}) {
      SCOPED_TRACE(std::string(c.what) + " " + std::to_string(n));
      Construct r = read_one(c.head + std::string(n, 'x') + c.tail + "after");
      if (n == c.fits) {
        ASSERT_NE(r.node, nullptr);
        EXPECT_EQ(std::strlen(c.what == std::string("tag") ? r.node->name : r.node->s),
                  static_cast<std::size_t>(n));
        EXPECT_STREQ(xml_result_name(r.code), xml_result_name(c.code));
        EXPECT_EQ(r.rest, "after");
      } else {
        EXPECT_EQ(r.node, nullptr);
        EXPECT_STREQ(xml_result_name(r.code), "XML_TOO_LONG");
      }
    }
  }
}

TEST(XmlReaderLimits, AnOverlongConstructAtAnyLevelEndsTheWholeRead) {
  const struct {
    std::string opener;  // read before the scan buffer is filled
    std::string body;
  } cases[] = {
      {"<", std::string(2047, 'a') + ">"},           {"<!--", std::string(2045, 'x') + "-->"},
      {"<![CDATA[", std::string(2045, 'x') + "]]>"}, {"<?", std::string(2046, 'x') + "?>"},
      {"<!D", std::string(2047, 'x') + ">"},
  };
  // What the construct hides must not be read as markup.
  const std::string hidden = "<filename>precious.txt</filename>-->]]>?>";
  for (const auto& c : cases) {
    for (bool nested : {false, true}) {
      SCOPED_TRACE(c.opener + (nested ? " in an element" : " at the top level"));
      const std::string before = nested ? "<r><x/>" : "<x/>";
      FilePtr f = open_text(before + c.opener + c.body + hidden + "</r><z/>");
      int code = -1;
      Doc doc(readfile_XMLENTITY(f.get(), &code));
      EXPECT_STREQ(xml_result_name(code), "XML_TOO_LONG");
      ASSERT_NE(doc, nullptr);
      EXPECT_EQ(count_list(doc.get()), 1);
      EXPECT_EQ(doc->errflag, nested ? XML_TOO_LONG : XML_OK);
      const XMLENTITY* x = nested ? doc->child : doc.get();
      ASSERT_NE(x, nullptr);
      EXPECT_STREQ(x->name, "x");
      EXPECT_EQ(nested ? x->next : nullptr, nullptr);
      EXPECT_EQ(std::ftell(f.get()),
                static_cast<long>(before.size() + c.opener.size()) + XML_MAXLEN);
    }
  }
}

// ---- Reader: nesting ---------------------------------------------------------------------------

namespace {

// Levels of elements along the first child of each.
int depth_of(const XMLENTITY* x) {
  int d = 0;
  for (; x != nullptr && x->type == XML_ELEMENT; x = x->child)
    ++d;
  return d;
}

}  // namespace

TEST(XmlReaderNesting, ReadsTheDeepestAllowedLevel) {
  int n = XML_MAX_DEPTH;
  Parsed p = read_doc(repeat("<a>", n - 1) + "<b/>" + repeat("</a>", n - 1) + "<z/>");
  EXPECT_STREQ(xml_result_name(p.code), "XML_OK");
  EXPECT_EQ(depth_of(p.doc.get()), n);
  EXPECT_EQ(count_list(p.doc.get()), 2);

  p = read_doc(repeat("<a>", n) + "<!--c--><?p?></a>" + repeat("</a>", n - 1));
  EXPECT_STREQ(xml_result_name(p.code), "XML_OK");
  EXPECT_EQ(depth_of(p.doc.get()), n);
}

TEST(XmlReaderNesting, StopsTheWholeReadAtTheFirstLevelTooDeep) {
  const int n = XML_MAX_DEPTH;
  const std::string outer = repeat("<a>", n);
  const std::string after = "tail" + repeat("</a>", n + 1) + "<z/>";
  const struct {
    const char* what;
    std::string text;
    int code;
    long stop;  // where reading ended; -1: at the end of input
  } cases[] = {
      {"start tag", outer + "<a x=\"1\">" + after, XML_TOO_LONG, 3L * n + 9},
      {"empty-element tag", outer + "<b/>" + after, XML_TOO_LONG, 3L * n + 4},
      // read up to where the scan buffer filled, the rest of the tag left unread
      {"overlong tag", outer + "<" + std::string(3000, 'c') + ">" + after, XML_TOO_LONG,
       3L * n + 1 + XML_MAXLEN},
      {"unterminated tag", outer + "<d", XML_EOF, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FilePtr f = open_text(c.text);
    int code = -1;
    Doc doc(readfile_XMLENTITY(f.get(), &code));
    EXPECT_STREQ(xml_result_name(code), xml_result_name(c.code));
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->errflag, c.code);
    EXPECT_EQ(count_list(doc.get()), 1);
    EXPECT_EQ(depth_of(doc.get()), n);
    EXPECT_EQ(std::ftell(f.get()), c.stop < 0 ? static_cast<long>(c.text.size()) : c.stop);
  }
}

TEST(XmlReaderNesting, AMillionNestedStartTagsDoNotExhaustTheStack) {
  FilePtr f = open_text(repeat("<a>", 1000000));
  int code = -1;
  Doc doc(readfile_XMLENTITY(f.get(), &code));
  EXPECT_STREQ(xml_result_name(code), "XML_TOO_LONG");
  EXPECT_EQ(depth_of(doc.get()), XML_MAX_DEPTH);
  EXPECT_EQ(std::ftell(f.get()), 3L * (XML_MAX_DEPTH + 1));
}

// ---- Reader: bad arguments ---------------------------------------------------------------------

TEST(XmlReaderArguments, NullArgumentsToReadfileGiveNullAndAMessage) {
  FilePtr f = open_text("<a/>");
  int code = 5;
  testing::internal::CaptureStderr();
  EXPECT_EQ(readfile_XMLENTITY(nullptr, &code), nullptr);
  EXPECT_EQ(readfile_XMLENTITY(f.get(), nullptr), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            " *** ERROR: NULL Pointers on entry to readfile_XMLENTITY\n"
            " *** ERROR: NULL Pointers on entry to readfile_XMLENTITY\n");
  EXPECT_EQ(code, 5);
}

TEST(XmlReaderDeathTest, NullArgumentsToFgetEndTheProcess) {
  FilePtr f = open_text("a/>");
  int code = 0;
  EXPECT_EXIT(fget_XMLENTITY(f.get(), nullptr), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: NULL errflag pointer in fget_XMLENTITY()\n"));
  EXPECT_EXIT(fget_XMLENTITY(nullptr, nullptr), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: NULL errflag pointer in fget_XMLENTITY()\n"));
  EXPECT_EXIT(fget_XMLENTITY(nullptr, &code), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: NULL File Pointer in fget_XMLENTITY()\n"));
}

// ---- Printer -----------------------------------------------------------------------------------

TEST(XmlPrinter, WritesTheDocumentedExample) {
  Parsed p = read_doc("<a x=\"1\">t<b/></a>");
  EXPECT_EQ(print(p.doc.get()),
            "<a x=\"1\">[ENTITY_DATA errflag = 0]\n"
            "{t<}\n"
            " <b>[ENTITY_DATA errflag = 0]\n"
            " </b>\n"
            "</a>\n");
}

TEST(XmlPrinter, WritesEachKindAtItsIndentation) {
  Parsed p = read_doc("<r v=\"\" k><s><!-- c --><?p q?><![CDATA[ d ]]><!DOCTYPE e></s></r><n/>");
  EXPECT_EQ(print(p.doc.get(), 2),
            "  <r v=\"\" k>[ENTITY_DATA errflag = 2]\n"
            "  {<}\n"
            "   <s>[ENTITY_DATA errflag = 0]\n"
            "   {<<<<}\n"
            "    <!--  c  -->\n"
            "    <?p q?>\n"
            "    <![CDATA[ d ]]>\n"
            "   </s>\n"
            "  </r>\n");
  EXPECT_EQ(print(p.doc.get(), -3), print(p.doc.get(), 0));
  EXPECT_EQ(print(p.doc->child->child->next->next->next), "");  // a declaration
  EXPECT_EQ(print(p.doc->Nmtoken->next), "");                   // an attribute on its own
  EXPECT_EQ(print(nullptr), "");
}

TEST(XmlPrinter, NullStreamMeansStandardOutput) {
  Parsed p = read_doc("<n/>");
  testing::internal::CaptureStdout();
  xmlfprint(nullptr, p.doc.get(), 0);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "<n>[ENTITY_DATA errflag = 0]\n</n>\n");
}
