#include "publisher/parallel_work.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace sv {

unsigned WorkerCount(unsigned requested, size_t pieces) {
  unsigned n = requested ? requested : std::max(1u, std::thread::hardware_concurrency());
  return unsigned(std::max<size_t>(1, std::min<size_t>(n, pieces)));
}

void RunInParallel(size_t count, unsigned workers,
                   const std::function<void(size_t, unsigned)>& work,
                   const std::function<void()>& tick, std::atomic<bool>& stop) {
  std::atomic<size_t> next{0};
  std::mutex lock;
  std::condition_variable ended;
  unsigned running = workers;
  auto body = [&](unsigned worker) {
    for (size_t i; !stop.load() && (i = next.fetch_add(1)) < count;) work(i, worker);
    std::lock_guard<std::mutex> guard(lock);
    --running;
    ended.notify_all();
  };
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; ++w) threads.emplace_back(body, w);
  {
    std::unique_lock<std::mutex> guard(lock);
    while (running > 0) {
      ended.wait_for(guard, std::chrono::milliseconds(100));
      guard.unlock();
      tick();
      guard.lock();
    }
  }
  for (std::thread& t : threads) t.join();
  tick();
}

}  // namespace sv
