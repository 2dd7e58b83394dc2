#include "patcher/app/inuse_dialog_text.h"

#include "patcher/engine/update_engine.h"
#include "skin/locale_table.h"

namespace sv {

namespace {

constexpr wchar_t kIndent[] = L"    ";

std::wstring MoreLine(const LocaleTable& locale, size_t hidden) {
  return kIndent + locale.format("SV_INUSE_MORE", {std::to_wstring(hidden)}) + L"\n";
}

}  // namespace

bool InUseCanClose(const InUseList& list) {
  for (const LockingProcess& p : list.processes) {
    if (p.closable) return true;
  }
  return false;
}

std::wstring BuildInUseText(const InUseList& list, bool canClose, const LocaleTable& locale) {
  std::wstring text = locale.text("SV_INUSE_HEAD") + L"\n\n" + locale.text("SV_INUSE_FILES") + L"\n";
  for (size_t i = 0; i < list.names.size() && i < kInUseShownFiles; ++i) {
    text += kIndent + list.names[i] + L"\n";
  }
  if (list.names.size() > kInUseShownFiles) text += MoreLine(locale, list.names.size() - kInUseShownFiles);

  if (!list.processes.empty()) {
    text += L"\n" + locale.text("SV_INUSE_PROGRAMS") + L"\n";
    for (size_t i = 0; i < list.processes.size() && i < kInUseShownPrograms; ++i) {
      const LockingProcess& p = list.processes[i];
      text += kIndent + p.name + L" (PID " + std::to_wstring(p.pid) + L")";
      if (!p.closable) {
        text += L" - " + locale.text(p.identityUnknown ? "SV_INUSE_UNKNOWN_TAG" : "SV_INUSE_SYSTEM_TAG");
      }
      text += L"\n";
      if (!p.path.empty()) text += kIndent + p.path + L"\n";
    }
    if (list.processes.size() > kInUseShownPrograms) {
      text += MoreLine(locale, list.processes.size() - kInUseShownPrograms);
    }
  }

  text += L"\n";
  if (!list.message.empty()) text += list.message + L"\n\n";
  if (list.processes.empty()) {
    text += locale.text("SV_INUSE_UNKNOWN");
  } else {
    text += locale.text(canClose ? "SV_INUSE_QUESTION" : "SV_INUSE_SYSTEM");
  }
  return text;
}

}  // namespace sv
