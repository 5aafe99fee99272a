#include "desktop/windows/installer/wininet/file_response_writer.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "desktop/windows/installer/system/write_whole_buffer.h"

namespace installer {

FileResponseWriter::FileResponseWriter(int64_t size_limit)
    : ResponseWriter(size_limit) {}

FileResponseWriter::~FileResponseWriter() = default;

bool FileResponseWriter::Open(const base::FilePath& path) {
  file_.Set(::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_.IsValid()) {
    PLOG(ERROR) << "Could not open download file for writing";
    return false;
  }
  return true;
}

bool FileResponseWriter::AppendBlock(const char* data, size_t count) {
  if (!file_.IsValid()) {
    LOG(ERROR) << "Failed writing response to downloading file: not open";
    return false;
  }
  // Logged with the error the write gave: the last error of the thread may
  // read "success" after a short write.
  if (const DWORD error = WriteWholeBuffer(file_.Get(), data, count)) {
    write_error_ = error;
    LOG(ERROR) << "Failed writing response to downloading file: "
               << base::SystemErrorCodeToString(error);
    return false;
  }
  return true;
}

void FileResponseWriter::Finish() {
  file_.Close();
}

bool FileResponseWriter::ClearBody() {
  LARGE_INTEGER start = {};
  if (!file_.IsValid() ||
      !::SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(file_.Get())) {
    PLOG(ERROR) << "Failed restarting the downloading file";
    return false;
  }
  return true;
}

}  // namespace installer
