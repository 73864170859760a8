// main.cc - pravlin-fit's driver: command line, reading, estimating, then the
// configuration (standard output or -o FILE) and the fit summary.
// Part of pravlin; see README.md.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "fit.h"
#include "fit_extras.h"
#include "fit_options.h"
#include "fit_read.h"
#include "fit_run.h"
#include "output_file.h"

// The terminal's width, else $COLUMNS, else 80; at least 40.
static int terminal_width(bool terminal) {
  struct winsize ws {};
  long width = 0;
  if (terminal && ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0)
    width = ws.ws_col;
  const char* columns = std::getenv("COLUMNS");
  if (width <= 0 && columns != nullptr)
    width = std::strtol(columns, nullptr, 10);
  if (width <= 0 || width > 10000)
    width = 80;
  return static_cast<int>(std::max(40L, width));
}

// Reads, estimates and writes; every output is checked against the inputs and the other
// output before the input is read, and written only once the fit is complete.
static void fit(const FIT_OPTIONS* opt) {
  const bool from_stdin = opt->input == nullptr || std::strcmp(opt->input, "-") == 0;
  output_note_input(from_stdin ? nullptr : opt->input);
  for (const char* input : opt->inputs) {
    if (std::strcmp(input, "-") != 0)
      output_note_input(input);
  }
  output_declare(opt->output);
  if (opt->summary != nullptr)
    output_declare(opt->summary);
  if (from_stdin && isatty(STDIN_FILENO)) {
    std::fputs(
        " *** NOTE: reading the data from standard input; end it with Ctrl-D at the start "
        "of a line\n",
        stderr);
  }
  FIT_RUN run;
  fit_read(opt, &run.data);
  fit_run(opt, &run);
  const FIT_DATA* fitted = run.fitted;
  const FIT_MODEL* model = &run.model;
  const FIT_EXTRAS* extras = &run.extras;

  FILE* config = output_open(opt->output);
  if (opt->summary != nullptr) {
    FILE* csv = output_open(opt->summary);
    fit_write_summary_csv(csv, opt, fitted, model);
    fit_write_extras_csv(csv, opt, fitted, model, extras);
  }
  fit_write_configuration(config, opt, &run);
  if (opt->output == nullptr && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  output_finish();
  if (opt->summary == nullptr && !opt->quiet) {
    const bool terminal = isatty(STDERR_FILENO) != 0;
    if (opt->table == 1 || (opt->table < 0 && terminal)) {
      fit_write_table(stderr, opt, fitted, model, extras, terminal_width(terminal));
    } else {
      fit_write_summary(stderr, opt, fitted, model);
      fit_write_extras(stderr, opt, fitted, model, extras);
    }
  }
}

// Called by operator new when memory runs out: one line and status 1, as in pravlin and
// pravlin-analyze, never an abort and a core dump. A handler rather than only a catch of
// std::bad_alloc: with the address space nearly full the runtime cannot even allocate the
// exception, and aborts. fail() removes any temporary file.
[[noreturn]] static void out_of_memory() {
  fail(" *** ERROR: out of memory in pravlin-fit\n");
}

int main(int argc, char** argv) {
  std::set_new_handler(out_of_memory);
  answer_alone(argc, argv, &FIT_OPTION_TABLE, FIT_VERSION_TEXT);
  FIT_OPTIONS opt;
  fit_parse_command_line(argc, argv, &opt);
  opt.progress = !opt.quiet && isatty(STDERR_FILENO) != 0;
  try {
    fit(&opt);
  } catch (const std::bad_alloc&) {  // an array size beyond any memory: new[] throws at once
    out_of_memory();
  } catch (const std::length_error&) {  // a size no vector can hold
    out_of_memory();
  }
  return 0;
}
