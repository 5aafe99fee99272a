#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_ALL_USERS_FOLDER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_ALL_USERS_FOLDER_CHECK_H_

#include "base/files/file_path.h"

namespace installer {

// Whether an all-users installation may go to a folder: elevated processes
// (the update task, every later installer) run what it holds, so the folder
// must be the administrators' alone. The front end asks before it starts
// the run; the elevated backend asks again and makes the folder so.
class AllUsersFolderCheck {
 public:
  enum class Verdict {
    // It is the administrators' already.
    kUse,
    // Missing, or empty and made by this process's kind of owner: it is
    // made the administrators' (AdministratorsFolder::Protect).
    kMakeAdministrators,
    // In a user's profile (any user's, the Public and Default ones too).
    kInProfile,
    // Owned by, or writable to, someone other than the administrators and
    // not empty; or reached through a link.
    kOthersMayChange,
    // A folder above it is owned by, or lets, someone other than the
    // administrators rename it or what it holds: they could put a folder of
    // their own in its place, during the run or after it.
    kParentOthersMayChange,
    kUnreadable,
  };

  // What is read of the folder.
  struct Facts {
    bool in_profile = false;
    // The owner and list of every folder above it that exists, up to the
    // volume root, could be read.
    bool parents_readable = false;
    // Each of those keeps what it holds for the privileged
    // (AdministratorsFolder::Ownership::keeps_entries), and the nearest one
    // passes that on to the folders between, still to be made.
    bool parents_administrators = false;
    bool exists = false;
    // The folder or one above it is a link, or leads elsewhere.
    bool link = false;
    // Its owner and list could be read, and it could be listed.
    bool readable = false;
    // Owned by the privileged (AdministratorsFolder::ReadTrustedUser's user
    // among them).
    bool trusted_owner = false;
    // Its list lets only the privileged write (AdministratorsFolder).
    bool administrators = false;
    bool empty = false;
  };

  static Verdict Decide(const Facts& facts);

  // Reads the facts of `folder` (any spelling) and decides.
  static Verdict Judge(const base::FilePath& folder);

  // Whether `folder` could be listed and holds nothing.
  static bool HoldsNothing(const base::FilePath& folder);

  static bool Refuses(Verdict verdict);
  // The message that tells the user why (its "$1" the folder); 0 for a
  // verdict that refuses nothing.
  static int MessageId(Verdict verdict);
  // For the log.
  static const char* Describe(Verdict verdict);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_ALL_USERS_FOLDER_CHECK_H_
