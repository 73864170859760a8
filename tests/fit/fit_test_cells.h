// fit_test_cells.h - a fitted model's cell by the labels of its two states, for the fit's tests.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_TEST_CELLS_H
#define PRAVLIN_FIT_TEST_CELLS_H

#include <cstdint>
#include <string>

#include "fit.h"

// The model's row and cell of two labels: the cell, or a cell made of the row's rest.
inline FIT_CELL cell_of(const FIT_DATA& d, const FIT_MODEL& m, const std::string& from,
                        const std::string& to) {
  std::size_t f = 0, t = 0;
  for (std::size_t s = 0; s < m.order.size(); s++) {
    if (d.labels.names[m.order[s]] == from)
      f = s;
    if (d.labels.names[m.order[s]] == to)
      t = s;
  }
  for (const FIT_CELL& c : m.rows[f].cells) {
    if (c.to == t)
      return c;
  }
  const FIT_ROW& r = m.rows[f];
  return FIT_CELL{static_cast<std::uint32_t>(t), 0, r.rest, r.rest_lower, r.rest_upper};
}

/// P(from -> to) of a model by label.
inline double cell_probability(const FIT_DATA& d, const FIT_MODEL& m, const std::string& from,
                               const std::string& to) {
  return cell_of(d, m, from, to).probability;
}

#endif
