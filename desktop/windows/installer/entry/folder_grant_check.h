#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_CHECK_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/system/user_profiles.h"

namespace installer {

// Why the folder-permission role leaves a folder's access list alone.
enum class GrantRefusal {
  kNone,
  // A group, a well-known or shared account, or one that cannot be told.
  kTrusteeNotOneUser,
  // Relative, UNC or device paths, names Windows would change.
  kNotLocalPath,
  kDriveRoot,
  // One of the system's known folders, or inside the Windows folder, a
  // Start Menu or Startup folder, ProgramData's system folder, or a
  // profile that is not the trustee's own.
  kSystemFolder,
  // The folder or one above it is a link or another reparse point, or the
  // folder opened is not the one named.
  kLink,
  // It holds something and is not an installation folder that the
  // machine's own record names.
  kForeignContents,
  // A file in it has another name elsewhere: the grant would reach that
  // name's folder's file too.
  kHardLink,
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
    // Each of them itself: every known folder of the system (an
    // installation may go inside Program Files or ProgramData).
    std::vector<base::FilePath> known;
    // Each of them and everything below it: the folders that hold the
    // system's or every user's own files.
    std::vector<base::FilePath> trees;
  };

  // `trustee_sid`: the SID, in text form, of the account granted to, whose
  // own profile alone may hold a granted folder.
  FolderGrantCheck(SystemFolders system_folders,
                   UserProfiles profiles,
                   const std::wstring& trustee_sid);
  ~FolderGrantCheck();
  FolderGrantCheck(FolderGrantCheck&&);

  // The folders of this system: every known folder the system lists, and
  // its profiles.
  static FolderGrantCheck ForThisSystem(const std::wstring& trustee_sid);

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
  // The folder's own entries: none, or any in the installation folder
  // that the machine's own record names (`recorded`); no links either
  // way. Names found inside a folder prove nothing: anyone can write them.
  static GrantRefusal JudgeContents(const std::vector<Entry>& entries,
                                    bool recorded);

  // For the log: why nothing was granted.
  static const char* Describe(GrantRefusal refusal);

 private:
  bool IsSystemFolder(const base::FilePath& folder) const;

  SystemFolders system_folders_;
  UserProfiles profiles_;
  // Empty when the trustee has no profile on this machine.
  base::FilePath trustee_profile_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_CHECK_H_
