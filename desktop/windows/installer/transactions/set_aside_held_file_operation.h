#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_SET_ASIDE_HELD_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_SET_ASIDE_HELD_FILE_OPERATION_H_

#include <cstdint>
#include <optional>
#include <string>

#include "base/files/held_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// Makes way for a file about to be written into a held folder: the file at
// its name is set aside in that folder ("<name>.<seconds>.old") through
// the handle that found it, and deleted through a handle again when the
// transaction commits; a rollback puts it back. Only a plain file of one
// name is touched: a link, a folder or a file with a second name (a hard
// link to someone else's) is refused, and nobody's owner or access list is
// changed.
class SetAsideHeldFileOperation : public Operation {
 public:
  SetAsideHeldFileOperation(base::HeldFolder::Ref folder, std::wstring name);
  ~SetAsideHeldFileOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  // The set-aside file, opened again as itself; invalid when something
  // else has its name now.
  base::win::ScopedHandle ReopenAside(DWORD access) const;

  base::HeldFolder::Ref folder_;
  const std::wstring name_;
  std::wstring aside_name_;
  std::optional<uint64_t> aside_index_;
  bool rolled_back_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_SET_ASIDE_HELD_FILE_OPERATION_H_
