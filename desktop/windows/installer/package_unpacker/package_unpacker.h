#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_PACKAGE_UNPACKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_PACKAGE_UNPACKER_H_

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "7z.h"
#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/paths/archive_entry_path.h"
#include "desktop/windows/installer/wininet/progress_delegate.h"

namespace installer {

class EntryFileWriter;
class InPageErrorGuard;
class MappedTempAllocator;
class SolidBlockReader;

// Unpacks the browser package, a 7z archive, into the package folder with
// the LZMA SDK's reader: each entry becomes a file (with its modification
// time, when the archive has one) or a folder, and the delegate hears of
// each entry. Entries whose names would leave the folder, and two entries
// that name one Windows path, fail the unpack before anything is written. When
// every solid block has a layout that streams, each file goes from the decoder
// straight to its file; otherwise a block is decoded whole into a mapped
// temporary file first. Streamed files are written by threads of their own
// while the next are decoded. One thread at a time.
class PackageUnpacker {
 public:
  enum ErrorState : int32_t {
    kNoError = 0,
    kArchiveNotFound = 1,
    kArchiveNotOpened = 2,
    kArchiveNotReadable = 3,
    kExtractionFailed = 4,
    kInPageError = 5,
    kEntryWithoutName = 6,
    kCreateFileFailed = 7,
    kWriteFileFailed = 8,
    kSetFileTimeFailed = 9,
    kCloseFileFailed = 10,
  };

  // How an unpack ended: `stage` what failed (kNoError: nothing; an open
  // that failed stays until the next open), `error` 0 on success,
  // ERROR_INVALID_HANDLE without an open archive, when the archive cannot
  // be read as 7z, an entry cannot be extracted or has no name,
  // ERROR_IO_DEVICE when the mapped output buffer could not be paged,
  // otherwise the Windows error of the file or folder that could not be
  // made or written; `in_page_status` the NTSTATUS of the failed paging
  // I/O, for kInPageError.
  struct Result {
    ErrorState stage = kNoError;
    int error = 0;
    int32_t in_page_status = 0;

    bool ok() const { return error == 0; }
    // A file or folder could not be made or written: the error says
    // something of the destination's disk, which a damaged archive does not.
    bool IsWriteFailure() const;
  };

  PackageUnpacker();
  PackageUnpacker(const PackageUnpacker&) = delete;
  PackageUnpacker& operator=(const PackageUnpacker&) = delete;
  ~PackageUnpacker();

  // Closes any open archive first. 0, or the Windows error of the open.
  [[nodiscard]] DWORD OpenArchive(const base::FilePath& archive);
  // The same for an archive that is the `length` bytes at `offset` of
  // `file`: a package read where it lies in its installer file.
  [[nodiscard]] DWORD OpenArchive(const base::FilePath& file,
                                  uint64_t offset,
                                  uint64_t length);
  // Unpacks the open archive into `destination`. `output_file`, when
  // given, receives the path of each entry as it is written.
  [[nodiscard]] Result UnPack(const base::FilePath& destination,
                              base::FilePath* output_file = nullptr);
  void CloseArchive();

  // Not owned; may be null.
  void set_delegate(ProgressDelegate* delegate) { delegate_ = delegate; }

 private:
  // UnPack's work: 0 or its error, the stage in `error_state_`.
  [[nodiscard]] int UnPackArchive(const base::FilePath& destination,
                                  base::FilePath* output_file);
  // The output buffer of one solid block, kept across its entries.
  struct OutputBlock;
  struct Extraction;

  static void Extract(void* extraction);

  // Every block streamed, file by file.
  [[nodiscard]] int StreamEntries(const CSzArEx& archive,
                                  ILookInStreamPtr stream,
                                  const base::FilePath& destination,
                                  base::FilePath* output_file);
  // The entries in order, each file's data handed to `writer`; 0 or the
  // decoding's failure.
  [[nodiscard]] int DecodeEntries(const CSzArEx& archive,
                                  ILookInStreamPtr stream,
                                  const base::FilePath& destination,
                                  base::FilePath* output_file,
                                  EntryFileWriter* writer);
  // One file's data from the block to `writer`, its CRC checked.
  [[nodiscard]] int StreamFileEntry(const CSzArEx& archive,
                                    uint32_t index,
                                    SolidBlockReader* reader,
                                    EntryFileWriter* writer);
  [[nodiscard]] int UnPackEntries(const CSzArEx& archive,
                                  ILookInStreamPtr stream,
                                  const base::FilePath& destination,
                                  base::FilePath* output_file);
  // 0 when every entry has a name that stays inside the destination, with
  // a path there below MAX_PATH. Resets the state of a previous extraction,
  // announces the entry count and checks every entry's name before
  // anything is written.
  [[nodiscard]] int StartEntries(const CSzArEx& archive,
                                 const base::FilePath& destination);
  [[nodiscard]] int CheckEntryNames(const CSzArEx& archive,
                                    const base::FilePath& destination);
  // 0 when no two entries name one Windows path.
  [[nodiscard]] int CheckEntryPathsDistinct(
      const std::vector<ArchiveEntryName>& entries);
  [[nodiscard]] int UnPackEntry(const CSzArEx& archive,
                                uint32_t index,
                                const base::FilePath& path,
                                const uint8_t* data,
                                size_t size);
  [[nodiscard]] int ExtractEntry(const CSzArEx& archive,
                                 ILookInStreamPtr stream,
                                 uint32_t index,
                                 MappedTempAllocator* allocator,
                                 InPageErrorGuard* guard,
                                 OutputBlock* block,
                                 const uint8_t** data,
                                 size_t* size);
  [[nodiscard]] int WriteFileEntry(const CSzArEx& archive,
                                   uint32_t index,
                                   const base::FilePath& path,
                                   const uint8_t* data,
                                   size_t size);
  // Creates the folder and its missing parents once per unpack.
  [[nodiscard]] bool CreateFolder(const base::FilePath& folder);
  [[nodiscard]] int Fail(ErrorState state, int result);

  base::win::ScopedHandle archive_;
  base::FilePath archive_path_;
  // The archive's place in the file, when it is not the whole file.
  bool windowed_ = false;
  uint64_t window_offset_ = 0;
  uint64_t window_length_ = 0;
  std::set<std::wstring> created_folders_;
  ErrorState error_state_ = kNoError;
  int32_t in_page_status_ = 0;
  ProgressDelegate* delegate_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_PACKAGE_UNPACKER_H_
