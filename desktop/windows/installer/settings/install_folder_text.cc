#include "desktop/windows/installer/settings/install_folder_text.h"

namespace installer {

namespace {

bool IsDriveLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

}  // namespace

base::FilePath InstallFolderFromStoredText(const std::wstring& text) {
  size_t end = text.size();
  while (end > 0 && base::FilePath::IsSeparator(text[end - 1]))
    --end;
  // Only separators: no folder to keep a spelling of.
  if (end == 0)
    return base::FilePath(text);
  // "C:" alone is the drive's current folder, not its root.
  const bool drive_root = end == 2 && text[1] == L':' &&
                          IsDriveLetter(text[0]) && end < text.size();
  if (drive_root)
    return base::FilePath(text.substr(0, 2) + L"\\");
  return base::FilePath(text.substr(0, end));
}

}  // namespace installer
