// option_table.cc - the command line read by a program's option table, and the --help text
// and completion words it gives.
// Part of pravlin; see README.md.
#include "option_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fail.h"

static bool is(const char* a, const char* name) {
  return name != nullptr && std::strcmp(a, name) == 0;
}

OPTION_FOUND next_option(const OPTION_TABLE* t, int argc, char** argv, OPTION_PARSE* p) {
  if (p->times.empty()) {
    p->times.assign(static_cast<std::size_t>(t->count), 0);
    p->seen.assign(static_cast<std::size_t>(t->count), nullptr);
  }
  if (p->next >= argc)
    return OPTION_FOUND{OPTION_END, nullptr, nullptr, 0, nullptr};
  const char* a = argv[p->next++];
  if (p->operands_only || a[0] != '-' || a[1] == '\0') {
    p->operands_only = p->operands_only || t->stop_at_operand;
    return OPTION_FOUND{OPTION_OPERAND, a, nullptr, 0, nullptr};
  }
  if (t->double_dash && is(a, "--")) {
    p->operands_only = true;
    return next_option(t, argc, argv, p);
  }
  for (int k = 0; k < t->count; k++) {
    const OPTION& o = t->options[k];
    if (!is(a, o.short_name) && !is(a, o.long_name))
      continue;
    OPTION_FOUND found{k, a, nullptr, ++p->times[k], nullptr};
    if (o.group != nullptr) {
      for (int j = 0; j < t->count; j++) {
        if (j != k && p->seen[j] != nullptr && t->options[j].group != nullptr &&
            std::strcmp(t->options[j].group, o.group) == 0)
          found.excluded = p->seen[j];
      }
    }
    if (p->seen[k] == nullptr)
      p->seen[k] = a;
    if (o.argument != nullptr && p->next < argc)
      found.value = argv[p->next++];
    return found;
  }
  return OPTION_FOUND{OPTION_UNKNOWN, a, nullptr, 0, nullptr};
}

// "-o, --output FILE": the names as an option's line shows them.
static std::string synopsis(const OPTION& o) {
  std::string s = o.short_name != nullptr ? o.short_name : "";
  if (o.long_name != nullptr)
    s += (s.empty() ? "" : ", ") + std::string(o.long_name);
  if (o.argument != nullptr)
    s += std::string(" ") + o.argument;
  return s;
}

std::string option_help(const OPTION_TABLE* t) {
  std::string text = t->head;
  const std::string indent(static_cast<std::size_t>(t->column), ' ');
  for (int k = 0; k < t->count; k++) {
    const OPTION& o = t->options[k];
    if (o.help == nullptr)
      continue;
    std::string line = "  " + synopsis(o);
    // A text too long for the column still stands on the line, two blanks after the names.
    if (o.help[0] != '\n')
      line.resize(std::max(line.size() + 2, indent.size()), ' ');
    for (const char* h = o.help; *h != '\0'; h++) {
      line += *h;
      if (*h == '\n')
        line += indent;
    }
    text += line + "\n";
  }
  return text + t->tail;
}

void print_option_completion(FILE* out, const OPTION_TABLE* t) {
  std::fprintf(out, "first --help -h --version\n");
  std::fprintf(out, "operands %s\n", t->operands != nullptr ? t->operands : "files");
  for (int k = 0; k < t->count; k++) {
    const OPTION& o = t->options[k];
    if (o.help == nullptr)
      continue;
    const char* arg = o.argument;
    const std::size_t n = arg != nullptr ? std::strlen(arg) : 0;
    std::string words = o.choices != nullptr ? o.choices : "";
    if (words.empty() && arg != nullptr && std::strchr(arg, '|') != nullptr) {
      words = arg;
      for (char& c : words)
        c = c == '|' ? ' ' : c;
    }
    const char* kind = arg == nullptr                                   ? "flag"
                       : !words.empty()                                 ? "words"
                       : is(arg, "FILE")                                ? "file"
                       : n > 4 && std::strcmp(arg + n - 4, ".xml") == 0 ? "config"
                                                                        : "plain";
    std::fprintf(out, "%s", kind);
    if (o.short_name != nullptr)
      std::fprintf(out, " %s", o.short_name);
    if (o.long_name != nullptr)
      std::fprintf(out, " %s", o.long_name);
    if (!words.empty())
      std::fprintf(out, " = %s", words.c_str());
    std::fprintf(out, "\n");
  }
}

void answer(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  std::exit(0);
}

void answer_alone(int argc, char** argv, const OPTION_TABLE* t, const char* version) {
  if (argc != 2)
    return;
  if (is(argv[1], "--help") || is(argv[1], "-h"))
    answer(option_help(t));
  if (is(argv[1], "--version"))
    answer(version);
  if (is(argv[1], "--complete-options")) {
    print_option_completion(stdout, t);
    answer("");
  }
}
