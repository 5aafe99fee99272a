#include "desktop/windows/installer/security/parent_folders_check.h"

#include <windows.h>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/security/administrators_folder.h"

namespace installer {

namespace {

using Verdict = ParentFoldersCheck::Verdict;

// What one folder above says of who may replace what lies below it.
enum class Parent { kMissing, kKept, kReplaceable, kUnreadable };

// Its owner and list, without following a link.
base::win::ScopedHandle OpenToJudge(const base::FilePath& folder) {
  return base::win::ScopedHandle(::CreateFileW(
      folder.value().c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
}

// `made_below`: folders between it and the judged folder are still to be
// made, with the entries it passes on.
Parent JudgeParent(const base::FilePath& parent, bool made_below) {
  const base::win::ScopedHandle handle = OpenToJudge(parent);
  if (!handle.IsValid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return Parent::kMissing;
    PLOG(ERROR) << "Cannot open " << parent.AsUTF8();
    return Parent::kUnreadable;
  }
  AdministratorsFolder::Ownership ownership;
  if (!AdministratorsFolder::ReadOwnership(handle.Get(), &ownership)) {
    LOG(ERROR) << "Cannot judge who may change " << parent.AsUTF8();
    return Parent::kUnreadable;
  }
  if (ownership.keeps_entries &&
      (!made_below || ownership.new_folders_keep_entries)) {
    return Parent::kKept;
  }
  if (made_below) {
    LOG(WARNING) << "A folder made in " << parent.AsUTF8()
                 << " would let users who are not administrators rename or "
                    "replace what it holds";
  } else {
    LOG(WARNING) << parent.AsUTF8() << " lets users who are not "
                 << "administrators rename it or replace what it holds";
  }
  return Parent::kReplaceable;
}

}  // namespace

// static
Verdict ParentFoldersCheck::Judge(const base::FilePath& folder) {
  bool made_below = false;
  for (base::FilePath child = folder, parent = folder.DirName();
       parent != child; child = parent, parent = parent.DirName()) {
    switch (JudgeParent(parent, made_below)) {
      case Parent::kMissing:
        made_below = true;
        break;
      case Parent::kKept:
        made_below = false;
        break;
      case Parent::kReplaceable:
        return Verdict::kReplaceable;
      case Parent::kUnreadable:
        return Verdict::kUnreadable;
    }
  }
  return Verdict::kKept;
}

}  // namespace installer
