#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The batch file that an uninstallation leaves behind in its folder: cmd
// waits there until the given installer processes have ended, then deletes
// the batch file. It deletes nothing else: cmd's del and rmdir follow a link
// swapped in after the batch was written, so every other deletion is the
// installer's own, through handles judged by their final path, and what is
// still in use then stays, named in the log. The system's programs are
// named by their full paths: cmd looks for a bare name in its current
// folder first.
class CleanupBatch {
 public:
  CleanupBatch();
  ~CleanupBatch();
  CleanupBatch(const CleanupBatch&) = delete;
  CleanupBatch& operator=(const CleanupBatch&) = delete;

  // A process to wait for; 0 is ignored, and so is any beyond the third.
  void AddProcess(uint32_t process_id);

  // The batch text as cmd reads it, in the OEM code page.
  std::string GetText() const;

  // Whether `text` is a batch file that this class could have written on
  // this system: only its own lines. `install_folder` must be a plain local
  // path, as the one the batch lies in.
  static bool IsWellFormed(std::string_view text,
                           const base::FilePath& install_folder);

  // For the elevated side before it runs `batch_file`, which an unelevated
  // process wrote: false unless the file lies directly in `install_folder`,
  // is no link and is well formed; it is then deleted through the handle
  // that judged it and written anew by this process (owned by it, so no
  // longer the writer's to change between the check and the run).
  static bool TakeOver(const base::FilePath& batch_file,
                       const base::FilePath& install_folder);

 private:
  std::vector<uint32_t> process_ids_;
};

// Starts `batch_file` hidden, with the system's cmd and the system folder
// as its current folder, so that cmd holds no folder of the installation.
// With `wait` (the elevated side), the file is held against writers from
// its check to the end of the run, runs only when still well formed, and
// is deleted through a judged handle once the run is over. False when it
// could not start.
bool StartCleanupBatch(const base::FilePath& batch_file, bool wait);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_
