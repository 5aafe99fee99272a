#include "desktop/windows/installer/paths/local_path.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "base/files/final_path.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "desktop/windows/installer/paths/archive_entry_path.h"

namespace installer {

namespace {

constexpr wchar_t kVerbatimPrefix[] = L"\\\\?\\";
constexpr size_t kVerbatimPrefixLength = 4;
constexpr size_t kMaxPathUnits = 32767;
constexpr size_t kMaxComponentUnits = 255;
// Besides the separators and ':', which name streams.
constexpr wchar_t kWildcardsAndReserved[] = L"*?<>\"|";

bool IsAsciiLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

// "X:\" and the components after it, or false for another shape.
bool SplitDrivePath(std::wstring text,
                    std::wstring* drive,
                    std::vector<std::wstring>* components) {
  std::replace(text.begin(), text.end(), L'/', L'\\');
  if (text.compare(0, kVerbatimPrefixLength, kVerbatimPrefix) == 0)
    text.erase(0, kVerbatimPrefixLength);
  if (text.size() < 3 || text.size() > kMaxPathUnits ||
      !IsAsciiLetter(text[0]) || text[1] != L':' || text[2] != L'\\') {
    return false;
  }
  *drive = ToUpperOrdinal(text.substr(0, 1)) + L":\\";
  size_t start = 3;
  while (start < text.size()) {
    size_t end = text.find(L'\\', start);
    if (end == std::wstring::npos)
      end = text.size();
    components->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  // One trailing separator names the same folder; an empty component
  // anywhere else is not a path the installer writes.
  return std::all_of(
      components->begin(), components->end(),
      [](const std::wstring& name) { return IsPlainComponent(name); });
}

// What a resolver makes of the part of a path that may exist.
enum class PartState { kResolved, kMissing, kRefused };
using ExistingPartResolver = PartState (*)(const std::wstring& path,
                                           std::wstring* resolved);

bool GetLongPath(const std::wstring& path, std::wstring* long_path) {
  // Wine expands no 8.3 names in the verbatim form: used only where needed.
  const std::wstring verbatim =
      path.size() < MAX_PATH ? path : kVerbatimPrefix + path;
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetLongPathNameW(verbatim.c_str(), buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(length);  // The size asked for includes the NUL.
  }
  if (buffer.compare(0, kVerbatimPrefixLength, kVerbatimPrefix) == 0)
    buffer.erase(0, kVerbatimPrefixLength);
  *long_path = std::move(buffer);
  return true;
}

// Any failure counts as missing: a shorter part is tried.
PartState GetLongPart(const std::wstring& path, std::wstring* long_path) {
  return GetLongPath(path, long_path) ? PartState::kResolved
                                      : PartState::kMissing;
}

// Where `path` lies with every link on the way followed. Only a part that
// is not there lets a shorter one be tried: one that resolves off the
// local drives, or cannot be opened, refuses the whole path.
PartState GetFinalPart(const std::wstring& path, std::wstring* final_path) {
  const std::wstring openable =
      path.size() < MAX_PATH ? path : kVerbatimPrefix + path;
  std::wstring resolved =
      base::ResolvedEntry::GetFinalPath(base::FilePath(openable)).value();
  if (resolved.empty()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? PartState::kMissing
               : PartState::kRefused;
  }
  std::wstring drive;
  std::vector<std::wstring> components;
  if (!SplitDrivePath(resolved, &drive, &components))
    return PartState::kRefused;
  *final_path = std::move(resolved);
  return PartState::kResolved;
}

// `path` in one spelling: the deepest part that exists as `resolve` gives
// it, the rest as written (names that do not exist yet have only one
// spelling).
base::FilePath ResolveExistingPart(const base::FilePath& path,
                                   ExistingPartResolver resolve) {
  std::wstring drive;
  std::vector<std::wstring> components;
  if (!SplitDrivePath(path.value(), &drive, &components))
    return base::FilePath();
  for (size_t existing = components.size();; --existing) {
    std::wstring prefix = drive;
    for (size_t i = 0; i < existing; ++i)
      prefix += (i ? L"\\" : L"") + components[i];
    std::wstring resolved;
    const PartState state = resolve(prefix, &resolved);
    if (state == PartState::kRefused)
      return base::FilePath();
    if (state == PartState::kResolved) {
      for (size_t i = existing; i < components.size(); ++i) {
        if (resolved.back() != L'\\')
          resolved += L'\\';
        resolved += components[i];
      }
      if (resolved.size() > 3 && resolved.back() == L'\\')
        resolved.pop_back();
      return base::FilePath(resolved);
    }
    if (existing == 0) {
      PLOG(WARNING) << "No drive " << base::FilePath(drive).AsUTF8();
      return base::FilePath();
    }
  }
}

}  // namespace

bool IsPlainComponent(const std::wstring& name) {
  if (name.empty() || name.size() > kMaxComponentUnits || name.back() == L'.' ||
      name.back() == L' ' || name.find_first_of(L"\\/") != std::wstring::npos ||
      name.find_first_of(kWildcardsAndReserved) != std::wstring::npos) {
    return false;
  }
  if (std::any_of(name.begin(), name.end(),
                  [](wchar_t unit) { return unit < 0x20; })) {
    return false;
  }
  // Refuses ':', device names and components of dots.
  return GetArchiveEntryRelativePath(name).has_value();
}

base::FilePath ResolveLocalPath(const base::FilePath& path) {
  return ResolveExistingPart(path, &GetLongPart);
}

base::FilePath ResolveFinalLocalPath(const base::FilePath& path) {
  return ResolveExistingPart(path, &GetFinalPart);
}

bool IsReachedThroughLink(const base::FilePath& resolved) {
  const base::FilePath final_path = ResolveFinalLocalPath(resolved);
  if (ToUpperOrdinal(final_path.value()) != ToUpperOrdinal(resolved.value()))
    return true;
  // Wine opens a link's target even when asked for the link itself: only
  // the attributes of its name show it.
  const DWORD attributes = ::GetFileAttributesW(resolved.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

base::win::ScopedHandle OpenFolderReachedWithoutLinks(
    const base::FilePath& resolved,
    DWORD access) {
  base::win::ScopedHandle folder(::CreateFileW(
      resolved.value().c_str(), access | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.IsValid()) {
    PLOG(ERROR) << "Cannot open " << resolved.AsUTF8();
    return base::win::ScopedHandle();
  }
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (!::GetFileInformationByHandleEx(folder.Get(), FileAttributeTagInfo,
                                      &info, sizeof(info))) {
    PLOG(ERROR) << "Cannot read the attributes of " << resolved.AsUTF8();
    return base::win::ScopedHandle();
  }
  // Held now: the name's final path and the handle's must both be the name.
  const base::FilePath held_at = ResolveLocalPath(
      base::FilePath(base::GetFinalPath(folder.Get(), resolved.value())));
  if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      IsReachedThroughLink(resolved) ||
      ToUpperOrdinal(held_at.value()) != ToUpperOrdinal(resolved.value())) {
    LOG(ERROR) << resolved.AsUTF8() << " is no folder of its own name, or "
               << "a link leads to it";
    return base::win::ScopedHandle();
  }
  return folder;
}

std::wstring ToUpperOrdinal(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX)
    return text;
  std::wstring upper(text.size(), L'\0');
  const int length =
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(),
                    static_cast<int>(text.size()), upper.data(),
                    static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length <= 0) {
    PLOG(WARNING) << "LCMapStringEx failed";
    return text;
  }
  upper.resize(static_cast<size_t>(length));
  return upper;
}

bool IsBelowFolder(const base::FilePath& path, const base::FilePath& folder) {
  if (path.empty() || folder.empty())
    return false;
  std::wstring prefix = ToUpperOrdinal(folder.value());
  if (prefix.back() != L'\\')
    prefix += L'\\';
  const std::wstring upper = ToUpperOrdinal(path.value());
  return upper.size() > prefix.size() &&
         upper.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace installer
