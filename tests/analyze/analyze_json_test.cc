// analyze_json_test.cc - pravlin-analyze's JSON: the document's layout, and every number read
// back to the bits it was computed with.
// Part of pravlin; see README.md.
#include "analyze_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "analyze_long_run.h"
#include "analyze_requests.h"
#include "analyze_states.h"
#include "analyze_test_util.h"
#include "config.h"
#include "tables.h"
#include "test_util.h"

TEST(AnalyzeJson, DocumentHasTheDocumentedLayoutAndRoundTripsItsNumbers) {
  // trial (transient, a quote and a byte that is not UTF-8 in its name) ends in {2, 3} or 4.
  static const char text[] =
      "<pravlin><nbr_states>4</nbr_states><print_flag>Name</print_flag>"
      "<state><ser>1</ser><name>\"tr\\ial\"\xff</name><initial_probability>1"
      "</initial_probability></state>"
      "<state><ser>2</ser><name>m</name></state><state><ser>3</ser><name>y</name></state>"
      "<state><ser>4</ser><name>c</name></state>"
      "<transition><from>1</from><to><state>1</state><probability>0.3</probability></to>"
      "<to><state>2</state><probability>0.5</probability></to>"
      "<to><state>4</state><probability>0.2</probability></to></transition>"
      "<transition><from>2</from><to><state>2</state><probability>0.8</probability></to>"
      "<to><state>3</state><probability>0.2</probability></to></transition>"
      "<transition><from>3</from><to><state>2</state><probability>0.1</probability></to>"
      "<to><state>3</state><probability>0.9</probability></to></transition>"
      "<transition><from>4</from><to><state>4</state><probability>1</probability></to>"
      "</transition></pravlin>";
  PRAVLIN pv;
  std::vector<TRANSITION_ENTRY> list;
  testing::internal::CaptureStderr();
  const std::vector<READ_NOTE> notes = read_noting(text, &pv, &list);
  error_check_transitions(&pv, &list);
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, 4, list);
  ANALYZE_OPTIONS opt = {6,    3,       nullptr, 1,   nullptr, nullptr, 0, nullptr,
                         1e-9, nullptr, 0,       0.0, 0,       0,       0, PER_STATE_MAX,
                         -1,   0,       0.0,     0,   nullptr, 0,       0, 0};
  FilePtr out = open_sink();
  const ANALYSIS_REQUESTS requests{};
  print_analysis_json(out.get(), &pv, &c, &opt, notes, {3}, &requests);
  testing::internal::GetCapturedStderr();
  const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(read_all(out.get()));

  using T = nlohmann::ordered_json::value_t;
  const std::pair<const char*, std::vector<T>> layout[] = {
      {"configuration", {T::string}},
      {"notes", {T::array}},
      {"states", {T::array}},
      {"transitions", {T::number_unsigned}},
      {"classes", {T::array}},
      {"absorbing_states", {T::array}},
      {"irreducible", {T::boolean}},
      {"aperiodic", {T::boolean}},
      {"regular", {T::boolean}},
      {"stationary", {T::array}},
      {"mean_recurrence_times", {T::array}},
      {"stationary_distribution", {T::array, T::null}},
      {"long_run", {T::object, T::null}},
      {"entropy_rate", {T::array}},
      {"reversibility", {T::array}},
      {"solver", {T::object}},
      {"absorption", {T::object, T::null}},
      {"hitting", {T::object, T::null}},
      {"steps", {T::object, T::null}},
      {"rewards", {T::object, T::null}},
      {"committor", {T::object, T::null}},
      {"passage", {T::object, T::null}},
      {"lump", {T::object, T::null}},
      {"spectrum", {T::array, T::null}},
      {"mixing", {T::array, T::null}},
      {"kemeny", {T::object, T::null}},
      {"drawing", {T::object, T::null}},
  };
  ASSERT_EQ(doc.size(), std::size(layout));
  auto key = doc.begin();
  for (const auto& [name, types] : layout) {
    SCOPED_TRACE(name);
    EXPECT_EQ(key.key(), name);
    EXPECT_NE(std::find(types.begin(), types.end(), key->type()), types.end());
    ++key;
  }
  EXPECT_EQ(doc["notes"][0]["kind"], "keyword_not_known");
  EXPECT_EQ(doc["states"][0]["name"], "\"tr\\ial\"\xef\xbf\xbd");
  EXPECT_EQ(doc["stationary_distribution"], nullptr);

  // Every number reads back to the bits it was computed with.
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<double> pi = class_distributions(c, cl);
  EXPECT_EQ(doc["stationary"][0]["probability"][0].get<double>(), pi[2]);
  EXPECT_EQ(doc["stationary"][0]["probability"][1].get<double>(), pi[3]);
  EXPECT_EQ(doc["mean_recurrence_times"][0]["steps"][1].get<double>(), 1.0 / pi[3]);
  ABSORPTION ab;
  solve_absorption(&c, &cl, &ab);
  EXPECT_EQ(doc["absorption"]["transient"][0]["steps"].get<double>(), ab.steps[1]);
  EXPECT_EQ(doc["absorption"]["transient"][0]["probability"][0].get<double>(),
            ab.probability[1 * 3 + 1]);
  LONG_RUN lr;
  solve_long_run(&pv, &c, &cl, pi.data(), &lr);
  for (int s = 1; s <= 4; s++)
    EXPECT_EQ(doc["long_run"]["distribution"][s - 1].get<double>(), lr.share[s]) << s;
  HITTING h = hitting_of(c, {3});
  EXPECT_EQ(doc["hitting"]["probability"][0].get<double>(), h.probability[1]);
  EXPECT_EQ(doc["hitting"]["steps"][0], nullptr);
  EXPECT_EQ(doc["steps"]["count"], 3);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
}
