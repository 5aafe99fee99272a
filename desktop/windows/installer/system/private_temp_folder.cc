#include "desktop/windows/installer/system/private_temp_folder.h"

#include <windows.h>

#include <sddl.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"

namespace installer {

namespace {

// A clash of fresh GUID names means something else is going on.
constexpr int kMaxNameAttempts = 10;
// About three seconds for what a process that ran from the folder held.
constexpr int kDeleteTries = 30;
constexpr DWORD kDeletePauseMs = 100;
// In the machine's namespace: an elevated process of another session must
// see a run live.
constexpr wchar_t kLiveRunEventPrefix[] =
    L"Global\\TarvoInstaller/PrivateFolder/";

// The TOKEN_USER of the process; empty on failure.
std::vector<uint8_t> GetTokenUser() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
    PLOG(ERROR) << "OpenProcessToken failed";
    return {};
  }
  base::win::ScopedHandle token(raw_token);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> user(size);
  if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(),
                                          size, &size)) {
    PLOG(ERROR) << "Reading the token's user failed";
    return {};
  }
  return user;
}

// One well-known SID, as CreateWellKnownSid makes it; empty on failure.
std::vector<uint8_t> MakeWellKnownSid(WELL_KNOWN_SID_TYPE type) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  std::vector<uint8_t> sid(size);
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
    PLOG(ERROR) << "CreateWellKnownSid failed";
    return {};
  }
  sid.resize(size);
  return sid;
}

// The SIDs a folder of `owners` admits; empty on failure.
std::vector<std::vector<uint8_t>> GetOwnerSids(PrivateTempFolder::Owners owners) {
  std::vector<std::vector<uint8_t>> sids;
  if (owners == PrivateTempFolder::Owners::kCurrentUser) {
    std::vector<uint8_t> user = GetTokenUser();
    if (user.empty())
      return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const uint8_t* bytes = static_cast<const uint8_t*>(sid);
    sids.emplace_back(bytes, bytes + ::GetLengthSid(sid));
    return sids;
  }
  for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid}) {
    sids.push_back(MakeWellKnownSid(type));
    if (sids.back().empty())
      return {};
  }
  return sids;
}

// An access list of full control for each of `sids`, inherited by
// everything made inside.
std::vector<uint8_t> MakeOwnersOnlyAcl(
    const std::vector<std::vector<uint8_t>>& sids) {
  DWORD size = sizeof(ACL);
  for (const std::vector<uint8_t>& sid : sids)
    size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid.size();
  std::vector<uint8_t> acl(size);
  PACL list = reinterpret_cast<PACL>(acl.data());
  if (!::InitializeAcl(list, size, ACL_REVISION)) {
    PLOG(ERROR) << "Building the folder's access list failed";
    return {};
  }
  for (const std::vector<uint8_t>& sid : sids) {
    if (!::AddAccessAllowedAceEx(
            list, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
            FILE_ALL_ACCESS,
            const_cast<PSID>(static_cast<const void*>(sid.data())))) {
      PLOG(ERROR) << "Building the folder's access list failed";
      return {};
    }
  }
  return acl;
}

// The protected descriptor a folder of `owners` is made with, and the list
// it points to.
struct FolderDescriptor {
  std::vector<uint8_t> acl;
  SECURITY_DESCRIPTOR descriptor;
  // The owner the live-run event is given: the Administrators, or the user.
  std::vector<uint8_t> owner;
};

bool BuildDescriptor(PrivateTempFolder::Owners owners,
                     FolderDescriptor* folder) {
  const std::vector<std::vector<uint8_t>> sids = GetOwnerSids(owners);
  if (sids.empty())
    return false;
  folder->owner = sids.back();
  folder->acl = MakeOwnersOnlyAcl(sids);
  if (folder->acl.empty() ||
      !::InitializeSecurityDescriptor(&folder->descriptor,
                                      SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&folder->descriptor, TRUE,
                                   reinterpret_cast<PACL>(folder->acl.data()),
                                   FALSE) ||
      !::SetSecurityDescriptorControl(&folder->descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED)) {
    PLOG(ERROR) << "Building the folder's security descriptor failed";
    return false;
  }
  return true;
}

// The form of base::GenerateGuidText: 8-4-4-4-12 lower-case hex digits.
bool IsGuidText(const std::wstring& name) {
  constexpr size_t kLength = 36;
  if (name.size() != kLength)
    return false;
  for (size_t i = 0; i < kLength; ++i) {
    const wchar_t c = name[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != L'-'
             : !((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) {
      return false;
    }
  }
  return true;
}

std::wstring DescribeDescriptor(SECURITY_DESCRIPTOR* descriptor) {
  base::win::ScopedLocalAlloc<wchar_t> text;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
          text.Receive(), nullptr)) {
    return std::wstring();
  }
  return text.Get();
}

}  // namespace

PrivateTempFolder::PrivateTempFolder(Owners owners) : owners_(owners) {}

PrivateTempFolder::~PrivateTempFolder() {
  // Under Wine the files of a process that ran from here are let go a
  // moment after it has ended.
  if (!path_.empty() &&
      !base::DeletePathOnceReleased(path_, true, kDeleteTries,
                                    kDeletePauseMs)) {
    VLOG(2) << "Could not delete " << path_.AsUTF8();
  }
}

base::FilePath PrivateTempFolder::Release() {
  return std::exchange(path_, base::FilePath());
}

// static
bool PrivateTempFolder::GetParentFolder(Owners owners, base::FilePath* parent) {
  if (owners == Owners::kCurrentUser)
    return base::GetPathForKey(base::kTempDir, parent);
  base::FilePath windows;
  if (!base::GetPathForKey(base::kWindowsDir, &windows))
    return false;
  *parent = windows.Append(L"Temp");
  return true;
}

// static
bool PrivateTempFolder::IsMadeFolderName(const std::wstring& name) {
  return IsGuidText(name);
}

// static
std::wstring PrivateTempFolder::GetLiveRunEventName(const std::wstring& name) {
  return kLiveRunEventPrefix + name;
}

// static
bool PrivateTempFolder::HasMadeFolderForm(const base::FilePath& folder) {
  if (!IsGuidText(folder.BaseName().value()))
    return false;
  for (Owners owners : {Owners::kCurrentUser, Owners::kAdministrators}) {
    base::FilePath parent;
    if (GetParentFolder(owners, &parent) &&
        base::FilePath::CompareIgnoreCase(parent.StripTrailingSeparators(),
                                          folder.DirName()) == 0) {
      return true;
    }
  }
  return false;
}

// static
std::wstring PrivateTempFolder::GetAccessListText(Owners owners) {
  FolderDescriptor folder;
  return BuildDescriptor(owners, &folder)
             ? DescribeDescriptor(&folder.descriptor)
             : std::wstring();
}

bool PrivateTempFolder::Create() {
  base::FilePath temp;
  if (!GetParentFolder(owners_, &temp))
    return false;
  FolderDescriptor folder;
  if (!BuildDescriptor(owners_, &folder))
    return false;
  // Given at creation, so that the folder never exists with another list.
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &folder.descriptor,
                                    FALSE};
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    const std::wstring name = base::Utf8ToWide(base::GenerateGuidText());
    base::FilePath candidate = temp.Append(name);
    // Fails on an existing folder, so a name someone prepared is never used.
    if (!::CreateDirectoryW(candidate.value().c_str(), &attributes)) {
      if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        PLOG(ERROR) << "Creating " << candidate.AsUTF8() << " failed";
        return false;
      }
      continue;
    }
    switch (MarkAsLive(candidate, folder.descriptor, folder.owner.data())) {
      case Marking::kMarked:
        path_ = candidate;
        return true;
      case Marking::kNameTaken:
        break;
      case Marking::kFailed:
        return false;
    }
  }
  return false;
}

PrivateTempFolder::Marking PrivateTempFolder::MarkAsLive(
    const base::FilePath& folder,
    const SECURITY_DESCRIPTOR& folder_descriptor,
    PSID owner) {
  // The owners' list on the event too: nobody else can hold it open and
  // keep a dead run's folder seen as in use. Its owner is named, as the
  // recovery tells the run's event from one made under its name by that
  // (the default owner may be a group of the user's, as under Wine).
  SECURITY_DESCRIPTOR descriptor = folder_descriptor;
  if (!::SetSecurityDescriptorOwner(&descriptor, owner, FALSE)) {
    PLOG(ERROR) << "Building the live-run event's descriptor failed";
    ::RemoveDirectoryW(folder.value().c_str());
    return Marking::kFailed;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
  live_run_event_.Set(::CreateEventW(
      &attributes, TRUE, FALSE,
      GetLiveRunEventName(folder.BaseName().value()).c_str()));
  const DWORD event_error = ::GetLastError();
  if (!live_run_event_.IsValid() || event_error == ERROR_ALREADY_EXISTS) {
    // Someone made the name first: an event of theirs would say nothing.
    LOG(WARNING) << "The live-run event of " << folder.AsUTF8()
                 << " could not be made new, error " << event_error;
    live_run_event_.Close();
    ::RemoveDirectoryW(folder.value().c_str());
    return Marking::kNameTaken;
  }
  base::win::ScopedHandle mark(::CreateFileW(
      folder.Append(kMarkName).value().c_str(), GENERIC_WRITE, 0, nullptr,
      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mark.IsValid()) {
    PLOG(ERROR) << "Marking " << folder.AsUTF8() << " failed";
    live_run_event_.Close();
    ::RemoveDirectoryW(folder.value().c_str());
    return Marking::kFailed;
  }
  return Marking::kMarked;
}

}  // namespace installer
