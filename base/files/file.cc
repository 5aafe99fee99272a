#include "base/files/file.h"

#include <atomic>
#include <iterator>
#include <utility>

#include "base/files/file_path.h"
#include "base/metrics/sparse_histogram.h"

namespace base {

namespace {

// Missing from mingw's winerror.h.
constexpr DWORD kErrorDiskResourcesExhausted = 314;

struct OSErrorMapping {
  DWORD code;
  FileError error;
};

constexpr OSErrorMapping kOSErrorMappings[] = {
    {ERROR_SHARING_VIOLATION, FileError::kInUse},
    {ERROR_FILE_EXISTS, FileError::kExists},
    {ERROR_FILE_NOT_FOUND, FileError::kNotFound},
    {ERROR_PATH_NOT_FOUND, FileError::kNotFound},
    {ERROR_ACCESS_DENIED, FileError::kAccessDenied},
    {ERROR_TOO_MANY_OPEN_FILES, FileError::kTooManyOpened},
    {ERROR_NOT_ENOUGH_MEMORY, FileError::kNoMemory},
    {ERROR_OUTOFMEMORY, FileError::kNoMemory},
    {ERROR_HANDLE_DISK_FULL, FileError::kNoSpace},
    {ERROR_DISK_FULL, FileError::kNoSpace},
    {kErrorDiskResourcesExhausted, FileError::kNoSpace},
    {ERROR_USER_MAPPED_FILE, FileError::kInvalidRequest},
    {ERROR_NOT_READY, FileError::kIo},
    {ERROR_SECTOR_NOT_FOUND, FileError::kIo},
    {ERROR_DEV_NOT_EXIST, FileError::kIo},
    {ERROR_IO_DEVICE, FileError::kIo},
    {ERROR_FILE_CORRUPT, FileError::kIo},
    {ERROR_DISK_CORRUPT, FileError::kIo},
};

constexpr char kUnknownErrorsHistogram[] = "PlatformFile.UnknownErrors.Windows";

// One of our flag bits and the Windows value it stands for.
struct FlagMapping {
  uint32_t flag;
  DWORD value;
};

// The disposition bits in the order in which they win over each other.
constexpr FlagMapping kDispositions[] = {
    {File::kOpenTruncated, TRUNCATE_EXISTING},
    {File::kCreateAlways, CREATE_ALWAYS},
    {File::kOpenAlways, OPEN_ALWAYS},
    {File::kCreate, CREATE_NEW},
    {File::kOpen, OPEN_EXISTING},
};

// Bits that each add one word to the access, sharing or flag argument.
constexpr FlagMapping kAccessBits[] = {
    {File::kRead, GENERIC_READ},
    {File::kWriteAttributes, FILE_WRITE_ATTRIBUTES},
    {File::kExecute, GENERIC_EXECUTE},
    {File::kCanDeleteOnClose, DELETE},
};

constexpr FlagMapping kAttributeBits[] = {
    {File::kAsync, FILE_FLAG_OVERLAPPED},
    {File::kTemporary, FILE_ATTRIBUTE_TEMPORARY},
    {File::kHidden, FILE_ATTRIBUTE_HIDDEN},
    {File::kDeleteOnClose, FILE_FLAG_DELETE_ON_CLOSE},
    {File::kBackupSemantics, FILE_FLAG_BACKUP_SEMANTICS},
    {File::kSequentialScan, FILE_FLAG_SEQUENTIAL_SCAN},
};

DWORD CollectBits(const FlagMapping* begin,
                  const FlagMapping* end,
                  uint32_t flags) {
  DWORD value = 0;
  for (const FlagMapping* mapping = begin; mapping != end; ++mapping) {
    if (flags & mapping->flag)
      value |= mapping->value;
  }
  return value;
}

// 0 when no disposition bit is set.
DWORD DispositionFromFlags(uint32_t flags) {
  for (const FlagMapping& mapping : kDispositions) {
    if (flags & mapping.flag)
      return mapping.value;
  }
  return 0;
}

DWORD AccessFromFlags(uint32_t flags) {
  DWORD access =
      CollectBits(std::begin(kAccessBits), std::end(kAccessBits), flags);
  if (flags & File::kAppend)
    access |= FILE_APPEND_DATA;
  else if (flags & File::kWrite)
    access |= GENERIC_WRITE;
  return access;
}

DWORD SharingFromFlags(uint32_t flags) {
  DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (flags & File::kExclusiveRead)
    sharing &= ~FILE_SHARE_READ;
  if (flags & File::kExclusiveWrite)
    sharing &= ~FILE_SHARE_WRITE;
  if (flags & File::kShareDelete)
    sharing |= FILE_SHARE_DELETE;
  return sharing;
}

bool WasCreated(DWORD disposition, DWORD last_error) {
  switch (disposition) {
    case OPEN_ALWAYS:
      return last_error != ERROR_ALREADY_EXISTS;
    case CREATE_NEW:
    case CREATE_ALWAYS:
      return true;
    default:
      return false;
  }
}

}  // namespace

File::File() = default;

File::File(const FilePath& path, uint32_t flags) : error_(FileError::kOk) {
  Initialize(path, flags);
}

File::File(File&& other) noexcept
    : handle_(std::move(other.handle_)),
      error_(other.error_),
      created_(other.created_),
      async_(other.async_) {}

File& File::operator=(File&& other) noexcept {
  handle_ = std::move(other.handle_);
  error_ = other.error_;
  created_ = other.created_;
  async_ = other.async_;
  return *this;
}

File::~File() = default;

void File::Initialize(const FilePath& path, uint32_t flags) {
  // A failed reopen must not leave the previous file looking valid.
  Close();
  created_ = false;
  async_ = false;
  if (path.ReferencesParent()) {
    error_ = FileError::kAccessDenied;
    return;
  }
  DWORD disposition = DispositionFromFlags(flags);
  if (disposition == 0)
    return;

  HANDLE handle = ::CreateFileW(
      path.value().c_str(), AccessFromFlags(flags), SharingFromFlags(flags),
      nullptr, disposition,
      CollectBits(std::begin(kAttributeBits), std::end(kAttributeBits), flags),
      nullptr);
  DWORD last_error = ::GetLastError();
  handle_.Set(handle);
  if (!handle_.IsValid()) {
    error_ = OSErrorToFileError(last_error);
    return;
  }
  error_ = FileError::kOk;
  async_ = (flags & kAsync) != 0;
  created_ = WasCreated(disposition, last_error);
}

bool File::IsValid() const {
  return handle_.IsValid();
}

HANDLE File::GetPlatformFile() const {
  return handle_.Get();
}

void File::Close() {
  handle_.Close();
}

int64_t File::Seek(Whence whence, int64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  if (!IsValid() ||
      !::SetFilePointerEx(handle_.Get(), distance, &position, whence)) {
    return -1;
  }
  return position.QuadPart;
}

int File::ReadAtCurrentPos(char* data, int size) {
  if (!IsValid() || size < 0)
    return -1;
  DWORD bytes_read = 0;
  if (::ReadFile(handle_.Get(), data, static_cast<DWORD>(size), &bytes_read,
                 nullptr)) {
    return static_cast<int>(bytes_read);
  }
  return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

int File::Write(int64_t offset, const char* data, int size) {
  // On an overlapped handle WriteFile may return before the data is written
  // and would later fill in an OVERLAPPED that no longer exists. A negative
  // offset of -1 would silently append at the end instead of failing.
  if (!IsValid() || async_ || offset < 0 || size < 0)
    return -1;
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh =
      static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD bytes_written = 0;
  if (!::WriteFile(handle_.Get(), data, static_cast<DWORD>(size),
                   &bytes_written, &overlapped)) {
    return -1;
  }
  return static_cast<int>(bytes_written);
}

bool File::SetLength(int64_t length) {
  int64_t position = Seek(kFromCurrent, 0);
  if (position < 0 || Seek(kFromBegin, length) < 0)
    return false;
  bool truncated = ::SetEndOfFile(handle_.Get()) != 0;
  return Seek(kFromBegin, position) >= 0 && truncated;
}

bool File::Flush() {
  return IsValid() && ::FlushFileBuffers(handle_.Get());
}

bool File::GetInfo(Info* info) const {
  BY_HANDLE_FILE_INFORMATION file_info;
  if (!IsValid() || !::GetFileInformationByHandle(handle_.Get(), &file_info)) {
    return false;
  }
  ULARGE_INTEGER size;
  size.HighPart = file_info.nFileSizeHigh;
  size.LowPart = file_info.nFileSizeLow;
  info->size = static_cast<int64_t>(size.QuadPart);
  info->is_directory =
      (file_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->is_symbolic_link = false;
  info->last_modified = Time::FromFileTime(file_info.ftLastWriteTime);
  info->last_accessed = Time::FromFileTime(file_info.ftLastAccessTime);
  info->creation_time = Time::FromFileTime(file_info.ftCreationTime);
  return true;
}

int64_t File::GetLength() const {
  LARGE_INTEGER size;
  if (!IsValid() || !::GetFileSizeEx(handle_.Get(), &size))
    return -1;
  return size.QuadPart;
}

// static
FileError File::OSErrorToFileError(uint32_t code) {
  for (const OSErrorMapping& mapping : kOSErrorMappings) {
    if (mapping.code == code)
      return mapping.error;
  }
  // Made once and kept: without a registry, each get-or-create call would
  // make another histogram.
  static std::atomic<HistogramBase*> histogram{nullptr};
  HistogramBase* cached = histogram.load(std::memory_order_acquire);
  if (!cached) {
    cached = SparseHistogram::GetOrCreate(kUnknownErrorsHistogram);
    histogram.store(cached, std::memory_order_release);
  }
  cached->Add(static_cast<int32_t>(code));
  return FileError::kFailed;
}

}  // namespace base
