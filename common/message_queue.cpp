#include <chrono>

#include "common/notify_os.h"

namespace sv::os {

void MessageQueue::post(uint32_t message, uintptr_t wParam) {
  std::lock_guard<std::mutex> guard(lock_);
  messages_.push_back(PostedMessage{message, wParam});
  arrived_.notify_one();
}

bool MessageQueue::take(PostedMessage& out, uint32_t ms) {
  std::unique_lock<std::mutex> guard(lock_);
  if (!arrived_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return !messages_.empty(); }))
    return false;
  out = messages_.front();
  messages_.pop_front();
  return true;
}

}  // namespace sv::os
