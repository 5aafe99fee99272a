#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_CHECK_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Why the folder-permission role leaves a folder's access list alone.
enum class GrantRefusal {
  kNone,
  // A group, a well-known or shared account, or one that cannot be told.
  kTrusteeNotOneUser,
  // Relative, UNC or device paths, names Windows would change.
  kNotLocalPath,
  kDriveRoot,
  // Inside the Windows folder, or one of the system's or all users' own
  // folders, or a user's profile folder.
  kSystemFolder,
  // The folder or one above it is a link or another reparse point, or the
  // folder opened is not the one named.
  kLink,
  // It holds something that is not an installation of the product.
  kForeignContents,
  // It could not be opened, read or created.
  kUnreadable,
};

// What the folder-permission role may grant: full access, passed on to
// everything inside, for one user account on the folder an installation
// goes to, and nothing else. The role runs elevated at any process's
// request, so each input is judged as an attacker would choose it.
class FolderGrantCheck {
 public:
  // The folders of the system that no grant may reach, resolved.
  struct SystemFolders {
    // It and everything below it.
    base::FilePath windows;
    // Each of them itself (an installation may go inside Program Files).
    std::vector<base::FilePath> known;
    // It and each folder directly in it: every user's profile.
    base::FilePath user_profiles;
  };

  explicit FolderGrantCheck(SystemFolders system_folders);
  ~FolderGrantCheck();
  FolderGrantCheck(FolderGrantCheck&&);

  // The folders of this system (known-folder lookups).
  static FolderGrantCheck ForThisSystem();

  // `sid` as the account database describes it (`use`, from
  // LookupAccountSid): only one person's own account of a machine or a
  // domain passes.
  static GrantRefusal JudgeTrustee(PSID sid, SID_NAME_USE use);

  // `folder` resolved to its one spelling (ResolveLocalPath; empty when
  // it has none).
  GrantRefusal JudgePath(const base::FilePath& folder) const;

  // One entry directly in the folder, as its folder listing describes it.
  struct Entry {
    std::wstring name;
    DWORD attributes;
  };
  // The folder's own entries: none, or those of an installation of the
  // product (its install log, version folders and files).
  static GrantRefusal JudgeContents(const std::vector<Entry>& entries);

  // For the log: why nothing was granted.
  static const char* Describe(GrantRefusal refusal);

 private:
  bool IsSystemFolder(const base::FilePath& folder) const;

  SystemFolders system_folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_CHECK_H_
