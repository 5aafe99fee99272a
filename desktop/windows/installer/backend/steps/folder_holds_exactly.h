#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_FOLDER_HOLDS_EXACTLY_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_FOLDER_HOLDS_EXACTLY_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Whether the tree of `folder` is exactly `files`, paths relative to it with
// '\' between names, spelled (case included) as the tree spells them: no file
// more or fewer, no name listed twice, no folder without a file somewhere
// below it, no read-only file and no junction or link. Such a folder can go
// to its place in one rename and leave there what moving the listed files
// one by one would. False too when the tree cannot be listed to its end.
bool FolderHoldsExactly(const base::FilePath& folder,
                        std::vector<std::wstring> files);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_FOLDER_HOLDS_EXACTLY_H_
