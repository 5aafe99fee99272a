#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/win/registry.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

struct SavedSecurityInfo;

// Writes or removes one registry value, keeping the old one for a rollback.
// A missing key is created first, as a sub-operation. Where the process may
// not change the key, the current user is granted that right until the
// operation is destroyed.
class ChangeRegValueOperation : public Operation {
 public:
  // As the new type: remove the value. As the old type: there was none.
  static constexpr DWORD kNoValue = 0xFFFFFFFF;

  // An empty `value_name` names the key's default value. `data` is copied.
  // `view` is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  ChangeRegValueOperation(HKEY root,
                          const std::wstring& key_path,
                          const std::wstring& value_name,
                          const void* data,
                          DWORD type,
                          DWORD size,
                          REGSAM view);
  // Gives the key its previous access list back when `Do` had to grant.
  ~ChangeRegValueOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  // Grants the current user what the operation needs when the key did not
  // open for it, or does not allow it, and opens it again.
  bool EnsureAccess(LONG open_result);
  bool ReadOldValue();
  bool WriteNewValue();

  const HKEY root_;
  const std::wstring key_path_;
  const std::wstring value_name_;
  const std::wstring object_name_;
  base::win::RegistryKey key_;
  DWORD old_type_ = kNoValue;
  std::vector<uint8_t> old_data_;
  const DWORD new_type_;
  const std::vector<uint8_t> new_data_;
  bool done_ = false;
  std::unique_ptr<SavedSecurityInfo> saved_security_;
  const REGSAM view_;
};

// What the installer core uses: no `data` removes the value. No flag changes
// the operation.
std::unique_ptr<Operation> MakeChangeRegValueOperation(
    HKEY root,
    const std::wstring& key_path,
    const std::wstring& value_name,
    const void* data,
    DWORD size,
    DWORD type,
    DWORD flags,
    REGSAM view);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_
