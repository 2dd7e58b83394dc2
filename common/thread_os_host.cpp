#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/thread_os.h"

namespace sv::os {

namespace {

using Clock = std::chrono::steady_clock;

// Shared by the thread and its owner, so either may go first.
struct ThreadState {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
};

struct Flag {
  std::mutex lock;
  std::condition_variable changed;
  bool set = false;
};

bool WaitUntil(ThreadState& s, Clock::time_point deadline) {
  std::unique_lock<std::mutex> guard(s.lock);
  return s.ended.wait_until(guard, deadline, [&] { return s.done; });
}

std::shared_ptr<ThreadState>& StateOf(void*& p) { return *static_cast<std::shared_ptr<ThreadState>*>(p); }

}  // namespace

Thread::~Thread() { release(); }

bool Thread::start(Entry entry, void* context) {
  release();
  auto state = std::make_shared<ThreadState>();
  try {
    std::thread([state, entry, context] {
      entry(context);
      std::lock_guard<std::mutex> guard(state->lock);
      state->done = true;
      state->ended.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  state_ = new std::shared_ptr<ThreadState>(std::move(state));
  return true;
}

bool Thread::wait(uint32_t ms) {
  if (!state_) return true;
  return WaitUntil(*StateOf(state_), Clock::now() + std::chrono::milliseconds(ms));
}

void Thread::release() {
  delete static_cast<std::shared_ptr<ThreadState>*>(state_);
  state_ = nullptr;
}

bool Thread::waitAll(Thread* threads, int count, uint32_t ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (int i = 0; i < count; ++i) {
    if (threads[i].state_ && !WaitUntil(*StateOf(threads[i].state_), deadline)) return false;
  }
  return true;
}

Event::Event() { state_ = new Flag; }
Event::~Event() { delete static_cast<Flag*>(state_); }

void Event::set() {
  Flag& f = *static_cast<Flag*>(state_);
  std::lock_guard<std::mutex> guard(f.lock);
  f.set = true;
  f.changed.notify_all();
}

void Event::reset() {
  Flag& f = *static_cast<Flag*>(state_);
  std::lock_guard<std::mutex> guard(f.lock);
  f.set = false;
}

bool Event::wait(uint32_t ms) {
  Flag& f = *static_cast<Flag*>(state_);
  std::unique_lock<std::mutex> guard(f.lock);
  return f.changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return f.set; });
}

unsigned processorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

}  // namespace sv::os
