// convert_test.cc - the fast number conversions against the C library they stand in for.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "config_schema.h"
#include "pravlin.h"
#include "table_lines.h"

static std::string printf_f(double v) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

static std::string fast_f(double v) {
  std::string s;
  format_fixed(s, v);
  return s;
}

static bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(FormatFixed6, MatchesPrintfOnBoundaryValues) {
  const double values[] = {
      0.0,      -0.0,     0.0078125, 0.0000005,  0.0000015, 0.0000025, 1.0 / 3, 2.0 / 3,  0.5,
      1e-7,     -1e-7,    123456.5,  1e15,       1e22,      1e300,     DBL_MAX, -DBL_MAX, DBL_MIN,
      4.9e-324, 0.999999, 0.9999995, 0.99999949, INFINITY,  -INFINITY, NAN,     -NAN};
  for (double v : values) {
    SCOPED_TRACE(printf_f(v));
    EXPECT_EQ(fast_f(v), printf_f(v));
  }
}

TEST(FormatFixed6, MatchesPrintfOnRandomValues) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int i = 0; i < 200000; i++) {
    double v;
    switch (i % 4) {
      case 0:
        v = unit(rng);  // probabilities
        break;
      case 1:
        v = std::ldexp(unit(rng), exponent(rng)) * (i % 8 == 1 ? -1 : 1);
        break;
      case 2:
        v = std::round(unit(rng) * 1e8) / 1e8;  // ties at the sixth decimal and near it
        break;
      default: {
        std::uint64_t bits = rng();
        std::memcpy(&v, &bits, sizeof v);  // anything a double can hold
        break;
      }
    }
    ASSERT_EQ(fast_f(v), printf_f(v)) << "bits of " << v;
  }
}

// Ties at the sixth decimal that a double holds exactly (odd multiples of 1/128), and values
// on both sides of 2^40, where the conversion changes method.
TEST(FormatFixed6, MatchesPrintfOnExactTiesAndAcrossTheIntegerRange) {
  std::mt19937_64 rng(2);
  std::uniform_int_distribution<std::int64_t> odd(0, std::int64_t{1} << 40);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(30, 50);
  for (int i = 0; i < 100000; i++) {
    double v = i % 2 == 0 ? static_cast<double>(2 * odd(rng) + 1) / 128
                          : std::ldexp(unit(rng), exponent(rng));
    if (i % 3 == 0)
      v = -v;
    ASSERT_EQ(fast_f(v), printf_f(v)) << "bits of " << v;
  }
  for (double v : {0x1p40, -0x1p40, std::nextafter(0x1p40, 0.0), 0x1p-1074, -0x1p-1074, 0x1p-1022,
                   0.0000004999999999999999, 0.0000005000000000000001}) {
    EXPECT_EQ(fast_f(v), printf_f(v)) << "bits of " << v;
  }
}

TEST(FormatLong, MatchesPrintf) {
  const long long values[] = {
      0, 1, -1, 9, 10, INT_MAX, static_cast<long long>(INT_MAX) + 2, INT_MIN, LLONG_MAX, LLONG_MIN};
  for (long long v : values) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld", v);
    std::string s;
    format_long(s, v);
    EXPECT_EQ(s, buf);
  }
}

TEST(XmlAtof, MatchesStrtodOnEveryForm) {
  const char* texts[] = {"0",
                         "-0",
                         "0.7",
                         ".5",
                         "-.5",
                         "+0.5",
                         " 0.25",
                         "1e5",
                         "1e",
                         "1.5e-3x",
                         "0x1p-2",
                         "-0X10",
                         "inf",
                         "-Infinity",
                         "nan",
                         "NAN(123)",
                         "1e400",
                         "-1e400",
                         "1e-400",
                         "4.9e-324",
                         "2.2250738585072011e-308",
                         "",
                         "abc",
                         "<0.5",
                         "0.5<",
                         "00012",
                         "1.0000000000000000000000001",
                         "0.1000000000000000055511151231257827",
                         "-",
                         ".",
                         "-.",
                         "9e99999"};
  for (const char* s : texts) {
    SCOPED_TRACE(s);
    double want = std::strtod(s, nullptr);
    double got = xml_atof(s);
    EXPECT_TRUE(same_bits(got, want) || (std::isnan(got) && std::isnan(want)))
        << got << " " << want;
  }
}

TEST(XmlAtof, MatchesStrtodOnRandomTypedNumbers) {
  std::mt19937_64 rng(2);
  std::uniform_int_distribution<int> digits(1, 25), point(0, 26), exp(-330, 330), coin(0, 3);
  for (int i = 0; i < 100000; i++) {
    std::string s;
    if (coin(rng) == 0)
      s += '-';
    int n = digits(rng), dot = point(rng);
    for (int d = 0; d < n; d++) {
      if (d == dot)
        s += '.';
      s += static_cast<char>('0' + rng() % 10);
    }
    if (coin(rng) == 0) {
      s += 'e';
      s += std::to_string(exp(rng));
    }
    double want = std::strtod(s.c_str(), nullptr);
    ASSERT_TRUE(same_bits(xml_atof(s.c_str()), want)) << s;
  }
}

TEST(XmlAtoi, MatchesAtoiInRangeAndSaturatesBeyond) {
  const char* texts[] = {"0",   "42", "-42",        "  7",         "+7",    "12abc",
                         "abc", "",   "2147483647", "-2147483648", "\t\n 3"};
  for (const char* s : texts) {
    SCOPED_TRACE(s);
    EXPECT_EQ(xml_atoi(s), std::atoi(s));
  }
  EXPECT_EQ(xml_atoi("99999999999"), INT_MAX);
  EXPECT_EQ(xml_atoi("2147483648"), INT_MAX);
  EXPECT_EQ(xml_atoi("-2147483649"), INT_MIN);
  EXPECT_EQ(xml_atoi("-99999999999999999999999"), INT_MIN);
  EXPECT_EQ(xml_atoi(nullptr), 0);
}
