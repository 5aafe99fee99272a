#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_READER_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/install_log/install_log.h"

namespace installer {

class XmlReader;

// Reads "installation_status.xml" back into an InstallLog, strictly: the
// elements must come in the order the writer emits them, and the first
// deviation ends the read with a text naming it. COM must be initialised on
// the calling thread.
class InstallLogReader {
 public:
  InstallLogReader();
  ~InstallLogReader();
  InstallLogReader(const InstallLogReader&) = delete;
  InstallLogReader& operator=(const InstallLogReader&) = delete;

  // `log` should be freshly made. False with `error()` set (a few failures
  // inside registry keys leave it empty); `log` then holds what was read.
  bool Read(InstallLog* log, const base::FilePath& path);
  const std::string& error() const { return error_; }

 private:
  std::unique_ptr<XmlReader> reader_;
  std::string error_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_READER_H_
