#include "desktop/windows/installer/backend/steps/folder_holds_exactly.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "base/files/file_enumerator.h"
#include "base/logging.h"

namespace installer {
namespace {

// A file moved by itself loses its read-only bit, and a link's target is
// not what a move of the link would carry: either is for the one-by-one way.
constexpr DWORD kAttributesMovedOnlyOneByOne =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT;

// Takes `file`'s folder and every folder above it (below the root) out of
// `empty`: they hold a file.
void MarkFoldersAbove(const std::wstring& file, std::set<std::wstring>* empty) {
  for (size_t end = file.rfind(L'\\'); end != std::wstring::npos && end > 0;
       end = file.rfind(L'\\', end - 1)) {
    if (empty->erase(file.substr(0, end)) == 0)
      return;  // Already taken out, and with it every folder above.
  }
}

}  // namespace

bool FolderHoldsExactly(const base::FilePath& folder,
                        std::vector<std::wstring> files) {
  std::sort(files.begin(), files.end());
  if (std::adjacent_find(files.begin(), files.end()) != files.end())
    return false;
  const size_t prefix = folder.value().size() + 1;
  std::vector<std::wstring> found;
  std::set<std::wstring> empty_folders;
  base::FileEnumerator tree(folder, base::FileEnumerator::kFiles |
                                        base::FileEnumerator::kDirectories);
  for (base::FilePath path = tree.Next(); !path.empty(); path = tree.Next()) {
    const DWORD attributes = tree.GetInfo().dwFileAttributes;
    if (attributes & kAttributesMovedOnlyOneByOne)
      return false;
    std::wstring relative = path.value().substr(prefix);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      empty_folders.insert(std::move(relative));
    else
      found.push_back(std::move(relative));
  }
  if (tree.error() != ERROR_SUCCESS) {
    LOG(WARNING) << "Could not list " << folder.AsUTF8() << ": "
                 << tree.error();
    return false;
  }
  for (const std::wstring& file : found)
    MarkFoldersAbove(file, &empty_folders);
  std::sort(found.begin(), found.end());
  return empty_folders.empty() && found == files;
}

}  // namespace installer
