// stream_fuzz.cc - libFuzzer target: a configuration read by the stream path and by the tree,
// in each of the ways the programs read one (dense matrix, a run's sparse rows,
// pravlin-analyze's list and notes); any difference in the record, its tables, the list, the
// notes, the messages or the outcome is a finding. An input of odd length is read in two parts
// wherever it offers a split point.
// Part of pravlin; see README.md.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config.h"
#include "config_stream.h"
#include "pravlin.h"
#include "read_compare.h"
#include "tables.h"

// The input as a regular file, and the messages of one read.
static int config_fd = -1;
static int err_fd = -1;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  set_table_memory_limit(4u << 20);
  config_fd = memfd_create("config.xml", 0);
  err_fd = memfd_create("stderr", 0);
  return config_fd >= 0 && err_fd >= 0 ? 0 : 1;
}

struct Outcome {
  bool failed = false;
  std::string err;
  std::string record;
};

static Outcome read_once(ReadMode mode, bool stream, bool split) {
  set_stream_reading(stream ? 1 : 0);
  set_stream_split_from(split ? 1 : 0);
  Outcome o;
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.xmlfilename = const_cast<char*>("fuzz.xml");
  const int fd = dup(config_fd);
  if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0)
    __builtin_trap();
  pv.in = fdopen(fd, "r");
  if (pv.in == nullptr)
    __builtin_trap();
  // Standard error goes to err_fd while the configuration is read.
  std::fflush(stderr);
  const int saved = dup(2);
  if (ftruncate(err_fd, 0) != 0 || lseek(err_fd, 0, SEEK_SET) != 0 || dup2(err_fd, 2) < 0)
    __builtin_trap();
  std::vector<TRANSITION_ENTRY> list;
  std::vector<READ_NOTE> notes;
  try {
    read_in_mode(&pv, mode, &list, &notes);
  } catch (const FailExit&) {
    o.failed = true;
  }
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  char buf[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(err_fd, buf, sizeof buf, at)) > 0; at += n)
    o.err.append(buf, static_cast<std::size_t>(n));
  o.record = describe_record(&pv, list, notes);
  if (pv.in != nullptr)
    std::fclose(pv.in);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
  return o;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (ftruncate(config_fd, 0) != 0 ||
      pwrite(config_fd, data, size, 0) != static_cast<ssize_t>(size))
    return 0;
  for (ReadMode mode : {READ_MATRIX, READ_FOR_RUN, READ_LIST}) {
    const Outcome tree = read_once(mode, false, false);
    const Outcome stream = read_once(mode, true, size % 2 == 1);
    if (tree.failed != stream.failed || tree.err != stream.err || tree.record != stream.record) {
      std::fprintf(stderr, "mode %d\n--- tree (%d)\n%s%s--- stream (%d)\n%s%s", mode, tree.failed,
                   tree.err.c_str(), tree.record.c_str(), stream.failed, stream.err.c_str(),
                   stream.record.c_str());
      __builtin_trap();
    }
  }
  return 0;
}
