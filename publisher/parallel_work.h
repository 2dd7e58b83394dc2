#pragma once
// Spreads numbered pieces of work over worker threads while the calling thread keeps a status
// display up to date.
#include <atomic>
#include <cstddef>
#include <functional>

namespace sv {

// The worker count for `requested` (0: one per processor core), never more than `pieces`.
unsigned WorkerCount(unsigned requested, size_t pieces);

// Runs work(i, worker) once for every i below `count`, taken in rising order by `workers`
// threads (worker numbers 0 to workers - 1). Calls tick() on the calling thread about ten times
// a second until all have ended. Once `stop` is set no further piece is started.
void RunInParallel(size_t count, unsigned workers,
                   const std::function<void(size_t index, unsigned worker)>& work,
                   const std::function<void()>& tick, std::atomic<bool>& stop);

}  // namespace sv
