// config.cc - the configuration document mapped onto the model record (read_xml_file):
// settings, defaults, the report stream, every table, the states and the transition matrix.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "config_stream.h"
#include "hooks.h"
#include "sparse_read.h"
#include "stream.h"

int xml_atoi(const char* s) {
  if (s == nullptr)
    return 0;
  // The white space that atoi skips in the C locale.
  while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
    s++;
  bool negative = false;
  if (*s == '+' || *s == '-')
    negative = *s++ == '-';
  // Saturates at the limits of int: 99999999999 reads as 2147483647, not as its low bits.
  std::int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; s++) {
    v = v * 10 + (*s - '0');
    if (v > static_cast<std::int64_t>(INT_MAX) + 1)
      v = static_cast<std::int64_t>(INT_MAX) + 1;
  }
  if (negative)
    return static_cast<int>(-v);
  return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

double xml_atof(const char* s) {
  if (s == nullptr)
    return 0.0;
  // from_chars reads the plain decimal forms several times faster than strtod and rounds them
  // the same way; strtod keeps what from_chars leaves out or refuses: leading white space, a
  // leading '+', hexadecimal, inf and nan, and values out of range (inf, or the C library's
  // underflow result).
  const char* p = s + (*s == '-');
  bool plain = (*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9');
  if (plain && !(p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))) {
    double v = 0.0;
    auto r = std::from_chars(s, s + std::strlen(s), v);
    if (r.ec == std::errc())
      return v;
  }
  return std::strtod(s, nullptr);
}

// The three ways a keyword matches a (lower-cased) element name.
static bool is_named(const XMLENTITY* x, const char* keyword) {
  return x->name != nullptr && std::strcmp(x->name, keyword) == 0;
}

// The name's first n characters are the keyword's; a shorter name never matches.
static bool begins_as(const XMLENTITY* x, const char* keyword, std::size_t n) {
  return x->name != nullptr && std::strncmp(x->name, keyword, n) == 0;
}

static bool first8(const XMLENTITY* x, const char* keyword) {
  return begins_as(x, keyword, 8);
}

static bool first3(const XMLENTITY* x, const char* keyword) {
  return begins_as(x, keyword, 3);
}

static void unknown_tag(const XMLENTITY* x) {
  warn(" *** WARNING: Unknown tag (%s) ignored\n", x->name != nullptr ? x->name : "(null)");
}

// An empty-element tag has no text: it reads as empty text.
static const char* text_of(const XMLENTITY* x) {
  return x->s != nullptr ? x->s : "";
}

// Keyword values; any other text leaves the field as it was.
static void read_yes_no(const XMLENTITY* x, int* field) {
  const char* t = text_of(x);
  if (std::strcmp(t, "YES") == 0 || std::strcmp(t, "yes") == 0 || std::strcmp(t, "1") == 0) {
    *field = 1;
  } else if (std::strcmp(t, "NO") == 0 || std::strcmp(t, "no") == 0 || std::strcmp(t, "0") == 0) {
    *field = 0;
  }
}

static void read_print_flag(const XMLENTITY* x, int* field) {
  const char* t = text_of(x);
  if (std::strcmp(t, "VAL") == 0 || std::strcmp(t, "val") == 0) {
    *field = 0;
  } else if (std::strcmp(t, "SER") == 0 || std::strcmp(t, "ser") == 0) {
    *field = 1;
  } else if (std::strcmp(t, "NAME") == 0 || std::strcmp(t, "name") == 0) {
    *field = 2;
  }
}

// A probability is legal only when 0 <= p <= 1; written this way, NaN is refused too.
static bool legal_probability(double p) {
  return p >= 0.0 && p <= 1.0;
}

static void read_steadystate(PRAVLIN* pv, const XMLENTITY* steadystate) {
  for (const XMLENTITY* x = steadystate->child; x != nullptr; x = x->next) {
    if (is_named(x, "calc")) {
      read_yes_no(x, &pv->calc_flag);
    } else if (first8(x, "max_iteration")) {
      pv->max_iteration = xml_atoi(text_of(x));
    } else if (first8(x, "max_error")) {
      pv->max_error = xml_atof(text_of(x));
    } else {
      unknown_tag(x);
    }
  }
}

static void read_settings(PRAVLIN* pv, const XMLENTITY* root) {
  for (const XMLENTITY* x = root->child; x != nullptr; x = x->next) {
    if (x->type != XML_ELEMENT)
      continue;
    if (first8(x, "nbr_states")) {
      pv->nbr_states = xml_atoi(text_of(x));
    } else if (first8(x, "init_year")) {
      pv->init_year = xml_atoi(text_of(x));
    } else if (first8(x, "nbr_years")) {
      pv->nbr_years = xml_atoi(text_of(x));
    } else if (first8(x, "nbr_chains")) {
      pv->nbr_chains = xml_atoi(text_of(x));
    } else if (first8(x, "print_flag")) {
      read_print_flag(x, &pv->print_flag);
    } else if (first8(x, "print_header")) {
      read_yes_no(x, &pv->print_header);
    } else if (is_named(x, "debug")) {
      pv->debug = xml_atoi(text_of(x));
    } else if (is_named(x, "filename")) {
      // Kept by reference; an empty-element tag forgets an earlier name.
      pv->outfilename = x->s;
    } else if (first8(x, "steadystate")) {
      read_steadystate(pv, x);
    } else if (is_named(x, "state") || is_named(x, "transition")) {
      // read in the second pass, once every setting is known
    } else {
      unknown_tag(x);
    }
  }
}

static void apply_defaults(PRAVLIN* pv) {
  if (pv->nbr_years <= 1)
    pv->nbr_years = 50;
  if (pv->nbr_chains < 1)
    pv->nbr_chains = 10;
  if (pv->max_iteration < 1)
    pv->max_iteration = 100;
  // Written this way, NaN takes the default too: the header then shows the threshold in force.
  if (!(pv->max_error > 0.0))
    pv->max_error = 1e-6;
}

// Where the configuration was read from: its device and inode when it is a regular file.
struct FileIdentity {
  bool regular;
  dev_t dev;
  ino_t ino;
};

static FileIdentity identity_of(FILE* f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
    return FileIdentity{false, 0, 0};
  return FileIdentity{true, st.st_dev, st.st_ino};
}

// Opens the report as fopen(name, "w") would, except that the configuration's own file, however
// its name is spelt ("./sub/../model.xml", a hard link, a symbolic link), is left untouched: it
// is opened without truncating, recognised by its device and inode, and closed again.
static FILE* open_report_file(const char* name, FileIdentity config, bool* is_config) {
  *is_config = false;
  int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0)
    return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return nullptr;
  }
  if (config.regular && S_ISREG(st.st_mode) && st.st_dev == config.dev && st.st_ino == config.ino) {
    close(fd);
    *is_config = true;
    return nullptr;
  }
  // Only a regular file is truncated: a device or a pipe is written as it stands, as "w" does.
  FILE* f = nullptr;
  if (!S_ISREG(st.st_mode) || ftruncate(fd, 0) == 0)
    f = fdopen(fd, "w");
  if (f == nullptr)
    close(fd);
  return f;
}

// The document tree lives until the process ends. Its size is estimated from the file's before
// it is read: for a file of tiny elements it takes about 12 times the file's size (a 48-byte
// node for each 4-byte "<a/>"), and most files take less. The estimate is counted with the
// tables, so that a file whose tree cannot fit is refused at once, and the tables and the
// solver's matrices are then refused in their turn where they no longer fit beside it. A stream
// of unknown size (a pipe, a terminal, a device such as /dev/zero) may never end: it is read
// only as far as a file whose tree would still fit, and refused as that file would be beyond.
std::size_t count_tree_estimate(FILE* in) {
  constexpr std::size_t kTreeBytesPerFileByte = 12;
  struct stat st;
  if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode))
    return kept_memory_room() / kTreeBytesPerFileByte;
  if (st.st_size <= 0)
    return SIZE_MAX;
  const auto size = static_cast<std::uintmax_t>(st.st_size);
  const std::size_t bytes = size > SIZE_MAX / kTreeBytesPerFileByte
                                ? SIZE_MAX
                                : static_cast<std::size_t>(size) * kTreeBytesPerFileByte;
  count_kept_memory(bytes, " *** ERROR: Out of memory in alloc_XMLENTITY()\n");
  return SIZE_MAX;
}

std::string slice_file_name(const char* name, int first, int last) {
  std::string range = std::to_string(first) + "-" + std::to_string(last);
  std::string s = name;
  const std::size_t base = s.rfind('/') == std::string::npos ? 0 : s.rfind('/') + 1;
  const std::size_t dot = s.rfind('.');
  // A dot that starts the base name (".report") or stands in a folder's name marks no extension.
  if (dot == std::string::npos || dot <= base)
    return s + "." + range;
  return s.insert(dot, "." + range);
}

const char* report_file_name(const PRAVLIN* pv) {
  return pv->slice_outfilename != nullptr ? pv->slice_outfilename : pv->outfilename;
}

// A slice writes to a file of its own, named after its range. A device, a pipe or a folder is
// used as it is named, and so is a name under /dev (/dev/null, and /dev/stdout, which is each
// process's own): no slice's file can be lost there, and no stray file must be made there.
static void name_slice_report(PRAVLIN* pv) {
  struct stat st;
  const char* name = pv->outfilename;
  if (pv->first_chain == 0 || name[0] == '\0' || std::strncmp(name, "/dev/", 5) == 0 ||
      (stat(name, &st) == 0 && !S_ISREG(st.st_mode)))
    return;
  const std::string slice = slice_file_name(name, pv->first_chain, pv->last_chain);
  pv->slice_outfilename = static_cast<char*>(
      alloc_table(slice.size() + 1, 1, " *** ERROR: out of memory 1 in read_xml_file()\n"));
  std::memcpy(pv->slice_outfilename, slice.c_str(), slice.size() + 1);
}

static void open_report(PRAVLIN* pv, FileIdentity config) {
  // A range past the run's chains is refused by the driver once the reading is done, before
  // the run; its file is not made.
  if (pv->outfilename == nullptr || pv->last_chain > pv->nbr_chains)
    return;
  name_slice_report(pv);
  const char* name = report_file_name(pv);
  bool is_config = false;
  pv->out = open_report_file(name, config, &is_config);
  if (is_config) {
    warn("*** ERROR: Report file (%s) is the configuration file, using stdout\n", name);
    pv->out = stdout;
  } else if (pv->out == nullptr) {
    warn("*** ERROR: Unable to open file (%s) for writing, using stdout\n", name);
    pv->out = stdout;
  }
}

// What the mapping keeps of the transitions: the dense matrix; nothing, leaving them in the tree
// for a reader that keeps them its own way (without a chains table either); or, for a run that
// needs no dense matrix, sparse rows. A reader of the settings alone keeps no table at all.
enum Keep { KEEP_MATRIX, KEEP_NOTHING, KEEP_SPARSE_ROWS, KEEP_SETTINGS };

// The fewest states whose run keeps sparse rows when it needs no dense matrix: beyond the
// largest model the draws guide (2047 states), where a row is scanned whole either way. Written
// only by set_sparse_rows_from.
static constexpr int kSparseRowsFrom = 2048;
static int sparse_rows_from = kSparseRowsFrom;

void set_sparse_rows_from(int states) {
  sparse_rows_from = states <= 0 ? kSparseRowsFrom : states;
}

// Without the dense matrix, the transition rows are left null: a reader of structure alone, or
// a run that draws from sparse rows, must not pay for N x N doubles.
static void allocate_tables(PRAVLIN* pv, Keep keep) {
  static const char kOom1[] = " *** ERROR: out of memory 1 in read_xml_file()\n";
  // Counts go to size_t before the +1, so that INT_MAX states cannot overflow the count.
  const std::size_t states = static_cast<std::size_t>(pv->nbr_states) + 1;
  pv->state_name = static_cast<char**>(alloc_table(states, sizeof(char*), kOom1));
  pv->val = static_cast<double*>(alloc_table(states, sizeof(double), kOom1));
  pv->initial_probability = static_cast<double*>(alloc_table(states, sizeof(double), kOom1));
  pv->transition_probability = static_cast<double**>(alloc_table(states, sizeof(double*), kOom1));
  pv->steady_state_probability = static_cast<double*>(alloc_table(states, sizeof(double), kOom1));
  if (keep == KEEP_NOTHING) {
    // A reader of structure alone keeps the chains' row table with its rows null.
    pv->pravlin = static_cast<int**>(
        alloc_table(static_cast<std::size_t>(pv->nbr_chains) + 1, sizeof(int*), kOom1));
    return;
  }
  if (keep == KEEP_MATRIX) {
    alloc_rows(pv->transition_probability, pv->nbr_states, pv->nbr_states,
               " *** ERROR: out of memory 2 in read_xml_file()\n");
  }
  // A large table, or one that cannot be had, is left null: it is drawn as it is written, in
  // memory for one step of every chain, and the table's message ends the run only when even
  // that is refused (simulate_without_table).
  if (keep_chains_table(pv))
    pv->pravlin = try_alloc_chain_rows(pv->nbr_chains, pv->nbr_years);
}

void read_state_element(PRAVLIN* pv, const XMLENTITY* state) {
  int ser = 0;
  char* name = nullptr;
  double initial_probability = 0.0;
  double val = 0.0;
  for (const XMLENTITY* x = state->child; x != nullptr; x = x->next) {
    if (is_named(x, "ser")) {
      ser = xml_atoi(text_of(x));
    } else if (is_named(x, "name")) {
      name = x->s;
    } else if (first8(x, "initial_probability")) {
      initial_probability = xml_atof(text_of(x));
    } else if (first3(x, "value")) {
      val = xml_atof(text_of(x));
    } else {
      unknown_tag(x);
    }
  }
  set_state(pv, ser, name, initial_probability, val);
}

void set_state(PRAVLIN* pv, int ser, char* name, double initial_probability, double val) {
  const char* shown = name != nullptr ? name : "(null)";
  if (ser < 1 || ser > pv->nbr_states) {
    fail(" *** ERROR: For STATE (%s) SER (%d) is < 1 or > NBR_STATES (%d)\n", shown, ser,
         pv->nbr_states);
  }
  if (!legal_probability(initial_probability)) {
    fail(" *** ERROR: For STATE (%s) illegal INITIAL_PROBABILITY (%f)\n", shown,
         initial_probability);
  }
  pv->state_name[ser] = name;
  pv->val[ser] = val;
  pv->initial_probability[ser] = initial_probability;
}

// Without the dense matrix, a transition is checked and left in the tree.
static void read_to(PRAVLIN* pv, int dense, int ser, const XMLENTITY* to) {
  int ser_to = 0;
  double probability = 0.0;
  for (const XMLENTITY* x = to->child; x != nullptr; x = x->next) {
    if (is_named(x, "state")) {
      ser_to = xml_atoi(text_of(x));
    } else if (first8(x, "probability")) {
      probability = xml_atof(text_of(x));
    } else {
      unknown_tag(x);
    }
  }
  set_transition(pv, dense, ser, ser_to, probability);
}

void set_transition(PRAVLIN* pv, int dense, int ser, int ser_to, double probability) {
  if (ser_to < 1 || ser_to > pv->nbr_states) {
    fail(" *** ERROR: TRANSITION FROM (%d) TO (%d) is < 1 or > NBR_STATES (%d)\n", ser, ser_to,
         pv->nbr_states);
  }
  if (!legal_probability(probability)) {
    fail(" *** ERROR: For TRANSITION FROM (%d) TO (%d)  illegal PROBABILITY (%f)\n", ser, ser_to,
         probability);
  }
  if (dense)
    pv->transition_probability[ser][ser_to] = probability;
}

void check_transition_source(const PRAVLIN* pv, int ser) {
  if (ser < 1 || ser > pv->nbr_states) {
    fail(" *** ERROR: TRANSITION FROM (%d) is < 1 or > NBR_STATES (%d)\n", ser, pv->nbr_states);
  }
}

void read_transition_element(PRAVLIN* pv, int dense, const XMLENTITY* transition) {
  // The source may stand before, between or after the destinations, so it is found first.
  int ser = 0;
  for (const XMLENTITY* x = transition->child; x != nullptr; x = x->next) {
    if (is_named(x, "from")) {
      ser = xml_atoi(text_of(x));
    } else if (!is_named(x, "to")) {
      unknown_tag(x);
    }
  }
  check_transition_source(pv, ser);
  for (const XMLENTITY* x = transition->child; x != nullptr; x = x->next) {
    if (is_named(x, "to"))
      read_to(pv, dense, ser, x);
  }
}

void read_xml_file(PRAVLIN* pv) {
  read_configuration(pv, 1);
}

// Returns what it kept: with KEEP_SPARSE_ROWS, the matrix when the run needs it after all.
// Without the matrix, the transitions go to list (when given) in document order.
static Keep read_document(PRAVLIN* pv, int open_report_file, Keep keep,
                          std::vector<TRANSITION_ENTRY>* list) {
  if (pv->in == nullptr)
    fail(" *** ERROR: NULL pointer for FILE pv->in in read_xml_file()\n");
  const FileIdentity config = identity_of(pv->in);
  const std::size_t most = count_tree_estimate(pv->in);
  int errflag = 0;
  XMLENTITY* tree = nullptr;
  // A regular file is read as it is scanned, without the tree of its states and transitions;
  // the same steps below read either.
  streamed_document streamed;
  const bool stream = read_document_streamed(pv->in, &errflag, &tree, &streamed);
  if (!stream)
    tree = readfile_XMLENTITY_bounded(pv->in, &errflag, most);
  // The record holds the tree from the start, also when it is refused below: kept until the
  // process ends, it stays reachable for leak checkers, and a fuzz target can release it.
  pv->xml = tree;
  if (pv->in != stdin)
    std::fclose(pv->in);
  pv->in = nullptr;
  if (errflag != 0 || tree == nullptr) {
    fail(" *** ERROR: (%d) Error encountered in reading XML file\n", errflag);
  }
  name2lower_XMLENTITY(tree, 1);
  if (!is_named(tree, "pravlin")) {
    fail(" *** ERROR:  (%s) Not a pravlin XML file\n",
         tree->name != nullptr ? tree->name : "(null)");
  }

  read_settings(pv, tree);
  if (pv->nbr_states <= 1) {
    fail(" *** ERROR: nbr_states (%d) must be greater than 1\n", pv->nbr_states);
  }
  apply_defaults(pv);
  if (keep == KEEP_SETTINGS)
    return keep;
  // The squaring and the header's matrix are the only readers of the dense matrix. Below
  // sparse_rows_from states the matrix is kept all the same: its rows are small enough for the
  // guided draws, which are several times faster than a scan of the sparse rows.
  if (keep == KEEP_SPARSE_ROWS &&
      (pv->calc_flag || pv->print_header || pv->nbr_states < sparse_rows_from))
    keep = KEEP_MATRIX;
  if (open_report_file)
    open_report(pv, config);
  allocate_tables(pv, keep);
  const int dense = keep == KEEP_MATRIX;

  if (stream) {
    read_streamed_items(pv, dense, &streamed);
  } else {
    for (const XMLENTITY* x = tree->child; x != nullptr; x = x->next) {
      if (x->type != XML_ELEMENT)
        continue;
      if (is_named(x, "state")) {
        read_state_element(pv, x);
      } else if (is_named(x, "transition")) {
        read_transition_element(pv, dense, x);
      }
    }
  }
  if (list != nullptr && !dense) {
    if (stream) {
      collect_streamed_transitions(&streamed, list);
    } else {
      collect_transitions(pv, list);
    }
  }
  return keep;
}

void read_configuration(PRAVLIN* pv, int open_report_file) {
  read_document(pv, open_report_file, KEEP_MATRIX, nullptr);
}

void read_configuration_sparse(PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions) {
  transitions->clear();
  read_document(pv, 0, KEEP_NOTHING, transitions);
}

void read_configuration_settings(PRAVLIN* pv) {
  read_document(pv, 0, KEEP_SETTINGS, nullptr);
}

void read_configuration_for_run(PRAVLIN* pv, int open_report_file) {
  std::vector<TRANSITION_ENTRY> list;
  if (read_document(pv, open_report_file, KEEP_SPARSE_ROWS, &list) != KEEP_SPARSE_ROWS)
    return;
  static const char kOom2[] = " *** ERROR: out of memory 2 in read_xml_file()\n";
  // Kept until the process ends, as the matrix would be, and counted with the tables. The
  // index of the rows is had here, so that validation allocates nothing.
  auto* rows = new (std::nothrow) SPARSE_ROWS;
  if (rows == nullptr)
    fail("%s", kOom2);
  pv->sparse_transitions = rows;
  rows->entries.swap(list);
  // Counted as a list grown one entry at a time holds it, however this one was had.
  const std::size_t entries = rows->entries.size();
  count_kept_memory((entries == 0 ? 0 : std::bit_ceil(entries)) * sizeof(TRANSITION_ENTRY), kOom2);
  const std::size_t index = static_cast<std::size_t>(pv->nbr_states) + 2;
  count_kept_memory(index * sizeof(std::size_t), kOom2);
  try {
    rows->row_start.assign(index, 0);
  } catch (const std::bad_alloc&) {
    fail("%s", kOom2);
  }
}
