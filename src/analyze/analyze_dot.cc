// analyze_dot.cc - the chain as a Graphviz drawing: states by name, transitions by probability,
// each communicating class a cluster (write_dot).
// Part of pravlin; see README.md.
#include "analyze_dot.h"

#include <cstring>
#include <string>

#include "analyze_states.h"
#include "output_file.h"

// Bigger drawings take dot minutes and show nothing but a grey blur.
static const int DOT_MAX_STATES = 200;
static const std::size_t DOT_MAX_TRANSITIONS = 1000;

// Text for a double-quoted DOT string: quotes and backslashes escaped, line breaks kept as
// Graphviz's own, control characters shown as '?', and bytes that are not well-formed UTF-8
// (overlong forms and surrogates among them) as U+FFFD: dot reads UTF-8, and Pango warns of
// the rest.
static std::string dot_text(const char* s) {
  std::string out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  while (*p != 0) {
    const unsigned char ch = *p;
    const int len = utf8_length(p);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      p++;
    } else if (len == 2 && ch == 0xC2 && p[1] < 0xA0) {  // U+0080..U+009F, controls
      out += '?';
      p += 2;
    } else if (len > 1) {
      out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len));
      p += len;
    } else {
      if (ch == '"' || ch == '\\') {
        out += '\\';
        out += static_cast<char>(ch);
      } else if (ch == '\n') {
        out += "\\n";
      } else if (ch < 0x20 || ch == 0x7F) {
        out += '?';
      } else {
        out += static_cast<char>(ch);
      }
      p++;
    }
  }
  return out;
}

static std::string state_label(const PRAVLIN* pv, int s) {
  std::string label = std::to_string(s);
  if (pv->state_name[s] != nullptr) {
    label += ' ';
    label.append(dot_text(pv->state_name[s]));
  }
  return label;
}

static std::string class_label(const CHAIN_CLASSES* cl, int k) {
  const int size = class_size(cl, k);
  std::string label = "class " + std::to_string(k) + ": " +
                      (cl->closed[k] ? (size == 1 ? "absorbing" : "closed") : "transient");
  if (cl->period[k] > 1)
    label += ", period " + std::to_string(cl->period[k]);
  return label;
}

// Attributes of a class, as a list ("a=1, b=2") or as statements in a cluster ("a=1; b=2").
static std::string class_style(const CHAIN_CLASSES* cl, int k, const char* separator) {
  return cl->closed[k] ? std::string("color=\"#1f5fa8\"") + separator + "penwidth=2"
                       : std::string("color=\"#888888\"") + separator + "style=dashed";
}

static void write_states(FILE* f, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                         int precision) {
  for (int k = 1; k <= cl->nbr_classes; k++) {
    std::fprintf(f, "  subgraph cluster_%d {\n    label=\"%s\";\n    %s;\n", k,
                 class_label(cl, k).c_str(), class_style(cl, k, "; ").c_str());
    const bool absorbing = cl->closed[k] && class_size(cl, k) == 1;
    for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++) {
      const int s = cl->member[i];
      std::fprintf(f, "    s%d [label=\"%s\"%s];\n", s, state_label(pv, s).c_str(),
                   absorbing ? ", shape=doublecircle" : "");
    }
    std::fprintf(f, "  }\n");
  }
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      std::fprintf(f, "  s%d -> s%d [label=\"%.*f\"];\n", u, c->to[e], precision, c->p[e]);
    }
  }
}

// One node a class, one edge for all the transitions from one class to another.
static void write_classes(FILE* f, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl) {
  for (int k = 1; k <= cl->nbr_classes; k++) {
    const int size = class_size(cl, k);
    std::fprintf(f, "  c%d [label=\"%s\\n%d state%s\", %s];\n", k, class_label(cl, k).c_str(), size,
                 size == 1 ? "" : "s", class_style(cl, k, ", ").c_str());
  }
  std::vector<int> seen(static_cast<std::size_t>(cl->nbr_classes) + 1, 0);
  for (int k = 1; k <= cl->nbr_classes; k++) {
    for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++) {
      const int u = cl->member[i];
      for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
        const int j = cl->class_of[c->to[e]];
        if (j != k && seen[j] != k) {
          seen[j] = k;
          std::fprintf(f, "  c%d -> c%d;\n", k, j);
        }
      }
    }
  }
}

int write_dot(const char* file, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
              int precision) {
  FILE* f = output_open(file);
  const int whole = c->n <= DOT_MAX_STATES && c->to.size() <= DOT_MAX_TRANSITIONS;
  const int classes = cl->nbr_classes <= DOT_MAX_STATES;
  // Titled after the configuration's file, without its directory.
  const char* name = pv->xmlfilename != nullptr ? pv->xmlfilename : "";
  const char* slash = std::strrchr(name, '/');
  std::fprintf(f, "digraph chain {\n  label=\"%s%s\";\n  labelloc=t;\n  node [shape=circle];\n",
               dot_text(slash != nullptr && slash[1] != '\0' ? slash + 1 : name).c_str(),
               whole     ? ""
               : classes ? ": classes only, too many states or transitions to draw"
                         : ": too many classes to draw");
  if (whole) {
    write_states(f, pv, c, cl, precision);
  } else if (classes) {
    std::fprintf(f, "  node [shape=box];\n");
    write_classes(f, c, cl);
  }
  std::fprintf(f, "}\n");
  output_finish();
  return whole ? 2 : classes ? 1 : 0;
}

void print_dot_line(FILE* out, const char* file, int drawn, const SPARSE_CHAIN* c,
                    const CHAIN_CLASSES* cl) {
  std::fprintf(out, "\ndrawing: %s, ", shown(file).c_str());
  if (drawn == 2) {
    std::fprintf(out, "every state and transition\n");
  } else if (drawn == 1) {
    std::fprintf(out,
                 "the classes only: %d states and %zu transitions are more than a drawing shows "
                 "usefully (at most %d states and %zu transitions)\n",
                 c->n, c->to.size(), DOT_MAX_STATES, DOT_MAX_TRANSITIONS);
  } else {
    std::fprintf(out,
                 "its title only: %d classes are more than a drawing shows usefully (at most "
                 "%d)\n",
                 cl->nbr_classes, DOT_MAX_STATES);
  }
}
