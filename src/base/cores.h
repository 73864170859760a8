// cores.h - the machine's processors: how many cores, which vector instructions, and the one
// helper that runs work on the cores.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CORES_H
#define PRAVLIN_CORES_H

#include <functional>

/// The machine's cores, at least 1; asked once, since the C library reads them from /sys at
/// every call.
unsigned core_count();

/// Whether this processor runs AVX2, and AVX-512 (its foundation, AVX512F): the instructions and
/// the system's saving of their registers. False on other processors than x86.
bool cpu_has_avx2();
bool cpu_has_avx512();

/// Runs work(0), work(1), ..., work(parts - 1) and returns when every part is done: part 0 on
/// the calling thread, each other part on a thread of its own. A part whose thread cannot be had
/// (an address-space limit may leave no room for its stack) runs on the calling thread instead,
/// so no result depends on how many threads there were. What a part throws (fail() in the
/// throwing mode) is thrown here once every part is done, the lowest part's first. The one
/// place that starts threads.
void run_parts(unsigned parts, const std::function<void(unsigned part)>& work);

#endif
