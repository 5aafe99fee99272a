#include "util/file/zip_crash_log.h"

#include <windows.h>

// zip.h first: it brings the zlib macros that iowin32.h is written with.
#include <zip.h>
#include <iowin32.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"

namespace util {

namespace {

constexpr char kEntryName[] = "crashlog.txt";
constexpr int kCompressionLevel = 9;
constexpr int64_t kCopyPieceSize = 1 << 20;

zip_fileinfo EntryInfoNow() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  zip_fileinfo info = {};
  info.tmz_date.tm_sec = now.wSecond;
  info.tmz_date.tm_min = now.wMinute;
  info.tmz_date.tm_hour = now.wHour;
  info.tmz_date.tm_mday = now.wDay;
  info.tmz_date.tm_mon = now.wMonth - 1;
  info.tmz_date.tm_year = now.wYear;
  return info;
}

bool CopyIntoEntry(base::File& source, int64_t size, zipFile zip) {
  std::vector<char> piece(static_cast<size_t>(std::min(size, kCopyPieceSize)));
  int64_t copied = 0;
  while (copied < size) {
    const int wanted = static_cast<int>(std::min(size - copied, kCopyPieceSize));
    const int read = source.ReadAtCurrentPos(piece.data(), wanted);
    if (read <= 0)
      return false;
    if (zipWriteInFileInZip(zip, piece.data(), static_cast<unsigned>(read)) != ZIP_OK)
      return false;
    copied += read;
  }
  return true;
}

// Both paths go through the wide Windows file API: the narrow one would
// read them in the ANSI code page and miss a profile folder with characters
// outside it.
bool WriteZip(const base::FilePath& source_path, const base::FilePath& zip_path) {
  base::File source(source_path, base::File::kOpen | base::File::kRead);
  if (!source.IsValid()) {
    LOG(ERROR) << "Cannot open " << source_path.AsUTF8();
    return false;
  }
  const int64_t size = source.GetLength();
  if (size <= 0)
    return false;

  zlib_filefunc64_def wide_file_functions;
  fill_win32_filefunc64W(&wide_file_functions);
  zipFile zip = zipOpen2_64(zip_path.value().c_str(), APPEND_STATUS_CREATE,
                            nullptr, &wide_file_functions);
  if (!zip) {
    LOG(ERROR) << "Cannot create " << zip_path.AsUTF8();
    return false;
  }
  const zip_fileinfo info = EntryInfoNow();
  bool written = zipOpenNewFileInZip(zip, kEntryName, &info, nullptr, 0,
                                     nullptr, 0, nullptr, Z_DEFLATED,
                                     kCompressionLevel) == ZIP_OK;
  if (written) {
    written = CopyIntoEntry(source, size, zip);
    written = zipCloseFileInZip(zip) == ZIP_OK && written;
  }
  return zipClose(zip, nullptr) == ZIP_OK && written;
}

}  // namespace

bool ZipCrashLog(const std::string& source_path, const std::string& zip_path) {
  const base::FilePath zip = base::FilePath::FromUTF8(zip_path);
  if (WriteZip(base::FilePath::FromUTF8(source_path), zip))
    return true;
  base::DeletePath(zip, false);
  return false;
}

}  // namespace util
