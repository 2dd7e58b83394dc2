#include "patcher/app/startup_plan.h"

#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {
constexpr wchar_t kLogFileName[] = L"Sarvik.log";
}  // namespace

bool HasSwitch(const std::vector<std::wstring>& arguments, std::wstring_view name) {
  for (const std::wstring& argument : arguments) {
    if (equalsNoCase(argument, name)) return true;
  }
  return false;
}

StartupPlan PlanStartup(const std::vector<std::wstring>& arguments,
                        const std::wstring& programFolder) {
  StartupPlan plan;
  // "--sv-run" first: the program it starts may itself take a "--sv-close" argument.
  if (HasSwitch(arguments, L"--sv-run")) {
    plan.role = ProcessRole::RunProgram;
  } else if (HasSwitch(arguments, L"--sv-close")) {
    plan.role = ProcessRole::CloseHelper;
  } else if (HasSwitch(arguments, L"--sv-swap")) {
    plan.role = ProcessRole::SwapHelper;
  }
  plan.preview = HasSwitch(arguments, L"--preview");
  plan.updated = HasSwitch(arguments, L"--sv-updated");
  plan.repair = HasSwitch(arguments, L"--sv-repair");
  plan.restarted = plan.updated || HasSwitch(arguments, L"--sv-elevated");
  plan.tempFolder = joinPath(programFolder, L"temp");
  if (!plan.preview) {
    plan.logPath = joinPath(plan.tempFolder, kLogFileName);
    plan.previousLogPath = plan.logPath + L".1";
    plan.staleLogPath = joinPath(programFolder, kLogFileName);
  }
  return plan;
}

std::wstring ElevatedArguments(bool repair) {
  return repair ? L"--sv-elevated --sv-repair" : L"--sv-elevated";
}

}  // namespace sv
