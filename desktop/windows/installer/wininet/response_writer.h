#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_

#include <cstddef>
#include <cstdint>

namespace installer {

// The most one response may bring. No answer of the update server ends by
// itself when the server does not end it: these keep a trickling or endless
// answer from filling memory or the disk.
// The location reply, the preference defaults and the statistics answer are
// a few kilobytes of JSON.
constexpr int64_t kMaxAnswerSize = 4 * 1024 * 1024;
// The package and the additional files: a browser package is some 100 to
// 200 MB, and the checks map the whole file, which must stay below 2 GB.
constexpr int64_t kMaxFileSize = 1024 * 1024 * 1024;

// Where the body of a response goes, up to its size limit. The downloader
// owns its writer for one download and calls it under its own lock, from
// WinINet's threads and from the owner's thread, never at the same time.
class ResponseWriter {
 public:
  explicit ResponseWriter(int64_t size_limit) : size_limit_(size_limit) {}
  ResponseWriter(const ResponseWriter&) = delete;
  ResponseWriter& operator=(const ResponseWriter&) = delete;
  virtual ~ResponseWriter() = default;

  // False stops the download with a failure: the block could not be
  // stored, or it would take the body past the size limit, and then
  // nothing of it is stored (`exceeded_size_limit`).
  bool Write(const char* data, size_t count);
  // Drops everything written so far: a server answered a resume with the
  // whole body, which must not be appended to the part already received.
  bool Restart();
  // The session ends (completion, failure, stop or destruction); a resume
  // does not finish the writer.
  virtual void Finish() = 0;
  // The Windows error of the last failed `Write`; 0 when it is not known
  // or nothing failed.
  virtual uint32_t write_error() const { return 0; }

  int64_t size_limit() const { return size_limit_; }
  bool exceeded_size_limit() const { return exceeded_size_limit_; }

 protected:
  virtual bool AppendBlock(const char* data, size_t count) = 0;
  virtual bool ClearBody() = 0;

 private:
  const int64_t size_limit_;
  int64_t written_ = 0;
  bool exceeded_size_limit_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_
