#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_WRITER_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "desktop/windows/installer/install_log/install_log.h"

namespace installer {

class XmlWriter;

// Writes an InstallLog as "installation_status.xml", in exactly the layout
// InstallLogReader reads back. COM must be initialised on the calling thread.
class InstallLogWriter {
 public:
  InstallLogWriter();
  ~InstallLogWriter();
  InstallLogWriter(const InstallLogWriter&) = delete;
  InstallLogWriter& operator=(const InstallLogWriter&) = delete;

  // Replaces the file at `path` as a whole: a failed write, or one cut short
  // by a crash, leaves the file that was there before, or none. The write's
  // temporary file is made by `maker`, where one is given.
  bool Write(const InstallLog& log,
             const base::FilePath& path,
             base::ImportantFileWriter::TemporaryFileMaker* maker = nullptr);
  // The file's text, for a caller that writes it into a file of its own.
  [[nodiscard]] bool Serialize(const InstallLog& log, std::string* text);

 private:
  std::unique_ptr<XmlWriter> writer_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_WRITER_H_
