#pragma once
// svupdate: one real update run of the engine from a console, without the patcher's window. The
// options, the answers and the printed lines are shared; svupdate_win.cpp and svupdate_host.cpp
// supply the message loop and the few probes that look at the system.
#include <cstdint>
#include <string>
#include <vector>

#include "patcher/engine/update_engine.h"
#include "skin/skin_definition.h"

namespace svupdate {

struct Options {
  std::wstring folder, config;
  int connections = 4;
  int segmentMb = 4;
  int maxKbps = 0;
  bool refuseNotice = false;
  int inUseAnswer = sv::kInUseRetry;
  int shutdownAfterMs = -1;
  int checkBufferMb = 0;
  std::wstring program;
  bool shortProgram = false;
  bool dropSkin = false;
  bool probeStateWrites = false;
  std::wstring changeDuringCheck;
  std::wstring changeAfterCut;
  std::wstring holders;
  bool updated = false;  // --sv-updated: as a patcher a self-update started
  bool repair = false;   // --repair: the run reads every file, as the patcher's repair does
  std::wstring releaseKey;  // a public key file (PEM) in place of the patcher's embedded key
};

constexpr char kUsage[] =
    "usage: svupdate --folder DIR --config URL [--connections N] [--segment-mb N] "
    "[--max-kbps N] [--refuse-notice] [--inuse retry|close|stop] [--shutdown-after-ms N] "
    "[--release-key KEY.pub] [--repair]\n";
constexpr uint32_t kPollMs = 50;
// After a shutdown, how long the loop goes on to show that no WM_SV_DONE was still queued.
constexpr uint32_t kAfterShutdownMs = 700;
constexpr uint32_t kWmClose = 0x0010;

bool ParseOptions(const std::vector<std::wstring>& args, Options& o);
// "svupdate --sv-swap PROGRAM SOURCE [--sv-keep KEEP] [--sv-no-start]": the patcher's swap helper
// role (sv::RunSwapHelper with the system's steps), its lines printed; true when args ask for it.
bool IsSwapHelperCall(const std::vector<std::wstring>& args);
int SwapHelperMain(const std::vector<std::wstring>& args);
void Print(const std::wstring& line);

// The run of one engine; the entry calls Poll every kPollMs and Handle for every posted message.
class Driver {
 public:
  explicit Driver(Options options) : options_(std::move(options)) {}
  // Makes the engine for `window` and starts it; false (with a message on stderr) on bad input.
  bool Start(void* window);
  // Status lines; true once a shutdown was asked for (the entry then waits kAfterShutdownMs and
  // calls ShutdownWaitEnded).
  bool Poll();
  // True once the run has a result.
  bool Handle(uint32_t message, uintptr_t wParam);
  void ShutdownWaitEnded();
  bool finished() const { return finished_; }
  int exitCode() const { return exitCode_; }
  // Ends what is left (the engine still running when the loop stopped).
  void Close();

 private:
  void PrintStatus(const sv::StatusSnapshot& s);
  void Finish(int code);

  Options options_;
  sv::SkinDefinition skin_;
  sv::UpdateEngine* engine_ = nullptr;
  sv::StatusSnapshot last_;
  bool printedAny_ = false;
  int exitCode_ = 1;
  uint32_t downloadStart_ = 0;
  bool shutDown_ = false;
  bool finished_ = false;
};

// The system's side (svupdate_win.cpp, svupdate_host.cpp).
// PROBE line for a resume state about to be written (see svupdate.cpp).
void ProbeStateWrite(const std::wstring& partPath, sv::UpdateEngine* engine);
// Rewrites the file in place once: same size, other bytes, a time stamp a day later.
void ChangeFile(const std::wstring& fullPath);
// The program path by its 8.3 name; empty when it has none.
std::wstring ShortPath(const std::wstring& path);
// The holder lookup that stands in for the system's (--holders); false when the build has none.
bool SetHolders(sv::UpdateEngine& engine, const std::wstring& list);

}  // namespace svupdate
