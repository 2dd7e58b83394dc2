#pragma once
// The body text of the in-use dialog: which files are held, by which programs, and what the
// player can do about it.
#include <string>

namespace sv {

class LocaleTable;
struct InUseList;

constexpr size_t kInUseShownFiles = 4;
constexpr size_t kInUseShownPrograms = 5;

// True when some listed program can be closed (the dialog's close button works then).
bool InUseCanClose(const InUseList& list);

// Files (the first four, then "SV_INUSE_MORE"), programs (the first five, system ones tagged,
// with their path on a line of its own), the extra message, and a closing line that depends on
// whether programs are known and closable.
std::wstring BuildInUseText(const InUseList& list, bool canClose, const LocaleTable& locale);

}  // namespace sv
