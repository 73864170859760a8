// merge_main.cc - pravlin-merge: the reports of slices of one run (pravlin --chains A-B), given
// in chain order, joined into the whole run's report, byte for byte, one line at a time.
// Part of pravlin; see README.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "pravlin.h"

static const char USAGE[] =
    "Usage: pravlin-merge SLICE... \n"
    "       pravlin-merge --help | -h | --version\n"
    "\n"
    "Joins the reports of slices of one pravlin run (pravlin --chains A-B CONFIG.xml), given in\n"
    "the order of their chains from chain 1 on, into the report of the whole run, on standard\n"
    "output. Reads one line of each slice at a time.\n";

struct Slice {
  const char* name;
  FILE* in;
  char* line;  // the current line, getline's buffer
  std::size_t capacity;
  std::size_t length;  // without its line break; the slice ended when false was returned
};

// The next line of the slice into s->line, or false at its end. A line break inside double
// quotes (a state's name) belongs to the line, as CSV has it.
static bool next_line(Slice* s) {
  ssize_t got = getline(&s->line, &s->capacity, s->in);
  if (got <= 0)
    return false;
  std::string_view text(s->line, static_cast<std::size_t>(got));
  std::size_t quotes = 0;
  for (char c : text)
    quotes += c == '"';
  std::string whole;
  while (quotes % 2 != 0 && text.back() == '\n') {
    // Rare: the line goes on after a quoted line break; gathered in a string, then copied back.
    if (whole.empty())
      whole.assign(text);
    char* more = nullptr;
    std::size_t more_capacity = 0;
    ssize_t n = getline(&more, &more_capacity, s->in);
    if (n > 0) {
      whole.append(more, static_cast<std::size_t>(n));
      for (ssize_t i = 0; i < n; i++)
        quotes += more[i] == '"';
    }
    std::free(more);
    if (n <= 0)
      break;
    text = whole;
  }
  if (!whole.empty()) {
    s->line = static_cast<char*>(std::realloc(s->line, whole.size() + 1));
    if (s->line == nullptr)
      fail(" *** ERROR: out of memory in pravlin-merge\n");
    std::memcpy(s->line, whole.data(), whole.size());
    s->capacity = whole.size() + 1;
    got = static_cast<ssize_t>(whole.size());
  }
  s->length = static_cast<std::size_t>(got);
  if (s->line[s->length - 1] == '\n')
    s->length--;
  return true;
}

static std::string_view line_of(const Slice& s) {
  return std::string_view(s.line, s.length);
}

// The chain numbers of a title line "time , A , ... , B ", or false when it is none.
static bool title_chains(std::string_view line, long long* first, long long* last) {
  if (line.substr(0, 7) != "time , " || line.size() < 9 || line.back() != ' ')
    return false;
  const std::size_t last_comma = line.rfind(", ");
  *first = std::atoll(std::string(line.substr(7)).c_str());
  *last = std::atoll(std::string(line.substr(last_comma + 2)).c_str());
  return *first >= 1 && *last >= *first;
}

static void put(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(USAGE, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs("pravlin-merge " PRAVLIN_VERSION "\n" PRAVLIN_LICENCE, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (argc < 2) {
    std::fputs(USAGE, stderr);
    return 1;
  }
  std::vector<Slice> slices;
  for (int i = 1; i < argc; i++) {
    FILE* in = std::fopen(argv[i], "r");
    if (in == nullptr)
      fail(" *** ERROR: Unable to open file (%s)\n", argv[i]);
    // Large reads: a slice streamed through a pipe otherwise arrives 4 KiB a call.
    std::setvbuf(in, nullptr, _IOFBF, std::size_t{1} << 20);
    slices.push_back(Slice{argv[i], in, nullptr, 0, 0});
  }
  static char out_buffer[1 << 20];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);

  // The first slice's header, if it has one, up to its title line, which starts at chain 1.
  long long first = 0;
  long long last = 0;
  Slice& head = slices[0];
  for (;;) {
    if (!next_line(&head))
      fail(" *** ERROR: (%s) holds no chain table\n", head.name);
    if (title_chains(line_of(head), &first, &last)) {
      if (first != 1)
        fail(" *** ERROR: (%s) starts at chain %lld, not at chain 1\n", head.name, first);
      break;
    }
    put(line_of(head));
    put("\n");
  }
  put(line_of(head));
  // Chain numbers must follow on from slice to slice: a slice missing, twice or out of order
  // would give a report of the right shape and the wrong chains.
  for (std::size_t i = 1; i < slices.size(); i++) {
    long long from = 0, to = 0;
    if (!next_line(&slices[i]) || !title_chains(line_of(slices[i]), &from, &to))
      fail(" *** ERROR: (%s) holds no chain table\n", slices[i].name);
    if (from != last + 1) {
      fail(" *** ERROR: (%s) starts at chain %lld, not at chain %lld\n", slices[i].name, from,
           last + 1);
    }
    last = to;
    put(line_of(slices[i]).substr(5));  // from ", A " on
  }
  put("\n");

  // Each step: the first slice's line whole, then the cells of the others', from their first
  // comma on (a label holds none; a line without cells has none either).
  for (long long line = 1;; line++) {
    const bool more = next_line(&head);
    if (more)
      put(line_of(head));
    const std::string_view label = line_of(head).substr(0, line_of(head).find(','));
    for (std::size_t i = 1; i < slices.size(); i++) {
      const bool more_here = next_line(&slices[i]);
      std::string_view text = line_of(slices[i]);
      const std::size_t comma = text.find(',');
      if (more_here != more || (more && text.substr(0, comma) != label)) {
        fail(" *** ERROR: (%s) does not have the steps of (%s) at line %lld of its table\n",
             slices[i].name, head.name, line);
      }
      if (more && comma != std::string_view::npos)
        put(text.substr(comma));
    }
    if (!more)
      break;
    put("\n");
    if (std::ferror(stdout))
      break;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  for (Slice& s : slices) {
    std::fclose(s.in);
    std::free(s.line);
  }
  return 0;
}
