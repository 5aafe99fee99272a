#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_FILE_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_FILE_RESPONSE_WRITER_H_

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/wininet/response_writer.h"

namespace base {
class FilePath;
}

namespace installer {

// Writes the body into a file that the owner opens before the download
// starts. Until then, and once finished, every write fails.
class FileResponseWriter : public ResponseWriter {
 public:
  FileResponseWriter();
  ~FileResponseWriter() override;

  // Creates or truncates the file, shared with nobody.
  bool Open(const base::FilePath& path);

  bool Write(const char* data, size_t count) override;
  void Finish() override;
  bool Restart() override;
  uint32_t write_error() const override { return write_error_; }

 private:
  base::win::ScopedHandle file_;
  uint32_t write_error_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_FILE_RESPONSE_WRITER_H_
