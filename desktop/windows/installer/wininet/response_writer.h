#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_

#include <cstddef>
#include <cstdint>

namespace installer {

// Where the body of a response goes. The downloader owns its writer for one
// download and calls it under its own lock, from WinINet's threads and from
// the owner's thread, never at the same time.
class ResponseWriter {
 public:
  virtual ~ResponseWriter() = default;
  // False stops the download with a failure.
  virtual bool Write(const char* data, size_t count) = 0;
  // The session ends (completion, failure, stop or destruction); a resume
  // does not finish the writer.
  virtual void Finish() = 0;
  // Drops everything written so far: a server answered a resume with the
  // whole body, which must not be appended to the part already received.
  virtual bool Restart() = 0;
  // The Windows error of the last failed `Write`; 0 when it is not known
  // or nothing failed.
  virtual uint32_t write_error() const { return 0; }
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_
