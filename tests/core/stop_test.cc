// stop_test.cc - the calculator's long loops (the squarings, the chains drawn all at once and
// one by one) end with the interrupted message once a stop is asked for.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "cancel.h"
#include "draw.h"
#include "fail_mode.h"
#include "scratch.h"
#include "simulate.h"
#include "steady_state.h"
#include "test_util.h"

static void ignore(const char*, void*) {}

TEST(StopAsked, EveryLongLoopOfTheCalculatorEndsWithTheInterruptedMessage) {
  TestModel m(2, 4, 3);
  m.init[1] = m.init[2] = 0.5;
  for (int s = 1; s <= 2; s++)
    m.rows[s][1] = m.rows[s][2] = 0.5;
  double error = 0.0;
  const struct {
    const char* loop;
    std::function<void()> run;
  } loops[] = {
      {"squarings",
       [&] { calc_steady_state(m.rows.data(), m.steady.data(), 2, 100, 0.0, &error, 0); }},
      {"chains at once", [&] { create_all_pravlin(&m.pv); }},
      {"chains one by one",
       [&] {
         struct PlainPath {  // the fast draws' memory refused, however the run ends
           PlainPath() {
             set_scratch_limit(0);
           }
           ~PlainPath() {
             set_scratch_limit(SIZE_MAX);
           }
         } plain;
         create_all_pravlin(&m.pv);
       }},
  };
  const FailThrows mode(ignore, nullptr);
  for (const auto& l : loops) {
    SCOPED_TRACE(l.loop);
    cancel_reset();
    pravlin_rand_reset();
    EXPECT_NO_THROW(l.run());
    cancel_request();
    try {
      l.run();
      ADD_FAILURE() << "not stopped";
    } catch (const FailError& e) {
      EXPECT_EQ(std::string(e.what()), " *** ERROR: interrupted\n");
    }
  }
  cancel_reset();
}
