#include "desktop/windows/installer/shell/taskband_utils.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/system/private_temp_folder.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr int64_t kMicrosecondsPerDay = 24LL * 60 * 60 * 1000 * 1000;
constexpr int64_t kPinInterval = 182 * kMicrosecondsPerDay;
constexpr wchar_t kLastBandCheckSuffix[] = L" Last Band Check";
constexpr int kHelperKilledExitCode = 1;

std::wstring GetLastBandCheckName() {
  return base::Utf8ToWide(GetStreamName()) + kLastBandCheckSuffix;
}

const wchar_t* GetHelperName() {
  return base::win::GetWindowsVersionInfo().architecture() ==
                 base::win::WindowsVersionInfo::kArchitectureX64
             ? kInstallerHelper64Name
             : kInstallerHelperName;
}

// In periodic mode: whether 182 days have passed since the last pinning. A
// missing, unreadable, zero or future time is replaced by now, which starts
// the period without pinning.
bool IsPeriodicPinDue() {
  base::win::RegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, GetCompanyRegistryPath().c_str(),
                 KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring value_name = GetLastBandCheckName();
  const int64_t now = base::Time::Now().ToInternalValue();
  std::wstring text;
  int64_t last = 0;
  if (key.ReadString(value_name.c_str(), &text) == ERROR_SUCCESS &&
      base::WideStringToInt64(text, &last) && last != 0 && last <= now) {
    return now - last >= kPinInterval;
  }
  WriteLastBandCheck(&key, value_name);
  return false;
}

// Copies the helper and opens the copy without write or delete sharing, so
// that it cannot be replaced or renamed while `lock` is open.
bool CopyHelperLocked(const base::FilePath& source,
                      const base::FilePath& target,
                      base::win::ScopedHandle* lock) {
  if (!base::CopyFileChecked(source, target))
    return false;
  lock->Set(::CreateFileW(target.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr));
  return lock->IsValid();
}

bool RunHelper(const base::FilePath& helper,
               const base::FilePath& shortcut,
               base::TimeDelta wait_limit) {
  base::CommandLine command_line(helper);
  command_line.AppendArg(shortcut.AsUTF8());
  base::Process process = base::LaunchProcessForCommandLine(command_line, {});
  if (!process.IsValid()) {
    VLOG(2) << "Could not launch the helper process";
    return false;
  }
  int exit_code = 0;
  if (!process.WaitForExitWithTimeout(wait_limit, &exit_code)) {
    VLOG(2) << "Could not wait for helper";
    // Ended, so that its private folder can go.
    ::TerminateProcess(process.Handle(), kHelperKilledExitCode);
    process.WaitForExitWithTimeout(internal::kHelperWaitLimit, nullptr);
    return false;
  }
  if (exit_code != 0) {
    VLOG(2) << "The helper returned status " << exit_code;
    return false;
  }
  return true;
}

}  // namespace

bool PinToTaskbar(const base::FilePath& installation_folder,
                  const base::FilePath& shortcut,
                  int mode,
                  PrivateTempFolder::Owners helper_owners) {
  return internal::PinToTaskbarOnVersion(base::win::GetWindowsVersion(),
                                         installation_folder, shortcut, mode,
                                         helper_owners);
}

bool PinToTaskbarWithHelper(const base::FilePath& installation_folder,
                            const base::FilePath& shortcut,
                            int mode,
                            PrivateTempFolder::Owners helper_owners) {
  return internal::PinToTaskbarWithHelper(installation_folder, shortcut, mode,
                                          helper_owners,
                                          internal::kHelperWaitLimit);
}

void WriteLastBandCheck(base::win::RegistryKey* key,
                        const std::wstring& value_name) {
  key->WriteString(
      value_name.c_str(),
      base::Int64ToString16(base::Time::Now().ToInternalValue()).c_str());
}

namespace internal {

bool PinToTaskbarOnVersion(int version,
                           const base::FilePath& installation_folder,
                           const base::FilePath& shortcut,
                           int mode,
                           PrivateTempFolder::Owners helper_owners) {
  if (version >= base::win::kVersionWin10) {
    return PinToTaskbarWithHelper(installation_folder, shortcut, mode,
                                  helper_owners, kHelperWaitLimit);
  }
  if (version < base::win::kVersionWin7)
    return false;
  const HINSTANCE result =
      ::ShellExecuteW(nullptr, L"taskbarpin", shortcut.value().c_str(), nullptr,
                      nullptr, SW_HIDE);
  return reinterpret_cast<intptr_t>(result) > 32;
}

bool PinToTaskbarWithHelper(const base::FilePath& installation_folder,
                            const base::FilePath& shortcut,
                            int mode,
                            PrivateTempFolder::Owners helper_owners,
                            base::TimeDelta wait_limit) {
  if (mode == kPinPeriodically && !IsPeriodicPinDue())
    return false;
  // A fixed name in the shared temporary folder could be replaced between
  // copy and launch, or collide with another installation.
  PrivateTempFolder folder(helper_owners);
  if (!folder.Create()) {
    VLOG(2) << "Could not create a private folder for the helper";
    return false;
  }
  const base::FilePath helper = folder.path().Append(kPinningHelperRunName);
  base::win::ScopedHandle lock;
  if (!CopyHelperLocked(installation_folder.Append(GetHelperName()), helper,
                        &lock)) {
    VLOG(2) << "Could not copy the new helper";
    return false;
  }
  LOG(INFO) << "Running the pinning helper " << helper.AsUTF8();
  const bool pinned = RunHelper(helper, shortcut, wait_limit);
  lock.Close();
  if (mode == kPinPeriodically && pinned) {
    base::win::RegistryKey key;
    if (key.Create(HKEY_CURRENT_USER, GetCompanyRegistryPath().c_str(),
                   KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
      WriteLastBandCheck(&key, GetLastBandCheckName());
    }
  }
  return pinned;
}

}  // namespace internal

}  // namespace installer
