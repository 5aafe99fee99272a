#include "desktop/windows/installer/wininet/file_response_writer.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "base/logging.h"

namespace installer {

FileResponseWriter::FileResponseWriter() = default;

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

bool FileResponseWriter::Write(const char* data, size_t count) {
  DWORD written = 0;
  if (!file_.IsValid() || count > MAXDWORD ||
      !::WriteFile(file_.Get(), data, static_cast<DWORD>(count), &written,
                   nullptr) ||
      written != count) {
    PLOG(ERROR) << "Failed writing response to downloading file";
    return false;
  }
  return true;
}

void FileResponseWriter::Finish() {
  file_.Close();
}

bool FileResponseWriter::Restart() {
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
