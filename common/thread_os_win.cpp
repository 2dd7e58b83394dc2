#include <windows.h>
#include <process.h>

#include <vector>

#include "common/thread_os.h"

namespace sv::os {

namespace {

struct Start {
  Thread::Entry entry;
  void* context;
};

unsigned __stdcall Trampoline(void* p) {
  const Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  start.entry(start.context);
  return 0;
}

}  // namespace

Thread::~Thread() { release(); }

bool Thread::start(Entry entry, void* context) {
  release();
  auto* start = new Start{entry, context};
  state_ = reinterpret_cast<void*>(_beginthreadex(nullptr, 0, Trampoline, start, 0, nullptr));
  if (!state_) delete start;
  return state_ != nullptr;
}

bool Thread::wait(uint32_t ms) {
  return !state_ || WaitForSingleObject(static_cast<HANDLE>(state_), ms) != WAIT_TIMEOUT;
}

void Thread::release() {
  if (state_) CloseHandle(static_cast<HANDLE>(state_));
  state_ = nullptr;
}

bool Thread::waitAll(Thread* threads, int count, uint32_t ms) {
  std::vector<HANDLE> handles;
  for (int i = 0; i < count; ++i) {
    if (threads[i].state_) handles.push_back(static_cast<HANDLE>(threads[i].state_));
  }
  if (handles.empty()) return true;
  return WaitForMultipleObjects(DWORD(handles.size()), handles.data(), TRUE, ms) != WAIT_TIMEOUT;
}

Event::Event() { state_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
Event::~Event() {
  if (state_) CloseHandle(static_cast<HANDLE>(state_));
}
void Event::set() {
  if (state_) SetEvent(static_cast<HANDLE>(state_));
}
void Event::reset() {
  if (state_) ResetEvent(static_cast<HANDLE>(state_));
}
bool Event::wait(uint32_t ms) {
  return state_ && WaitForSingleObject(static_cast<HANDLE>(state_), ms) == WAIT_OBJECT_0;
}

unsigned processorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? unsigned(info.dwNumberOfProcessors) : 1;
}

}  // namespace sv::os
