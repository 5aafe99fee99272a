#include "desktop/windows/installer/backend/steps/uninstall_entry_claim.h"

#include <memory>
#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
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

// Held until destroyed, once `Acquire` succeeded.
class ScopedMutexHold {
 public:
  explicit ScopedMutexHold(const wchar_t* name)
      : mutex_(::CreateMutexW(nullptr, FALSE, name)) {
    // Made by a run with other rights: waiting and releasing are enough.
    if (!mutex_.IsValid() && ::GetLastError() == ERROR_ACCESS_DENIED) {
      mutex_.Set(
          ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
    }
    if (!mutex_.IsValid())
      PLOG(WARNING) << "Could not open " << base::WideToUtf8(name);
  }
  ScopedMutexHold(const ScopedMutexHold&) = delete;
  ScopedMutexHold& operator=(const ScopedMutexHold&) = delete;
  ~ScopedMutexHold() {
    if (held_ && !::ReleaseMutex(mutex_.Get()))
      PLOG(ERROR) << "Could not release the uninstall entry mutex";
  }

  [[nodiscard]] bool Acquire() {
    if (!mutex_.IsValid())
      return false;
    const DWORD wait = ::WaitForSingleObject(mutex_.Get(), kMutexWaitMs);
    // Abandoned: its holder died, and what it made is in the registry for
    // the choice to see.
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (wait == WAIT_FAILED)
      PLOG(WARNING) << "Waiting for the uninstall entry mutex failed";
    else if (!held_)
      LOG(WARNING) << "The uninstall entry mutex stays held";
    return held_;
  }

 private:
  base::win::ScopedHandle mutex_;
  bool held_ = false;
};

}  // namespace

UninstallEntryClaim::UninstallEntryClaim(HKEY root, std::wstring first_name)
    : root_(root), first_name_(std::move(first_name)) {}

UninstallEntryClaim::~UninstallEntryClaim() = default;

std::wstring UninstallEntryClaim::Claim(Transaction* transaction) const {
  ScopedMutexHold hold(MutexName());
  // Without the mutex the choice is as good as it was before it: taken
  // names are still skipped.
  if (!hold.Acquire())
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
    if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
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
