// pravlin.cc - the model record's initial values, the configuration file opened for it, and
// the name of its report file.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

PRAVLIN* init_pravlin(PRAVLIN* pv) {
  if (pv == nullptr) {
    // The one silent exit: there is no record to report through, and callers never pass null.
    std::exit(1);
  }
  *pv = PRAVLIN{};
  pv->calc_flag = 1;
  return pv;
}

void open_configuration(PRAVLIN* pv) {
  pv->in = std::fopen(pv->xmlfilename, "r");
  // A directory opens for reading but reads nothing; it is as unreadable as a missing file.
  struct stat st;
  if (pv->in != nullptr && fstat(fileno(pv->in), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(pv->in);
    pv->in = nullptr;
  }
  if (pv->in == nullptr)
    fail(" *** ERROR: Unable to open file (%s)\n", pv->xmlfilename);
}

const char* report_file_name(const PRAVLIN* pv) {
  return pv->slice_outfilename != nullptr ? pv->slice_outfilename : pv->outfilename;
}
