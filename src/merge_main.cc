// merge_main.cc - pravlin-merge: the reports of slices of one run (pravlin --chains A-B), given
// in chain order, joined into the whole run's report, byte for byte, one line at a time.
// Part of pravlin; see README.md.
#include <fcntl.h>
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "output_file.h"
#include "pravlin.h"

static const char USAGE[] =
    "Usage: pravlin-merge SLICE... \n"
    "       pravlin-merge --help | -h | --version\n"
    "\n"
    "Joins the reports of slices of one pravlin run (pravlin --chains A-B CONFIG.xml), given in\n"
    "the order of their chains from chain 1 on, into the report of the whole run, on standard\n"
    "output. Reads one line of each slice at a time.\n";

// A slice is read in large blocks and its lines are handed on where they lie in its buffer: a
// line of a large run is hundreds of kilobytes, and copying it once more costs as much as
// reading it.
static constexpr int kPipeSize = 1 << 20;

struct Slice {
  const char* name;
  int fd;
  char* buf;
  std::size_t capacity;
  std::size_t begin;  // the first byte not yet taken as a line
  std::size_t end;    // the end of what was read
  bool ended;         // nothing more to read
  const char* line;   // the current line, without its line break
  std::size_t length;
};

// The output: pieces of the slices' buffers and constant texts, written together. A slice's
// buffer moves only after what is pending has been written.
static std::vector<iovec> pending;

static void write_pending() {
  std::size_t done = 0;
  while (done < pending.size()) {
    const int n = static_cast<int>(std::min<std::size_t>(pending.size() - done, IOV_MAX));
    const ssize_t got = writev(STDOUT_FILENO, pending.data() + done, n);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
    // Past the pieces written whole, into the one written in part.
    auto left = static_cast<std::size_t>(got);
    while (done < pending.size() && left >= pending[done].iov_len)
      left -= pending[done++].iov_len;
    if (left != 0) {
      pending[done].iov_base = static_cast<char*>(pending[done].iov_base) + left;
      pending[done].iov_len -= left;
    }
  }
  pending.clear();
}

static void put(std::string_view text) {
  if (text.empty())
    return;
  pending.push_back(iovec{const_cast<char*>(text.data()), text.size()});
  if (pending.size() >= IOV_MAX)
    write_pending();
}

static std::size_t count_quotes(const char* from, const char* to) {
  std::size_t quotes = 0;
  while ((from = static_cast<const char*>(
              std::memchr(from, '"', static_cast<std::size_t>(to - from)))) != nullptr) {
    quotes++;
    from++;
  }
  return quotes;
}

// Reads more of the slice after what it holds, moving its unread lines to the front first (and
// so writing what is pending, which may point into them); false at its end.
static bool read_more(Slice* s) {
  write_pending();
  if (s->begin != 0) {
    std::memmove(s->buf, s->buf + s->begin, s->end - s->begin);
    s->end -= s->begin;
    s->begin = 0;
  }
  if (s->end == s->capacity) {
    s->capacity *= 2;
    s->buf = static_cast<char*>(std::realloc(s->buf, s->capacity));
    if (s->buf == nullptr)
      fail(" *** ERROR: out of memory in pravlin-merge\n");
  }
  for (;;) {
    const ssize_t got = read(s->fd, s->buf + s->end, s->capacity - s->end);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0) {
      s->ended = true;
      return false;
    }
    s->end += static_cast<std::size_t>(got);
    return true;
  }
}

// The next line of the slice into s->line, or false at its end. A line break inside double
// quotes (a state's name) belongs to the line, as CSV has it.
static bool next_line(Slice* s) {
  std::size_t scan = 0;  // bytes of the line looked through
  std::size_t quotes = 0;
  for (;;) {
    const char* from = s->buf + s->begin + scan;
    const char* to = s->buf + s->end;
    const auto* brk =
        static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(to - from)));
    if (brk != nullptr) {
      quotes += count_quotes(from, brk);
      scan = static_cast<std::size_t>(brk - (s->buf + s->begin)) + 1;
      if (quotes % 2 == 0) {
        s->line = s->buf + s->begin;
        s->length = scan - 1;
        s->begin += scan;
        return true;
      }
      continue;
    }
    quotes += count_quotes(from, to);
    scan = s->end - s->begin;
    if (s->ended || !read_more(s)) {
      if (scan == 0) {
        s->line = s->buf + s->begin;
        s->length = 0;
        return false;
      }
      s->line = s->buf + s->begin;
      s->length = scan;
      s->begin = s->end;
      return true;
    }
  }
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
  // Standard output appended onto a slice (">>") would be read back as it is written.
  for (int i = 1; i < argc; i++)
    output_note_input(argv[i]);
  output_declare(nullptr);
  std::vector<Slice> slices;
  for (int i = 1; i < argc; i++) {
    const int fd = open(argv[i], O_RDONLY);
    if (fd < 0)
      fail(" *** ERROR: Unable to open file (%s)\n", argv[i]);
    // A slice streamed through a pipe otherwise arrives 64 KiB at a time; only a hint.
    fcntl(fd, F_SETPIPE_SZ, kPipeSize);
    const std::size_t capacity = std::size_t{4} << 20;
    char* buf = static_cast<char*>(std::malloc(capacity));
    if (buf == nullptr)
      fail(" *** ERROR: out of memory in pravlin-merge\n");
    slices.push_back(Slice{argv[i], fd, buf, capacity, 0, 0, false, nullptr, 0});
  }
  fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeSize);

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
    const std::string_view label =
        more ? line_of(head).substr(0, line_of(head).find(',')) : std::string_view();
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
  }
  write_pending();
  for (Slice& s : slices) {
    close(s.fd);
    std::free(s.buf);
  }
  return 0;
}
