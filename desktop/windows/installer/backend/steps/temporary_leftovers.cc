#include "desktop/windows/installer/backend/steps/temporary_leftovers.h"

#include <optional>

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/strings/string_util.h"
#include "components/prefs/read_prefs_file.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/package_file_names.h"

namespace installer {

namespace {

// What the system's temporary names put before their 1 to 4 hex digits and
// ".tmp": nothing for the staged copies (made with no prefix), "rf" for
// Wine's scratch of a replaced file.
constexpr std::wstring_view kSystemTemporaryPrefixes[] = {L"", L"rf"};
constexpr size_t kSystemTemporaryMaxDigits = 4;
constexpr std::wstring_view kTemporaryExtension = L".tmp";
constexpr std::wstring_view kSetAsideExtension = L".bad";

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return ToUpperOrdinal(std::wstring(a)) == ToUpperOrdinal(std::wstring(b));
}

bool EndsWithIgnoringCase(std::wstring_view name, std::wstring_view suffix) {
  return name.size() > suffix.size() &&
         EqualsIgnoringCase(name.substr(name.size() - suffix.size()), suffix);
}

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
         (c >= L'A' && c <= L'F');
}

// "<prefix><1 to 4 hex digits>.tmp", as GetTempFileNameW names a file.
bool IsSystemTemporaryName(std::wstring_view name) {
  if (!EndsWithIgnoringCase(name, kTemporaryExtension))
    return false;
  const std::wstring_view stem =
      name.substr(0, name.size() - kTemporaryExtension.size());
  for (const std::wstring_view prefix : kSystemTemporaryPrefixes) {
    if (stem.size() <= prefix.size() ||
        stem.size() > prefix.size() + kSystemTemporaryMaxDigits ||
        !EqualsIgnoringCase(stem.substr(0, prefix.size()), prefix)) {
      continue;
    }
    bool digits = true;
    for (const wchar_t c : stem.substr(prefix.size()))
      digits &= IsHexDigit(c);
    if (digits)
      return true;
  }
  return false;
}

bool IsRootName(std::wstring_view name,
                const std::vector<std::wstring>& root_names) {
  for (const std::wstring& root_name : root_names) {
    if (EqualsIgnoringCase(name, root_name))
      return true;
  }
  return false;
}

// A staged copy: a write's temporary file of a root file (as this version
// stages them) or a system temporary name (as earlier ones did).
bool IsStagedCopy(std::wstring_view name,
                  const std::vector<std::wstring>& root_names) {
  const std::optional<std::wstring> target =
      base::ImportantFileWriter::GetTargetOfTemporaryName(name);
  return target ? IsRootName(*target, root_names) : IsSystemTemporaryName(name);
}

// A write's temporary file, at any depth, of a root file or a staged copy.
bool IsTemporaryOfWrite(std::wstring_view name,
                        const std::vector<std::wstring>& root_names) {
  std::optional<std::wstring> target =
      base::ImportantFileWriter::GetTargetOfTemporaryName(name);
  for (; target;
       target = base::ImportantFileWriter::GetTargetOfTemporaryName(*target)) {
    if (IsRootName(*target, root_names) || IsSystemTemporaryName(*target))
      return true;
  }
  return false;
}

// What a store's read sets aside: the installer prefs, or a staged copy.
bool IsSetAside(std::wstring_view name,
                const std::vector<std::wstring>& root_names) {
  if (!EndsWithIgnoringCase(name, kSetAsideExtension))
    return false;
  const std::wstring stem(
      name.substr(0, name.size() - kSetAsideExtension.size()));
  return EqualsIgnoringCase(name, base::GetBadPrefsFilePath(
                                      base::FilePath(kInstallerPrefsName))
                                      .value()) ||
         IsStagedCopy(stem + std::wstring(kTemporaryExtension), root_names);
}

}  // namespace

// static
bool TemporaryLeftovers::IsLeftover(
    std::wstring_view name,
    const std::vector<std::wstring>& root_names) {
  return IsTemporaryOfWrite(name, root_names) || IsSystemTemporaryName(name) ||
         IsSetAside(name, root_names);
}

}  // namespace installer
