#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALL_FOLDER_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALL_FOLDER_NAMES_H_

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "base/files/important_file_writer.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product/run_folder_name.h"

namespace installer {

// The names a run writes below the installation folder, each at its
// longest, and the longest folder below which all of them fit the
// system's path limit: a run must never find out half-way that a name is
// too long for it. The package's own files come on top; their depth is
// known once the package is read (MaxInstallPathLengthFor).

// A path the system's file functions take without "\\?\": MAX_PATH with
// its NUL.
inline constexpr size_t kLongestPath = MAX_PATH - 1;
// A folder must leave room for an 8.3 name below it (CreateDirectory).
inline constexpr size_t kLongestFolderPath = MAX_PATH - 12 - 1;

// Digits of the seconds since 1970 in a name, until the year 2286.
inline constexpr size_t kSecondsDigits = 10;

constexpr size_t DecimalDigits(size_t number) {
  return number < 10 ? 1 : 1 + DecimalDigits(number / 10);
}

// A file the run deletes or replaces is first set aside beside itself as
// "<name>.<seconds since 1970>[_<attempt>].old", the attempt below
// kSetAsideAttempts: a rollback puts it back.
inline constexpr int kSetAsideAttempts = 100;
inline constexpr wchar_t kSetAsideExtension[] = L".old";
inline constexpr size_t kLongestSetAsideSuffix =
    1 + kSecondsDigits + 1 + DecimalDigits(kSetAsideAttempts - 1) +
    std::char_traits<wchar_t>::length(kSetAsideExtension);

// A version installed again over itself goes to "<version>_<n>", the first
// free with n below kVersionSubfolderAttempts. Every run of a version makes
// room for the longest of them: a folder one run accepted, the same
// installer run again accepts too.
inline constexpr int kVersionSubfolderAttempts = 100;
inline constexpr size_t kLongestVersionSubfolderSuffix =
    1 + DecimalDigits(kVersionSubfolderAttempts - 1);

struct InstallFolderName {
  const char* what;
  // Characters below the folder, its separator not counted.
  size_t longest;
};

constexpr size_t NameLength(const wchar_t* name) {
  return std::char_traits<wchar_t>::length(name);
}

// The longest of the installation's own names in the folder's root
// (kPackageFileNames and the install logs'): each may be set aside.
constexpr size_t LongestOwnName() {
  size_t longest =
      std::max(NameLength(kInstallLogName), NameLength(kFormerInstallLogName));
  for (const wchar_t* name : kPackageFileNames)
    longest = std::max(longest, NameLength(name));
  return longest;
}

// A file the run puts in place through its transaction is first staged
// beside its target as "<name>.<8 hex digits>.tmp". The install log is
// written straight into its staged copy; the installer preferences' store
// writes its staged copy through a temporary file of its own beside it,
// which adds a second suffix. The staging refuses any longer name.
inline constexpr size_t kLongestStagedLogName =
    NameLength(kInstallLogName) +
    base::ImportantFileWriter::kTemporarySuffixLength;
inline constexpr size_t kLongestStagedPrefsName =
    NameLength(kInstallerPrefsName) +
    2 * base::ImportantFileWriter::kTemporarySuffixLength;
inline constexpr size_t kLongestStagedName =
    std::max(kLongestStagedLogName, kLongestStagedPrefsName);

// Every kind of name the run writes below the folder that the package does
// not bring. A new kind of name goes here, and the limit follows.
inline constexpr InstallFolderName kInstallFolderNames[] = {
    {"the run's journal", NameLength(kRunJournalPrefix) +
                              RunFolderName::kLongestSuffix +
                              NameLength(kRunJournalExtension)},
    {"the install log's staged copy", kLongestStagedLogName},
    {"the installer preferences' staged copy, written by their store",
     kLongestStagedPrefsName},
    {"one of the installation's own files set aside",
     LongestOwnName() + kLongestSetAsideSuffix},
    {"a replaced version's install log kept",
     NameLength(kOldStatusFolder) + 1 + NameLength(kInstallLogName) + 1 +
         kSecondsDigits + 1 + DecimalDigits(kOldStatusNameAttempts - 1)},
    {"the record of leftovers", NameLength(kUninstallBatchName)},
    // GetTempFileNameW's "<prefix><4 hex digits>.tmp" with the longest
    // prefix the installer gives it ("rf").
    {"a staged copy", 2 + 4 + 4},
};

constexpr size_t LongestInstallFolderName() {
  size_t longest = 0;
  for (const InstallFolderName& name : kInstallFolderNames)
    longest = std::max(longest, name.longest);
  return longest;
}

// The longest installation folder: every name of the table fits below it.
inline constexpr size_t kMaxInstallPathLength =
    kLongestPath - 1 - LongestInstallFolderName();
static_assert(kMaxInstallPathLength <= kLongestFolderPath);

// The longest installation folder for a package whose deepest file lies
// `deepest_file` characters below the folder (its version folder
// included): the file set aside must fit too.
size_t MaxInstallPathLengthFor(size_t deepest_file);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALL_FOLDER_NAMES_H_
