// analyze_json_values.h - what the sections of pravlin-analyze's JSON document share: numbers and
// per-state lists as the document writes them.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_JSON_VALUES_H
#define PRAVLIN_ANALYZE_JSON_VALUES_H

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "pravlin.h"

/// v, or null when it is not finite: JSON has no form for it.
inline nlohmann::ordered_json json_number(double v) {
  return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

/// x[1..n] as a list: entry i - 1 for state i.
inline nlohmann::ordered_json json_by_state(const double* x, int n) {
  nlohmann::ordered_json a = nlohmann::ordered_json::array();
  for (int s = 1; s <= n; s++)
    a.push_back(json_number(x[s]));
  return a;
}

/// The names of states, null for an unnamed one: beside their numbers, a script sees which
/// states the designators picked.
inline nlohmann::ordered_json json_state_names(const PRAVLIN* pv, const std::vector<int>& states) {
  nlohmann::ordered_json a = nlohmann::ordered_json::array();
  for (int s : states) {
    a.push_back(pv->state_name[s] != nullptr ? nlohmann::ordered_json(pv->state_name[s])
                                             : nlohmann::ordered_json(nullptr));
  }
  return a;
}

#endif
