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

#include "analyze_json_values.h"
#include "analyze_notes.h"
#include "analyze_run.h"
#include "fail.h"

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

static void add_stationary(const SPARSE_CHAIN* c, const ANALYSIS* a, json* doc) {
  const CHAIN_CLASSES* cl = &a->classes;
  const std::vector<double>* pi = &a->pi;
  json per_class = json::array();
  json recurrence = json::array();
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    const SOLVE_RESULT& how = a->stationary[k];
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

static void add_long_run(const SPARSE_CHAIN* c, const ANALYSIS* a, json* doc) {
  const CHAIN_CLASSES* cl = &a->classes;
  if (!a->long_run_solved) {
    (*doc)["long_run"] = nullptr;
    return;
  }
  const LONG_RUN& lr = a->long_run;
  json enter = json::array();
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k])
      enter.push_back({{"class", k}, {"probability", number(lr.enter[k])}});
  }
  (*doc)["long_run"] = {{"limit", lr.periodic == 0},
                        {"enter", enter},
                        {"distribution", by_state(lr.share.data(), c->n)}};
}

static void add_solver(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYSIS* a, json* doc) {
  const SQUARING_RUN& run = a->squaring;
  json s = {{"can_converge", run.can_converge != 0}, {"run", run.asked != 0}};
  if (run.asked && !run.cost.worth) {
    s["run"] = false;
    if (!run.cost.fits) {
      s["too_big"] = true;
    } else {
      s["too_costly"] = true;
    }
    s["cost"] = {{"multiply_adds_per_squaring", run.cost.work},
                 {"seconds_per_squaring", run.cost.work / SQUARING_RATE},
                 {"squarings", run.cost.squarings},
                 {"max_iteration", run.cost.max_iteration},
                 {"bytes", run.cost.bytes}};
  } else if (run.ran) {
    s["max_iteration"] = pv->max_iteration;
    s["actual_iteration"] = run.iterations;
    s["actual_error"] = number(run.error);
    s["vector"] = by_state(run.vector.data(), c->n);
    // The outcome line as the text output words it, without its indent.
    char* text = nullptr;
    std::size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    if (f == nullptr)
      fail(" *** ERROR: out of memory in pravlin-analyze\n");
    print_outcome(f, pv, &a->classes, &run.vector, run.error, 6);
    std::fclose(f);
    std::string outcome = text != nullptr ? text : "";
    std::free(text);
    while (!outcome.empty() && (outcome.back() == '\n'))
      outcome.pop_back();
    const std::size_t start = outcome.find_first_not_of(' ');
    s["outcome"] = start == std::string::npos ? json(nullptr) : json(outcome.substr(start));
    s["largest_difference"] = run.compared ? number(run.largest_difference) : json(nullptr);
  }
  (*doc)["solver"] = s;
}

static void add_absorption(const ANALYSIS* a, json* doc) {
  if ((a->done & SECTION_ABSORPTION) == 0) {
    (*doc)["absorption"] = nullptr;
    return;
  }
  const ABSORPTION& ab = a->absorption;
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

static void add_hitting(const PRAVLIN* pv, const SPARSE_CHAIN* c, const std::vector<int>& targets,
                        const ANALYSIS* a, json* doc) {
  if ((a->done & SECTION_HITTING) == 0) {
    (*doc)["hitting"] = nullptr;
    return;
  }
  const HITTING& h = a->hitting;
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

static void add_spectrum(const ANALYSIS* a, json* doc) {
  if ((a->done & SECTION_SPECTRUM) == 0) {
    (*doc)["spectrum"] = nullptr;
    return;
  }
  json classes = json::array();
  for (const CLASS_SPECTRUM& sp : a->spectra) {
    const int k = sp.k;
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

static void add_mixing(const ANALYSIS* a, json* doc) {
  if ((a->done & SECTION_MIXING) == 0) {
    (*doc)["mixing"] = nullptr;
    return;
  }
  const double epsilon = a->plan.mixing;
  json classes = json::array();
  for (const CLASS_MIXING& mx : a->mixing) {
    const int k = mx.k;
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

static void add_kemeny(const ANALYSIS* a, json* doc) {
  if ((a->done & SECTION_KEMENY) == 0) {
    (*doc)["kemeny"] = nullptr;
    return;
  }
  const bool absorbing = chain_is_absorbing(&a->classes) != 0;
  json classes = json::array();
  for (const CLASS_KEMENY& km : a->kemeny) {
    classes.push_back({{"class", km.k},
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
  ANALYSIS a;
  run_analysis(pv, c, opt, targets, requests, &a);
  const CHAIN_CLASSES* cl = &a.classes;
  add_structure(pv, c, cl, &doc);
  add_stationary(c, &a, &doc);
  add_long_run(c, &a, &doc);
  add_entropy_json(a.entropy, &doc);
  add_solver(pv, c, &a, &doc);
  add_absorption(&a, &doc);
  add_hitting(pv, c, targets, &a, &doc);
  if (a.done & SECTION_STEPS) {
    doc["steps"] = {{"count", a.plan.steps}, {"distribution", by_state(a.after.data(), c->n)}};
  } else {
    doc["steps"] = nullptr;
  }
  add_rewards_json(pv, c, (a.done & SECTION_REWARDS) ? &a.rewards : nullptr, &doc);
  if (a.done & SECTION_COMMITTOR) {
    add_committor_json(pv, c, &requests->committor, &a.committor, &doc);
  } else {
    add_committor_json(pv, c, nullptr, nullptr, &doc);
  }
  add_passage_json(pv, targets, (a.done & SECTION_PASSAGE) ? &a.passage : nullptr, &doc);
  if (a.done & SECTION_LUMPING) {
    add_lump_json(&a.lump, opt->output, &doc);
  } else {
    add_lump_json(nullptr, nullptr, &doc);
  }
  add_spectrum(&a, &doc);
  add_mixing(&a, &doc);
  add_kemeny(&a, &doc);
  // Present only when asked for, so that every other document keeps its members.
  if (a.done & SECTION_HORIZON)
    add_horizon_json(pv, &a.horizon, &doc);
  if (a.done & SECTION_CONVERSION)
    add_conversion_json(&a.conversion, opt->output, &doc);
  if (a.done & SECTION_DRAWING) {
    static const char* const DRAWN[] = {"title", "classes", "chain"};
    doc["drawing"] = {{"file", opt->dot_file}, {"drawn", DRAWN[a.drawn]}};
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
