#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TEST_KEY_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TEST_KEY_H_

// A registry key of a test's own, and the security texts the registry tests
// compare. Shared by the unit tests and the registry operations tool.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"

namespace installer::test {

// Owner, group and access list: what a test compares.
constexpr SECURITY_INFORMATION kOwnerGroupAndDacl = OWNER_SECURITY_INFORMATION |
                                                    GROUP_SECURITY_INFORMATION |
                                                    DACL_SECURITY_INFORMATION;

inline std::wstring ToSddl(PSECURITY_DESCRIPTOR descriptor,
                           SECURITY_INFORMATION information) {
  wchar_t* raw_text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, information, &raw_text, nullptr)) {
    return std::wstring();
  }
  const base::win::ScopedLocalAlloc<> text(raw_text);
  return raw_text;
}

// The key's security as SDDL, read through a handle; empty on failure.
inline std::wstring KeySddl(
    HKEY root,
    const std::wstring& path,
    REGSAM view,
    SECURITY_INFORMATION information = kOwnerGroupAndDacl) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, &key) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  DWORD size = 0;
  ::RegGetKeySecurity(key, information, nullptr, &size);
  std::string descriptor(size, '\0');
  const LONG result =
      ::RegGetKeySecurity(key, information, descriptor.data(), &size);
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS ? ToSddl(descriptor.data(), information)
                                 : std::wstring();
}

// Writes the access list of `sddl`, and its owner and group where it names
// them, to the key as it stands, without inheritance handling.
inline bool SetKeySddl(HKEY root,
                       const std::wstring& path,
                       REGSAM view,
                       const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &raw_descriptor, nullptr)) {
    return false;
  }
  const base::win::ScopedLocalAlloc<> descriptor(raw_descriptor);
  PSID owner = nullptr;
  PSID group = nullptr;
  BOOL defaulted = FALSE;
  ::GetSecurityDescriptorOwner(raw_descriptor, &owner, &defaulted);
  ::GetSecurityDescriptorGroup(raw_descriptor, &group, &defaulted);
  const SECURITY_INFORMATION information =
      DACL_SECURITY_INFORMATION | (owner ? OWNER_SECURITY_INFORMATION : 0) |
      (group ? GROUP_SECURITY_INFORMATION : 0);
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0,
                      WRITE_DAC | (owner || group ? WRITE_OWNER : 0) | view,
                      &key) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result = ::RegSetKeySecurity(key, information, raw_descriptor);
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// Deletes a key with everything below it whatever its lists say, as long as
// they let the owner be changed: each key is given to the Administrators
// group and opened to all first.
inline void PurgeKey(HKEY root, const std::wstring& path, REGSAM view) {
  SetKeySddl(root, path, view, L"O:BAD:(A;;KA;;;WD)");
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | view,
                      &key) == ERROR_SUCCESS) {
    wchar_t name[256];
    DWORD length = 256;
    while (::RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr,
                           nullptr) == ERROR_SUCCESS) {
      const std::wstring subkey = path + L"\\" + std::wstring(name, length);
      PurgeKey(root, subkey, view);
      length = 256;
      // A subkey that stays would be read again for ever.
      HKEY probe = nullptr;
      if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, &probe) ==
          ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        break;
      }
    }
    ::RegCloseKey(key);
  }
  ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

// A fresh key "Software\TarvoTest\<GUID>" under `root`, in the 32-bit view,
// the 64-bit one or both (0); gone with everything below it on destruction.
// The 32-bit view is apart from the 64-bit one under HKEY_LOCAL_MACHINE only.
class ScopedTestKey {
 public:
  ScopedTestKey(HKEY root, REGSAM view) : root_(root), view_(view) {
    path_ =
        L"Software\\TarvoTest\\" + base::Utf8ToWide(base::GenerateGuidText());
    valid_ = true;
    for (REGSAM each : Views()) {
      HKEY key = nullptr;
      valid_ &= ::RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | each, nullptr, &key,
                                  nullptr) == ERROR_SUCCESS;
      if (key)
        ::RegCloseKey(key);
    }
  }
  ScopedTestKey(const ScopedTestKey&) = delete;
  ScopedTestKey& operator=(const ScopedTestKey&) = delete;
  ~ScopedTestKey() {
    // The shared parent stays: deleted while empty, it would make another
    // process's creation of its own key below it fail.
    for (REGSAM each : Views())
      PurgeKey(root_, path_, each);
  }

  bool valid() const { return valid_; }
  const std::wstring& path() const { return path_; }
  std::wstring Child(const std::wstring& relative) const {
    return path_ + L"\\" + relative;
  }

 private:
  struct ViewList {
    REGSAM views[2];
    int count;
    const REGSAM* begin() const { return views; }
    const REGSAM* end() const { return views + count; }
  };
  ViewList Views() const {
    if (view_ == 0)
      return {{KEY_WOW64_64KEY, KEY_WOW64_32KEY}, 2};
    return {{view_, 0}, 1};
  }

  const HKEY root_;
  const REGSAM view_;
  std::wstring path_;
  bool valid_ = false;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TEST_KEY_H_
