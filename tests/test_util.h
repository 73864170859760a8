// test_util.h - helpers shared by the unit tests of the calculator and its companions: models
// and matrices (text as a stream and streams as text are the reader's tests' own helpers, the
// analysed chains the analyses' tests' own, in analyze/analyze_test_util.h).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_TEST_UTIL_H
#define PRAVLIN_TEST_UTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "config.h"
#include "pravlin.h"
#include "run.h"
#include "xml/xml_test_util.h"

/// Sanitized builds run some ten times slower: tests of large chains shrink them there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

/// The mapping's out-of-memory messages, one per group of tables.
inline constexpr char kOom1[] = " *** ERROR: out of memory 1 in read_xml_file()\n";
inline constexpr char kOom2[] = " *** ERROR: out of memory 2 in read_xml_file()\n";
inline constexpr char kOom3[] = " *** ERROR: out of memory 3 in read_xml_file()\n";

/// Maps text onto pv as the driver would, from a stream and without a report file, with the
/// chains table a whole run would keep. Does not return when the mapping fails.
inline void read_text(PRAVLIN* pv, const std::string& text) {
  init_pravlin(pv);
  pv->in = open_text(text).release();  // read_configuration closes it
  read_configuration(pv, READ_MATRIX, 0);
  keep_chains_table(pv);
}

/// Expects mapping text to end the process with status 1 and exactly message on standard error.
inline void expect_read_fails(const std::string& text, const std::string& message) {
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        read_text(&pv, text);
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(message));
}

/// A model record whose tables are owned here, filled as the configuration would fill them:
/// N states, K chains of T years, every table zero, calc_flag 1, names null.
struct TestModel {
  PRAVLIN pv;
  std::vector<char*> names;
  std::vector<double> val, init, steady, matrix;
  std::vector<double*> rows;
  std::vector<int> chains;
  std::vector<int*> chain_rows;

  TestModel(int n, int k, int t) {
    init_pravlin(&pv);
    pv.nbr_states = n;
    pv.nbr_chains = k;
    pv.nbr_years = t;
    pv.max_iteration = 100;
    pv.max_error = 1e-6;
    std::size_t s = static_cast<std::size_t>(n) + 1;
    names.assign(s, nullptr);
    val.assign(s, 0.0);
    init.assign(s, 0.0);
    steady.assign(s, 0.0);
    matrix.assign(s * s, 0.0);
    rows.assign(s, nullptr);
    for (std::size_t r = 0; r < s; r++)
      rows[r] = matrix.data() + r * s;
    chains.assign((static_cast<std::size_t>(k) + 1) * (static_cast<std::size_t>(t) + 1), 0);
    chain_rows.assign(static_cast<std::size_t>(k) + 1, nullptr);
    for (std::size_t c = 0; c <= static_cast<std::size_t>(k); c++) {
      chain_rows[c] = chains.data() + c * (static_cast<std::size_t>(t) + 1);
    }
    pv.state_name = names.data();
    pv.val = val.data();
    pv.initial_probability = init.data();
    pv.steady_state_probability = steady.data();
    pv.transition_probability = rows.data();
    pv.pravlin = chain_rows.data();
  }
  TestModel(const TestModel&) = delete;
  TestModel& operator=(const TestModel&) = delete;
};

/// Rows as validation leaves them: some entries zero, the rest divided by their total, so that
/// many rows total just below or above 1.0.
inline void fill_random_model(TestModel& m, std::mt19937_64& rng, double zero_share) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = m.pv.nbr_states;
  auto fill_row = [&](double* row) {
    double total = 0.0;
    for (int i = 1; i <= n; i++) {
      row[i] = u(rng) < zero_share ? 0.0 : u(rng);
      total += row[i];
    }
    if (total == 0.0) {
      row[n] = 1.0;
      total = 1.0;
    }
    for (int i = 1; i <= n; i++)
      row[i] /= total;
  };
  fill_row(m.init.data());
  for (int s = 1; s <= n; s++)
    fill_row(m.rows[static_cast<std::size_t>(s)]);
}

/// Expects got to hold want's transitions, entry by entry and bit for bit.
inline void expect_same_transitions(const std::vector<TRANSITION_ENTRY>& got,
                                    const std::vector<TRANSITION_ENTRY>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t e = 0; e < got.size(); e++) {
    SCOPED_TRACE(e);
    EXPECT_EQ(got[e].from, want[e].from);
    EXPECT_EQ(got[e].to, want[e].to);
    EXPECT_EQ(got[e].probability, want[e].probability);
  }
}

/// A 1-based matrix with its own storage.
struct Matrix {
  int rows, cols;
  std::vector<double> data;
  std::vector<double*> ptr;
  Matrix(int r, int c) : rows(r), cols(c), data((r + 1) * (c + 1), 0.0), ptr(r + 1) {
    for (int i = 0; i <= r; i++)
      ptr[i] = data.data() + i * (c + 1);
  }
  double** p() {
    return ptr.data();
  }
};

inline Matrix random_matrix(int r, int c, std::mt19937_64& rng) {
  Matrix m(r, c);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 1; i <= r; i++) {
    for (int j = 1; j <= c; j++)
      m.ptr[i][j] = u(rng);
  }
  return m;
}

/// The product as the solver is defined: each entry summed over i in increasing order, a
/// multiply and then an add.
inline Matrix literal_product(const Matrix& a, const Matrix& b) {
  Matrix t(a.rows, b.cols);
  for (int j = 1; j <= a.rows; j++) {
    for (int k = 1; k <= b.cols; k++) {
      double s = 0.0;
      for (int i = 1; i <= a.cols; i++)
        s = a.ptr[j][i] * b.ptr[i][k] + s;
      t.ptr[j][k] = s;
    }
  }
  return t;
}

inline void expect_bits_equal(const Matrix& got, const Matrix& want) {
  for (int j = 1; j <= want.rows; j++) {
    for (int k = 1; k <= want.cols; k++) {
      ASSERT_EQ(std::memcmp(&got.ptr[j][k], &want.ptr[j][k], sizeof(double)), 0)
          << "entry " << j << "," << k << ": " << got.ptr[j][k] << " vs " << want.ptr[j][k];
    }
  }
}

#endif
