// table_lines_test.cc - the report's table lines: fixed numbers written as printf writes them.
// Part of pravlin; see README.md.
#include "table_lines.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>

TEST(TableLines, FixedNumbersAreWhatPrintfWrites) {
  const double values[] = {0.0,      -0.0,          0.5,  0.125,    2.5,       1e-300,
                           1.0 / 3,  123456.654321, 1e22, -7.25e15, DBL_MAX,   -DBL_MAX,
                           HUGE_VAL, -HUGE_VAL,     NAN,  -NAN,     0.9999995, 5e-7};
  for (double v : values) {
    for (int precision : {0, 1, 2, 6, 17, 40}) {
      char want[512];
      std::snprintf(want, sizeof want, "%.*f", precision, v);
      std::string got;
      format_fixed(got, v, precision);
      EXPECT_EQ(got, want) << "precision " << precision;
    }
  }
}
