#include "desktop/windows/installer/backend/steps/journaled_temporary_files.h"

#include <windows.h>

#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/product/install_folder_names.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

namespace {

// Whether nothing, not even a link, lies under `path` in a folder that is
// there.
bool IsNameFree(const base::FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) ==
             INVALID_FILE_ATTRIBUTES &&
         ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Whether `path`, made in the installation folder's root, fits the room the
// folder's limit leaves its staged names: a longer one would pass the
// system's path limit at the longest folder, after every file was copied.
bool FitsFolderLimit(const base::FilePath& path) {
  if (path.BaseName().value().size() <= kLongestStagedName)
    return true;
  LOG(ERROR) << "Not making " << path.AsUTF8()
             << ": its name is longer than the folder's limit leaves room for";
  return false;
}

}  // namespace

base::NewFileInFolder::Result JournaledTemporaryFiles::Make(
    const base::FilePath& temporary) {
  base::NewFileInFolder::Result made;
  made.path = temporary.value();
  if (!FitsFolderLimit(temporary)) {
    made.error = ERROR_FILENAME_EXCED_RANGE;
    return made;
  }
  if (!Expect(temporary)) {
    made.error = IsNameFree(temporary) ? ERROR_WRITE_FAULT : ERROR_FILE_EXISTS;
    return made;
  }
  // Under the journaled name or none: another would be a file no line
  // names.
  made = base::NewFileInFolder::Create(temporary.value(),
                                       base::NewFileInFolder::OldFile::kKeep,
                                       GENERIC_WRITE, /*name_tries=*/1);
  if (!made.file.IsValid()) {
    ::SetLastError(made.error);
    PLOG(ERROR) << "Failed making the temporary file " << temporary.AsUTF8();
    return made;
  }
  TestHooks::OnRolePoint(TestHooks::RolePoint::kTemporaryFile);
  return made;
}

base::NewFileInFolder::Result JournaledTemporaryFiles::MakeFor(
    const base::FilePath& target) {
  return Make(base::ImportantFileWriter::MakeTemporaryPath(target));
}

bool JournaledTemporaryFiles::Expect(const base::FilePath& path) {
  if (!FitsFolderLimit(path))
    return false;
  // A name already taken is never journaled: the recovery would remove
  // what lies there, which is no file of the run's.
  if (!IsNameFree(path)) {
    LOG(ERROR) << "Not journaling " << path.AsUTF8()
               << " as a temporary file: its name is taken";
    return false;
  }
  // The journal logs a line it could not write.
  return RunJournal::Get()->RecordTemporary(path);
}

}  // namespace installer
