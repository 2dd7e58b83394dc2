#pragma once
// Messages to a window from any thread (PostMessageW on Windows). On the host a "window" is a
// MessageQueue that its owner reads.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace sv::os {

void postMessage(void* window, uint32_t message, uintptr_t wParam);

struct PostedMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
};

class MessageQueue {
 public:
  void post(uint32_t message, uintptr_t wParam);
  // The oldest message, waiting up to `ms` for one; false when none came.
  bool take(PostedMessage& out, uint32_t ms);

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<PostedMessage> messages_;
};

}  // namespace sv::os
