// analyze_json.cc - the whole analysis as one JSON document, for scripts
// (print_analysis_json). The layout is documented in pravlin-analyze(1), section JSON.
// Part of pravlin; see README.md.
#include "analyze_json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "analyze_dot.h"
#include "analyze_eigen.h"
#include "analyze_entropy.h"
#include "analyze_hitting.h"
#include "analyze_json_values.h"
#include "analyze_kemeny.h"
#include "analyze_long_run.h"
#include "analyze_mixing.h"
#include "analyze_notes.h"
#include "analyze_report.h"
#include "analyze_requests.h"
#include "analyze_roots.h"

// Keys stay in the order written, the order of the text output.
using json = nlohmann::ordered_json;

// The serializer's output, straight to a stream.
struct FileOutput : nlohmann::detail::output_adapter_protocol<char> {
  explicit FileOutput(FILE* f) : out(f) {}
  void write_character(char c) override {
    std::putc(c, out);
  }
  void write_characters(const char* s, std::size_t length) override {
    std::fwrite(s, 1, length, out);
  }
  FILE* out;
};

// Non-finite numbers have no JSON form: null.
static json number(double v) {
  return std::isfinite(v) ? json(v) : json(nullptr);
}

// A per-state array: entry i - 1 for state i.
static json by_state(const double* x, int n) {
  json a = json::array();
  for (int s = 1; s <= n; s++)
    a.push_back(number(x[s]));
  return a;
}

static void add_structure(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                          json* doc) {
  json states = json::array();
  for (int s = 1; s <= c->n; s++) {
    states.push_back(
        {{"number", s},
         {"name", pv->state_name[s] != nullptr ? json(pv->state_name[s]) : json(nullptr)}});
  }
  (*doc)["states"] = states;
  (*doc)["transitions"] = c->to.size();
  json classes = json::array(), absorbing = json::array();
  int aperiodic = 1;
  for (int k = 1; k <= cl->nbr_classes; k++) {
    json members = json::array();
    for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++)
      members.push_back(cl->member[i]);
    classes.push_back({{"number", k},
                       {"closed", cl->closed[k] != 0},
                       {"period", cl->period[k] != 0 ? json(cl->period[k]) : json(nullptr)},
                       {"states", members}});
    if (cl->closed[k] && class_size(cl, k) == 1)
      absorbing.push_back(cl->member[cl->first[k]]);
    if (cl->closed[k] && cl->period[k] != 1)
      aperiodic = 0;
  }
  (*doc)["classes"] = classes;
  (*doc)["absorbing_states"] = absorbing;
  const bool irreducible = cl->nbr_classes == 1;
  (*doc)["irreducible"] = irreducible;
  (*doc)["aperiodic"] = aperiodic != 0;
  (*doc)["regular"] = irreducible && aperiodic != 0;
}

static void add_stationary(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, std::vector<double>* pi,
                           json* doc) {
  pi->assign(static_cast<std::size_t>(c->n) + 1, 0.0);
  json per_class = json::array();
  json recurrence = json::array();
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    const SOLVE_RESULT how = class_stationary(c, cl, k, pi->data());
    json states = json::array(), p = json::array(), m = json::array();
    for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++) {
      const int s = cl->member[i];
      states.push_back(s);
      p.push_back(number((*pi)[s]));
      m.push_back(number(1.0 / (*pi)[s]));
    }
    per_class.push_back({{"class", k},
                         {"states", states},
                         {"probability", p},
                         {"method", how.method},
                         {"residual", how.sparse ? number(how.residual) : json(nullptr)}});
    recurrence.push_back({{"class", k}, {"states", states}, {"steps", m}});
  }
  (*doc)["stationary"] = per_class;
  (*doc)["mean_recurrence_times"] = recurrence;
  (*doc)["stationary_distribution"] =
      cl->nbr_closed == 1 ? by_state(pi->data(), c->n) : json(nullptr);
}

static void add_long_run(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                         const std::vector<double>& pi, json* doc, ABSORPTION* ab) {
  if (cl->nbr_closed < 2) {
    (*doc)["long_run"] = nullptr;
    return;
  }
  LONG_RUN lr;
  solve_long_run(pv, c, cl, pi.data(), &lr, ab);
  json enter = json::array();
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k])
      enter.push_back({{"class", k}, {"probability", number(lr.enter[k])}});
  }
  (*doc)["long_run"] = {{"limit", lr.periodic == 0},
                        {"enter", enter},
                        {"distribution", by_state(lr.share.data(), c->n)}};
}

static void add_solver(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                       const std::vector<double>& pi, json* doc) {
  json s = {{"can_converge", squaring_can_converge(cl) != 0}, {"run", pv->calc_flag != 0}};
  // The analysis has its own solvers: a chain too big for pravlin's is still analysed, and one
  // on which the squaring would take longer than everything else is described instead.
  const SQUARING_COST cost = estimate_squaring(pv, c, cl);
  if (pv->calc_flag && !cost.worth) {
    s["run"] = false;
    if (!cost.fits) {
      s["too_big"] = true;
    } else {
      s["too_costly"] = true;
    }
    s["cost"] = {{"multiply_adds_per_squaring", cost.work},
                 {"seconds_per_squaring", cost.work / SQUARING_RATE},
                 {"squarings", cost.squarings},
                 {"max_iteration", cost.max_iteration},
                 {"bytes", cost.bytes}};
  } else if (pv->calc_flag) {
    std::vector<double> b;
    double error = 0.0;
    const int iterations = run_solver(pv, c, &b, &error);
    s["max_iteration"] = pv->max_iteration;
    s["actual_iteration"] = iterations;
    s["actual_error"] = number(error);
    s["vector"] = by_state(b.data(), c->n);
    // The outcome line as the text output words it, without its indent.
    char* text = nullptr;
    std::size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    if (f == nullptr)
      fail(" *** ERROR: out of memory in pravlin-analyze\n");
    print_outcome(f, pv, cl, &b, error, 6);
    std::fclose(f);
    std::string outcome = text != nullptr ? text : "";
    std::free(text);
    while (!outcome.empty() && (outcome.back() == '\n'))
      outcome.pop_back();
    const std::size_t start = outcome.find_first_not_of(' ');
    s["outcome"] = start == std::string::npos ? json(nullptr) : json(outcome.substr(start));
    if (cl->nbr_closed == 1) {
      double largest = 0.0;
      for (int i = 1; i <= c->n; i++)
        largest = std::fmax(largest, std::fabs(b[i] - pi[i]));
      s["largest_difference"] = number(largest);
    } else {
      s["largest_difference"] = nullptr;
    }
  }
  (*doc)["solver"] = s;
}

// ab: already solved by the long run when its state list is not empty.
static void add_absorption(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, json* doc,
                           ABSORPTION* abp) {
  if (cl->nbr_closed == cl->nbr_classes) {
    (*doc)["absorption"] = nullptr;
    return;
  }
  ABSORPTION& ab = *abp;
  if (ab.state.empty())
    solve_absorption(c, cl, &ab);
  const std::size_t nb = static_cast<std::size_t>(ab.nbr_closed) + 1;
  json closed = json::array(), states = json::array();
  for (std::size_t j = 1; j < nb; j++)
    closed.push_back(ab.closed_class[j]);
  for (int i = 1; i <= ab.nbr_transient; i++) {
    json p = json::array();
    for (std::size_t j = 1; j < nb; j++)
      p.push_back(number(ab.probability[i * nb + j]));
    states.push_back({{"state", ab.state[i]}, {"steps", number(ab.steps[i])}, {"probability", p}});
  }
  (*doc)["absorption"] = {{"closed_classes", closed},
                          {"transient", states},
                          {"method", ab.how.method},
                          {"residual", ab.how.sparse ? number(ab.how.residual) : json(nullptr)}};
}

static void add_hitting(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                        const std::vector<int>& targets, const std::vector<double>& pi, json* doc) {
  if (targets.empty()) {
    (*doc)["hitting"] = nullptr;
    return;
  }
  HITTING h;
  solve_hitting(c, targets, &h, cl->nbr_closed == 1 ? pi.data() : nullptr);
  json steps = json::array(), names = json::array();
  for (int s = 1; s <= c->n; s++)
    steps.push_back(number(h.steps[s]));
  // The names beside the numbers: a script sees which states the designators picked.
  for (int s : targets)
    names.push_back(pv->state_name[s] != nullptr ? json(pv->state_name[s]) : json(nullptr));
  (*doc)["hitting"] = {
      {"targets", targets},
      {"target_names", names},
      {"probability", by_state(h.probability.data(), c->n)},
      {"steps", steps},
      {"probability_residual", number(h.probability_residual)},
      {"steps_residual", number(h.steps_residual)},
      {"trusted", h.trusted != 0},
      {"return_time", h.return_time < 0.0 ? json(nullptr) : number(h.return_time)}};
}

// Numbers that may be infinite, as a JSON number or null.
static json finite_or_null(double v) {
  return std::isfinite(v) ? json(v) : json(nullptr);
}

// The spectra found go to *solved, for the mixing time's bounds.
static void add_spectrum(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const double* pi,
                         const ANALYSIS_PLAN* plan, json* doc,
                         std::vector<CLASS_SPECTRUM>* solved) {
  if (plan->eigenvalues == 0) {
    (*doc)["spectrum"] = nullptr;
    return;
  }
  json classes = json::array();
  for (int k = next_closed_class(cl, 0); k != 0; k = next_closed_class(cl, k)) {
    CLASS_SPECTRUM sp;
    solve_spectrum(c, cl, k, pi, plan->eigenvalues, &sp);
    solved->push_back(sp);
    json e = json::array();
    for (const EIGENVALUE& v : sp.largest) {
      e.push_back({{"real", v.re},
                   {"imaginary", v.im},
                   {"modulus", v.modulus},
                   {"timescale", finite_or_null(implied_timescale(&v))}});
    }
    classes.push_back(
        {{"class", k},
         {"states", sp.m},
         {"reversible", sp.reversible != 0},
         {"method", sp.method},
         {"found", sp.found != 0},
         {"not_found_because", sp.found ? json(nullptr) : json(sp.why)},
         {"gap_resolved", sp.found ? json(!sp.gap_unresolved) : json(nullptr)},
         {"slem", sp.found ? json(sp.slem) : json(nullptr)},
         {"spectral_gap", sp.found ? json(sp.gap) : json(nullptr)},
         {"relaxation_time", sp.found ? finite_or_null(relaxation_time(&sp)) : json(nullptr)},
         {"eigenvalues", e}});
  }
  (*doc)["spectrum"] = classes;
}

static void add_mixing(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const double* pi,
                       const ANALYSIS_PLAN* plan, json* doc,
                       const std::vector<CLASS_SPECTRUM>& spectra) {
  if (plan->mixing == 0.0) {
    (*doc)["mixing"] = nullptr;
    return;
  }
  const double epsilon = plan->mixing;
  json classes = json::array();
  for (int k = next_closed_class(cl, 0); k != 0; k = next_closed_class(cl, k)) {
    CLASS_MIXING mx;
    solve_mixing(c, cl, k, pi, epsilon, &mx, find_spectrum(&spectra, k));
    json one = {{"class", k},
                {"states", mx.m},
                {"epsilon", epsilon},
                {"never", mx.never != 0},
                {"exact", mx.exact != 0}};
    one["time"] = mx.exact ? json(mx.time) : json(nullptr);
    one["distance_before"] = mx.exact ? number(mx.distance_before) : json(nullptr);
    one["distance_at"] = mx.exact ? number(mx.distance_at) : json(nullptr);
    const bool bounds = !mx.exact && !mx.never;
    one["bounds_because"] = bounds ? json(mx.inexact) : json(nullptr);
    const bool sampled = bounds && mx.starts > 0;
    one["sampled_starts"] = sampled ? json(mx.starts) : json(nullptr);
    one["sampled_lower_bound"] =
        sampled ? json(mx.sample_reached ? mx.sample_time : mx.sample_time + 1) : json(nullptr);
    one["sampled_reached"] = sampled ? json(mx.sample_reached != 0) : json(nullptr);
    one["relaxation_lower_bound"] = bounds && mx.spectral ? number(mx.lower) : json(nullptr);
    one["relaxation_upper_bound"] =
        bounds && mx.spectral && mx.reversible ? number(mx.upper) : json(nullptr);
    one["reversal_upper_bound"] =
        bounds && !mx.reversible && !std::isnan(mx.upper) ? number(mx.upper) : json(nullptr);
    one["lower_bound"] = bounds ? json(mx.lowest) : json(nullptr);
    one["upper_bound"] = bounds && mx.highest >= 0 ? json(mx.highest) : json(nullptr);
    classes.push_back(one);
  }
  (*doc)["mixing"] = classes;
}

static void add_kemeny(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const double* pi,
                       const ANALYSIS_PLAN* plan, json* doc) {
  if (!plan->kemeny) {
    (*doc)["kemeny"] = nullptr;
    return;
  }
  const bool absorbing = chain_is_absorbing(cl) != 0;
  json classes = json::array();
  for (int k = absorbing ? 0 : next_closed_class(cl, 0); k != 0; k = next_closed_class(cl, k)) {
    CLASS_KEMENY km;
    solve_kemeny(c, cl, k, pi, &km);
    classes.push_back({{"class", k},
                       {"states", km.m},
                       {"exact", km.exact != 0},
                       {"constant", number(km.value)},
                       {"low", number(km.low)},
                       {"high", number(km.high)},
                       {"probes", km.exact ? json(nullptr) : json(km.probes)},
                       {"residual", km.exact ? json(nullptr) : number(km.residual)},
                       {"method", km.method},
                       {"refused", km.refused != nullptr ? json(km.refused) : json(nullptr)}});
  }
  (*doc)["kemeny"] = {{"absorbing", absorbing}, {"classes", classes}};
}

void print_analysis_json(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                         const ANALYZE_OPTIONS* opt, const std::vector<READ_NOTE>& notes,
                         const std::vector<int>& targets,
                         const struct analysis_requests* requests) {
  json doc = json::object();
  doc["configuration"] = pv->xmlfilename != nullptr ? pv->xmlfilename : "";
  json n = json::array();
  for (const READ_NOTE& r : notes) {
    n.push_back({{"kind", r.kind},
                 {"element", r.element},
                 {"where", r.where},
                 {"text", r.text},
                 {"message", r.message}});
  }
  doc["notes"] = n;
  const ANALYSIS_PLAN plan = plan_analysis(opt);
  CHAIN_CLASSES cl;
  find_classes(c, &cl);
  check_plan(&plan, &cl);
  add_structure(pv, c, &cl, &doc);
  std::vector<double> pi;
  add_stationary(c, &cl, &pi, &doc);
  ABSORPTION ab;  // solved at most once, for the long run and the absorption
  add_long_run(pv, c, &cl, pi, &doc, &ab);
  std::vector<CLASS_ENTROPY> entropy;
  solve_entropy(c, &cl, pi.data(), &entropy);
  add_entropy_json(entropy, &doc);
  add_solver(pv, c, &cl, pi, &doc);
  add_absorption(c, &cl, &doc, &ab);
  add_hitting(pv, c, &cl, targets, pi, &doc);
  std::vector<double> x;  // after --steps, for the rewards too
  if (plan.steps >= 0) {
    x.assign(pv->initial_probability, pv->initial_probability + c->n + 1);
    x[0] = 0.0;
    step_distribution(c, &x, plan.steps);
    doc["steps"] = {{"count", plan.steps}, {"distribution", by_state(x.data(), c->n)}};
  } else {
    doc["steps"] = nullptr;
  }
  add_requested_json(pv, c, &cl, pi.data(), opt, targets, opt->steps >= 0 ? &x : nullptr, requests,
                     &doc);
  std::vector<CLASS_SPECTRUM> spectra;
  add_spectrum(c, &cl, pi.data(), &plan, &doc, &spectra);
  add_mixing(c, &cl, pi.data(), &plan, &doc, spectra);
  add_kemeny(c, &cl, pi.data(), &plan, &doc);
  if (opt->horizon >= 0) {  // only when asked: the documents without it keep their members
    HORIZON h;
    solve_requested_horizon(pv, c, opt, requests, &h);
    add_horizon_json(pv, &h, &doc);
  }
  // Present only when asked for, so that every other document keeps its bytes.
  if (opt->conversion != CONVERSION_NONE) {
    PERIOD_CONVERSION pc;
    solve_conversion(c, opt->conversion, opt->conversion_k, opt->repair, &pc);
    write_conversion(opt->output, pv, &pc);
    add_conversion_json(&pc, opt->output, &doc);
  }
  if (opt->dot_file != nullptr) {
    static const char* const DRAWN[] = {"title", "classes", "chain"};
    const int drawn = write_dot(opt->dot_file, pv, c, &cl, opt->precision);
    doc["drawing"] = {{"file", opt->dot_file}, {"drawn", DRAWN[drawn]}};
  } else {
    doc["drawing"] = nullptr;
  }
  // Names are bytes as the file gave them: any that are not UTF-8 become U+FFFD. The text goes
  // out as the library's serializer writes it (json::dump's own, with dump's settings): held
  // whole as a string, ten million absorption numbers took 300 MB more. The library's public
  // operator<< streams too, but its serializer is strict: it throws on the first name that is
  // not UTF-8, where dump's replaces, so the serializer is asked for by its own name.
  nlohmann::detail::serializer<json> text(std::make_shared<FileOutput>(out), ' ',
                                          json::error_handler_t::replace);
  text.dump(doc, true, false, 2);
  std::fputc('\n', out);
}
