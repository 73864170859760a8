// analyze_chain.cc - a chain by rows from its transitions, its communicating classes and their
// periods, and the sets of an absorption.
// Part of pravlin; see README.md.
#include "analyze_chain.h"

#include <algorithm>
#include <numeric>

#include "config_write.h"
#include "output_file.h"
#include "scratch.h"

void sparse_chain_from_list(SPARSE_CHAIN* c, int n, const std::vector<TRANSITION_ENTRY>& list) {
  const std::size_t rows = static_cast<std::size_t>(n) + 2;
  c->n = n;
  c->row_start.assign(rows, 0);
  c->to.clear();
  c->p.clear();
  c->to.reserve(list.size());
  c->p.reserve(list.size());
  for (const TRANSITION_ENTRY& e : list) {
    c->to.push_back(e.to);
    c->p.push_back(e.probability);
    c->row_start[static_cast<std::size_t>(e.from) + 1]++;
  }
  for (std::size_t i = 1; i < rows; i++)
    c->row_start[i] += c->row_start[i - 1];
}

void write_chain_configuration(const char* file, const PRAVLIN* pv, const SPARSE_CHAIN* q,
                               const std::vector<std::string>& name, const double* value,
                               const double* initial, const std::string& comment) {
  FILE* out = output_open(file);
  const CONFIG_SETTINGS settings{true,           pv->init_year,     pv->nbr_years,
                                 pv->nbr_chains, pv->print_flag,    pv->print_header,
                                 pv->calc_flag,  pv->max_iteration, pv->max_error};
  config_write_chain(out, &settings, comment, q->n, name, value, initial, q->row_start.data(),
                     q->to.data(), q->p.data());
  output_finish();
}

void sparse_chain_from_matrix(SPARSE_CHAIN* c, double** a, int n) {
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) {
      if (a[i][j] != 0.0)
        list.push_back(TRANSITION_ENTRY{i, j, a[i][j]});
    }
  }
  sparse_chain_from_list(c, n, list);
}

// Tarjan's algorithm with its call stack kept in a vector: a chain of 100,000 states in a line
// would otherwise recurse 100,000 frames deep. Components are numbered in the order found.
static int strong_components(const SPARSE_CHAIN* c, std::vector<int>* component) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<int> index(n + 1, 0), low(n + 1, 0);
  std::vector<char> on_stack(n + 1, 0);
  std::vector<std::size_t> next_edge(n + 1, 0);
  std::vector<int> stack, calls;
  component->assign(n + 1, 0);
  int counter = 0, found = 0;
  for (int s = 1; s <= c->n; s++) {
    if (index[s] != 0)
      continue;
    index[s] = low[s] = ++counter;
    stack.push_back(s);
    on_stack[s] = 1;
    next_edge[s] = c->row_start[s];
    calls.push_back(s);
    while (!calls.empty()) {
      const int v = calls.back();
      if (next_edge[v] < c->row_start[v + 1]) {
        const int w = c->to[next_edge[v]++];
        if (index[w] == 0) {
          index[w] = low[w] = ++counter;
          stack.push_back(w);
          on_stack[w] = 1;
          next_edge[w] = c->row_start[w];
          calls.push_back(w);
        } else if (on_stack[w]) {
          low[v] = std::min(low[v], index[w]);
        }
        continue;
      }
      calls.pop_back();
      if (!calls.empty())
        low[calls.back()] = std::min(low[calls.back()], low[v]);
      if (low[v] == index[v]) {
        found++;
        int w;
        do {
          w = stack.back();
          stack.pop_back();
          on_stack[w] = 0;
          (*component)[w] = found;
        } while (w != v);
      }
    }
  }
  return found;
}

// The period of class k: with breadth-first levels from one state, every transition u -> v
// inside the class closes a cycle whose length differs from a multiple of the period by
// level[u] + 1 - level[v]; their gcd is the period.
static int class_period(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k,
                        std::vector<int>* level, std::vector<int>* queue) {
  const int root = cl->member[cl->first[k]];
  queue->clear();
  queue->push_back(root);
  (*level)[root] = 0;
  int g = 0;
  for (std::size_t head = 0; head < queue->size(); head++) {
    const int u = (*queue)[head];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int v = c->to[e];
      if (cl->class_of[v] != k)
        continue;
      if ((*level)[v] < 0) {
        (*level)[v] = (*level)[u] + 1;
        queue->push_back(v);
      } else {
        g = std::gcd(g, (*level)[u] + 1 - (*level)[v]);
      }
    }
  }
  return g;
}

void find_classes(const SPARSE_CHAIN* c, CHAIN_CLASSES* cl) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<int> component;
  const int found = strong_components(c, &component);

  // Tarjan finds sinks first; a reader expects classes in the order of their states.
  std::vector<int> renumber(static_cast<std::size_t>(found) + 1, 0);
  int k = 0;
  cl->class_of.assign(n + 1, 0);
  for (int s = 1; s <= c->n; s++) {
    if (renumber[component[s]] == 0)
      renumber[component[s]] = ++k;
    cl->class_of[s] = renumber[component[s]];
  }
  cl->nbr_classes = k;

  const std::size_t classes = static_cast<std::size_t>(k);
  cl->first.assign(classes + 2, 0);
  for (int s = 1; s <= c->n; s++)
    cl->first[static_cast<std::size_t>(cl->class_of[s]) + 1]++;
  for (std::size_t i = 1; i < classes + 2; i++)
    cl->first[i] += cl->first[i - 1];
  cl->member.assign(n, 0);
  std::vector<std::size_t> fill(cl->first.begin(), cl->first.end() - 1);
  cl->position.assign(n + 1, 0);
  for (int s = 1; s <= c->n; s++) {
    const int k2 = cl->class_of[s];
    cl->position[s] = static_cast<int>(fill[k2] - cl->first[k2]) + 1;
    cl->member[fill[k2]++] = s;
  }

  cl->closed.assign(classes + 1, 1);
  cl->closed[0] = 0;
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      if (cl->class_of[c->to[e]] != cl->class_of[u])
        cl->closed[cl->class_of[u]] = 0;
    }
  }
  cl->nbr_closed = 0;
  for (int j = 1; j <= k; j++)
    cl->nbr_closed += cl->closed[j];

  cl->period.assign(classes + 1, 0);
  std::vector<int> level(n + 1, -1), queue;
  for (int j = 1; j <= k; j++)
    cl->period[j] = class_period(c, cl, j, &level, &queue);
}

int class_size(const CHAIN_CLASSES* cl, int k) {
  return static_cast<int>(cl->first[k + 1] - cl->first[k]);
}

std::string class_name(const CHAIN_CLASSES* cl, int k) {
  return "class " + std::to_string(k) + (cl->nbr_classes == 1 ? ", the whole chain" : "");
}

int next_closed_class(const CHAIN_CLASSES* cl, int k) {
  for (k++; k <= cl->nbr_classes; k++) {
    if (cl->closed[k] && class_size(cl, k) > 1)
      return k;
  }
  return 0;
}

int squaring_can_converge(const CHAIN_CLASSES* cl) {
  if (cl->nbr_closed != 1)
    return 0;
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k])
      return cl->period[k] == 1;
  }
  return 0;
}

int dense_fits(std::size_t count) {
  return count <= physical_memory() / sizeof(double);
}

void absorption_sets(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab,
                     std::vector<int>* local, std::vector<int>* column) {
  local->assign(static_cast<std::size_t>(c->n) + 1, 0);
  column->assign(static_cast<std::size_t>(cl->nbr_classes) + 1, 0);
  ab->state.assign(1, 0);
  ab->closed_class.assign(1, 0);
  for (int s = 1; s <= c->n; s++) {
    if (cl->closed[cl->class_of[s]])
      continue;
    ab->state.push_back(s);
    (*local)[s] = static_cast<int>(ab->state.size()) - 1;
  }
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    ab->closed_class.push_back(k);
    (*column)[k] = static_cast<int>(ab->closed_class.size()) - 1;
  }
  ab->nbr_transient = static_cast<int>(ab->state.size()) - 1;
  ab->nbr_closed = static_cast<int>(ab->closed_class.size()) - 1;
}
