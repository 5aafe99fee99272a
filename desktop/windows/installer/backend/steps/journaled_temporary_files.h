#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_JOURNALED_TEMPORARY_FILES_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_JOURNALED_TEMPORARY_FILES_H_

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/files/new_file_in_folder.h"

namespace installer {

// Makes the temporary files a run writes in the installation folder (the
// staged copies it puts in place through the transaction, and the
// temporary file of each of their writes), each named in the run's journal
// before it exists: a run killed while one is there leaves it to the next
// run's recovery, which removes it whether it undoes or finishes the run.
// Lives on the backend's main thread, as the journal does: a store whose
// writes make their temporary files here has no task runner.
class JournaledTemporaryFiles
    : public base::ImportantFileWriter::TemporaryFileMaker {
 public:
  JournaledTemporaryFiles() = default;
  ~JournaledTemporaryFiles() override = default;
  JournaledTemporaryFiles(const JournaledTemporaryFiles&) = delete;
  JournaledTemporaryFiles& operator=(const JournaledTemporaryFiles&) = delete;

  // `temporary` made new under that very name, once the journal names it:
  // nothing is made (logged) when the name is taken, longer than the
  // folder's limit leaves room for (kLongestStagedName), the line is not
  // written, or the folder is reached through a link.
  base::NewFileInFolder::Result Make(const base::FilePath& temporary) override;
  // A new temporary file beside `target`, named as a write's of it.
  base::NewFileInFolder::Result MakeFor(const base::FilePath& target);
  // A name under which another party may make a file of the run's (a
  // store sets a copy that does not parse aside beside it): journaled the
  // same way. False when the name is taken or too long, or the line is not
  // written: nothing may make the file then.
  [[nodiscard]] bool Expect(const base::FilePath& path);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_JOURNALED_TEMPORARY_FILES_H_
