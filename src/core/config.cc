// config.cc - the configuration document mapped onto the model record (read_xml_file):
// settings, defaults, the report stream, every table, the states and the transition matrix.
// Part of pravlin; see README.md.
#include "config.h"

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

#include "config_items.h"
#include "config_schema.h"
#include "config_stream.h"
#include "core_limits.h"
#include "sparse_read.h"
#include "tables.h"

// Keyword values; any other text leaves the field as it was.
static void read_words(const XMLENTITY* x, ConfigWords words, int* field) {
  const int v = config_word_value(words, config_text(x));
  if (v >= 0)
    *field = v;
}

static void read_steadystate(PRAVLIN* pv, const XMLENTITY* steadystate) {
  for (const XMLENTITY* x = steadystate->child; x != nullptr; x = x->next) {
    switch (config_name(x, IN_STEADYSTATE)) {
      case CFG_CALC:
        read_words(x, WORDS_YES_NO, &pv->calc_flag);
        break;
      case CFG_MAX_ITERATION:
        pv->max_iteration = xml_atoi(config_text(x));
        break;
      case CFG_MAX_ERROR:
        pv->max_error = xml_atof(config_text(x));
        break;
      default:
        warn_unknown_tag(x);
    }
  }
}

// Returns whether the root holds periods.
static bool read_settings(PRAVLIN* pv, const XMLENTITY* root) {
  bool periods = false;
  for (const XMLENTITY* x = root->child; x != nullptr; x = x->next) {
    if (x->type != XML_ELEMENT)
      continue;
    switch (config_name(x, IN_ROOT)) {
      case CFG_NBR_STATES:
        pv->nbr_states = xml_atoi(config_text(x));
        break;
      case CFG_INIT_YEAR:
        pv->init_year = xml_atoi(config_text(x));
        break;
      case CFG_NBR_YEARS:
        pv->nbr_years = xml_atoi(config_text(x));
        break;
      case CFG_NBR_CHAINS:
        pv->nbr_chains = xml_atoi(config_text(x));
        break;
      case CFG_PRINT_FLAG:
        read_words(x, WORDS_PRINT_FLAG, &pv->print_flag);
        break;
      case CFG_PRINT_HEADER:
        read_words(x, WORDS_YES_NO, &pv->print_header);
        break;
      case CFG_DEBUG:
        pv->debug = xml_atoi(config_text(x));
        break;
      case CFG_FILENAME:
        // Kept by reference; an empty-element tag forgets an earlier name.
        pv->outfilename = x->s;
        break;
      case CFG_STEADYSTATE:
        read_steadystate(pv, x);
        break;
      case CFG_PERIOD:
        periods = true;
        break;  // read in the second pass, as the transitions are
      case CFG_STATE:
      case CFG_TRANSITION:
        break;  // read in the second pass, once every setting is known
      default:
        warn_unknown_tag(x);
    }
  }
  return periods;
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

// What the document's reading keeps of the transitions: the dense matrix; nothing, leaving them
// in the tree for a reader that keeps them its own way (without a chains table either); or, for
// a run that needs no dense matrix, sparse rows. A reader of the settings alone keeps no table
// at all.
enum Keep { KEEP_DENSE, KEEP_NOTHING, KEEP_SPARSE_ROWS, KEEP_SETTINGS };

// SPARSE_ROWS_FROM unless a test moved it. Written only by set_sparse_rows_from.
static int sparse_rows_from = SPARSE_ROWS_FROM;

void set_sparse_rows_from(int states) {
  sparse_rows_from = states <= 0 ? SPARSE_ROWS_FROM : states;
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
  if (keep == KEEP_DENSE) {
    alloc_rows(pv->transition_probability, pv->nbr_states, pv->nbr_states,
               " *** ERROR: out of memory 2 in read_xml_file()\n");
  }
  // The chains table is the run's to grant (keep_chains_table).
}

void read_xml_file(PRAVLIN* pv) {
  read_configuration(pv, READ_MATRIX, 1);
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
  if (config_name(tree, IN_DOCUMENT) != CFG_PRAVLIN) {
    fail(" *** ERROR:  (%s) Not a pravlin XML file\n",
         tree->name != nullptr ? tree->name : "(null)");
  }

  const bool periods = read_settings(pv, tree);
  if (pv->nbr_states <= 1) {
    fail(" *** ERROR: nbr_states (%d) must be greater than 1\n", pv->nbr_states);
  }
  apply_defaults(pv);
  if (keep == KEEP_SETTINGS)
    return keep;
  // The squaring and the header's matrix are the only readers of the dense matrix. Below
  // sparse_rows_from states the matrix is kept all the same: its rows are small enough for the
  // guided draws, which are several times faster than a scan of the sparse rows.
  // A chain with periods draws each step from its period's matrix, which the sparse rows do not
  // hold.
  if (keep == KEEP_SPARSE_ROWS &&
      (pv->calc_flag || pv->print_header || pv->nbr_states < sparse_rows_from || periods))
    keep = KEEP_DENSE;
  if (open_report_file)
    open_report(pv, config);
  allocate_tables(pv, keep);
  const int dense = keep == KEEP_DENSE;

  if (stream) {
    read_streamed_items(pv, dense, &streamed);
  } else {
    root_items seen{};
    for (const XMLENTITY* x = tree->child; x != nullptr; x = x->next)
      read_root_item(pv, dense, x, &seen);
  }
  if (list != nullptr && !dense) {
    if (stream) {
      collect_streamed_transitions(&streamed, list);
    } else {
      collect_transitions(pv, list);
    }
  }
  finish_periods(pv, dense, list);
  return keep;
}

// The sparse rows of a run that needs no dense matrix, from the transitions in list.
static void keep_sparse_rows(PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* list) {
  static const char kOom2[] = " *** ERROR: out of memory 2 in read_xml_file()\n";
  // Kept until the process ends, as the matrix would be, and counted with the tables. The
  // index of the rows is had here, so that validation allocates nothing.
  auto* rows = new (std::nothrow) SPARSE_ROWS;
  if (rows == nullptr)
    fail("%s", kOom2);
  pv->sparse_transitions = rows;
  rows->entries.swap(*list);
  // Counted as a list grown one entry at a time holds it, however this one was had.
  const std::size_t entries = rows->entries.size();
  count_kept_memory((entries == 0 ? 0 : std::bit_ceil(entries)) * sizeof(TRANSITION_ENTRY), kOom2);
  const std::size_t index = static_cast<std::size_t>(pv->nbr_states) + 2;
  count_kept_memory(index * sizeof(std::size_t), kOom2);
  or_out_of_memory(kOom2, [&] { rows->row_start.assign(index, 0); });
}

void read_configuration(PRAVLIN* pv, ConfigRead what, int open_report_file,
                        std::vector<TRANSITION_ENTRY>* list) {
  switch (what) {
    case READ_MATRIX:
      read_document(pv, open_report_file, KEEP_DENSE, nullptr);
      break;
    case READ_FOR_RUN: {
      std::vector<TRANSITION_ENTRY> rows;
      if (read_document(pv, open_report_file, KEEP_SPARSE_ROWS, &rows) == KEEP_SPARSE_ROWS)
        keep_sparse_rows(pv, &rows);
      break;
    }
    case READ_LIST:
      list->clear();
      read_document(pv, open_report_file, KEEP_NOTHING, list);
      break;
    case READ_SETTINGS:
      read_document(pv, open_report_file, KEEP_SETTINGS, nullptr);
      break;
  }
}
