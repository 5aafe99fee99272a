#include "desktop/windows/installer/backend/steps/uninstall_entry_claim.h"

#include <memory>
#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_named_mutex.h"
#include "desktop/windows/installer/transactions/create_reg_key_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

namespace {

// One per hive: the machine's entries are shared by every user's
// all-users runs, a user's by the runs of that user's session.
constexpr wchar_t kMachineMutexName[] =
    L"Global\\TarvoInstaller/UninstallEntry/Machine";
constexpr wchar_t kUserMutexName[] = L"Local\\TarvoInstaller/UninstallEntry/User";
// The holder keeps it for a few registry calls; a run that hangs while
// holding it must not stop every later installation.
constexpr DWORD kMutexWaitMs = 10000;
// A thousand installations of one version side by side is no real machine:
// beyond it the names come from something else.
constexpr int kMaxCounter = 1000;

}  // namespace

UninstallEntryClaim::UninstallEntryClaim(HKEY root, std::wstring first_name)
    : root_(root), first_name_(std::move(first_name)) {}

UninstallEntryClaim::~UninstallEntryClaim() = default;

std::wstring UninstallEntryClaim::Claim(Transaction* transaction) const {
  // Made by a run with other rights, it is opened: waiting and releasing
  // are enough. Abandoned, its holder died, and what it made is in the
  // registry for the choice to see.
  base::win::ScopedNamedMutex mutex(MutexName(), {.open_if_denied = true});
  // Without the mutex the choice is as good as it was before it: taken
  // names are still skipped.
  if (!mutex.Acquire(kMutexWaitMs))
    LOG(WARNING) << "Choosing the uninstall entry without the mutex";
  const std::wstring name = FindFreeName();
  if (name.empty())
    return std::wstring();
  if (!transaction->ExecuteOperation(
          std::make_unique<CreateRegKeyOperation>(root_, name, kView))) {
    LOG(ERROR) << "Failed creating the uninstall entry "
               << base::WideToUtf8(name);
    return std::wstring();
  }
  return name;
}

std::wstring UninstallEntryClaim::NameAt(int counter) const {
  return counter == 0 ? first_name_ : first_name_ + std::to_wstring(counter);
}

std::wstring UninstallEntryClaim::FindFreeName() const {
  for (int counter = 0; counter <= kMaxCounter; ++counter) {
    const std::wstring name = NameAt(counter);
    base::win::RegistryKey existing;
    const LONG result =
        existing.Open(root_, name.c_str(), KEY_QUERY_VALUE | kView);
    if (result == ERROR_FILE_NOT_FOUND)
      return name;
    // A key this run may not read is still another installation's.
    if (result == ERROR_ACCESS_DENIED) {
      LOG(WARNING) << "The uninstall entry " << base::WideToUtf8(name)
                   << " cannot be read: taken as another installation's";
    } else if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed reading the uninstall entry "
                 << base::WideToUtf8(name) << ": "
                 << base::SystemErrorCodeToString(result);
      return std::wstring();
    }
  }
  LOG(ERROR) << "Every uninstall entry name is taken";
  return std::wstring();
}

const wchar_t* UninstallEntryClaim::MutexName() const {
  return root_ == HKEY_LOCAL_MACHINE ? kMachineMutexName : kUserMutexName;
}

}  // namespace installer
