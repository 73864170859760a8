// main.cc - pravlin-merge's driver: the command line, the configuration if one is named, then
// the slices joined on standard output.
// Part of pravlin; see README.md.
#include <cstdio>

#include "merge.h"
#include "merge_options.h"
#include "output_file.h"
#include "version.h"

int main(int argc, char** argv) {
  answer_alone(argc, argv, &MERGE_OPTIONS, "pravlin-merge " PRAVLIN_VERSION "\n" PRAVLIN_LICENCE);
  MERGE_RUN x;
  const int first_slice = parse_merge_command_line(argc, argv, &x);
  if (first_slice == argc) {
    std::fputs(option_help(&MERGE_OPTIONS).c_str(), stderr);
    return 1;
  }
  if (x.config != nullptr)
    merge_read_config(&x);
  // Standard output appended onto a slice (">>"), or onto the configuration, would be read back
  // or lost as it is written.
  for (int i = first_slice; i < argc; i++)
    output_note_input(argv[i]);
  if (x.config != nullptr)
    output_note_input(x.config);
  output_declare(nullptr);
  merge_slices(argv + first_slice, argc - first_slice, &x);
  return 0;
}
