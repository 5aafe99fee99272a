#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <memory>
#include <string>

#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

struct SavedSecurityInfo;

// Creates a registry key with every missing key above it; a rollback deletes
// the topmost key it created, with everything below. Where the process may
// not create subkeys of the nearest existing ancestor, the current user is
// granted that right until the operation is destroyed.
class CreateRegKeyOperation : public Operation {
 public:
  // `view` is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  CreateRegKeyOperation(HKEY root, const std::wstring& key_path, REGSAM view);
  // Gives the ancestor its previous access list back when `Do` had to grant.
  ~CreateRegKeyOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  // The nearest existing ancestor of the key (the root itself at the top),
  // the key below it on the way down, and whether opening it to create
  // subkeys was refused.
  struct Ancestor {
    std::wstring path;
    std::wstring first_missing;
    bool refused = false;
  };
  bool FindAncestor(Ancestor* ancestor) const;
  bool EnsureCreateAccess(const Ancestor& ancestor);
  // Creates every key from below `ancestor_path` down to the key.
  [[nodiscard]] bool CreateBelow(const std::wstring& ancestor_path);

  const HKEY root_;
  const std::wstring key_path_;
  std::wstring created_key_;
  std::unique_ptr<SavedSecurityInfo> saved_security_;
  const REGSAM view_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_
