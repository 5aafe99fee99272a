#include "desktop/windows/installer/system/private_temp_folder.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace installer {

namespace {

// A clash of fresh GUID names means something else is going on.
constexpr int kMaxNameAttempts = 10;

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

// A protected access list with one entry: full control for `sid`, inherited
// by everything made inside.
std::vector<uint8_t> MakeOwnerOnlyAcl(PSID sid) {
  const DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) +
                     ::GetLengthSid(sid) - sizeof(DWORD);
  std::vector<uint8_t> acl(size);
  PACL list = reinterpret_cast<PACL>(acl.data());
  if (!::InitializeAcl(list, size, ACL_REVISION) ||
      !::AddAccessAllowedAceEx(list, ACL_REVISION,
                               OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                               FILE_ALL_ACCESS, sid)) {
    PLOG(ERROR) << "Building the folder's access list failed";
    return {};
  }
  return acl;
}

}  // namespace

PrivateTempFolder::PrivateTempFolder() = default;

PrivateTempFolder::~PrivateTempFolder() {
  if (!path_.empty() && !base::DeletePath(path_, true))
    VLOG(2) << "Could not delete " << path_.AsUTF8();
}

bool PrivateTempFolder::Create() {
  base::FilePath temp;
  if (!base::GetPathForKey(base::kTempDir, &temp))
    return false;
  std::vector<uint8_t> user = GetTokenUser();
  if (user.empty())
    return false;
  std::vector<uint8_t> acl =
      MakeOwnerOnlyAcl(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
  SECURITY_DESCRIPTOR descriptor;
  if (acl.empty() ||
      !::InitializeSecurityDescriptor(&descriptor,
                                      SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&descriptor, TRUE,
                                   reinterpret_cast<PACL>(acl.data()), FALSE) ||
      !::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED)) {
    PLOG(ERROR) << "Building the folder's security descriptor failed";
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    base::FilePath candidate =
        temp.Append(base::Utf8ToWide(base::GenerateGuidText()));
    // Fails on an existing folder, so a name someone prepared is never used.
    if (::CreateDirectoryW(candidate.value().c_str(), &attributes)) {
      path_ = candidate;
      return true;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      PLOG(ERROR) << "Creating " << candidate.AsUTF8() << " failed";
      return false;
    }
  }
  return false;
}

}  // namespace installer
