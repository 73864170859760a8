// config_stream.cc - the configuration read as it is scanned (read_document_streamed): the
// states and transitions that read plainly go straight into compact tables, everything else
// the mapping reads into a small tree; a large file is read in two parts, one per core.
// Part of pravlin; see README.md.
//
// The reader's grammar is xml_grammar.h's, the tree reader's own; what a handler decides here is
// only what to keep. A state or transition element is read into its numbers as it is scanned;
// one that turns out not to read plainly (a warning or a note on it) is read again from its
// offset, keeping its nodes. Nothing here writes a message: the mapping (config.cc) reads the
// outcome with the same steps as a tree, in the same order.
#include "config_stream.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>

#include "config_items.h"
#include "config_schema.h"
#include "cores.h"
#include "scratch.h"
#include "xml_stream.h"

namespace {

constexpr std::size_t kNone = std::string::npos;
constexpr std::size_t kBlockSize = std::size_t{1} << 18;
// Files at least this large are read in two parts. Written only by set_stream_split_from.
constexpr std::size_t kSplitFrom = std::size_t{4} << 20;
std::size_t split_from = kSplitFrom;
// Whether regular files are read by the stream path. Written only by set_stream_reading.
bool stream_reading = true;
// The parts the last document read by the stream path was read in (0: none was).
unsigned parts_read = 0;

// A text that xml_atoi reads whole and pravlin-analyze has no note on: a sign, then 1 to 9
// digits (within int, whatever they are).
bool clean_integer(const char* s, std::size_t len, int* value) {
  if (len == 0)
    return false;
  const std::size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0;
  if (len == i || len - i > 9)
    return false;
  int v = 0;
  for (std::size_t k = i; k < len; k++) {
    if (s[k] < '0' || s[k] > '9')
      return false;
    v = v * 10 + (s[k] - '0');
  }
  *value = s[0] == '-' ? -v : v;
  return true;
}

}  // namespace

bool stream_clean_real(const char* s, std::size_t len, double* value) {
  if (len == 0)
    return false;
  const char* p = s + (s[0] == '-');
  const char* end = s + len;
  const bool plain = (p < end && *p >= '0' && *p <= '9') ||
                     (p + 1 < end && *p == '.' && p[1] >= '0' && p[1] <= '9');
  if (!plain)
    return false;
  auto r = std::from_chars(s, end, *value);
  return r.ec == std::errc() && r.ptr == end;
}

namespace {

bool clean_real(const char* s, std::size_t len, double* value) {
  return stream_clean_real(s, len, value);
}

// What the mapping makes of an element, by where it stands and its name.
enum Kind : unsigned char {
  SKIP,          // nothing below is read
  ROOT,          // the pravlin root
  SETTING,       // a value among the root's children: kept, with its text
  UNKNOWN,       // another element among the root's children: kept, by name
  STEADY,        // steadystate: kept, with its children
  STEADY_CHILD,  // a child of steadystate: kept, with its text
  // A state or transition read plainly, with the children that keep it plain.
  STATE,
  SER,
  NAME,
  INITIAL_PROBABILITY,
  VALUE,
  TRANSITION,
  FROM,
  TO,
  TO_STATE,
  TO_PROBABILITY,
  // A state or transition kept as nodes, when it is read again for them.
  KEPT_CANDIDATE,
  LEAF,     // a child of a state or transition other than to: kept, with its text
  KEPT_TO,  // a to inside a transition: kept, with its children
  TO_LEAF,  // a child of a to: kept, with its text
  // A period, kept as nodes with its transitions: periods are few, and read from the tree.
  PERIOD,
  PERIOD_TRANSITION,  // a transition inside a period: kept, with its children
};

class Handler;
using Stream = XmlStream<Handler>;

class Handler {
 public:
  // after_split: the part begins inside the content of a pravlin root. replay: the handler of
  // a state or transition read again to keep its nodes.
  Handler(streamed_part* out, bool after_split, int fd, bool replay = false)
      : out_(out), fd_(fd), replay_(replay) {
    if (after_split || replay) {
      have_root_ = true;
      kind_[1] = ROOT;
    }
  }

  bool open(int depth, const char* name, std::size_t len, bool empty, off_t at, const char*,
            std::size_t) {
    (void)empty;
    if (depth == 1) {
      kind_[1] = SKIP;
      if (!have_root_) {
        have_root_ = true;
        root_type_ = XML_ELEMENT;
        root_name_.assign(name, len);
        if (config_name_of(name, len, IN_DOCUMENT) == CFG_PRAVLIN)
          kind_[1] = ROOT;
      }
      return false;
    }
    Kind k = SKIP;
    switch (kind_[depth - 1]) {
      case ROOT:
        k = root_child_kind(name, len);
        if (k == STATE || k == TRANSITION) {
          if (replay_) {
            k = KEPT_CANDIDATE;
            keep(depth, XML_ELEMENT, -1, name, len);
          } else {
            begin_candidate(at);
          }
        } else {
          keep(depth, XML_ELEMENT, -1, name, len);
        }
        break;
      case STEADY:
        k = STEADY_CHILD;
        keep(depth, XML_ELEMENT, node_[depth - 1], name, len);
        break;
      case STATE:
        k = state_child_kind(name, len);
        if (k == SKIP)
          plain_ = false;
        break;
      case TRANSITION:
        k = transition_child_kind(name, len);
        if (k == TO) {
          out_->entries.push_back(TRANSITION_ENTRY{0, 0, 0.0});
        } else if (k == SKIP) {
          plain_ = false;
        }
        break;
      case TO:
        k = to_child_kind(name, len);
        if (k == SKIP)
          plain_ = false;
        break;
      case KEPT_CANDIDATE:
        k = candidate_is_transition_ && config_name_of(name, len, IN_TRANSITION) == CFG_TO ? KEPT_TO
                                                                                           : LEAF;
        keep(depth, XML_ELEMENT, node_[depth - 1], name, len);
        break;
      case KEPT_TO:
        k = TO_LEAF;
        keep(depth, XML_ELEMENT, node_[depth - 1], name, len);
        break;
      case PERIOD:
        k = config_name_of(name, len, IN_PERIOD) == CFG_PERIOD_TRANSITION ? PERIOD_TRANSITION
                                                                          : LEAF;
        keep(depth, XML_ELEMENT, node_[depth - 1], name, len);
        break;
      case PERIOD_TRANSITION:
        k = config_name_of(name, len, IN_TRANSITION) == CFG_TO ? KEPT_TO : LEAF;
        keep(depth, XML_ELEMENT, node_[depth - 1], name, len);
        break;
      default:
        break;
    }
    kind_[depth] = k;
    return k != SKIP && k != UNKNOWN && k != TO && k != KEPT_TO && k != STATE && k != TRANSITION &&
           k != KEPT_CANDIDATE && k != PERIOD && k != PERIOD_TRANSITION;
  }

  void close(int depth, const char* text, std::size_t len, bool has_text, int code) {
    switch (kind_[depth]) {
      case ROOT:
        root_code_ = code;
        break;
      case SETTING:
      case STEADY:
        set_text(depth, text, len, has_text);
        add_run(STREAMED_NODES);
        break;
      case UNKNOWN:
      case KEPT_CANDIDATE:
      case PERIOD:
        add_run(STREAMED_NODES);
        break;
      case STEADY_CHILD:
      case LEAF:
      case TO_LEAF:
        set_text(depth, text, len, has_text);
        break;
      case SER:
        plain_ = plain_ && has_text && clean_integer(text, len, &state_.ser);
        break;
      case NAME:
        if (!has_text) {
          has_name_ = false;
        } else if (std::memchr(text, '<', len) != nullptr) {
          plain_ = false;
        } else {
          has_name_ = true;
          name_.assign(text, len);
        }
        break;
      case INITIAL_PROBABILITY:
        plain_ = plain_ && has_text && clean_real(text, len, &state_.initial_probability);
        break;
      case VALUE:
        plain_ = plain_ && has_text && clean_real(text, len, &state_.val);
        break;
      case FROM:
        plain_ = plain_ && has_text && clean_integer(text, len, &from_);
        break;
      case TO_STATE:
        plain_ = plain_ && has_text && clean_integer(text, len, &out_->entries.back().to);
        break;
      case TO_PROBABILITY:
        plain_ = plain_ && has_text && clean_real(text, len, &out_->entries.back().probability);
        break;
      case STATE:
        finish_candidate(code, false);
        break;
      case TRANSITION:
        finish_candidate(code, true);
        break;
      default:
        break;
    }
  }

  void other(int depth, int type, const char* body, std::size_t len) {
    if (depth == 1) {
      if (!have_root_) {
        have_root_ = true;
        root_type_ = type;
        root_name_ = xml_node_label(type);
      }
      return;
    }
    switch (kind_[depth - 1]) {
      case STATE:
      case TRANSITION:
      case TO:
        plain_ = false;
        break;
      case STEADY:
      case KEPT_CANDIDATE:
      case KEPT_TO:
      case PERIOD:
      case PERIOD_TRANSITION: {
        const char* label = xml_node_label(type);
        keep(depth, type, node_[depth - 1], label, std::strlen(label));
        set_text(depth, body, len, true);
        break;
      }
      default:
        break;
    }
  }

  // A destination written as "<to><state>N</state><probability>P</probability></to>", with any
  // text between the elements, read at once from the block at p: the bytes it takes, or 0 for
  // any other form (then the element is read construct by construct, as always). Taking it here
  // changes nothing: the to holds two elements that read plainly, with the same numbers.
  std::size_t shortcut(int depth, const unsigned char* p, const unsigned char* end) {
    if (kind_[depth] != TRANSITION)
      return 0;
    const unsigned char* q = p;
    int to = 0;
    double probability = 0.0;
    if (!take(&q, end, "<to>") || !skip_text(&q, end) ||
        !leaf(&q, end, "<state>", "</state>",
              [&to](const char* t, std::size_t n) { return clean_integer(t, n, &to); }) ||
        !skip_text(&q, end) ||
        !leaf(&q, end, "<probability>", "</probability>",
              [&probability](const char* t, std::size_t n) {
                return clean_real(t, n, &probability);
              }) ||
        !skip_text(&q, end) || !take(&q, end, "</to>"))
      return 0;
    out_->entries.push_back(TRANSITION_ENTRY{0, to, probability});
    return static_cast<std::size_t>(q - p);
  }

  bool have_root() const {
    return have_root_;
  }
  int root_type() const {
    return root_type_;
  }
  const std::string& root_name() const {
    return root_name_;
  }
  int root_code() const {
    return root_code_;
  }

 private:
  template <std::size_t N>
  static bool take(const unsigned char** q, const unsigned char* end, const char (&s)[N]) {
    if (static_cast<std::size_t>(end - *q) < N - 1 || std::memcmp(*q, s, N - 1) != 0)
      return false;
    *q += N - 1;
    return true;
  }

  // Text up to the next "<", as the content of a to that is not read.
  static bool skip_text(const unsigned char** q, const unsigned char* end) {
    while (*q != end && **q != '<')
      ++*q;
    return *q != end;
  }

  template <std::size_t N, std::size_t M, class Read>
  static bool leaf(const unsigned char** q, const unsigned char* end, const char (&open)[N],
                   const char (&close)[M], Read read) {
    if (!take(q, end, open))
      return false;
    const unsigned char* text = *q;
    if (!skip_text(q, end))
      return false;
    if (!read(reinterpret_cast<const char*>(text), static_cast<std::size_t>(*q - text)))
      return false;
    return take(q, end, close);
  }

  // What the mapping makes of the root's children, by config_schema's rules.
  static Kind root_child_kind(const char* name, std::size_t len) {
    switch (config_name_of(name, len, IN_ROOT)) {
      case CFG_TRANSITION:
        return TRANSITION;
      case CFG_STATE:
        return STATE;
      case CFG_STEADYSTATE:
        return STEADY;
      case CFG_PERIOD:
        return PERIOD;
      case CFG_UNKNOWN:
        return UNKNOWN;
      default:
        return SETTING;
    }
  }

  // The children of a state, a transition and a to that keep it plain: each named by its
  // keyword in full, since a name matched by its first characters draws pravlin-analyze's note.
  // SKIP for any other.
  static Kind state_child_kind(const char* name, std::size_t len) {
    const ConfigName e = config_name_of(name, len, IN_STATE);
    if (!config_name_in_full(e, len))
      return SKIP;
    switch (e) {
      case CFG_SER:
        return SER;
      case CFG_NAME:
        return NAME;
      case CFG_INITIAL_PROBABILITY:
        return INITIAL_PROBABILITY;
      case CFG_VALUE:
        return VALUE;
      default:
        return SKIP;
    }
  }

  static Kind transition_child_kind(const char* name, std::size_t len) {
    const ConfigName e = config_name_of(name, len, IN_TRANSITION);
    if (!config_name_in_full(e, len))
      return SKIP;
    return e == CFG_FROM ? FROM : e == CFG_TO ? TO : SKIP;
  }

  static Kind to_child_kind(const char* name, std::size_t len) {
    const ConfigName e = config_name_of(name, len, IN_TO);
    if (!config_name_in_full(e, len))
      return SKIP;
    return e == CFG_TO_STATE ? TO_STATE : e == CFG_PROBABILITY ? TO_PROBABILITY : SKIP;
  }

  void begin_candidate(off_t at) {
    candidate_at_ = at;
    plain_ = true;
    state_ = streamed_state{0, -1, 0.0, 0.0};
    has_name_ = false;
    from_ = 0;
    entries_at_ = out_->entries.size();
  }

  void finish_candidate(int code, bool transition) {
    std::vector<TRANSITION_ENTRY>& entries = out_->entries;
    if (!plain_) {
      entries.resize(entries_at_);
      // A document whose reading reports a code is refused as a whole: no node of it is read.
      if (code == 0)
        replay(transition);
      return;
    }
    if (transition) {
      for (std::size_t e = entries_at_; e < entries.size(); e++)
        entries[e].from = from_;
      out_->transitions.push_back(
          streamed_transition{from_, static_cast<int>(entries.size() - entries_at_)});
      add_run(STREAMED_TRANSITIONS);
      return;
    }
    if (has_name_) {
      state_.name = static_cast<int>(out_->names.size());
      out_->names.append(name_);
      out_->names.push_back('\0');
    }
    out_->states.push_back(state_);
    add_run(STREAMED_STATES);
  }

  // Reads the state or transition again from its "<", keeping its nodes.
  void replay(bool transition) {
    if (!replayer_) {
      replay_handler_ = std::make_unique<Handler>(out_, true, fd_, true);
      replay_block_.assign(kBlockSize + kXmlStreamSlack, 0);
      replayer_ =
          std::make_unique<Stream>(replay_handler_.get(), fd_, 0, replay_block_.data(), kBlockSize);
    }
    replay_handler_->candidate_is_transition_ = transition;
    replayer_->read_element_at(candidate_at_, 2);
  }

  void keep(int depth, int type, int parent, const char* name, std::size_t len) {
    streamed_node n;
    n.type = type;
    n.parent = parent;
    n.name = out_->pool.size();
    n.name_len = len;
    n.text = kNone;
    n.text_len = 0;
    out_->pool.append(name, len);
    node_[depth] = static_cast<int>(out_->kept.size());
    out_->kept.push_back(n);
  }

  void set_text(int depth, const char* text, std::size_t len, bool has_text) {
    streamed_node& n = out_->kept[static_cast<std::size_t>(node_[depth])];
    if (!has_text)
      return;
    n.text = out_->pool.size();
    n.text_len = len;
    out_->pool.append(text, len);
  }

  void add_run(StreamedKind kind) {
    std::vector<streamed_run>& runs = out_->runs;
    if (!runs.empty() && runs.back().kind == kind) {
      runs.back().count++;
    } else {
      runs.push_back(streamed_run{kind, 1});
    }
  }

  streamed_part* out_;
  int fd_;
  bool replay_;
  bool have_root_ = false;
  int root_type_ = XML_ELEMENT;
  std::string root_name_;
  int root_code_ = 0;
  Kind kind_[XML_MAX_DEPTH + 2] = {};
  int node_[XML_MAX_DEPTH + 2] = {};
  // The state or transition being read: where it began, whether it is plain so far, and what
  // it has read.
  off_t candidate_at_ = 0;
  bool plain_ = true;
  bool candidate_is_transition_ = false;
  streamed_state state_{};
  bool has_name_ = false;
  std::string name_;
  int from_ = 0;
  std::size_t entries_at_ = 0;
  // What reads a state or transition again, made when first needed.
  std::unique_ptr<Handler> replay_handler_;
  std::vector<unsigned char> replay_block_;
  std::unique_ptr<Stream> replayer_;
};

char* copy_text(const char* s, std::size_t len) {
  auto* copy = static_cast<char*>(std::malloc(len + 1));
  if (copy == nullptr)
    fail(" *** ERROR: Out of Memory in xmlcopystring()\n");
  std::memcpy(copy, s, len);
  copy[len] = '\0';
  return copy;
}

XMLENTITY* make_node(int type, const char* name, std::size_t name_len, const char* s,
                     std::size_t s_len, bool has_s) {
  XMLENTITY* x = alloc_XMLENTITY();
  x->type = type;
  x->name = copy_text(name, name_len);
  x->s = has_s ? copy_text(s, s_len) : nullptr;
  return x;
}

// Makes the part's kept nodes, appending the root's children to the list ending at *last.
void make_nodes(streamed_part* part, XMLENTITY* root, XMLENTITY** last) {
  std::vector<XMLENTITY*> made(part->kept.size(), nullptr);
  std::vector<XMLENTITY*> last_child(part->kept.size(), nullptr);
  for (std::size_t i = 0; i < part->kept.size(); i++) {
    const streamed_node& n = part->kept[i];
    XMLENTITY* x = make_node(n.type, part->pool.data() + n.name, n.name_len,
                             n.text == kNone ? nullptr : part->pool.data() + n.text, n.text_len,
                             n.text != kNone);
    made[i] = x;
    if (n.parent < 0) {
      (*last == nullptr ? root->child : (*last)->next) = x;
      *last = x;
      part->nodes.push_back(x);
      continue;
    }
    const auto p = static_cast<std::size_t>(n.parent);
    (last_child[p] == nullptr ? made[p]->child : last_child[p]->next) = x;
    last_child[p] = x;
  }
  std::vector<streamed_node>().swap(part->kept);
  std::string().swap(part->pool);
  // The names the states keep live as long as the tree: in a node of their own, a declaration
  // that no reader of the tree looks at.
  if (!part->names.empty()) {
    XMLENTITY* holder = make_node(XML_DECLARATION, "", 0, nullptr, 0, false);
    holder->s = static_cast<char*>(std::malloc(part->names.size()));
    if (holder->s == nullptr)
      fail(" *** ERROR: Out of Memory in xmlcopystring()\n");
    std::memcpy(holder->s, part->names.data(), part->names.size());
    part->names_kept = holder->s;
    std::string().swap(part->names);
    (*last == nullptr ? root->child : (*last)->next) = holder;
    *last = holder;
  }
}

// Where the second part begins: a transition start tag at least halfway into the file (or a
// state's, written with its ser first, which a to's state is not), and the root's name, from
// the first start tag of the file. A guess, checked by the first part, which suspends there
// only when it meets that "<" in the content of a root of that name.
bool find_split(int fd, off_t begin, off_t size, off_t* at, std::string* root) {
  std::string head(4096, '\0');
  ssize_t n = pread(fd, head.data(), head.size(), begin);
  if (n <= 0)
    return false;
  head.resize(static_cast<std::size_t>(n));
  std::size_t lt = head.find('<');
  if (lt == std::string::npos || lt + 1 >= head.size())
    return false;
  std::size_t end = lt + 1;
  while (end < head.size() && head[end] != '>' && head[end] != '/' && head[end] != ' ' &&
         !(head[end] >= '\t' && head[end] <= '\r') && head[end] != '\0')
    end++;
  if (end == head.size() ||
      config_name_of(head.data() + lt + 1, end - lt - 1, IN_DOCUMENT) != CFG_PRAVLIN)
    return false;
  root->assign(head, lt + 1, end - lt - 1);

  const off_t from = std::max<off_t>(begin + static_cast<off_t>(end), begin + (size - begin) / 2);
  constexpr off_t kSearch = off_t{8} << 20;
  std::string window(std::size_t{1} << 16, '\0');
  for (const char* tag : {"<transition>", "<state><ser>"}) {
    for (off_t off = from; off < size && off - from < kSearch;
         off += static_cast<off_t>(window.size()) - 16) {
      n = pread(fd, window.data(), window.size(), off);
      if (n <= 0)
        break;
      const std::size_t k = std::string_view(window.data(), static_cast<std::size_t>(n)).find(tag);
      if (k != std::string_view::npos) {
        *at = off + static_cast<off_t>(k);
        return true;
      }
    }
  }
  return false;
}

// Room for the destinations a file of this size may hold in the usual form (some 50 bytes
// each), asked for at once: the lists then grow without copies, in huge pages, and only the
// part of them that is filled is ever touched. The first part's has room for the second's too,
// which is appended to it when the list is collected. Only a hint: where it is refused the
// lists grow as they must.
void reserve_entries(streamed_document* doc, std::size_t bytes) {
  const std::size_t whole = bytes / 40 + 16;
  for (std::size_t p = 0; p < doc->parts.size(); p++) {
    const std::size_t room = p == 0 ? whole : whole / doc->parts.size();
    try {
      doc->parts[p].entries.reserve(room);
      advise_huge_pages(doc->parts[p].entries.data(), room * sizeof(TRANSITION_ENTRY));
    } catch (const std::exception&) {
    }
  }
}

}  // namespace

void set_stream_reading(int on) {
  stream_reading = on != 0;
}

void set_stream_split_from(std::size_t bytes) {
  split_from = bytes == 0 ? kSplitFrom : bytes;
}

unsigned stream_parts_read() {
  return parts_read;
}

bool read_document_streamed(FILE* in, int* errflag, XMLENTITY** tree, streamed_document* doc) {
  parts_read = 0;
  if (!stream_reading)
    return false;
  const int fd = fileno(in);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  const off_t begin = ftello(in);
  if (begin < 0)
    return false;
  const off_t size = st.st_size;

  off_t split_at = -1;
  std::string root_name;
  const bool split = core_count() >= 2 && size - begin >= static_cast<off_t>(split_from) &&
                     find_split(fd, begin, size, &split_at, &root_name);
  const unsigned parts = split ? 2 : 1;
  Scratch<unsigned char> blocks = scratch<unsigned char>(parts * (kBlockSize + kXmlStreamSlack));
  if (!blocks)
    return false;
  std::memset(blocks.get(), 0, parts * (kBlockSize + kXmlStreamSlack));

  int code = 0;
  int root_code = 0;
  std::unique_ptr<Handler> first;
  try {
    doc->parts.clear();
    doc->parts.resize(parts);
    reserve_entries(doc, static_cast<std::size_t>(size - begin));
    first = std::make_unique<Handler>(&doc->parts[0], false, fd);
    auto a = std::make_unique<Stream>(first.get(), fd, begin, blocks.get(), kBlockSize);
    std::unique_ptr<Handler> second;
    std::unique_ptr<Stream> b;
    std::atomic<bool> second_failed{false};
    if (split) {
      a->suspend_at(split_at, root_name);
      second = std::make_unique<Handler>(&doc->parts[1], true, fd);
      b = std::make_unique<XmlStream<Handler>>(
          second.get(), fd, split_at, blocks.get() + kBlockSize + kXmlStreamSlack, kBlockSize);
    }
    run_parts(parts, [&](unsigned part) {
      if (part == 0) {
        a->read_document();
        return;
      }
      try {
        b->read_from_root(root_name.data(), root_name.size());
      } catch (const std::exception&) {
        second_failed = true;
      }
    });
    if (split && a->suspended()) {
      if (second_failed) {
        doc->parts.clear();
        return false;
      }
      // The root's code is the last one written to it, in either part; the stream's, the last
      // one written after the root, or the root's.
      root_code = b->root_code() != 0 ? b->root_code() : a->root_code();
      code = b->code() != 0 ? b->code() : root_code;
    } else {
      doc->parts.resize(1);
      code = a->code();
      root_code = first->root_code();
    }
  } catch (const std::exception&) {
    doc->parts.clear();
    return false;
  }

  parts_read = static_cast<unsigned>(doc->parts.size());
  *errflag = code;
  *tree = nullptr;
  if (!first->have_root()) {
    doc->parts.clear();
    return true;
  }
  const std::string& name = first->root_name();
  XMLENTITY* root = make_node(first->root_type(), name.data(), name.size(), nullptr, 0, false);
  root->errflag = root_code;
  *tree = root;
  if (code != 0) {
    doc->parts.clear();
    return true;
  }
  XMLENTITY* last = nullptr;
  or_out_of_memory(" *** ERROR: Out of memory in alloc_XMLENTITY()\n", [&] {
    for (streamed_part& part : doc->parts)
      make_nodes(&part, root, &last);
  });
  return true;
}

void read_streamed_items(PRAVLIN* pv, int dense, streamed_document* doc) {
  root_items seen{};
  for (streamed_part& part : doc->parts) {
    std::size_t node = 0, state = 0, transition = 0, entry = 0;
    for (const streamed_run& run : part.runs) {
      for (std::size_t k = 0; k < run.count; k++) {
        if (run.kind == STREAMED_NODES) {
          const XMLENTITY* x = part.nodes[node++];
          read_root_item(pv, dense, x, &seen);
        } else if (run.kind == STREAMED_STATES) {
          const streamed_state& s = part.states[state++];
          char* name = s.name < 0 ? nullptr : const_cast<char*>(part.names_kept) + s.name;
          set_state(pv, s.ser, name, s.initial_probability, s.val);
        } else {
          const streamed_transition& t = part.transitions[transition++];
          note_root_item(&seen, 0);
          check_transition_source(pv, t.from);
          for (int e = 0; e < t.count; e++, entry++) {
            const TRANSITION_ENTRY& d = part.entries[entry];
            set_transition(pv, dense, t.from, d.to, d.probability);
          }
        }
      }
    }
  }
}

void collect_streamed_transitions(streamed_document* doc, std::vector<TRANSITION_ENTRY>* list) {
  or_out_of_memory(" *** ERROR: out of memory 2 in read_xml_file()\n", [&] {
    for (streamed_part& part : doc->parts) {
      std::size_t node = 0, transition = 0, entry = 0;
      for (const streamed_run& run : part.runs) {
        if (run.kind == STREAMED_STATES)
          continue;
        if (run.kind == STREAMED_NODES) {
          for (std::size_t k = 0; k < run.count; k++) {
            const XMLENTITY* x = part.nodes[node++];
            if (x->type == XML_ELEMENT && config_name(x, IN_ROOT) == CFG_TRANSITION)
              collect_transition(x, list);
          }
          continue;
        }
        std::size_t count = 0;
        for (std::size_t k = 0; k < run.count; k++)
          count += static_cast<std::size_t>(part.transitions[transition++].count);
        if (count == 0)
          continue;
        // A file whose transitions all read plainly hands its list over whole.
        if (list->empty() && count == part.entries.size()) {
          list->swap(part.entries);
        } else {
          list->insert(list->end(), part.entries.begin() + static_cast<std::ptrdiff_t>(entry),
                       part.entries.begin() + static_cast<std::ptrdiff_t>(entry + count));
        }
        entry += count;
      }
    }
  });
}
