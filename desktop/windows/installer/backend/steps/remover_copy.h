#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_REMOVER_COPY_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_REMOVER_COPY_H_

#include <cstdint>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/system/private_temp_folder.h"

namespace installer {

// Starts the copy of the running installer that deletes what a process
// running from the installation folder cannot delete of it (its own
// program and library, what was in use): the program and library this
// process runs, each read from a file held against writers and checked to
// be the build that is loaded (and signed as it is), written into a folder
// made new for `owners`, which only they may write, and started there in
// the LeftoverRemover role. The folder outlives this process: the copy has
// it removed once it has ended.
class RemoverCopy {
 public:
  // Starts the copy for the record of `install_folder`, to wait first for
  // the processes of `process_ids` (0 and ids of processes that started
  // after this one are left out: such an id names another process) and for
  // this process. False, logged, with nothing started and nothing left,
  // when the folder, the copy or the start fails: the leftovers stay.
  [[nodiscard]] static bool Start(const base::FilePath& install_folder,
                                  PrivateTempFolder::Owners owners,
                                  const std::vector<uint32_t>& process_ids);

  // The process of `process_id`, opened to wait for it, when it started
  // before this process: one that started later cannot be the process that
  // was meant, whose id it took over. Invalid otherwise.
  static base::win::ScopedHandle OpenOlderProcess(uint32_t process_id);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_REMOVER_COPY_H_
