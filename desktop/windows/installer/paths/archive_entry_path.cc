#include "desktop/windows/installer/paths/archive_entry_path.h"

#include <algorithm>
#include <map>

#include "base/files/file_path.h"
#include "desktop/windows/installer/paths/device_name.h"

namespace installer {
namespace {

// Windows drops trailing dots and spaces from names: "..." and ".. " would
// act as "..".
bool IsDotsOnly(std::wstring_view component) {
  return !component.empty() &&
         component.find_first_not_of(L". ") == std::wstring_view::npos;
}

bool IsSafeComponent(std::wstring_view component) {
  return !IsDotsOnly(component) && !IsDeviceName(component);
}

// "a." and "a " name "a"; a component of dots only was refused already.
std::wstring_view WithoutTrailingDotsAndSpaces(std::wstring_view component) {
  const size_t end = component.find_last_not_of(L". ");
  return end == std::wstring_view::npos ? std::wstring_view()
                                        : component.substr(0, end + 1);
}

struct IgnoringCaseLess {
  bool operator()(const base::FilePath& a, const base::FilePath& b) const {
    return base::FilePath::CompareIgnoreCase(a, b) < 0;
  }
};
// Windows paths, each with the first entry that makes or needs it.
using PathIndex = std::map<base::FilePath, size_t, IgnoringCaseLess>;

// Every folder the entries make or need. Whenever a folder is in the index,
// so are those above it.
PathIndex IndexFolders(const std::vector<ArchiveEntryName>& entries) {
  PathIndex folders;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::wstring form = GetWindowsPathForm(entries[i].path);
    if (entries[i].is_folder && !form.empty())
      folders.emplace(base::FilePath(form), i);
    for (size_t cut = form.rfind(L'\\'); cut != std::wstring::npos && cut > 0;
         cut = form.rfind(L'\\', cut - 1)) {
      if (!folders.emplace(base::FilePath(form.substr(0, cut)), i).second)
        break;
    }
  }
  return folders;
}

std::pair<size_t, size_t> InOrder(size_t a, size_t b) {
  return {std::min(a, b), std::max(a, b)};
}

}  // namespace

std::optional<std::wstring> GetArchiveEntryRelativePath(
    std::wstring_view name) {
  std::wstring path(name);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (path.empty() || path.front() == L'\\' ||
      path.find(L':') != std::wstring::npos) {
    return std::nullopt;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos)
      end = path.size();
    if (!IsSafeComponent(std::wstring_view(path).substr(start, end - start)))
      return std::nullopt;
    start = end + 1;
  }
  return path;
}

std::wstring GetWindowsPathForm(std::wstring_view relative_path) {
  std::wstring form;
  size_t start = 0;
  while (start <= relative_path.size()) {
    size_t end = relative_path.find(L'\\', start);
    if (end == std::wstring_view::npos)
      end = relative_path.size();
    // "a\\b" is "a\b": Windows folds runs of separators.
    const std::wstring_view component = WithoutTrailingDotsAndSpaces(
        relative_path.substr(start, end - start));
    if (!component.empty()) {
      if (!form.empty())
        form += L'\\';
      form += component;
    }
    start = end + 1;
  }
  return form;
}

std::optional<std::pair<size_t, size_t>> FindEntryPathCollision(
    const std::vector<ArchiveEntryName>& entries) {
  const PathIndex folders = IndexFolders(entries);
  PathIndex files;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].is_folder)
      continue;
    const base::FilePath form(GetWindowsPathForm(entries[i].path));
    const auto [file, added] = files.emplace(form, i);
    if (!added)
      return InOrder(file->second, i);
    const auto folder = folders.find(form);
    if (folder != folders.end())
      return InOrder(folder->second, i);
  }
  return std::nullopt;
}

}  // namespace installer
