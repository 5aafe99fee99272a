#include "util/file/file_reader.h"

#include <windows.h>

#include <algorithm>

#include "base/logging.h"

namespace util {

namespace {

// One ReadFile call takes a 32-bit count.
constexpr size_t kMaxReadChunk = 1u << 30;

}  // namespace

FileReader::FileReader() = default;

FileReader::~FileReader() {
  Close();
}

bool FileReader::Open(const base::FilePath& path) {
  Close();
  HANDLE handle = ::CreateFileW(path.value().c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    PLOG(ERROR) << "CreateFile " << path.AsUTF8();
    return false;
  }
  handle_.Set(handle);
  is_pipe_ = ::GetFileType(handle) == FILE_TYPE_PIPE;
  return true;
}

int64_t FileReader::Read(void* buffer, size_t size) {
  char* out = static_cast<char*>(buffer);
  size_t total = 0;
  while (total < size) {
    DWORD wanted = static_cast<DWORD>(std::min(size - total, kMaxReadChunk));
    DWORD read = 0;
    if (!::ReadFile(handle_.Get(), out + total, wanted, &read, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE)
        break;
      if (error != ERROR_MORE_DATA) {
        PLOG(ERROR) << "ReadFile";
        return -1;
      }
    }
    total += read;
    // A pipe may deliver an empty message; only a file ends on 0 bytes.
    if (read == 0 && !is_pipe_)
      break;
  }
  return static_cast<int64_t>(total);
}

void FileReader::Close() {
  if (!handle_.IsValid())
    return;
  if (!::CloseHandle(handle_.Take()))
    PLOG(ERROR) << "CloseHandle";
}

}  // namespace util
