#include "util/file/zip_crash_log.h"

#include <windows.h>

#include <zip.h>

#include <cstdint>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/logging.h"
#include "util/file/file_reader.h"

namespace util {

namespace {

constexpr char kEntryName[] = "crashlog.txt";
constexpr int kCompressionLevel = 9;
constexpr size_t kCopyPieceSize = 1 << 20;

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

// A piece at a time, until the source ends; false when it was empty.
bool CopyIntoEntry(FileReader& source, zipFile zip) {
  std::vector<char> piece(kCopyPieceSize);
  int64_t copied = 0;
  for (;;) {
    const int64_t read = source.Read(piece.data(), piece.size());
    if (read < 0)
      return false;
    if (read == 0)
      return copied > 0;
    if (zipWriteInFileInZip(zip, piece.data(), static_cast<unsigned>(read)) !=
        ZIP_OK) {
      return false;
    }
    copied += read;
  }
}

// The archive's file functions over a file this process made and holds:
// minizip never opens a name itself, which would follow a link planted
// under it.
voidpf ZCALLBACK OpenHeld(voidpf opaque, const void* name, int mode) {
  return opaque;
}

uLong ZCALLBACK ReadHeld(voidpf opaque, voidpf stream, void* buffer, uLong size) {
  DWORD read = 0;
  return ::ReadFile(stream, buffer, size, &read, nullptr) ? read : 0;
}

uLong ZCALLBACK WriteHeld(voidpf opaque,
                          voidpf stream,
                          const void* buffer,
                          uLong size) {
  DWORD written = 0;
  return ::WriteFile(stream, buffer, size, &written, nullptr) ? written : 0;
}

ZPOS64_T ZCALLBACK TellHeld(voidpf opaque, voidpf stream) {
  LARGE_INTEGER position = {};
  if (!::SetFilePointerEx(stream, position, &position, FILE_CURRENT))
    return static_cast<ZPOS64_T>(-1);
  return static_cast<ZPOS64_T>(position.QuadPart);
}

long ZCALLBACK SeekHeld(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin) {
  DWORD method = FILE_BEGIN;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR)
    method = FILE_CURRENT;
  else if (origin == ZLIB_FILEFUNC_SEEK_END)
    method = FILE_END;
  LARGE_INTEGER distance = {};
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(stream, distance, nullptr, method) ? 0 : -1;
}

// The handle stays with its owner.
int ZCALLBACK CloseHeld(voidpf opaque, voidpf stream) {
  return 0;
}

int ZCALLBACK ErrorOfHeld(voidpf opaque, voidpf stream) {
  return 0;
}

bool WriteZip(const base::FilePath& source_path, HANDLE zip_file) {
  FileReader source;
  if (!source.Open(source_path))
    return false;
  zlib_filefunc64_def held_file = {&OpenHeld,  &ReadHeld,  &WriteHeld,
                                   &TellHeld,  &SeekHeld,  &CloseHeld,
                                   &ErrorOfHeld, zip_file};
  zipFile zip = zipOpen2_64(L"", APPEND_STATUS_CREATE, nullptr, &held_file);
  if (!zip) {
    LOG(ERROR) << "Cannot start the zip";
    return false;
  }
  const zip_fileinfo info = EntryInfoNow();
  bool written = zipOpenNewFileInZip(zip, kEntryName, &info, nullptr, 0,
                                     nullptr, 0, nullptr, Z_DEFLATED,
                                     kCompressionLevel) == ZIP_OK;
  if (written) {
    written = CopyIntoEntry(source, zip);
    written = zipCloseFileInZip(zip) == ZIP_OK && written;
  }
  return zipClose(zip, nullptr) == ZIP_OK && written;
}

}  // namespace

bool ZipCrashLog(const std::string& source_path,
                 const std::string& zip_path,
                 std::string* made_path) {
  // The crash folder may be the user's temporary folder and the reporter
  // elevated: the zip is made new, never through a name or link there.
  base::NewFileInFolder::Result zip = base::NewFileInFolder::Create(
      base::FilePath::FromUTF8(zip_path).value(),
      base::NewFileInFolder::OldFile::kKeep, GENERIC_READ | GENERIC_WRITE);
  if (!zip.file.IsValid()) {
    LOG(ERROR) << "Cannot create " << zip_path << ", error " << zip.error;
    return false;
  }
  const bool written =
      WriteZip(base::FilePath::FromUTF8(source_path), zip.file.Get());
  zip.file.Close();
  const base::FilePath made(zip.path);
  if (written) {
    // Spelled as asked: a relative name stays relative.
    if (made_path) {
      *made_path = base::FilePath(base::NewFileInFolder::NameOfTry(
                                      base::FilePath::FromUTF8(zip_path).value(),
                                      zip.try_number))
                       .AsUTF8();
    }
    return true;
  }
  base::DeletePath(made, false);
  return false;
}

}  // namespace util
