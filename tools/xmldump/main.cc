// main.cc - xmldump: what the reader made of a file, each top-level node, then the result code.
// Part of pravlin; see README.md.
#include <cstdio>

#include "config.h"
#include "pravlin.h"
#include "xml.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: xmldump FILE\n");
    return 1;
  }
  FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "xmldump: cannot open %s\n", argv[1]);
    return 1;
  }
  // Bounded as pravlin bounds its reading: a stream that never ends (/dev/zero) is refused with
  // the reader's out-of-memory message once a file that long could not be held.
  int code = 0;
  XMLENTITY* doc = readfile_XMLENTITY_bounded(in, &code, count_tree_estimate(in));
  std::fclose(in);
  for (const XMLENTITY* x = doc; x != nullptr; x = x->next)
    xmlfprint(stdout, x, 0);
  std::printf("result %d %s\n", code, xml_result_name(code));
  free_XMLENTITY(doc);
  // Whatever the code, the dump itself succeeded: the code is on the last line for the reader.
  return 0;
}
