// pravlin_module.cc - the Python module's compiled half (_pravlin): a chain built from arrays or
// read from a configuration, and the analyses of pravlin-analyze on it, by the same library
// calls. python/pravlin/__init__.py is the face a user sees.
// Part of pravlin; see README.md.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <signal.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "analyze.h"
#include "analyze_committor.h"
#include "analyze_eigen.h"
#include "analyze_entropy.h"
#include "analyze_hitting.h"
#include "analyze_kemeny.h"
#include "analyze_lump.h"
#include "analyze_mixing.h"
#include "analyze_options.h"
#include "analyze_passage.h"
#include "analyze_rewards.h"
#include "analyze_roots.h"
#include "analyze_run.h"
#include "cancel.h"
#include "config.h"
#include "config_items.h"
#include "config_write.h"
#include "draw.h"
#include "fail.h"
#include "fail_mode.h"
#include "fit.h"
#include "fit_draws.h"
#include "fit_options.h"
#include "fit_read.h"
#include "fit_run.h"
#include "periods.h"
#include "simulate.h"
#include "tables.h"

namespace py = pybind11;

// ---- calling the library ---------------------------------------------------------------------

// The library keeps process-wide state (the tables' memory count, fail()'s mode): one call at a
// time, from whichever Python thread.
static std::mutex library;

// The category of every warning the library gives.
static PyObject* warning_category = nullptr;

// A message as the command line writes it, without its " *** ERROR: " or " *** WARNING: " and
// its last line end: Python says what kind it is.
static std::string bare(const std::string& message) {
  std::string s = message;
  for (const char* prefix : {" *** ERROR: ", " *** WARNING: ", "*** ERROR: "}) {
    if (s.compare(0, std::strlen(prefix), prefix) == 0) {
      s.erase(0, std::strlen(prefix));
      break;
    }
  }
  if (!s.empty() && s.back() == '\n')
    s.pop_back();
  return s;
}

static void keep_warning(const char* message, void* data) {
  static_cast<std::vector<std::string>*>(data)->push_back(message);
}

// SIGINT's handler before a call: Python's, which notes the signal for the interpreter.
static struct sigaction python_sigint;

// SIGINT during a call: the library's long loops are asked to stop, and Python's handler runs
// as it would have, so that the interpreter sees the signal once the call returns.
static void on_sigint(int signal, siginfo_t* info, void* context) {
  cancel_request();
  if ((python_sigint.sa_flags & SA_SIGINFO) != 0) {
    python_sigint.sa_sigaction(signal, info, context);
  } else {
    python_sigint.sa_handler(signal);
  }
}

// While one lives, Ctrl-C stops the library's long loops (the call then fails, and raises
// KeyboardInterrupt). A SIGINT that Python ignores or leaves to end the process stays so.
struct StopOnSigint {
  bool installed = false;
  StopOnSigint() {
    cancel_reset();
    if (sigaction(SIGINT, nullptr, &python_sigint) != 0)
      return;
    if ((python_sigint.sa_flags & SA_SIGINFO) == 0 &&
        (python_sigint.sa_handler == SIG_DFL || python_sigint.sa_handler == SIG_IGN))
      return;
    struct sigaction ours = python_sigint;
    ours.sa_flags |= SA_SIGINFO;
    ours.sa_sigaction = on_sigint;
    installed = sigaction(SIGINT, &ours, nullptr) == 0;
  }
  ~StopOnSigint() {
    if (installed)
      sigaction(SIGINT, &python_sigint, nullptr);
  }
  StopOnSigint(const StopOnSigint&) = delete;
  StopOnSigint& operator=(const StopOnSigint&) = delete;
};

// Runs work without the GIL, under fail()'s throwing mode and with Ctrl-C stopping it; then
// issues the warnings it gave, in order, and raises ValueError with the message of its error,
// or MemoryError, or what Python's SIGINT handler raises (KeyboardInterrupt) when it was stopped.
template <typename Work>
static void call(Work work) {
  std::vector<std::string> warnings;
  std::string error;
  bool out_of_memory = false;
  bool stopped = false;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> one_at_a_time(library);
    const FailThrows mode(keep_warning, &warnings);
    const StopOnSigint stop;
    try {
      work();
    } catch (const FailError& e) {
      error = e.what();
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    } catch (const std::length_error&) {  // a size no vector can hold
      out_of_memory = true;
    }
    stopped = cancel_requested();
    cancel_reset();
  }
  // A stopped call's answer, error and warnings are those of work left half done.
  if (stopped) {
    if (PyErr_CheckSignals() != 0)
      throw py::error_already_set();
    PyErr_SetNone(PyExc_KeyboardInterrupt);  // a handler that let it pass, or another thread
    throw py::error_already_set();
  }
  for (const std::string& w : warnings) {
    if (PyErr_WarnEx(warning_category, bare(w).c_str(), 2) != 0)
      throw py::error_already_set();
  }
  if (!error.empty())
    throw py::value_error(bare(error));
  if (out_of_memory)
    throw std::bad_alloc();  // MemoryError
}

// ---- the chain -------------------------------------------------------------------------------

// A chain as the module holds it: what the record of a configuration holds, without its tree,
// and the transitions as pravlin-analyze keeps them. Arrays are 1-based, as the library's.
struct Chain {
  int n = 0;
  std::vector<std::string> name;  // [n + 1]
  std::vector<char> named;        // [n + 1] 0 where the configuration gave no name
  std::vector<double> value;      // [n + 1]
  std::vector<double> initial;    // [n + 1], rescaled to total 1 as pravlin does
  SPARSE_CHAIN chain;
  // The settings of the configuration it was read from; none for a chain made from a matrix,
  // whose configuration then leaves pravlin its defaults.
  bool has_settings = false;
  int init_year = 0, nbr_years = 0, nbr_chains = 0, print_flag = 0, print_header = 0;
  int calc_flag = 0, max_iteration = 0;
  double max_error = 0.0;
  // The steps of each period of a configuration whose matrix changes with the step (none when
  // it does not; no matrices): chain is then the last period's, which the analyses describe, as
  // pravlin-analyze's, and requests.periods the chains of the periods before it.
  CHAIN_PERIODS periods;
  ANALYSIS_REQUESTS requests;
  // The engine's records: the classes and stationary distributions, found at the first
  // analysis that needs them and kept, and the last record of each section asked for.
  ANALYSIS analysis;
  // The configuration pravlin-fit wrote for a fitted chain, which to_xml writes as it is; empty
  // for any other chain.
  std::string written;
  // Comment lines that to_xml adds after its own: a repaired root's mark.
  std::string note;
};

// A record that points into c: for the library calls that take one.
struct RecordView {
  PRAVLIN pv;
  std::vector<char*> names;
};

static void view_record(Chain* c, RecordView* v) {
  init_pravlin(&v->pv);
  v->names.assign(static_cast<std::size_t>(c->n) + 1, nullptr);
  for (int s = 1; s <= c->n; s++) {
    if (c->named[s])
      v->names[s] = c->name[s].data();
  }
  v->pv.nbr_states = c->n;
  v->pv.state_name = v->names.data();
  v->pv.val = c->value.data();
  v->pv.initial_probability = c->initial.data();
}

// Runs pravlin-analyze's engine on c for the sections asked, with the settings of opt, as the
// command line would: the classes and stationary distributions once for the chain
// (SECTION_STATIONARY), the other sections anew each time. Inside call().
static const ANALYSIS* run(Chain* c, unsigned sections, const ANALYZE_OPTIONS& opt,
                           const std::vector<int>& targets = {},
                           const ANALYSIS_REQUESTS& r = ANALYSIS_REQUESTS()) {
  RecordView v;
  view_record(c, &v);
  ANALYSIS* a = &c->analysis;
  a->plan = plan_analysis(&opt);
  a->plan.shown = a->plan.sections = sections;
  a->plan.eigenvalues_named = 0;  // spectrum() checks its count itself
  // The horizon follows the periods, when the chain has them, as for pravlin-analyze.
  if (!c->periods.list.empty())
    v.pv.periods = &c->periods;
  run_plan(&v.pv, &c->chain, &opt, targets, &r, a);
  return a;
}

// The chain of n states with entries (from[e], to[e], p[e]), states from 0; names, values and
// initial probabilities per state (names may be empty: then "1".."n"; initial may be empty:
// then all states alike). The same checks, messages and rescaling as a configuration's.
// periods, when not empty, makes a chain whose matrix changes with the step: (first, last, from,
// to, p) for each period in order, checked as the periods of a configuration; from, to and p
// are then empty.
typedef std::tuple<long long, long long, py::array_t<long long>, py::array_t<long long>,
                   py::array_t<double>>
    PeriodEntries;
static Chain* chain_from_entries(int n, py::array_t<long long> from, py::array_t<long long> to,
                                 py::array_t<double> p, std::vector<std::string> names,
                                 std::vector<double> values, std::vector<double> initial,
                                 std::vector<PeriodEntries> periods) {
  auto* c = new Chain();
  std::unique_ptr<Chain> owned(c);
  // Each matrix's entries: the one matrix's, or each period's with its steps.
  struct Entries {
    long long first, last;
    std::size_t count;
    const long long *f, *t;
    const double* q;
  };
  std::vector<Entries> matrices;
  const auto add = [&](long long first, long long last, const py::array_t<long long>& rows,
                       const py::array_t<long long>& columns, const py::array_t<double>& q) {
    if (rows.size() != q.size() || columns.size() != q.size())
      throw py::value_error("the rows, columns and probabilities of the entries differ in length");
    matrices.push_back(Entries{first, last, static_cast<std::size_t>(q.size()), rows.data(),
                               columns.data(), q.data()});
  };
  if (periods.empty())
    add(0, 0, from, to, p);
  for (const PeriodEntries& k : periods) {
    const long long first = std::get<0>(k), last = std::get<1>(k);
    if (first < 1 || first > 2147483647LL || last < 0 || last > 2147483647LL)
      throw py::value_error("the steps of a period are from 1 to 2147483647");
    add(first, last, std::get<2>(k), std::get<3>(k), std::get<4>(k));
  }
  call([&] {
    if (n < 2)
      fail(" *** ERROR: nbr_states (%d) must be greater than 1\n", n);
    c->n = n;
    const std::size_t slots = static_cast<std::size_t>(n) + 1;
    c->name.assign(slots, std::string());
    c->named.assign(slots, 1);
    c->value.assign(slots, 0.0);
    c->initial.assign(slots, 0.0);
    for (int s = 1; s <= n; s++) {
      c->name[s] = names.empty() ? std::to_string(s) : names[s - 1];
      c->value[s] = values.empty() ? 0.0 : values[s - 1];
    }
    if (initial.empty()) {
      // All states alike, moved by ulps so that they total 1 exactly: nothing to rescale.
      std::vector<double> alike(static_cast<std::size_t>(n), 1.0 / n);
      total_exactly_one(alike.data(), alike.size());
      initial = alike;
    }
    RecordView v;
    view_record(c, &v);
    for (int s = 1; s <= n; s++)
      set_state(&v.pv, s, v.names[s], initial[s - 1], c->value[s]);
    std::vector<std::vector<TRANSITION_ENTRY>> lists(matrices.size());
    long long expected = 1;
    for (std::size_t k = 0; k < matrices.size(); k++) {
      const Entries& m = matrices[k];
      if (!periods.empty()) {
        // The steps as the reader checks a period's.
        const int first = static_cast<int>(m.first), last = static_cast<int>(m.last);
        if (m.first != expected) {
          fail(
              " *** ERROR: PERIOD FIRST (%d) must be %lld: periods follow each other from step "
              "1\n",
              first, expected);
        }
        if (last < first)
          fail(" *** ERROR: PERIOD FIRST (%d) LAST (%d): LAST is < FIRST\n", first, last);
        if (m.count == 0)
          fail(" *** ERROR: PERIOD FIRST (%d) LAST (%d) holds no TRANSITION\n", first, last);
        expected = m.last + 1;
        c->periods.list.push_back(CHAIN_PERIOD{first, last, nullptr, {}});
      }
      std::vector<TRANSITION_ENTRY>& list = lists[k];
      list.reserve(m.count);
      for (std::size_t e = 0; e < m.count; e++) {
        // Numbered from 1 in the messages, as in a configuration.
        const long long a = std::clamp(m.f[e] + 1, 0LL, n + 1LL);
        const long long b = std::clamp(m.t[e] + 1, 0LL, n + 1LL);
        check_transition_source(&v.pv, static_cast<int>(a));
        set_transition(&v.pv, 0, static_cast<int>(a), static_cast<int>(b), m.q[e]);
        list.push_back(TRANSITION_ENTRY{static_cast<int>(a), static_cast<int>(b), m.q[e]});
      }
    }
    // The rows of each period in order, the last one's the chain's.
    const std::size_t before_last = lists.size() - 1;
    c->requests.periods.chain.resize(before_last);
    for (std::size_t k = 0; k < before_last; k++) {
      error_check_transitions(&v.pv, &lists[k]);
      sparse_chain_from_list(&c->requests.periods.chain[k], n, lists[k]);
      c->requests.periods.last.push_back(c->periods.list[k].last);
    }
    error_check_transitions(&v.pv, &lists.back());
    sparse_chain_from_list(&c->chain, n, lists.back());
  });
  return owned.release();
}

// The document and tables of a reading, released however it ends.
struct Reading {
  PRAVLIN pv;
  Reading() {
    init_pravlin(&pv);
  }
  ~Reading() {
    if (pv.in != nullptr)
      std::fclose(pv.in);
    free_tables(&pv);
    if (pv.xml != nullptr)
      free_XMLENTITY(pv.xml);
  }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
};

// Reads the configuration in file into c; inside call().
static void read_xml(Chain* c, const std::string& file) {
  {
    Reading r;
    PRAVLIN& pv = r.pv;
    pv.xmlfilename = const_cast<char*>(file.c_str());
    open_configuration(&pv);
    std::vector<TRANSITION_ENTRY> list;
    read_configuration(&pv, READ_LIST, 0, &list);
    // The periods' rows are checked in the order the configuration gives them, the last one's
    // (list) at the end.
    read_horizon_periods(&pv, &c->requests.periods);
    error_check_transitions(&pv, &list);
    const int n = pv.nbr_states;
    c->n = n;
    const std::size_t slots = static_cast<std::size_t>(n) + 1;
    c->name.assign(slots, std::string());
    c->named.assign(slots, 0);
    for (int s = 1; s <= n; s++) {
      if (pv.state_name[s] != nullptr) {
        c->name[s] = pv.state_name[s];
        c->named[s] = 1;
      }
    }
    c->value.assign(pv.val, pv.val + slots);
    c->initial.assign(pv.initial_probability, pv.initial_probability + slots);
    c->value[0] = c->initial[0] = 0.0;
    c->has_settings = true;
    c->init_year = pv.init_year;
    c->nbr_years = pv.nbr_years;
    c->nbr_chains = pv.nbr_chains;
    c->print_flag = pv.print_flag;
    c->print_header = pv.print_header;
    c->calc_flag = pv.calc_flag;
    c->max_iteration = pv.max_iteration;
    c->max_error = pv.max_error;
    if (pv.periods != nullptr) {
      for (const CHAIN_PERIOD& k : pv.periods->list)
        c->periods.list.push_back(CHAIN_PERIOD{k.first, k.last, nullptr, {}});
    }
    sparse_chain_from_list(&c->chain, n, list);
  }
}

static Chain* chain_from_xml(const std::string& file) {
  auto* c = new Chain();
  std::unique_ptr<Chain> owned(c);
  call([&] { read_xml(c, file); });
  return owned.release();
}

// The chain of period k of c: the last one's is c->chain.
static const SPARSE_CHAIN& period_chain(const Chain* c, std::size_t k) {
  return k < c->requests.periods.chain.size() ? c->requests.periods.chain[k] : c->chain;
}

// The chain as a configuration, to out: its settings, states, and rows (or each period's).
static void write_chain_xml(Chain* c, FILE* out) {
  CONFIG_SETTINGS settings{c->has_settings, c->init_year,     c->nbr_years,
                           c->nbr_chains,   c->print_flag,    c->print_header,
                           c->calc_flag,    c->max_iteration, c->max_error};
  std::vector<std::string> name(static_cast<std::size_t>(c->n) + 1);
  for (int s = 1; s <= c->n; s++) {
    if (c->named[s])
      name[s] = c->name[s];
  }
  const SPARSE_CHAIN& q = c->chain;
  const std::string comment = "  <!-- written by the Python module pravlin -->\n" + c->note;
  if (c->periods.list.empty()) {
    config_write_chain(out, &settings, comment, c->n, name, c->value.data(), c->initial.data(),
                       q.row_start.data(), q.to.data(), q.p.data());
  } else {
    std::vector<CONFIG_PERIOD_ROWS> periods;
    for (std::size_t k = 0; k < c->periods.list.size(); k++) {
      const SPARSE_CHAIN& r = period_chain(c, k);
      periods.push_back(CONFIG_PERIOD_ROWS{c->periods.list[k].first, c->periods.list[k].last,
                                           r.row_start.data(), r.to.data(), r.p.data()});
    }
    config_write_periods(out, &settings, comment, c->n, name, c->value.data(), c->initial.data(),
                         periods);
  }
}

// Writes the chain as a configuration that pravlin reads back to the same numbers: each row's
// entries, and the initial probabilities, moved by ulps where needed to total exactly 1, so that
// pravlin rescales nothing. A fitted chain's is the configuration pravlin-fit wrote, byte for
// byte.
static void write_xml(Chain* c, const std::string& file) {
  for (int s = 1; s <= c->n && c->written.empty(); s++) {
    if (!c->named[s])
      continue;
    const std::string& name = c->name[s];
    if (fit_not_xml(name) != std::string::npos || name.find('<') != std::string::npos ||
        name.find("]]>") != std::string::npos) {
      throw py::value_error("the name (" + name + ") of state " + std::to_string(s - 1) +
                            " holds characters that a configuration cannot hold");
    }
    const auto space = [](char x) { return x == ' ' || (x >= '\t' && x <= '\r'); };
    if (name.empty() || space(name.front()) || space(name.back())) {
      throw py::value_error("the name (" + name + ") of state " + std::to_string(s - 1) +
                            " is empty or begins or ends with white space, which pravlin would "
                            "drop");
    }
  }
  FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, file.c_str());
    throw py::error_already_set();
  }
  if (!c->written.empty())
    std::fwrite(c->written.data(), 1, c->written.size(), out);
  else
    write_chain_xml(c, out);
  const bool failed = std::ferror(out) != 0;
  errno = 0;
  if (std::fclose(out) != 0 || failed) {
    if (errno == 0)
      errno = EIO;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, file.c_str());
    throw py::error_already_set();
  }
}

// ---- arrays out ------------------------------------------------------------------------------

// x[first..last] as a new array of its own.
template <typename T>
static py::array_t<T> copied(const T* x, std::size_t count) {
  py::array_t<T> a(static_cast<py::ssize_t>(count));
  if (count > 0)
    std::memcpy(a.mutable_data(), x, count * sizeof(T));
  return a;
}

// States of the library (1..n) as the module numbers them (from 0).
static py::array_t<long long> states_from_zero(const int* s, std::size_t count) {
  py::array_t<long long> a(static_cast<py::ssize_t>(count));
  long long* d = a.mutable_data();
  for (std::size_t i = 0; i < count; i++)
    d[i] = s[i] - 1;
  return a;
}

// A number that the command line prints as null, as NaN.
static double or_nan(bool known, double v) {
  return known ? v : std::nan("");
}

static py::dict classes_of(Chain* c) {
  call([&] { run(c, SECTION_STATIONARY, analyze_defaults()); });
  const CHAIN_CLASSES& cl = c->analysis.classes;
  py::list members;
  std::vector<char> closed;
  std::vector<long long> period;
  for (int k = 1; k <= cl.nbr_classes; k++) {
    members.append(states_from_zero(cl.member.data() + cl.first[k], cl.first[k + 1] - cl.first[k]));
    closed.push_back(cl.closed[k] != 0);
    period.push_back(cl.period[k]);
  }
  py::dict d;
  d["classes"] = members;
  py::array_t<bool> closed_array(static_cast<py::ssize_t>(closed.size()));
  for (std::size_t k = 0; k < closed.size(); k++)
    closed_array.mutable_data()[k] = closed[k] != 0;
  d["closed"] = closed_array;
  d["period"] = copied(period.data(), period.size());
  return d;
}

static py::dict stationary_of(Chain* c) {
  call([&] { run(c, SECTION_STATIONARY, analyze_defaults()); });
  const ANALYSIS& a = c->analysis;
  const CHAIN_CLASSES& cl = a.classes;
  const std::size_t n = static_cast<std::size_t>(c->n);
  py::array_t<double> rows({static_cast<py::ssize_t>(cl.nbr_closed), static_cast<py::ssize_t>(n)});
  double* r = rows.mutable_data();
  std::fill(r, r + static_cast<std::size_t>(cl.nbr_closed) * n, 0.0);
  py::list methods;
  std::vector<long long> numbers;
  std::vector<double> residuals;
  std::size_t row = 0;
  for (int k = 1; k <= cl.nbr_classes; k++) {
    if (!cl.closed[k])
      continue;
    for (std::size_t i = cl.first[k]; i < cl.first[k + 1]; i++) {
      const int s = cl.member[i];
      r[row * n + static_cast<std::size_t>(s - 1)] = a.pi[s];
    }
    numbers.push_back(k - 1);
    methods.append(a.stationary[k].method);
    residuals.push_back(or_nan(a.stationary[k].sparse != 0, a.stationary[k].residual));
    row++;
  }
  py::dict d;
  d["distribution"] = rows;
  d["classes"] = copied(numbers.data(), numbers.size());
  d["method"] = methods;
  d["residual"] = copied(residuals.data(), residuals.size());
  return d;
}

static py::dict absorption_of(Chain* c) {
  call([&] { run(c, SECTION_STATIONARY | SECTION_ABSORPTION, analyze_defaults()); });
  const ABSORPTION& ab = c->analysis.absorption;
  py::dict d;
  const std::size_t t = static_cast<std::size_t>(ab.nbr_transient);
  const std::size_t k = static_cast<std::size_t>(ab.nbr_closed);
  d["transient"] = states_from_zero(t > 0 ? ab.state.data() + 1 : nullptr, t);
  std::vector<long long> closed;
  for (std::size_t j = 1; j <= k; j++)
    closed.push_back(ab.closed_class[j] - 1);
  d["closed_classes"] = copied(closed.data(), closed.size());
  d["steps"] = copied(t > 0 ? ab.steps.data() + 1 : nullptr, t);
  py::array_t<double> p({static_cast<py::ssize_t>(t), static_cast<py::ssize_t>(k)});
  for (std::size_t i = 1; i <= t; i++) {
    for (std::size_t j = 1; j <= k; j++)
      p.mutable_data()[(i - 1) * k + (j - 1)] = ab.probability[i * (k + 1) + j];
  }
  d["probability"] = p;
  d["method"] = t > 0 ? py::object(py::str(ab.how.method)) : py::object(py::none());
  d["residual"] = or_nan(t > 0 && ab.how.sparse != 0, ab.how.residual);
  return d;
}

static py::array_t<double> distribution_of(Chain* c, long steps) {
  if (steps < 0)
    throw py::value_error("steps must not be negative");
  ANALYZE_OPTIONS opt = analyze_defaults();
  opt.steps = steps;
  call([&] { run(c, SECTION_STEPS, opt); });
  return copied(c->analysis.after.data() + 1, static_cast<std::size_t>(c->n));
}

// The states of a set given from 0, as the library numbers them; out of range refused.
static std::vector<int> states_of(const Chain* c, const std::vector<long long>& given) {
  std::vector<int> t;
  for (long long s : given) {
    if (s < 0 || s >= c->n) {
      throw py::value_error("no state " + std::to_string(s) + ": states are 0 to " +
                            std::to_string(c->n - 1));
    }
    t.push_back(static_cast<int>(s) + 1);
  }
  return t;
}

static py::dict hitting_of(Chain* c, std::vector<long long> targets) {
  const std::vector<int> t = states_of(c, targets);
  if (t.empty())
    throw py::value_error("hitting needs at least one target state");
  call([&] { run(c, SECTION_STATIONARY | SECTION_HITTING, analyze_defaults(), t); });
  const HITTING& h = c->analysis.hitting;
  const std::size_t n = static_cast<std::size_t>(c->n);
  py::dict d;
  d["probability"] = copied(h.probability.data() + 1, n);
  d["steps"] = copied(h.steps.data() + 1, n);
  d["probability_residual"] = h.probability_residual;
  d["steps_residual"] = h.steps_residual;
  d["trusted"] = h.trusted != 0;
  d["return_time"] = or_nan(h.return_time >= 0.0, h.return_time);
  return d;
}

static py::dict committor_of(Chain* c, std::vector<long long> a, std::vector<long long> b) {
  ANALYSIS_REQUESTS r;
  COMMITTOR_SETS& sets = r.committor;
  sets.a = states_of(c, a);
  sets.b = states_of(c, b);
  call([&] {
    // The checks of --committor's sets, with its messages.
    if (sets.a.empty() || sets.b.empty())
      fail(" *** ERROR: --committor: set %s is empty\n", sets.a.empty() ? "A" : "B");
    for (int s : sets.a) {
      for (int t : sets.b) {
        if (s == t)
          fail(" *** ERROR: --committor: state #%d is in both A and B\n", s);
      }
    }
    run(c, SECTION_COMMITTOR, analyze_defaults(), {}, r);
  });
  const COMMITTOR& q = c->analysis.committor;
  py::dict d;
  d["probability"] = copied(q.probability.data() + 1, static_cast<std::size_t>(c->n));
  d["method"] =
      q.how.method != nullptr ? py::object(py::str(q.how.method)) : py::object(py::none());
  d["residual"] = or_nan(q.how.sparse != 0, q.how.residual);
  d["solved"] = q.nbr_solved;
  return d;
}

static py::list entropy_of(Chain* c) {
  call([&] { run(c, SECTION_STATIONARY | SECTION_ENTROPY, analyze_defaults()); });
  const std::vector<CLASS_ENTROPY>& e = c->analysis.entropy;
  py::list out;
  for (const CLASS_ENTROPY& x : e) {
    py::dict d;
    d["klass"] = x.klass - 1;
    d["nats"] = x.nats;
    d["bits"] = x.bits;
    d["violation"] = x.violation;
    d["pair"] =
        x.from != 0 ? py::object(py::make_tuple(x.from - 1, x.to - 1)) : py::object(py::none());
    d["reversible"] = x.reversible != 0;
    out.append(d);
  }
  return out;
}

static py::list kemeny_of(Chain* c) {
  ANALYZE_OPTIONS opt = analyze_defaults();
  opt.kemeny = 1;
  call([&] { run(c, SECTION_STATIONARY | SECTION_KEMENY, opt); });
  const std::vector<CLASS_KEMENY>& all = c->analysis.kemeny;
  py::list out;
  for (const CLASS_KEMENY& km : all) {
    py::dict d;
    d["klass"] = km.k - 1;
    d["states"] = km.m;
    d["exact"] = km.exact != 0;
    d["constant"] = km.value;
    d["low"] = km.low;
    d["high"] = km.high;
    d["probes"] = km.probes;
    d["residual"] = or_nan(km.exact == 0, km.residual);
    d["method"] = km.method;
    d["refused"] = km.refused != nullptr ? py::object(py::str(km.refused)) : py::object(py::none());
    out.append(d);
  }
  return out;
}

static py::list spectrum_of(Chain* c, int count) {
  if (count < 1)
    throw py::value_error("spectrum needs a number of eigenvalues from 1");
  ANALYZE_OPTIONS opt = analyze_defaults();
  opt.eigen = count;
  call([&] {
    const CHAIN_CLASSES* cl = &run(c, SECTION_STATIONARY, opt)->classes;
    const int largest = largest_closed_class(cl);
    // As --spectral: no class to ask about (single states only) is no error.
    if (count > largest && next_closed_class(cl, 0) != 0) {
      fail(
          " *** ERROR: --eigen %d asks for more eigenvalues than the largest closed class has "
          "(%d)\n",
          count, largest);
    }
    run(c, SECTION_STATIONARY | SECTION_SPECTRUM, opt);
  });
  const std::vector<CLASS_SPECTRUM>& all = c->analysis.spectra;
  py::list out;
  for (const CLASS_SPECTRUM& sp : all) {
    py::dict d;
    d["klass"] = sp.k - 1;
    d["states"] = sp.m;
    d["reversible"] = sp.reversible != 0;
    d["method"] = sp.method;
    d["found"] = sp.found != 0;
    d["not_found_because"] = sp.found ? py::object(py::none()) : py::object(py::str(sp.why));
    d["gap_resolved"] = sp.found != 0 && sp.gap_unresolved == 0;
    d["slem"] = or_nan(sp.found != 0, sp.slem);
    d["spectral_gap"] = or_nan(sp.found != 0, sp.gap);
    d["relaxation_time"] = or_nan(sp.found != 0, relaxation_time(&sp));
    py::array_t<std::complex<double>> values(static_cast<py::ssize_t>(sp.largest.size()));
    std::vector<double> modulus, timescale;
    for (std::size_t i = 0; i < sp.largest.size(); i++) {
      values.mutable_data()[i] = std::complex<double>(sp.largest[i].re, sp.largest[i].im);
      modulus.push_back(sp.largest[i].modulus);
      timescale.push_back(implied_timescale(&sp.largest[i]));
    }
    d["eigenvalues"] = values;
    d["modulus"] = copied(modulus.data(), modulus.size());
    d["timescale"] = copied(timescale.data(), timescale.size());
    out.append(d);
  }
  return out;
}

static py::list mixing_of(Chain* c, double epsilon) {
  if (!(epsilon > 0.0 && epsilon < 1.0))
    throw py::value_error("mixing_time needs a distance above 0 and below 1");
  ANALYZE_OPTIONS opt = analyze_defaults();
  opt.mixing = epsilon;
  call([&] { run(c, SECTION_STATIONARY | SECTION_MIXING, opt); });
  const std::vector<CLASS_MIXING>& all = c->analysis.mixing;
  py::list out;
  for (const CLASS_MIXING& mx : all) {
    const bool bounds = !mx.exact && !mx.never;
    py::dict d;
    d["klass"] = mx.k - 1;
    d["states"] = mx.m;
    d["epsilon"] = epsilon;
    d["never"] = mx.never != 0;
    d["exact"] = mx.exact != 0;
    d["time"] = mx.exact ? py::object(py::int_(mx.time)) : py::object(py::none());
    d["distance_before"] = or_nan(mx.exact != 0, mx.distance_before);
    d["distance_at"] = or_nan(mx.exact != 0, mx.distance_at);
    d["bounds_because"] = bounds ? py::object(py::str(mx.inexact)) : py::object(py::none());
    d["lower_bound"] = bounds ? py::object(py::int_(mx.lowest)) : py::object(py::none());
    d["upper_bound"] =
        bounds && mx.highest >= 0 ? py::object(py::int_(mx.highest)) : py::object(py::none());
    out.append(d);
  }
  return out;
}

// The first passage into the targets from the initial probabilities: P(T = n) for n = 1..steps
// and P(T > steps), as --passage with --target.
static py::dict passage_of(Chain* c, std::vector<long long> targets, long steps) {
  const std::vector<int> t = states_of(c, targets);
  if (t.empty())
    throw py::value_error("passage needs at least one target state");
  call([&] {
    if (steps < 1 || steps > PASSAGE_MAX_STEPS) {
      fail(" *** ERROR: --passage needs a number of steps from 1 to %ld, not (%ld)\n",
           PASSAGE_MAX_STEPS, steps);
    }
    ANALYZE_OPTIONS opt = analyze_defaults();
    opt.passage = steps;
    run(c, SECTION_PASSAGE, opt, t);
  });
  const FIRST_PASSAGE& f = c->analysis.passage;
  py::dict d;
  d["probability"] = copied(f.probability.data() + 1, f.probability.size() - 1);
  d["beyond"] = f.beyond;
  return d;
}

static py::object method_of(const SOLVE_RESULT& how) {
  return how.method != nullptr ? py::object(py::str(how.method)) : py::object(py::none());
}

// The rewards of the states' values: the long-run average of each closed class, the expected
// value after steps steps (steps < 0: not asked), the expected total before absorption from each
// transient state and before the targets (empty: not asked), as pravlin-analyze gives them
// with --steps and --target.
static py::dict rewards_of(Chain* c, long steps, std::vector<long long> targets) {
  const std::vector<int> t = states_of(c, targets);
  ANALYZE_OPTIONS opt = analyze_defaults();
  opt.steps = steps;
  const unsigned with_steps = steps >= 0 ? static_cast<unsigned>(SECTION_STEPS) : 0u;
  call([&] { run(c, SECTION_STATIONARY | SECTION_REWARDS | with_steps, opt, t); });
  const REWARDS& w = c->analysis.rewards;
  const std::size_t n = static_cast<std::size_t>(c->n);
  py::dict d;
  std::vector<long long> klass(w.klass.begin(), w.klass.end());
  for (long long& k : klass)
    k--;
  d["classes"] = copied(klass.data(), klass.size());
  d["long_run"] = copied(w.average.data(), w.average.size());
  d["after_steps"] = or_nan(steps >= 0, w.after_steps);
  d["transient"] = states_from_zero(w.transient.data(), w.transient.size());
  d["before_absorption"] = copied(w.before_absorption.data(), w.before_absorption.size());
  const bool absorbing = !w.transient.empty();
  d["absorption_method"] = absorbing ? method_of(w.absorption_how) : py::object(py::none());
  d["absorption_residual"] =
      or_nan(absorbing && w.absorption_how.sparse != 0, w.absorption_how.residual);
  const bool targeted = !w.targets.empty();
  d["before_target"] = targeted ? py::object(copied(w.before_target.data() + 1, n))
                                : py::object(py::array_t<double>(0));
  d["target_method"] = targeted ? method_of(w.target_how) : py::object(py::none());
  d["target_residual"] = or_nan(targeted && w.target_how.sparse != 0, w.target_how.residual);
  return d;
}

// The path from the initial probabilities over steps 0..steps, as --horizon with --discount
// (rate; NaN: none) and --cycle-correction: the distribution and the steps spent in each state
// at every step, the expected value and its corrected, discounted total, and the probability of
// having been absorbed in each absorbing state.
static py::dict horizon_of(Chain* c, long steps, double rate, const std::string& correction) {
  ANALYZE_OPTIONS opt = analyze_defaults();
  opt.json = 1;  // every step kept, as the JSON document keeps them
  call([&] {
    if (steps < 0 || steps > HORIZON_MAX_STEPS) {
      fail(" *** ERROR: --horizon needs a number of steps from 0 to %ld, not (%ld)\n",
           HORIZON_MAX_STEPS, steps);
    }
    opt.horizon = steps;
    if (!std::isnan(rate)) {
      if (!std::isfinite(rate) || !(rate > -1.0))
        fail(" *** ERROR: --discount needs a rate per step above -1, not (%g)\n", rate);
      opt.discounted = 1;
      opt.discount = rate;
    }
    opt.correction = parse_correction(correction.c_str());
    if (opt.correction < 0) {
      fail(" *** ERROR: --cycle-correction needs none, half, trapezoid or simpson, not (%s)\n",
           correction.c_str());
    }
    run(c, SECTION_HORIZON, opt, {}, c->requests);
  });
  const HORIZON& h = c->analysis.horizon;
  const std::size_t n = static_cast<std::size_t>(c->n);
  const std::size_t rows = h.rows;
  // Per-state tables without the library's column 0.
  auto table = [&](const std::vector<double>& x) {
    py::array_t<double> t({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(n)});
    for (std::size_t r = 0; r < rows; r++) {
      std::memcpy(t.mutable_data() + r * n, x.data() + r * (n + 1) + 1, n * sizeof(double));
    }
    return t;
  };
  py::dict d;
  d["steps"] = steps;
  d["distribution"] = table(h.distribution);
  d["spent"] = table(h.spent);
  d["value"] = copied(h.value.data(), h.value.size());
  d["factor"] = copied(h.factor.data(), h.factor.size());
  d["total"] = copied(h.total.data(), h.total.size());
  d["absorbing"] = states_from_zero(h.absorbing.data(), h.absorbing.size());
  const std::size_t k = h.absorbing.size();
  py::array_t<double> absorbed(
      {static_cast<py::ssize_t>(h.value.size()), static_cast<py::ssize_t>(k)});
  if (k > 0)
    std::memcpy(absorbed.mutable_data(), h.absorbed.data(), h.absorbed.size() * sizeof(double));
  d["absorbed"] = absorbed;
  d["correction"] = correction_name(opt.correction);
  return d;
}

// The chain lumped by "value" (the states of equal value together), "coarsest" (the coarsest
// lumpable partition that refines the values) or a file of lines "STATE BLOCK", as --lump.
static py::dict lump_of(Chain* c, const std::string& how, double tolerance) {
  LUMPED_CHAIN l;
  auto* lumped = new Chain();
  std::unique_ptr<Chain> owned(lumped);
  call([&] {
    if (how.empty()) {
      fail(
          " *** ERROR: --lump needs value, coarsest or the name of a file of states and "
          "blocks\n");
    }
    if (!(tolerance >= 0.0 && tolerance <= 1.0))
      fail(" *** ERROR: --lump-tolerance needs a number from 0 to 1, not (%g)\n", tolerance);
    ANALYZE_OPTIONS opt = analyze_defaults();
    opt.lump = how.c_str();
    opt.lump_tolerance = tolerance;
    RecordView v;
    view_record(c, &v);
    ANALYSIS_REQUESTS r;
    read_requests(&v.pv, &opt, &r);
    l = run(c, SECTION_LUMPING, opt, {}, r)->lump;
    // The lumped chain as a chain of its own: blocks named by the file, else by number.
    const int k = l.chain.n;
    lumped->n = k;
    lumped->name.assign(static_cast<std::size_t>(k) + 1, std::string());
    lumped->named.assign(static_cast<std::size_t>(k) + 1, 1);
    for (int b = 1; b <= k; b++)
      lumped->name[b] = l.part.by == LUMP_FILE ? l.part.name[b] : std::to_string(b);
    lumped->named[0] = 0;
    lumped->value = l.value;
    lumped->initial = l.initial;
    lumped->value[0] = lumped->initial[0] = 0.0;
    lumped->chain = l.chain;
  });
  py::dict d;
  static const char* const BY[] = {"none", "value", "file", "coarsest"};
  d["by"] = BY[l.part.by];
  d["tolerance"] = l.tolerance;
  d["lumpable"] = l.lumpable != 0;
  d["violation"] = l.violation;
  d["between"] =
      l.from != 0 ? py::object(py::make_tuple(l.from - 1, l.into - 1)) : py::object(py::none());
  py::list blocks;
  const int k = l.chain.n;
  for (int b = 1; b <= k; b++)
    blocks.append(states_from_zero(l.member.data() + l.first[b], l.first[b + 1] - l.first[b]));
  d["blocks"] = blocks;
  d["chain"] = py::cast(owned.release(), py::return_value_policy::take_ownership);
  return d;
}

// The chain of another period, as pravlin-analyze's words (--root K [--repair R], --power K)
// ask, read by its own command-line parser: the chain that its -o writes, with the chain's
// states, values, initial probabilities and settings; a repaired root warns so, as the file
// written is marked. A chain with periods converts its last period's matrix, as pravlin-analyze
// does.
static Chain* convert_of(Chain* c, const std::vector<std::string>& words) {
  auto* converted = new Chain();
  std::unique_ptr<Chain> owned(converted);
  call([&] {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("pravlin-analyze"));
    for (const std::string& w : words)
      argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(const_cast<char*>("(the chain)"));  // the configuration it would read
    argv.push_back(nullptr);
    ANALYZE_OPTIONS opt;
    parse_analyze_command_line(static_cast<int>(argv.size()) - 1, argv.data(), &opt);
    const PERIOD_CONVERSION* pc = &run(c, SECTION_CONVERSION, opt)->conversion;
    if (!pc->converted)
      fail(" *** ERROR: %s\n", conversion_refusal(pc).c_str());
    if (pc->repaired)
      warn(" *** WARNING: %s\n", conversion_mark(pc).c_str());
    converted->n = c->n;
    converted->name = c->name;
    converted->named = c->named;
    converted->value = c->value;
    converted->initial = c->initial;
    converted->has_settings = c->has_settings;
    converted->init_year = c->init_year;
    converted->nbr_years = c->nbr_years;
    converted->nbr_chains = c->nbr_chains;
    converted->print_flag = c->print_flag;
    converted->print_header = c->print_header;
    converted->calc_flag = c->calc_flag;
    converted->max_iteration = c->max_iteration;
    converted->max_error = c->max_error;
    conversion_chain(pc, &converted->chain);
    // Marked as the file of -o is: a chain near the root, not the root.
    if (pc->repaired)
      converted->note = "  <!-- " + conversion_mark(pc) + " -->\n";
  });
  return owned.release();
}

// ---- fitting ---------------------------------------------------------------------------------

// A fit kept for its posterior draws: the options it was made with (pravlin-fit's command line),
// its model and the labels of its states.
struct Fitted {
  std::vector<std::string> words;
  FIT_DATA data;  // the fitted data's name and labels only
  FIT_MODEL model;
};

// Reads words as pravlin-fit reads its command line (without inputs), with its checks and its
// messages. The options point into words, which must outlive them.
static void read_words(const std::vector<std::string>& words, FIT_OPTIONS* opt) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("pravlin-fit"));
  for (const std::string& w : words)
    argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  fit_parse_command_line(static_cast<int>(argv.size()) - 1, argv.data(), opt);
  opt->quiet = 1;
}

// The configuration that write gives (pravlin-fit's, written to the FILE* it is handed), read
// back into chain, which keeps it for to_xml, through a file of its own that is gone however
// this ends.
template <typename Write>
static void read_back(Write write, Chain* chain) {
  char* bytes = nullptr;
  std::size_t size = 0;
  FILE* memory = open_memstream(&bytes, &size);
  if (memory == nullptr)
    throw std::bad_alloc();
  // The stream and its buffer are released however the writing ends, a refusal included.
  struct Stream {
    FILE* file;
    char** bytes;
    ~Stream() {
      if (file != nullptr)
        std::fclose(file);
      std::free(*bytes);
    }
  } stream{memory, &bytes};
  write(memory);
  stream.file = nullptr;
  const bool unwritten = std::fclose(memory) != 0;
  chain->written.assign(bytes != nullptr ? bytes : "", bytes != nullptr ? size : 0);
  if (unwritten)
    throw std::bad_alloc();
  std::string file = (std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp");
  file += "/pravlin-fit-XXXXXX";
  const int fd = mkstemp(file.data());
  if (fd < 0)
    fail(" *** ERROR: Unable to write file (%s)\n", file.c_str());
  struct Gone {
    std::string name;
    ~Gone() {
      std::remove(name.c_str());
    }
  } gone{file};
  FILE* out = fdopen(fd, "w");
  if (out == nullptr) {
    close(fd);
    fail(" *** ERROR: Unable to write file (%s)\n", file.c_str());
  }
  std::fwrite(chain->written.data(), 1, chain->written.size(), out);
  const bool failed = std::ferror(out) != 0;
  if (std::fclose(out) != 0 || failed)
    fail(" *** ERROR: Unable to write file (%s)\n", file.c_str());
  read_xml(chain, file);
}

static py::tuple test_of(const FIT_TEST& t) {
  return py::make_tuple(t.statistic, t.df, t.p_value);
}

// One fitted model: its states' labels, the counts and the cells of its rows (every cell with a
// count or set apart; each row's rest), the initial probabilities and the criteria.
static py::dict model_of(const FIT_DATA* data, const FIT_MODEL* model) {
  const std::size_t k = model->rows.size();
  py::list labels;
  for (std::size_t s = 0; s < k; s++)
    labels.append(py::str(data->labels.names[model->order[s]]));
  std::vector<long long> from, to;
  std::vector<unsigned long long> count, total;
  std::vector<double> p, lower, upper, rest, rest_lower, rest_upper;
  static const char* const ROW_KIND[] = {"observed", "absorbing", "uniform", "given"};
  py::list kinds;
  for (std::size_t s = 0; s < k; s++) {
    const FIT_ROW& row = model->rows[s];
    total.push_back(row.total);
    kinds.append(ROW_KIND[row.kind]);
    rest.push_back(row.rest);
    rest_lower.push_back(row.rest_lower);
    rest_upper.push_back(row.rest_upper);
    for (const FIT_CELL& cell : row.cells) {
      from.push_back(static_cast<long long>(s));
      to.push_back(cell.to);
      count.push_back(cell.count);
      p.push_back(cell.probability);
      lower.push_back(cell.lower);
      upper.push_back(cell.upper);
    }
  }
  py::dict d;
  d["states"] = labels;
  d["sequences"] = data->nbr_sequences;
  d["transitions"] = data->nbr_transitions;
  d["missing_cells"] = data->nbr_breaks;
  d["has_counts"] = model->has_counts != 0;
  d["cell_from"] = copied(from.data(), from.size());
  d["cell_to"] = copied(to.data(), to.size());
  d["cell_count"] = copied(count.data(), count.size());
  d["cell_probability"] = copied(p.data(), p.size());
  d["cell_lower"] = copied(lower.data(), lower.size());
  d["cell_upper"] = copied(upper.data(), upper.size());
  d["row_total"] = copied(total.data(), total.size());
  d["row_kind"] = kinds;
  d["rest"] = copied(rest.data(), rest.size());
  d["rest_lower"] = copied(rest_lower.data(), rest_lower.size());
  d["rest_upper"] = copied(rest_upper.data(), rest_upper.size());
  d["initial"] = copied(model->initial.data(), model->initial.size());
  d["log_likelihood"] = model->log_likelihood;
  d["parameters"] = model->parameters;
  d["aic"] = model->aic;
  d["bic"] = model->bic;
  return d;
}

// The comparison of orders 0..K: a row of each per order, the tests of each against the next.
static py::dict orders_of(const FIT_ORDER_CHOICE& c) {
  std::vector<double> ll, parameters, aic, bic, statistic, p_value;
  std::vector<long long> df;
  for (std::size_t r = 0; r < c.rows.size(); r++) {
    const FIT_ORDER_ROW& row = c.rows[r];
    ll.push_back(row.log_likelihood);
    parameters.push_back(row.parameters);
    aic.push_back(row.aic);
    bic.push_back(row.bic);
    if (r + 1 < c.rows.size()) {
      statistic.push_back(row.against_next.statistic);
      df.push_back(row.against_next.df);
      p_value.push_back(row.against_next.p_value);
    }
  }
  py::dict d;
  d["observations"] = c.observations;
  d["log_likelihood"] = copied(ll.data(), ll.size());
  d["parameters"] = copied(parameters.data(), parameters.size());
  d["aic"] = copied(aic.data(), aic.size());
  d["bic"] = copied(bic.data(), bic.size());
  d["statistic"] = copied(statistic.data(), statistic.size());
  d["df"] = copied(df.data(), df.size());
  d["p_value"] = copied(p_value.data(), p_value.size());
  d["bic_order"] = c.bic_order;
  d["aic_order"] = c.aic_order;
  return d;
}

// What pravlin-fit estimates from texts in one form ("sequences", "long", "matrix"), each named
// by names (several texts: each a group with --groups, as several files are), with the options
// words (its command line without inputs) and the states numbered first: the model, the model
// checks of --test, each group's fit and the test that they agree, the comparison of orders of
// --select-order, and the chains of the configurations pravlin-fit writes for the model and
// for each group, read back. The K-th order chain of --order is fitted, as pravlin-fit fits it,
// as the first-order chain of the K-tuples.
static py::dict fit_of(const std::vector<std::string>& texts, const std::vector<std::string>& names,
                       const std::string& form, const std::vector<std::string>& words,
                       std::vector<std::string> states) {
  auto kept = std::make_unique<Fitted>();
  kept->words = words;
  FIT_OPTIONS opt;
  FIT_RUN run;
  auto chain = std::make_unique<Chain>();
  std::vector<std::unique_ptr<Chain>> group_chains;
  call([&] {
    read_words(kept->words, &opt);
    // The form is known, not detected, but for files ("auto"); states are whole labels, commas
    // and all.
    if (form != "auto")
      opt.form = form == "sequences" ? FORM_SEQUENCES : form == "long" ? FORM_LONG : FORM_MATRIX;
    opt.states = std::move(states);
    fit_read_texts(&opt, std::vector<std::string_view>(texts.begin(), texts.end()), names,
                   &run.data);
    fit_run(&opt, &run);
    read_back([&](FILE* out) { fit_write_configuration(out, &opt, &run); }, chain.get());
    for (const FIT_GROUP& g : run.extras.groups) {
      group_chains.push_back(std::make_unique<Chain>());
      read_back([&](FILE* out) { fit_write_config(out, &opt, &g.data, &g.model); },
                group_chains.back().get());
    }
  });
  const FIT_DATA* fitted = run.fitted;
  const FIT_EXTRAS& extras = run.extras;
  py::dict d = model_of(fitted, &run.model);
  d["form"] = fit_form_name(run.data.form);
  d["order"] = opt.order;
  if (opt.test_flag && !run.data.matrix_flag) {
    d["markov"] = test_of(run.model.markov);
    d["homogeneity"] = test_of(run.model.homogeneity);
  }
  py::list groups;
  for (std::size_t g = 0; g < extras.groups.size(); g++) {
    py::dict one = model_of(&extras.groups[g].data, &extras.groups[g].model);
    one["name"] = extras.groups[g].name;
    one["chain"] = py::cast(group_chains[g].release(), py::return_value_policy::take_ownership);
    groups.append(one);
  }
  d["groups"] = groups;
  d["group_word"] = extras.group_word;
  d["init_year"] = run.data.init_year_flag ? py::object(py::int_(run.data.init_year)) : py::none();
  d["years"] = run.model.nbr_years;
  d["chains"] = run.model.nbr_chains;
  if (extras.group_test_flag)
    d["group_test"] = test_of(extras.group_test);
  if (extras.order_choice_flag)
    d["orders"] = orders_of(extras.order_choice);
  d["chain"] = py::cast(chain.release(), py::return_value_policy::take_ownership);
  kept->data.name = fitted->name;
  kept->data.labels = fitted->labels;
  kept->model = std::move(run.model);
  d["fitted"] = py::cast(kept.release(), py::return_value_policy::take_ownership);
  return d;
}

// pravlin-fit's --draws on a fit: more words of its command line (--draws N, --seed S,
// --threads T) read after the fit's own, and the answers' summaries over the draws.
static py::dict draws_of(const Fitted* f, const std::vector<std::string>& more) {
  std::vector<std::string> words = f->words;
  words.insert(words.end(), more.begin(), more.end());
  FIT_OPTIONS opt;
  FIT_DRAWS draws;
  call([&] {
    read_words(words, &opt);
    fit_draw(&opt, &f->data, &f->model, &draws);
  });
  py::list item, from, to, none, why;
  std::vector<unsigned long long> count;
  std::vector<double> median, lower, upper;
  for (const FIT_ANSWER& a : draws.answers) {
    item.append(a.item);
    from.append(a.from);
    to.append(a.to);
    none.append(a.none);
    why.append(a.why);
    count.push_back(a.draws);
    median.push_back(a.median);
    lower.push_back(a.lower);
    upper.push_back(a.upper);
  }
  py::dict d;
  d["n"] = draws.draws;
  d["seed"] = draws.seed;
  d["confidence"] = opt.confidence;
  d["classes_changed"] = draws.classes_changed;
  d["item"] = item;
  d["from"] = from;
  d["to"] = to;
  d["draws"] = copied(count.data(), count.size());
  d["median"] = copied(median.data(), median.size());
  d["lower"] = copied(lower.data(), lower.size());
  d["upper"] = copied(upper.data(), upper.size());
  d["none"] = none;
  d["why"] = why;
  return d;
}

// The chains a run of pravlin draws from the chain: its table, chains by steps 0..years, with
// the generator from its start as in a fresh process, from the transitions as pravlin rescales
// them (the same sparse rows that a run without a dense matrix draws from).
static py::array_t<int> simulate_of(Chain* c, long years, long chains) {
  if (years < 1 || years > 2147483646L || chains < 1 || chains > 2147483647L)
    throw py::value_error("simulate needs years from 1 and chains from 1");
  py::array_t<int> table;
  std::vector<int> drawn;
  call([&] {
    struct Run {  // the record's tables, released however the run ends; the per-state arrays
                  // are the chain's own
      PRAVLIN pv;
      ~Run() {
        pv.periods = nullptr;  // the periods below are the run's own
        pv.state_name = nullptr;
        pv.val = nullptr;
        pv.initial_probability = nullptr;
        free_tables(&pv);
      }
    } run;
    RecordView v;
    view_record(c, &v);
    run.pv = v.pv;
    PRAVLIN* pv = &run.pv;
    pv->nbr_years = static_cast<int>(years);
    pv->nbr_chains = static_cast<int>(chains);
    // A chain with periods is drawn as pravlin draws it: each step from the dense matrix of its
    // period, which holds the rows as rescaled.
    CHAIN_PERIODS periods;
    std::vector<double> cells;
    std::vector<double*> row_of;
    const std::size_t width = static_cast<std::size_t>(c->n) + 1;
    if (!c->periods.list.empty()) {
      const std::size_t count = c->periods.list.size();
      cells.assign(count * width * width, 0.0);
      row_of.resize(count * width);
      for (std::size_t k = 0; k < count; k++) {
        const SPARSE_CHAIN& q = period_chain(c, k);
        for (std::size_t s = 0; s < width; s++)
          row_of[k * width + s] = &cells[(k * width + s) * width];
        for (int s = 1; s <= c->n; s++) {
          for (std::size_t e = q.row_start[s]; e < q.row_start[s + 1]; e++)
            row_of[k * width + s][q.to[e]] = q.p[e];
        }
        periods.list.push_back(CHAIN_PERIOD{
            c->periods.list[k].first, c->periods.list[k].last, &row_of[k * width], {}});
      }
      pv->periods = &periods;
    }
    auto* rows = new SPARSE_ROWS();
    pv->sparse_transitions = rows;
    const SPARSE_CHAIN& q = c->chain;
    rows->entries.reserve(q.p.size());
    rows->row_start.assign(static_cast<std::size_t>(c->n) + 2, 0);
    for (int s = 1; s <= c->n; s++) {
      rows->row_start[s] = q.row_start[s];
      for (std::size_t e = q.row_start[s]; e < q.row_start[s + 1]; e++)
        rows->entries.push_back(TRANSITION_ENTRY{s, q.to[e], q.p[e]});
    }
    rows->row_start[static_cast<std::size_t>(c->n) + 1] = q.p.size();
    pv->pravlin = try_alloc_chain_rows(pv->nbr_chains, pv->nbr_years);
    if (pv->pravlin == nullptr)
      fail(" *** ERROR: out of memory 3 in read_xml_file()\n");
    pravlin_rand_reset();
    create_all_pravlin(pv);
    const std::size_t steps = static_cast<std::size_t>(years) + 1;
    drawn.resize(static_cast<std::size_t>(chains) * steps);
    for (long k = 1; k <= chains; k++) {
      for (std::size_t t = 0; t < steps; t++)
        drawn[static_cast<std::size_t>(k - 1) * steps + t] = pv->pravlin[k][t] - 1;
    }
  });
  table = py::array_t<int>({static_cast<py::ssize_t>(chains), static_cast<py::ssize_t>(years + 1)});
  std::memcpy(table.mutable_data(), drawn.data(), drawn.size() * sizeof(int));
  return table;
}

// The settings of the configuration the chain was read from: years and chains (pravlin's
// defaults for a chain made from a matrix).
static py::tuple run_settings(const Chain& c) {
  return c.has_settings ? py::make_tuple(c.nbr_years, c.nbr_chains) : py::make_tuple(50, 10);
}

// ---- the module ------------------------------------------------------------------------------

PYBIND11_MODULE(_pravlin, m) {
  m.doc() = "The compiled half of the module pravlin: use pravlin itself.";
  warning_category = PyErr_NewException("pravlin.PravlinWarning", PyExc_UserWarning, nullptr);
  m.attr("PravlinWarning") = py::handle(warning_category);

  m.def("fit", &fit_of, py::arg("texts"), py::arg("names"), py::arg("form"), py::arg("words"),
        py::arg("states"));
  py::class_<Fitted>(m, "_Fitted").def("draws", &draws_of, py::arg("words"));

  py::class_<Chain>(m, "_Chain")
      .def_static("from_entries", &chain_from_entries, py::arg("n"), py::arg("rows"),
                  py::arg("columns"), py::arg("probabilities"), py::arg("names"), py::arg("values"),
                  py::arg("initial"), py::arg("periods") = std::vector<PeriodEntries>())
      .def_static("from_xml", &chain_from_xml, py::arg("path"))
      .def("to_xml", &write_xml, py::arg("path"))
      .def_property_readonly("n", [](const Chain& c) { return c.n; })
      .def_property_readonly(
          "names",
          [](const Chain& c) {
            py::list names;
            for (int s = 1; s <= c.n; s++) {
              names.append(c.named[s] ? py::object(py::str(c.name[s])) : py::object(py::none()));
            }
            return names;
          })
      .def_property_readonly(
          "values", [](const Chain& c) { return copied(c.value.data() + 1, c.value.size() - 1); })
      .def_property_readonly(
          "initial",
          [](const Chain& c) { return copied(c.initial.data() + 1, c.initial.size() - 1); })
      .def_property_readonly("csr",
                             [](const Chain& c) {
                               const SPARSE_CHAIN& q = c.chain;
                               const std::size_t count = q.p.size();
                               std::vector<long long> start, column;
                               for (int s = 1; s <= c.n + 1; s++)
                                 start.push_back(static_cast<long long>(q.row_start[s]));
                               for (int t : q.to)
                                 column.push_back(t - 1);
                               return py::make_tuple(copied(q.p.data(), count),
                                                     copied(column.data(), column.size()),
                                                     copied(start.data(), start.size()));
                             })
      .def("classes", &classes_of)
      .def("stationary", &stationary_of)
      .def("absorption", &absorption_of)
      .def("distribution", &distribution_of, py::arg("steps"))
      .def("hitting", &hitting_of, py::arg("targets"))
      .def("committor", &committor_of, py::arg("a"), py::arg("b"))
      .def("entropy", &entropy_of)
      .def("kemeny", &kemeny_of)
      .def("spectrum", &spectrum_of, py::arg("k"))
      .def("mixing_time", &mixing_of, py::arg("epsilon"))
      .def("passage", &passage_of, py::arg("targets"), py::arg("steps"))
      .def("rewards", &rewards_of, py::arg("steps"), py::arg("targets"))
      .def("lump", &lump_of, py::arg("how"), py::arg("tolerance"))
      .def("convert", &convert_of, py::arg("words"))
      .def("horizon", &horizon_of, py::arg("steps"), py::arg("rate"), py::arg("correction"))
      .def("simulate", &simulate_of, py::arg("years"), py::arg("chains"))
      .def_property_readonly("run_settings", &run_settings);
}
