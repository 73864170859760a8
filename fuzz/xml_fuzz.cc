// xml_fuzz.cc - libFuzzer target: the entity reader on arbitrary bytes, then the utilities and
// the printer on what it made, then the tree released.
// Part of pravlin; see README.md.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fail.h"
#include "xml.h"

// The printer writes here: nothing is kept, every byte is still formatted.
static FILE* sink = nullptr;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  sink = std::fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Read-only stream straight over the fuzzer's own copy, so that a read past its end is
  // caught by AddressSanitizer.
  FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (in == nullptr)
    return 0;
  XMLENTITY* tree = nullptr;
  try {
    int errflag = 0;
    tree = readfile_XMLENTITY(in, &errflag);
    if (errflag < XML_OK || errflag > XML_TOO_LONG)
      __builtin_trap();  // 4 never leaves the reader
    name2lower_XMLENTITY(tree, 1);
    for (const XMLENTITY* x = tree; x != nullptr; x = x->next)
      xmlfprint(sink, x, 0);
    (void)extract_XMLENTITY_name(tree, "nbr_states");
  } catch (const FailExit&) {
    // Only exhausted memory ends a read; what was built so far is unreachable from here.
  }
  std::fclose(in);
  free_XMLENTITY(tree);
  return 0;
}
