#include "desktop/windows/installer/system/user_profiles.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr wchar_t kProfileListKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kProfileImagePath[] = L"ProfileImagePath";
// The shared profiles, as values of the list itself.
constexpr const wchar_t* kSharedProfileValues[] = {L"Public", L"Default"};
constexpr wchar_t kDefaultProfileName[] = L"Default";
// Far more accounts than a machine signs in: the list is read by an
// elevated process.
constexpr DWORD kMaxProfilesRead = 4096;

base::FilePath ReadFolder(const base::win::RegistryKey& key,
                          const wchar_t* value) {
  std::wstring text;
  if (key.ReadString(value, &text) != ERROR_SUCCESS)
    return base::FilePath();
  return ResolveLocalPath(base::FilePath(text));
}

void AddProfile(std::wstring sid,
                base::FilePath folder,
                std::vector<UserProfiles::Profile>* profiles) {
  if (!folder.empty())
    profiles->push_back({std::move(sid), std::move(folder)});
}

void ReadAccountProfiles(const base::win::RegistryKey& list,
                         std::vector<UserProfiles::Profile>* profiles) {
  for (const std::wstring& sid : list.SubkeyNames(kMaxProfilesRead)) {
    base::win::RegistryKey profile;
    if (profile.Open(list.Handle(), sid.c_str(), KEY_QUERY_VALUE) ==
        ERROR_SUCCESS) {
      AddProfile(sid, ReadFolder(profile, kProfileImagePath), profiles);
    }
  }
}

bool IsSameOrBelow(const base::FilePath& path, const base::FilePath& folder) {
  return !folder.empty() &&
         (ToUpperOrdinal(path.value()) == ToUpperOrdinal(folder.value()) ||
          IsBelowFolder(path, folder));
}

}  // namespace

UserProfiles::UserProfiles(base::FilePath profiles_folder,
                           std::vector<Profile> profiles)
    : profiles_folder_(std::move(profiles_folder)),
      profiles_(std::move(profiles)) {}

UserProfiles::~UserProfiles() = default;

UserProfiles::UserProfiles(UserProfiles&&) = default;

// static
UserProfiles UserProfiles::Read() {
  const base::FilePath profiles_folder = GetResolvedKnownFolder(FOLDERID_UserProfiles);
  std::vector<Profile> profiles;
  AddProfile(std::wstring(), GetResolvedKnownFolder(FOLDERID_Public), &profiles);
  // Made in the profiles folder even where the list does not say so.
  if (!profiles_folder.empty())
    AddProfile(std::wstring(), profiles_folder.Append(kDefaultProfileName),
               &profiles);
  base::win::RegistryKey list;
  const LONG error = list.Open(HKEY_LOCAL_MACHINE, kProfileListKey,
                               KEY_READ | KEY_WOW64_64KEY);
  if (error == ERROR_SUCCESS) {
    for (const wchar_t* value : kSharedProfileValues)
      AddProfile(std::wstring(), ReadFolder(list, value), &profiles);
    ReadAccountProfiles(list, &profiles);
  } else {
    LOG(ERROR) << "Cannot open the list of profiles, error " << error;
  }
  return UserProfiles(profiles_folder, std::move(profiles));
}

base::FilePath UserProfiles::FolderOf(const std::wstring& sid) const {
  for (const Profile& profile : profiles_) {
    if (!sid.empty() && ToUpperOrdinal(profile.sid) == ToUpperOrdinal(sid))
      return profile.folder;
  }
  return base::FilePath();
}

bool UserProfiles::Holds(const base::FilePath& folder) const {
  return IsSameOrBelow(folder, profiles_folder_) || InAProfile(folder);
}

bool UserProfiles::InAProfile(const base::FilePath& folder) const {
  return std::any_of(profiles_.begin(), profiles_.end(),
                     [&](const Profile& profile) {
                       return IsSameOrBelow(folder, profile.folder);
                     });
}

}  // namespace installer
