#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "desktop/windows/installer/transactions/operation.h"

namespace base::win {
class RegistryKey;
}

namespace installer {

struct SavedSecurityInfo;

struct SavedRegistryValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

// One deleted key: its path below the root, its security descriptor (group,
// access list and label, self-relative) and its values in enumeration order.
struct SavedRegistryKey {
  std::wstring path;
  std::vector<uint8_t> security_descriptor;
  std::vector<SavedRegistryValue> values;
};

// Deletes a registry key with its whole subtree, keeping a copy from which
// a rollback recreates every key with its security descriptor and values.
class DeleteRegKeyOperation : public Operation {
 public:
  // `view` is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  DeleteRegKeyOperation(HKEY root, const std::wstring& key_path, REGSAM view);
  ~DeleteRegKeyOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

  // Deletes the key at `key_path` after saving it and, depth first, its
  // subkeys into the saved tree.
  bool DeleteAndSaveRecursive(const std::wstring& key_path,
                              const std::wstring& object_name);

 private:
  // What a recovery needs to make the key again should the run die.
  [[nodiscard]] bool RecordInJournal(const SavedRegistryKey& saved) const;
  // Opens the key for saving and deleting it, granting the current user
  // access first where needed; `descriptor_before_grant` then receives the
  // key's descriptor from before the grant when the key lets it be read.
  bool OpenForDeletion(const std::wstring& key_path,
                       const std::wstring& object_name,
                       base::win::RegistryKey* key,
                       std::vector<uint8_t>* descriptor_before_grant);

  const HKEY root_;
  const std::wstring key_path_;
  // Parents before their subkeys.
  std::vector<SavedRegistryKey> saved_tree_;
  // The access lists of keys from before `Do` granted access to them.
  std::vector<std::unique_ptr<SavedSecurityInfo>> granted_;
  const REGSAM view_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_
