// stream_fast.cc - the chain table drawn as it is written, on all cores (stream_table_fast).
// Part of pravlin; see README.md.
//
// The steps go in blocks of up to 64. A block is drawn in ranges of chains, each range after
// its own generator state reached by jump-ahead, into a tile of the block's steps of every
// chain; its lines are then formatted one per task, each into a slot of its own. Tasks are
// handed out in turn, so a thread that falls behind only does fewer of them, and every byte
// lands where the plain loop puts it. While one block is drawn, the block before it is
// formatted and the one before that written, in order, as one more task: two tiles and two sets
// of line slots, reused. The threads start once for the whole table.
#include "stream_fast.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "core_limits.h"
#include "cores.h"
#include "draw.h"
#include "scratch.h"

// STREAM_PARALLEL_MIN_DRAWS unless a test moved it. Written only by set_stream_cores_from.
static std::uint64_t min_draws = STREAM_PARALLEL_MIN_DRAWS;

void set_stream_cores_from(std::uint64_t draws) {
  min_draws = draws == 0 ? STREAM_PARALLEL_MIN_DRAWS : draws;
}
// Tiles and line slots together stay within this, as long as one step of each fits, with at
// most kMaxBlock steps in a block.
static constexpr std::size_t kBudget = std::size_t{16} << 20;
static constexpr std::size_t kMaxBlock = 64;
// The fewest chains a drawing task gets: enough work in a block of kMaxBlock steps to be worth
// a task (doc/design/fast-paths.md, "Measurements").
static constexpr std::size_t kMinRange = 512;

namespace {

// What every task of a run shares; the tiles, slots and lengths hold two blocks, by parity.
struct Blocks {
  TableWriter* t;
  const PRAVLIN* pv;
  const RunRows* rows;
  std::uint32_t x;  // the generator before the first chain's value at step 0
  int* states;      // each chain's state at the last step drawn
  std::size_t count;
  std::size_t block;  // steps in a block
  std::size_t range;  // chains in a drawing task
  std::size_t room;   // bytes of a line slot
  long long steps;    // nbr_years + 1
  int* tile;          // tile[(parity * block + i) * count + c]: chain c at the block's step i
  char* slots;        // slot of the block's line i: slots + (parity * block + i) * room
  std::size_t* lengths;
  std::atomic<bool> draw_failed{false};
  bool write_failed = false;  // written only by the calling thread, which writes the blocks
};

}  // namespace

static long long block_start(const Blocks& b, long long block) {
  return block * static_cast<long long>(b.block);
}

static std::size_t block_steps(const Blocks& b, long long block) {
  return static_cast<std::size_t>(
      std::min<long long>(static_cast<long long>(b.block), b.steps - block_start(b, block)));
}

// Chains [first, first + n) over the steps of a block, from their states at the step before.
static void draw_range(Blocks* b, long long block, std::size_t first, std::size_t n) {
  const long long t0 = block_start(*b, block);
  const std::uint64_t per_chain = static_cast<std::uint64_t>(b->steps);
  std::uint32_t x = rand_apply(rand_jump(first * per_chain + static_cast<std::uint64_t>(t0)), b->x);
  int* tile = b->tile + static_cast<std::size_t>(block % 2) * b->block * b->count;
  std::size_t set = rows_of_step(b->rows, t0);
  for (std::size_t i = 0; i < block_steps(*b, block); i++) {
    if (!draw_step(b->rows, set, x, b->states + first, n))
      b->draw_failed = true;
    set = rows_of_next_step(b->rows, set, t0 + static_cast<long long>(i));
    std::memcpy(tile + i * b->count + first, b->states + first, n * sizeof(int));
    x = rand_apply(RAND_STEP, x);
  }
}

static void format_line(Blocks* b, long long block, std::size_t i) {
  const std::size_t at = static_cast<std::size_t>(block % 2) * b->block + i;
  b->lengths[at] =
      format_table_line(b->t, b->slots + at * b->room, b->room,
                        b->pv->init_year + block_start(*b, block) + static_cast<long long>(i),
                        b->tile + at * b->count, b->count);
}

static void write_block(Blocks* b, long long block) {
  const std::size_t first = static_cast<std::size_t>(block % 2) * b->block;
  for (std::size_t i = 0; i < block_steps(*b, block); i++)
    put_table_text(b->t, b->slots + (first + i) * b->room, b->lengths[first + i]);
  b->write_failed = !flush_table_writer(b->t);
}

// Round r draws block r, formats block r - 1 and writes block r - 2; a round's tasks start
// once the round before is done. A thread that finds none left to start waits for the round to
// end, on tasks other threads are running: a part that starts late, or runs after part 0 on the
// same thread, finds the run further on or done, never a wait on itself.
struct Rounds {
  std::mutex lock;
  std::condition_variable ended;
  long long round = 0;
  std::size_t started = 0;  // tasks of the round handed out
  std::size_t done = 0;
};

static std::size_t tasks_of(const Blocks& b, long long blocks, long long r, std::size_t ranges) {
  const std::size_t writing = r >= 2 ? 1 : 0;
  const std::size_t drawing = r < blocks ? ranges : 0;
  const std::size_t formatting = r >= 1 && r <= blocks ? block_steps(b, r - 1) : 0;
  return writing + drawing + formatting;
}

bool stream_table_fast(TableWriter* t, const PRAVLIN* pv, const RunRows* rows, std::uint32_t x,
                       int* states, std::size_t count,
                       const std::function<void(long long steps)>& progress) {
  const unsigned cores = core_count();
  const auto steps = static_cast<std::uint64_t>(pv->nbr_years) + 1;
  const std::size_t room = table_line_room(t, count);
  if (cores < 2 || count == 0 || steps * count < min_draws || room == 0)
    return false;
  const std::size_t step_bytes = 2 * (room + count * sizeof(int));
  const std::size_t block = static_cast<std::size_t>(
      std::min<std::uint64_t>(std::clamp<std::size_t>(kBudget / step_bytes, 1, kMaxBlock), steps));
  Scratch<int> tile = scratch<int>(2 * block * count);
  Scratch<char> slots = scratch<char>(2 * block * room);
  Scratch<std::size_t> lengths = scratch<std::size_t>(2 * block);
  if (!tile || !slots || !lengths)
    return false;

  Blocks b;
  b.t = t;
  b.pv = pv;
  b.rows = rows;
  b.x = x;
  b.states = states;
  b.count = count;
  b.block = block;
  // Eight ranges a core, so that a thread that falls behind is made up for by the others.
  const std::size_t shares = std::size_t{8} * cores;
  b.range = std::max(kMinRange, (count + shares - 1) / shares);
  b.room = room;
  b.steps = static_cast<long long>(steps);
  b.tile = tile.get();
  b.slots = slots.get();
  b.lengths = lengths.get();
  const std::size_t ranges = (count + b.range - 1) / b.range;
  const auto blocks = static_cast<long long>((steps + block - 1) / block);
  const long long rounds = blocks + 2;

  Rounds at;
  run_parts(cores, [&](unsigned) {
    std::unique_lock<std::mutex> held(at.lock);
    while (at.round < rounds) {
      const long long r = at.round;
      const std::size_t tasks = tasks_of(b, blocks, r, ranges);
      if (at.started == tasks) {
        at.ended.wait(held);
        continue;
      }
      std::size_t task = at.started++;
      held.unlock();
      if (r >= 2 && task-- == 0) {
        write_block(&b, r - 2);
        progress(std::min(block_start(b, r - 1), b.steps));
      } else if (r < blocks && task < ranges) {
        const std::size_t first = task * b.range;
        draw_range(&b, r, first, std::min(b.range, count - first));
      } else {
        format_line(&b, r - 1, r < blocks ? task - ranges : task);
      }
      held.lock();
      if (++at.done == tasks) {
        // A full disk ends the run at once, not after years of writing into nothing.
        at.round = b.write_failed ? rounds : r + 1;
        at.started = 0;
        at.done = 0;
        at.ended.notify_all();
      }
    }
  });
  if (b.draw_failed)
    fail_stream_draw();
  return true;
}
