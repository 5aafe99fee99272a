#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/registry/registry_object_name.h"
#include "desktop/windows/installer/security/access_permissions.h"

namespace installer {

namespace {

// KEY_QUERY_VALUE, KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_ENUMERATE_SUB_KEYS,
// KEY_NOTIFY, DELETE and READ_CONTROL.
constexpr REGSAM kDeletionAccess = 0x3001F;
// KEY_READ with DELETE: what saving and deleting a key cannot do without.
constexpr DWORD kRequiredAccess = 0x30019;
// Group, access list and integrity label: what a recreated key gets back.
constexpr SECURITY_INFORMATION kSavedSecurity = GROUP_SECURITY_INFORMATION |
                                                DACL_SECURITY_INFORMATION |
                                                LABEL_SECURITY_INFORMATION;
constexpr DWORD kMaxKeyNameLength = 255;
constexpr DWORD kMaxValueNameLength = 16383;

struct RegistryKeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using ScopedRegistryHandle =
    std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyCloser>;

bool IsBelow(const std::wstring& key_path, const std::wstring& parent) {
  return key_path.size() > parent.size() && key_path[parent.size()] == L'\\' &&
         key_path.compare(0, parent.size(), parent) == 0;
}

// The error of the first of two reads that failed (`*size_read` tells
// whether the first worked); the descriptor is self-relative.
LONG ReadSecurityDescriptor(HKEY key,
                            std::vector<uint8_t>* descriptor,
                            bool* size_read) {
  DWORD size = 0;
  LONG result = ::RegGetKeySecurity(key, kSavedSecurity, nullptr, &size);
  *size_read = result == ERROR_INSUFFICIENT_BUFFER;
  if (!*size_read)
    return result == ERROR_SUCCESS ? ERROR_INVALID_SECURITY_DESCR : result;
  descriptor->resize(size);
  result = ::RegGetKeySecurity(key, kSavedSecurity, descriptor->data(), &size);
  descriptor->resize(result == ERROR_SUCCESS ? size : 0);
  return result;
}

bool ReadValues(HKEY key,
                const std::wstring& object_name,
                std::vector<SavedRegistryValue>* values) {
  DWORD value_count = 0;
  DWORD max_name_length = 0;
  DWORD max_data_size = 0;
  const LONG info_result = ::RegQueryInfoKeyW(
      key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &value_count,
      &max_name_length, &max_data_size, nullptr, nullptr);
  if (info_result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to obtain key info for " << object_name.c_str()
               << ": " << base::SystemErrorCodeToString(info_result);
    return false;
  }
  VLOG(1) << value_count << " values";
  std::vector<wchar_t> name(max_name_length + 1);
  // Never empty: a null buffer would report the size without the data.
  std::vector<uint8_t> data(std::max<DWORD>(max_data_size, 1));
  for (DWORD index = 0; index < value_count; ++index) {
    DWORD name_length = 0;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG result = ERROR_MORE_DATA;
    // A second try for a value that outgrew the key's figures (written
    // meanwhile, or given a terminator on the way out).
    for (int attempt = 0; attempt < 2 && result == ERROR_MORE_DATA; ++attempt) {
      if (attempt > 0) {
        name.resize(kMaxValueNameLength + 1);
        data.resize(std::max<size_t>(data.size(), size));
      }
      name_length = static_cast<DWORD>(name.size());
      size = static_cast<DWORD>(data.size());
      result = ::RegEnumValueW(key, index, name.data(), &name_length, nullptr,
                               &type, data.data(), &size);
    }
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to obtain value nr " << index << ": "
                 << base::SystemErrorCodeToString(result);
      return false;
    }
    values->push_back(SavedRegistryValue{
        std::wstring(name.data(), name_length), type,
        std::vector<uint8_t>(data.begin(), data.begin() + size)});
  }
  return true;
}

// Some systems (Wine) give a new key a default descriptor whatever the
// creation asked for: the saved one is written once more. The creator owns
// the new key, so it may always change the access list; the group and the
// label need a right that the list may refuse.
void WriteSavedSecurity(HKEY key, const std::vector<uint8_t>& descriptor) {
  HKEY raw_writer = nullptr;
  SECURITY_INFORMATION information = kSavedSecurity;
  if (::RegOpenKeyExW(key, L"", 0, WRITE_DAC | WRITE_OWNER, &raw_writer) !=
      ERROR_SUCCESS) {
    information = DACL_SECURITY_INFORMATION;
    if (::RegOpenKeyExW(key, L"", 0, WRITE_DAC, &raw_writer) != ERROR_SUCCESS)
      return;
  }
  ScopedRegistryHandle writer(raw_writer);
  ::RegSetKeySecurity(writer.get(), information,
                      const_cast<uint8_t*>(descriptor.data()));
}

ScopedRegistryHandle RecreateKey(HKEY parent,
                                 const std::wstring& name,
                                 const SavedRegistryKey& saved,
                                 REGSAM view) {
  SECURITY_ATTRIBUTES attributes = {
      sizeof(attributes),
      const_cast<uint8_t*>(saved.security_descriptor.data()), FALSE};
  HKEY raw_key = nullptr;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(parent, name.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, kDeletionAccess | view,
                        &attributes, &raw_key, &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  ScopedRegistryHandle key(raw_key);
  // A key that exists already keeps its values and its list.
  if (disposition != REG_CREATED_NEW_KEY)
    return key;
  for (const SavedRegistryValue& value : saved.values) {
    ::RegSetValueExW(key.get(), value.name.c_str(), 0, value.type,
                     value.data.data(), static_cast<DWORD>(value.data.size()));
  }
  WriteSavedSecurity(key.get(), saved.security_descriptor);
  return key;
}

}  // namespace

DeleteRegKeyOperation::DeleteRegKeyOperation(HKEY root,
                                             const std::wstring& key_path,
                                             REGSAM view)
    : root_(root), key_path_(key_path), view_(view) {}

DeleteRegKeyOperation::~DeleteRegKeyOperation() = default;

bool DeleteRegKeyOperation::Do(Transaction* /*sub_operations*/) {
  VLOG(1) << "Attempting to delete registry key " << key_path_.c_str()
          << " under " << root_;
  const std::wstring object_name = GetRegistryObjectName(root_, key_path_);
  // An empty path names the root itself, whose whole content would go.
  if (key_path_.empty()) {
    LOG(ERROR) << "Failed to open key " << object_name.c_str();
    return false;
  }
  base::win::RegistryKey key;
  const LONG result =
      key.Open(root_, key_path_.c_str(), KEY_QUERY_VALUE | view_);
  key.Close();
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist. Nothing to do.";
    return true;
  }
  if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
    LOG(ERROR) << "Failed to open key " << object_name.c_str() << ": "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  return DeleteAndSaveRecursive(key_path_, object_name);
}

void DeleteRegKeyOperation::Rollback() {
  // Each key is made through its parent's new handle, which was given the
  // right to create subkeys even where the parent's own list refuses it.
  std::vector<std::pair<const std::wstring*, ScopedRegistryHandle>> parents;
  for (const SavedRegistryKey& saved : saved_tree_) {
    while (!parents.empty() && !IsBelow(saved.path, *parents.back().first))
      parents.pop_back();
    HKEY parent = root_;
    std::wstring name = saved.path;
    if (!parents.empty()) {
      parent = parents.back().second.get();
      name.erase(0, parents.back().first->size() + 1);
    }
    ScopedRegistryHandle key = RecreateKey(parent, name, saved, view_);
    if (key)
      parents.emplace_back(&saved.path, std::move(key));
  }
  parents.clear();
  // A grant on a key is inherited by its subkeys before their descriptors
  // are read; writing the key's own list back takes those entries away.
  for (const std::unique_ptr<SavedSecurityInfo>& before_grant : granted_)
    RestoreSecurityInfo(before_grant.get());
}

bool DeleteRegKeyOperation::RecordInJournal(
    const SavedRegistryKey& saved) const {
  RunJournal* journal = RunJournal::Get();
  if (!journal->RecordDeletedKey(root_, view_, saved.path))
    return false;
  for (const SavedRegistryValue& value : saved.values) {
    if (!journal->RecordOldValue(root_, view_, saved.path, value.name,
                                 value.type, value.data)) {
      return false;
    }
  }
  return true;
}

bool DeleteRegKeyOperation::DeleteAndSaveRecursive(
    const std::wstring& key_path,
    const std::wstring& object_name) {
  VLOG(1) << "DeleteAndSaveRecursive : " << key_path.c_str();
  SavedRegistryKey saved;
  saved.path = key_path;
  base::win::RegistryKey key;
  if (!OpenForDeletion(key_path, object_name, &key, &saved.security_descriptor))
    return false;
  if (saved.security_descriptor.empty()) {
    bool size_read = false;
    const LONG result = ReadSecurityDescriptor(
        key.Handle(), &saved.security_descriptor, &size_read);
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to obtain security descriptor for "
                 << object_name.c_str()
                 << (size_read ? "(but we succeeded earlier)" : "") << ": "
                 << base::SystemErrorCodeToString(result);
      return false;
    }
  }
  if (!ReadValues(key.Handle(), object_name, &saved.values))
    return false;
  if (!RecordInJournal(saved))
    return false;
  saved_tree_.push_back(std::move(saved));

  for (;;) {
    wchar_t name[kMaxKeyNameLength + 1];
    DWORD length = kMaxKeyNameLength + 1;
    // Index 0 each time: the subkey read last is gone by now.
    const LONG result = ::RegEnumKeyExW(key.Handle(), 0, name, &length, nullptr,
                                        nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to read a subkey: "
                 << base::SystemErrorCodeToString(result);
      return false;
    }
    const std::wstring subkey = L"\\" + std::wstring(name, length);
    if (!DeleteAndSaveRecursive(key_path + subkey, object_name + subkey))
      return false;
  }

  key.Close();
  // A key that stays would also be read again and again by its parent's
  // loop above.
  const LONG result = ::RegDeleteKeyExW(root_, key_path.c_str(), view_, 0);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to delete key " << object_name.c_str() << ": "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  return true;
}

bool DeleteRegKeyOperation::OpenForDeletion(
    const std::wstring& key_path,
    const std::wstring& object_name,
    base::win::RegistryKey* key,
    std::vector<uint8_t>* descriptor_before_grant) {
  const int object_type = GetRegistryObjectType(view_);
  LONG result = key->Open(root_, key_path.c_str(), kDeletionAccess | view_);
  if (result == ERROR_SUCCESS &&
      CheckAccessToPath(object_name, object_type, kRequiredAccess)) {
    return true;
  }
  if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
    LOG(ERROR) << "Failed to open key " << object_name.c_str() << ": "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  VLOG(1) << "Insufficient permissions on the key";
  // What a rollback must give back is the descriptor from before the grant.
  // A key that does not even let it be read gets its list back from the
  // kept record at the end of the rollback.
  base::win::RegistryKey reader;
  bool size_read = false;
  if (reader.Open(root_, key_path.c_str(), READ_CONTROL | view_) ==
      ERROR_SUCCESS) {
    ReadSecurityDescriptor(reader.Handle(), descriptor_before_grant,
                           &size_read);
  }
  std::unique_ptr<SavedSecurityInfo> before_grant;
  if (!GrantAccessToCurrentUser(object_name, object_type, kDeletionAccess,
                                /*keep_previous=*/true, &before_grant)) {
    LOG(ERROR) << "Unable to obtain sufficient permissions on key"
               << object_name.c_str();
    return false;
  }
  granted_.push_back(std::move(before_grant));
  result = key->Open(root_, key_path.c_str(), kDeletionAccess | view_);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to open key " << object_name.c_str() << ": "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  return true;
}

}  // namespace installer
