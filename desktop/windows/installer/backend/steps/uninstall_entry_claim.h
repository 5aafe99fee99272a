#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_ENTRY_CLAIM_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_ENTRY_CLAIM_H_

#include <windows.h>

#include <string>

namespace installer {

class Transaction;

// Chooses the product's uninstall entry and creates it in one step that no
// other installer run interleaves: two runs started together into different
// folders each found the same name free, shared the entry, and uninstalling
// one removed the other's. The choice is held under a named mutex for the
// few registry calls it takes, and the entry is created through the run's
// transaction, so that a rollback, or the recovery of a run that died,
// removes it again.
class UninstallEntryClaim {
 public:
  // Entries live in the 32-bit view, where programs lists look for them.
  static constexpr REGSAM kView = KEY_WOW64_32KEY;

  // `first_name` is the entry's path for the first installation of this
  // version; later ones append 1, 2, ... to it.
  UninstallEntryClaim(HKEY root, std::wstring first_name);
  UninstallEntryClaim(const UninstallEntryClaim&) = delete;
  UninstallEntryClaim& operator=(const UninstallEntryClaim&) = delete;
  ~UninstallEntryClaim();

  // The path of the entry made for this run; empty, logged, when none
  // could be made.
  [[nodiscard]] std::wstring Claim(Transaction* transaction) const;

 private:
  std::wstring NameAt(int counter) const;
  // The first name that no key has; empty when the registry cannot tell
  // or every name up to the limit is taken.
  std::wstring FindFreeName() const;
  const wchar_t* MutexName() const;

  const HKEY root_;
  const std::wstring first_name_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_ENTRY_CLAIM_H_
