#pragma once
// Threads and manual-reset events, as the system offers them (_beginthreadex and event objects
// on Windows, the standard library on the host).
#include <cstdint>

namespace sv::os {

class Thread {
 public:
  using Entry = void (*)(void* context);
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Lets go of the thread without waiting for it: one still running goes on alone.
  ~Thread();

  // False (lastError() tells why) when no thread could be started.
  bool start(Entry entry, void* context);
  bool started() const { return state_ != nullptr; }
  // True once the thread has ended (at once when none was started); false after `ms` without.
  bool wait(uint32_t ms);
  void release();

  // Waits up to `ms` for all of them; true when every started one has ended.
  static bool waitAll(Thread* threads, int count, uint32_t ms);

 private:
  void* state_ = nullptr;
};

class Event {
 public:
  // Created unset; valid() false when the system refused one.
  Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event();
  bool valid() const { return state_ != nullptr; }
  void set();
  void reset();
  // True when set within `ms`.
  bool wait(uint32_t ms);

 private:
  void* state_ = nullptr;
};

// The processors the system runs this process on (at least 1).
unsigned processorCount();

}  // namespace sv::os
