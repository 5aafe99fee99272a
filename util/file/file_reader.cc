#include "util/file/file_reader.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/files/new_file_in_folder.h"
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
  // Uploads read crash files that a reporter, maybe elevated, made in the
  // user's temporary folder: a name swapped for a link since then would
  // hand the server any file the reporter may read.
  base::win::ScopedHandle file = base::NewFileInFolder::OpenToRead(path.value());
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot open " << path.AsUTF8();
    return false;
  }
  handle_ = std::move(file);
  is_pipe_ = ::GetFileType(handle_.Get()) == FILE_TYPE_PIPE;
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
