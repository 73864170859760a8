// out_of_memory_test.cc - every allocation that can fail ends in its own message and status 1,
// never in a crash: the reader's nodes and strings, the solver's working matrices. Each test
// caps the address space of its death-test child a little above what it already uses.
// Part of pravlin; see README.md.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pravlin.h"
#include "report.h"
#include "simulate.h"
#include "steady_state.h"
#include "test_util.h"
#include "xml.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PRAVLIN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PRAVLIN_ASAN 1
#endif
#endif

// AddressSanitizer and ThreadSanitizer reserve terabytes of address space for their shadow at
// start-up, so a cap on the address space would refuse everything, their own bookkeeping
// included.
#ifdef PRAVLIN_ASAN
#define SKIP_UNDER_ASAN() GTEST_SKIP() << "an address-space cap cannot hold a sanitized program"
#else
#define SKIP_UNDER_ASAN() (void)0
#endif

// Lets the process map only extra more bytes than it has mapped now.
static void cap_address_space(std::size_t extra) {
  std::size_t pages = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr || std::fscanf(f, "%zu", &pages) != 1)
    std::abort();
  std::fclose(f);
  rlimit limit;
  limit.rlim_cur = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + extra;
  limit.rlim_max = RLIM_INFINITY;
  if (setrlimit(RLIMIT_AS, &limit) != 0)
    std::abort();
}

// What a report writer wrote to a stream, the header's time line left out.
static std::string without_time(const std::string& text) {
  std::string kept;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text.compare(at, 7, "time , ") != 0 || text.compare(at, 11, "time , 1 , ") == 0) {
      kept.append(text, at, end - at);
    }
    at = end;
  }
  return kept;
}

// The identity of size n: the shape the solver works on.
static Matrix identity(int n) {
  Matrix m(n, n);
  for (int i = 1; i <= n; i++)
    m.ptr[static_cast<std::size_t>(i)][i] = 1.0;
  return m;
}

TEST(ReaderOutOfMemoryDeathTest, NodesThatCannotBeAllocated) {
  SKIP_UNDER_ASAN();
  EXPECT_EXIT(
      {
        cap_address_space(16 << 20);
        for (;;)
          (void)alloc_XMLENTITY();
      },
      testing::ExitedWithCode(1), testing::Eq(" *** ERROR: Out of memory in alloc_XMLENTITY()\n"));
}

TEST(ReaderOutOfMemoryDeathTest, StringsThatCannotBeCopied) {
  SKIP_UNDER_ASAN();
  const std::string text(4096, 'x');
  EXPECT_EXIT(
      {
        cap_address_space(16 << 20);
        for (;;)
          (void)xmlcopystring(text.c_str());
      },
      testing::ExitedWithCode(1), testing::Eq(" *** ERROR: Out of Memory in xmlcopystring()\n"));
}

TEST(SolverOutOfMemoryDeathTest, WorkingCopyThatCannotBeAllocated) {
  SKIP_UNDER_ASAN();
  // 2000 states: 32 MB of matrix, and as much again for the solver's copy.
  EXPECT_EXIT(
      {
        Matrix a = identity(2000);
        std::vector<double> b(2001);
        cap_address_space(16 << 20);
        calc_steady_state(a.p(), b.data(), 2000, 10, 1e-6, nullptr, 0);
        std::exit(0);
      },
      testing::ExitedWithCode(1),
      testing::Eq(" *** ERROR : NULL Pointer in calc_steady_state()\n"));
}

TEST(SolverOutOfMemoryDeathTest, ProductThatCannotBeAllocated) {
  SKIP_UNDER_ASAN();
  // Squaring in place: the product is formed in a temporary as large as the matrix.
  EXPECT_EXIT(
      {
        Matrix a = identity(2000);
        cap_address_space(16 << 20);
        multiply_array_by_array(a.p(), a.p(), a.p(), 2000, 2000, 2000);
        std::exit(0);
      },
      testing::ExitedWithCode(1),
      testing::Eq(" *** ERROR: NULL Pointer in multiply_array_by_array() a\n"));
}

TEST(ReportOutOfMemoryDeathTest, WriterWithoutMemoryPrintsTheSameReportThePlainWay) {
  SKIP_UNDER_ASAN();
  // Three states, one unnamed, names with quotes, values with many digits, the steady state shown.
  TestModel m(3, 4, 6);
  static char a[] = "a\"", b[] = "\"b\"\"";
  m.names[1] = a;
  m.names[3] = b;
  m.val[1] = 1e300;
  m.val[2] = -0.5;
  m.val[3] = 1.0 / 3.0;
  m.init[1] = 1.0;
  for (int i = 1; i <= 3; i++) {
    m.rows[i][i % 3 + 1] = 0.75;
    m.rows[i][i] = 0.25;
    m.steady[i] = 1.0 / 3.0;
  }
  create_all_pravlin(&m.pv);
  m.pv.print_header = 1;
  for (int flag = 0; flag <= 2; flag++) {
    SCOPED_TRACE(flag);
    m.pv.print_flag = flag;
    FilePtr sink = open_sink();
    printheader(sink.get(), &m.pv);
    printpravlin(sink.get(), &m.pv);
    const std::string expected = without_time(read_all(sink.get()));
    // Standard error is unbuffered: writing to it needs no memory, the writer's buffer does.
    EXPECT_EXIT(
        {
          cap_address_space(256 << 10);
          printheader(stderr, &m.pv);
          printpravlin(stderr, &m.pv);
          std::exit(0);
        },
        testing::ExitedWithCode(0),
        testing::Truly([&](const std::string& err) { return without_time(err) == expected; }));
  }
}
