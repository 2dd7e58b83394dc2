#pragma once
// Thread entry points of the update engine (Windows build only: they carry __stdcall).

#include <cstdint>

namespace sv {

class UpdateEngine;

// One attempt's writes into a ".part" file.
struct DownloadSink {
  UpdateEngine* engine = nullptr;
  int32_t job = 0;
  int32_t generation = 0;        // of the job when the attempt began
  void* file = nullptr;          // HANDLE positioned at the attempt's first byte
  uint64_t limit = 0;            // more bytes than this fail the attempt
  uint64_t attemptBytes = 0;
  uint32_t writeError = 0;
  bool overLimit = false;
};

struct EngineThreads {
  static unsigned __stdcall Run(void* engine);
  static unsigned __stdcall Check(void* engine);
  static unsigned __stdcall Download(void* engine);
  // HttpClient sink of a download attempt; context is a DownloadSink.
  static bool Sink(void* context, const void* data, uint32_t size);
  // _beginthreadex; the thread handle, or null.
  static void* Start(unsigned(__stdcall* entry)(void*), void* engine);
};

}  // namespace sv
