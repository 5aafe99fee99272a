#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_FILE_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_FILE_RESPONSE_WRITER_H_

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/wininet/response_writer.h"

namespace base {
class FilePath;
}

namespace installer {

// Writes the body, at most `size_limit` bytes, into a file that the owner
// opens before the download starts. Until then, and once finished, every
// write fails.
class FileResponseWriter : public ResponseWriter {
 public:
  explicit FileResponseWriter(int64_t size_limit = kMaxFileSize);
  ~FileResponseWriter() override;

  // Creates or truncates the file, shared with nobody.
  bool Open(const base::FilePath& path);

  void Finish() override;
  uint32_t write_error() const override { return write_error_; }

 protected:
  bool AppendBlock(const char* data, size_t count) override;
  bool ClearBody() override;

 private:
  base::win::ScopedHandle file_;
  uint32_t write_error_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_FILE_RESPONSE_WRITER_H_
