// fit_groups.cc - pravlin-fit's groups: one chain fitted to each group beside the chain of all,
// and the G² test that every group follows the same chain.
// Part of pravlin; see README.md.
#include <algorithm>

#include "fit.h"
#include "fit_groups.h"
#include "fit_read.h"

constexpr std::uint64_t MASK21 = (std::uint64_t{1} << 21) - 1;

void add_tagged_pairs(const COUNT_MAP& tagged, std::uint64_t tag, FIT_DATA* d) {
  for (const COUNT_MAP::slot& s : tagged.slots) {
    if (s.key == 0 || (s.key - 1) >> 42 != tag)
      continue;
    const std::uint64_t key = s.key - 1;
    count_map_add(&d->pairs, ((key >> 21) & MASK21) << 32 | (key & MASK21), s.count);
    d->nbr_transitions += s.count;
  }
}

// The data of group g alone, over all the labels, so that its states are numbered as the
// whole's are.
static void group_data(const FIT_DATA* all, std::uint32_t g, FIT_DATA* d) {
  d->form = all->form;
  d->name = all->groups.names[g];
  d->labels = all->labels;
  d->given_states = all->given_states;
  d->checked = 1;  // the whole's labels were checked, and warned about, once
  d->longest = all->longest;
  d->dense_off = 1;
  d->first.assign(all->labels.names.size(), 0);
  add_tagged_pairs(all->group_pairs, g, d);
  for (const COUNT_MAP::slot& s : all->group_first.slots) {
    if (s.key != 0 && (s.key - 1) >> 21 == g)
      d->first[(s.key - 1) & MASK21] += s.count;
  }
  d->nbr_sequences = g < all->group_sequences.size() ? all->group_sequences[g] : 0;
}

// A group that has no state in common with the others has no chain in common with them to be
// compared on: the test would only say that its rows are other rows.
static void refuse_strangers(const FIT_DATA* data) {
  const std::size_t nbr = data->groups.names.size();
  if (nbr < 2)
    return;  // one group is the whole, checked as such
  // seen[s]: the first group that observed s, or nbr + 1 once two have.
  std::vector<std::size_t> seen(data->labels.names.size(), 0);
  std::vector<std::vector<std::uint32_t>> states(nbr);
  const auto note = [&](std::uint64_t g, std::uint64_t s) {
    states[g].push_back(static_cast<std::uint32_t>(s));
    if (seen[s] == 0)
      seen[s] = g + 1;
    else if (seen[s] != g + 1)
      seen[s] = nbr + 1;
  };
  for (const COUNT_MAP::slot& s : data->group_pairs.slots) {
    if (s.key == 0)
      continue;
    const std::uint64_t key = s.key - 1;
    note(key >> 42, (key >> 21) & MASK21);
    note(key >> 42, key & MASK21);
  }
  for (std::size_t g = 0; g < nbr; g++) {
    if (states[g].empty())
      fail(" *** ERROR: the group (%s) has no transitions\n", data->groups.names[g].c_str());
  }
  for (std::size_t g = 0; g < nbr; g++) {
    const bool shares = std::any_of(states[g].begin(), states[g].end(),
                                    [&](std::uint32_t s) { return seen[s] == nbr + 1; });
    if (!shares) {
      fail(" *** ERROR: the group (%s) shares no state with the other groups\n",
           data->groups.names[g].c_str());
    }
  }
}

void fit_groups(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_EXTRAS* extras) {
  refuse_strangers(data);
  const std::size_t nbr = data->groups.names.size();
  extras->groups.resize(nbr);
  for (std::size_t g = 0; g < nbr; g++) {
    FIT_GROUP& group = extras->groups[g];
    group.name = data->groups.names[g];
    group_data(data, static_cast<std::uint32_t>(g), &group.data);
    fit_estimate(opt, &group.data, &group.model);
  }
  if (opt->test_flag) {
    // Group and destination independent given the source: the group sits where the
    // homogeneity test's time block does.
    extras->group_test_flag = 1;
    fit_conditional_g2(&data->group_pairs, &extras->group_test);
  }
}
