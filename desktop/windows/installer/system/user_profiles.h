#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_USER_PROFILES_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_USER_PROFILES_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Where the users' own files are kept: the folder profiles are made in and
// every profile the machine lists (the Public and Default ones too), each
// resolved (ResolveLocalPath). A folder there is a user's, whoever asks.
class UserProfiles {
 public:
  struct Profile {
    // The account's SID in text form; empty for the Public and Default
    // profiles.
    std::wstring sid;
    base::FilePath folder;
  };

  UserProfiles(base::FilePath profiles_folder, std::vector<Profile> profiles);
  ~UserProfiles();
  UserProfiles(UserProfiles&&);

  // The profiles of this machine.
  static UserProfiles Read();

  // Empty when it cannot be found: then nothing is known not to be a
  // user's.
  const base::FilePath& profiles_folder() const { return profiles_folder_; }
  const std::vector<Profile>& profiles() const { return profiles_; }

  // The profile of the account `sid`; empty when it has none.
  base::FilePath FolderOf(const std::wstring& sid) const;

  // Whether `folder` (resolved) is or lies in the profiles folder or a
  // profile.
  bool Holds(const base::FilePath& folder) const;
  // Whether `folder` (resolved) is or lies in one of the profiles listed.
  bool InAProfile(const base::FilePath& folder) const;

 private:
  base::FilePath profiles_folder_;
  std::vector<Profile> profiles_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_USER_PROFILES_H_
