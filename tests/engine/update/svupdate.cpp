// svupdate: one real update run of the engine from a console, without the patcher's window.
//
//   svupdate --folder DIR --config URL [--connections N] [--segment-mb N] [--max-kbps N]
//            [--refuse-notice] [--inuse retry|close|stop] [--shutdown-after-ms N]
//            [--check-buffer-mb N] [--program PATH [--short-program]] [--drop-skin]
//            [--probe-state-writes] [--change-during-check NAME] [--change-after-cut NAME]
//            [--holders LIST]
//            [--sv-updated]
//            [--release-key KEY.pub] [--repair]
//
// The engine's messages are answered here: the notice (accepted unless told otherwise) and the
// in-use question; every status change is printed as one UTF-8 line.
// --shutdown-after-ms shuts the engine down that long after the download phase began and reports
// how long Shutdown took. --check-buffer-mb sets the check workers' read buffer (one too large
// to allocate shows what a failed allocation does); --program names the running patcher, by its
// 8.3 name with --short-program; --drop-skin empties the skin right after the engine is made.
// --probe-state-writes looks, each time a resume state is about to be written, whether the
// ".part" can be opened as the decoder opens it (no write handle of that attempt left) and
// whether the engine lock is free (the status can be read); it prints a PROBE line for each.
// --change-during-check rewrites the file of that name (same size, another time stamp) right
// after the check has read its CRC, as a game writing it during the check would;
// --change-after-cut does the same once a chunked update has cut the file into chunks, before it
// copies them.
// --holders stands in for the system's holder lookup, which finds nobody under Wine: a comma-
// separated list of "pid:N" (that real process, described by the system) and program names (a
// process of that name that does not exist), judged by the patcher's own rules.
// --sv-updated runs the engine as a patcher started by a self-update runs it: it takes no other
// patcher build in this run.
// --release-key makes the run a patcher's with that key embedded: only a signed release passes.
// --repair runs a repair instead of an update: every file is read, whatever the cache says.
// --max-kbps is the builder's bandwidth limit (KiB/s).
// After a finished update the run stages the release the configuration announces as the next
// one (or removes what was staged for one no longer announced) and prints "PRELOAD ok" or
// "PRELOAD failed" before it exits; the exit code is the update's.
// Exit code: 0 success, 1 failure, 2 bad arguments.
#include "tests/engine/update/svupdate.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/clock_os.h"
#include "common/path.h"
#include "common/file.h"
#include "common/text.h"
#include "patcher/engine/self_update.h"
#include "skin/skin_definition.h"

namespace svupdate {

namespace {

std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\n' || c == L'\r') c = L'|';
  }
  return text;
}

bool ParseInt(const std::wstring& text, int& out) {
  wchar_t* end = nullptr;
  const long value = wcstol(text.c_str(), &end, 10);
  if (text.empty() || *end) return false;
  out = int(value);
  return true;
}

struct HookContext {
  const Options* options;
  sv::UpdateEngine** engine;
};

void TestHook(const char* point, const std::wstring& path, void* context) {
  const HookContext& c = *static_cast<HookContext*>(context);
  const Options& o = *c.options;
  if (o.probeStateWrites && std::string(point) == "state") ProbeStateWrite(path, *c.engine);
  // The path ends in "\NAME".
  auto names = [&path](const std::wstring& name) {
    return !name.empty() && path.size() > name.size() &&
           sv::equalsNoCase(path.substr(path.size() - name.size()), name) &&
           path[path.size() - name.size() - 1] == L'\\';
  };
  if ((std::string(point) == "checked" && names(o.changeDuringCheck)) ||
      (std::string(point) == "cut" && names(o.changeAfterCut))) {
    ChangeFile(path);
  }
}

HookContext gHook;

}  // namespace

void Print(const std::wstring& line) {
  const std::string bytes = sv::toUtf8(line) + "\n";
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  fflush(stdout);
}

bool IsSwapHelperCall(const std::vector<std::wstring>& args) {
  for (const std::wstring& a : args) {
    if (sv::equalsNoCase(a, sv::kSwapSwitch)) return true;
  }
  return false;
}

int SwapHelperMain(const std::vector<std::wstring>& args) {
  const sv::SwapRequest request = sv::ParseSwapArguments(args);
  if (!request.valid) {
    fputs("bad --sv-swap arguments\n", stderr);
    return 2;
  }
  sv::SwapSteps steps = sv::SystemSwapSteps(sv::parentPath(request.program));
  steps.log = [](const std::wstring& line) { Print(L"SWAP " + line); };
  return sv::RunSwapHelper(request, steps);
}

bool ParseOptions(const std::vector<std::wstring>& args, Options& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == L"--folder" && hasValue) {
      o.folder = args[++i];
    } else if (a == L"--config" && hasValue) {
      o.config = args[++i];
    } else if (a == L"--connections" && hasValue) {
      if (!ParseInt(args[++i], o.connections)) return false;
    } else if (a == L"--max-kbps" && hasValue) {
      if (!ParseInt(args[++i], o.maxKbps) || o.maxKbps < 0) return false;
    } else if (a == L"--segment-mb" && hasValue) {
      if (!ParseInt(args[++i], o.segmentMb) || o.segmentMb < 1 || o.segmentMb > 64) return false;
    } else if (a == L"--refuse-notice") {
      o.refuseNotice = true;
    } else if (a == L"--inuse" && hasValue) {
      const std::wstring& v = args[++i];
      if (v == L"retry") {
        o.inUseAnswer = sv::kInUseRetry;
      } else if (v == L"close") {
        o.inUseAnswer = sv::kInUseClose;
      } else if (v == L"stop") {
        o.inUseAnswer = sv::kInUseStop;
      } else {
        return false;
      }
    } else if (a == L"--check-buffer-mb" && hasValue) {
      if (!ParseInt(args[++i], o.checkBufferMb) || o.checkBufferMb < 1) return false;
    } else if (a == L"--program" && hasValue) {
      o.program = args[++i];
    } else if (a == L"--short-program") {
      o.shortProgram = true;
    } else if (a == L"--holders" && hasValue) {
      o.holders = args[++i];
    } else if (a == L"--sv-updated") {
      o.updated = true;
    } else if (a == L"--repair") {
      o.repair = true;
    } else if (a == L"--release-key" && hasValue) {
      o.releaseKey = args[++i];
    } else if (a == L"--drop-skin") {
      o.dropSkin = true;
    } else if (a == L"--probe-state-writes") {
      o.probeStateWrites = true;
    } else if (a == L"--change-during-check" && hasValue) {
      o.changeDuringCheck = args[++i];
    } else if (a == L"--change-after-cut" && hasValue) {
      o.changeAfterCut = args[++i];
    } else if (a == L"--shutdown-after-ms" && hasValue) {
      if (!ParseInt(args[++i], o.shutdownAfterMs)) return false;
    } else {
      return false;
    }
  }
  return !o.folder.empty() && !o.config.empty();
}

bool Driver::Start(void* window) {
  skin_.remoteConfigPath = options_.config;
  skin_.settings.connections = options_.connections;
  skin_.settings.segmentMb = options_.segmentMb;
  skin_.settings.maxKbps = options_.maxKbps;

  engine_ = sv::UpdateEngine::Create(skin_, options_.folder, window, false);
  engine_->SetRestartedAfterUpdate(options_.updated);
  if (!options_.releaseKey.empty()) {
    std::string pem, error;
    sv::ReleaseKey key;
    if (!sv::readWholeFile(options_.releaseKey, 65536, pem) ||
        !sv::ParseReleaseKeyPem(pem, key, error)) {
      fputs(("bad --release-key: " + error + "\n").c_str(), stderr);
      return false;
    }
    engine_->SetReleaseKey(key);
  }
  if (options_.checkBufferMb > 0) engine_->SetCheckBufferSize(uint32_t(options_.checkBufferMb) << 20);
  if (options_.probeStateWrites || !options_.changeDuringCheck.empty() ||
      !options_.changeAfterCut.empty()) {
    gHook = HookContext{&options_, &engine_};
    engine_->SetTestHook(TestHook, &gHook);
  }
  if (!options_.program.empty()) {
    std::wstring program = options_.program;
    if (options_.shortProgram) {
      program = ShortPath(program);
      if (program.empty()) {
        fputs("no short path\n", stderr);
        return false;
      }
    }
    Print(L"PROGRAM " + program);
    engine_->SetProgramPath(program);
  }
  if (!options_.holders.empty() && !SetHolders(*engine_, options_.holders)) {
    fputs("--holders is not supported here\n", stderr);
    return false;
  }
  if (options_.dropSkin) {
    // The skin is emptied once the engine exists, as the window's goes while a run outlives
    // Shutdown: the run must still have its texts and addresses.
    skin_.locale.entries.clear();
    skin_.remoteConfigPath.clear();
  }
  engine_->Start(options_.repair ? sv::RunMode::kRepair : sv::RunMode::kUpdate);
  return true;
}

void Driver::PrintStatus(const sv::StatusSnapshot& s) {
  Print(L"STATUS " + std::to_wstring(s.phase) + L" | " + OneLine(s.statusText) + L" | " +
        OneLine(s.currentText) + L" | " + s.amountText + L" | " + s.speedText);
}

void Driver::Finish(int code) {
  exitCode_ = code;
  finished_ = true;
}

bool Driver::Poll() {
  if (!engine_) return false;
  const sv::StatusSnapshot s = engine_->GetStatus();
  if (!printedAny_ || s.phase != last_.phase || s.statusText != last_.statusText ||
      s.currentText != last_.currentText) {
    PrintStatus(s);
    printedAny_ = true;
  }
  if (s.phase == sv::kPhaseDownloading && downloadStart_ == 0) downloadStart_ = sv::os::tickCount();
  last_ = s;
  if (options_.shutdownAfterMs >= 0 && downloadStart_ != 0 &&
      sv::os::tickCount() - downloadStart_ >= uint32_t(options_.shutdownAfterMs)) {
    shutDown_ = true;
    const uint32_t before = sv::os::tickCount();
    const bool destroyed = engine_->Shutdown();
    const uint32_t took = sv::os::tickCount() - before;
    engine_ = nullptr;
    Print(L"SHUTDOWN " + std::to_wstring(took) + L" ms " + (destroyed ? L"ended" : L"running"));
    return true;
  }
  return false;
}

void Driver::ShutdownWaitEnded() {
  Print(L"RESULT shutdown");
  Finish(0);
}

bool Driver::Handle(uint32_t message, uintptr_t wParam) {
  switch (message) {
    case sv::WM_SV_NOTICE:
      Print(options_.refuseNotice ? L"NOTICE refused" : L"NOTICE accepted");
      if (engine_) engine_->AnswerNotice(!options_.refuseNotice);
      break;
    case sv::WM_SV_INUSE_SHOW: {
      if (!engine_) break;
      const sv::InUseList list = engine_->GetInUseList();
      std::wstring names;
      for (const std::wstring& n : list.names) names += (names.empty() ? L"" : L", ") + n;
      Print(L"INUSE " + names + L" | " + std::to_wstring(list.processes.size()) +
            L" programs | " + OneLine(list.message));
      engine_->AnswerInUse(options_.inUseAnswer);
      break;
    }
    case sv::WM_SV_INUSE_CLOSE:
      Print(L"INUSE closed");
      break;
    case sv::WM_SV_SELF_UPDATED:
      Print(L"SELF_UPDATED");
      break;
    case sv::WM_SV_NEED_ADMIN:
      Print(L"NEED_ADMIN");
      break;
    case sv::WM_SV_DONE: {
      if (shutDown_) {
        Print(L"DONE after shutdown");
        Finish(1);
        break;
      }
      const sv::StatusSnapshot s = engine_->GetStatus();
      PrintStatus(s);
      Print(L"PHASE " + std::to_wstring(s.phase));
      Print(L"TEXT " + OneLine(s.statusText));
      Print(L"CURRENT " + OneLine(s.currentText));
      Print(L"ERROR " + OneLine(s.errorText));
      Print(wParam ? L"RESULT ok" : L"RESULT failed");
      // A finished update goes on with the next release; the run ends when that is done.
      if (wParam && engine_->PreloadPending()) {
        exitCode_ = 0;
        break;
      }
      Finish(wParam ? 0 : 1);
      break;
    }
    case sv::WM_SV_PRELOADED:
      Print(wParam ? L"PRELOAD ok" : L"PRELOAD failed");
      Finish(exitCode_);
      break;
    case kWmClose:
      // The engine asks the window to close when the notice is refused.
      Print(L"CLOSE");
      Finish(1);
      break;
    default:
      break;
  }
  return finished_;
}

void Driver::Close() {
  if (engine_) engine_->Shutdown();
  engine_ = nullptr;
}

}  // namespace svupdate
