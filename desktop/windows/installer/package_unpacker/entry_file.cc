#include "desktop/windows/installer/package_unpacker/entry_file.h"

#include "base/logging.h"
#include "base/win/handle_verifier.h"
#include "desktop/windows/installer/package_fetcher/write_whole_buffer.h"
#include "desktop/windows/installer/package_unpacker/package_unpacker.h"

namespace installer {
namespace {

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace

EntryFile::EntryFile(const base::FilePath& path) : path_(path) {}

// A file left open by a failure is closed by its handle's owner.
EntryFile::~EntryFile() = default;

bool EntryFile::Create(EntryFileWriter::Failure* failure) {
  handle_.Set(::CreateFileW(path_.value().c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle_.IsValid())
    return true;
  const DWORD error = LastErrorOr(ERROR_CANNOT_MAKE);
  LOG(ERROR) << "Error returned by CreateFile: " << error;
  return Fail(PackageUnpacker::kCreateFileFailed, error, failure);
}

bool EntryFile::Write(const uint8_t* data,
                      size_t size,
                      EntryFileWriter::Failure* failure) {
  const DWORD error = WriteWholeBuffer(handle_.Get(), data, size);
  if (!error)
    return true;
  ::SetLastError(error);
  PLOG(ERROR) << "Error returned by WriteFile";
  return Fail(PackageUnpacker::kWriteFileFailed, error, failure);
}

bool EntryFile::Close(const FILETIME* last_write,
                      EntryFileWriter::Failure* failure) {
  if (last_write &&
      !::SetFileTime(handle_.Get(), nullptr, nullptr, last_write)) {
    const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by SetFileTime";
    return Fail(PackageUnpacker::kSetFileTimeFailed, error, failure);
  }
  if (!base::win::CloseHandleVerified(handle_.Take())) {
    const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by CloseHandle";
    return Fail(PackageUnpacker::kCloseFileFailed, error, failure);
  }
  return true;
}

bool EntryFile::Fail(int32_t state,
                     DWORD error,
                     EntryFileWriter::Failure* failure) {
  *failure = {state, static_cast<int>(error), path_};
  return false;
}

}  // namespace installer
