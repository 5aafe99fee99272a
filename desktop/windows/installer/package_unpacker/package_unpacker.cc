#include "desktop/windows/installer/package_unpacker/package_unpacker.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "7zAlloc.h"
#include "7zCrc.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/package_unpacker/archive_file_stream.h"
#include "desktop/windows/installer/package_unpacker/entry_file.h"
#include "desktop/windows/installer/package_unpacker/entry_file_writer.h"
#include "desktop/windows/installer/package_unpacker/in_page_error_guard.h"
#include "desktop/windows/installer/package_unpacker/mapped_temp_allocator.h"
#include "desktop/windows/installer/package_unpacker/solid_block_reader.h"
#include "desktop/windows/installer/paths/archive_entry_path.h"

namespace installer {
namespace {

// What UnPack returns for failures of the archive itself.
constexpr int kUnpackFailed = ERROR_INVALID_HANDLE;
constexpr size_t kLookAheadSize = 1 << 18;
constexpr UInt32 kNoBlock = static_cast<UInt32>(-1);
// A streamed file is written in pieces of this size.
constexpr size_t kStreamPieceSize = 1 << 20;

const ISzAlloc kHeapAllocator = {&SzAlloc, &SzFree};
const ISzAlloc kHeapTempAllocator = {&SzAllocTemp, &SzFreeTemp};

void GenerateCrcTableOnce() {
  [[maybe_unused]] static const bool generated = [] {
    CrcGenerateTable();
    return true;
  }();
}

// The last Windows error, or `fallback` when a call failed without one.
DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

std::wstring GetEntryName(const CSzArEx& archive, uint32_t index) {
  const size_t length = SzArEx_GetFileNameUtf16(&archive, index, nullptr);
  std::vector<UInt16> name(length);
  SzArEx_GetFileNameUtf16(&archive, index, name.data());
  return std::wstring(name.begin(), name.end() - 1);
}

bool HasData(const CSzArEx& archive, uint32_t index) {
  return archive.FileToFolder[index] != kNoBlock;
}

// The entry's modification time, or null when the archive has none.
const FILETIME* ModificationTime(const CSzArEx& archive,
                                 uint32_t index,
                                 FILETIME* time) {
  if (!SzBitWithVals_Check(&archive.MTime, index))
    return nullptr;
  const CNtfsFileTime& stored = archive.MTime.Vals[index];
  *time = {stored.Low, stored.High};
  return time;
}

bool EveryBlockStreams(const CSzArEx& archive) {
  for (UInt32 folder = 0; folder < archive.db.NumFolders; ++folder) {
    if (!SolidBlockReader::CanStream(archive, folder))
      return false;
  }
  return true;
}

}  // namespace

struct PackageUnpacker::OutputBlock {
  UInt32 index = kNoBlock;
  Byte* buffer = nullptr;
  size_t size = 0;
};

// One call of the reader's extraction, as the in-page guard runs it.
struct PackageUnpacker::Extraction {
  const CSzArEx* archive;
  ILookInStreamPtr stream;
  UInt32 index;
  OutputBlock* block;
  ISzAllocPtr allocator;
  size_t offset = 0;
  size_t size = 0;
  SRes result = SZ_OK;
};

// static
void PackageUnpacker::Extract(void* context) {
  Extraction* e = static_cast<Extraction*>(context);
  e->result = SzArEx_Extract(e->archive, e->stream, e->index, &e->block->index,
                             &e->block->buffer, &e->block->size, &e->offset,
                             &e->size, e->allocator, &kHeapTempAllocator);
}

PackageUnpacker::PackageUnpacker() = default;

PackageUnpacker::~PackageUnpacker() = default;

DWORD PackageUnpacker::OpenArchive(const base::FilePath& file,
                                   uint64_t offset,
                                   uint64_t length) {
  const DWORD error = OpenArchive(file);
  if (error != ERROR_SUCCESS)
    return error;
  windowed_ = true;
  window_offset_ = offset;
  window_length_ = length;
  return ERROR_SUCCESS;
}

DWORD PackageUnpacker::OpenArchive(const base::FilePath& archive) {
  CloseArchive();
  windowed_ = false;
  window_offset_ = 0;
  archive_path_ = archive;
  archive_.Set(::CreateFileW(archive.value().c_str(), GENERIC_READ,
                             FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (archive_.IsValid())
    return ERROR_SUCCESS;
  const DWORD error = LastErrorOr(ERROR_OPEN_FAILED);
  error_state_ =
      error == ERROR_FILE_NOT_FOUND ? kArchiveNotFound : kArchiveNotOpened;
  return error;
}

void PackageUnpacker::CloseArchive() {
  archive_.Close();
}

bool PackageUnpacker::Result::IsWriteFailure() const {
  return stage == kCreateFileFailed || stage == kWriteFileFailed ||
         stage == kSetFileTimeFailed || stage == kCloseFileFailed;
}

PackageUnpacker::Result PackageUnpacker::UnPack(
    const base::FilePath& destination,
    base::FilePath* output_file) {
  const int error = UnPackArchive(destination, output_file);
  return {error_state_, error, in_page_status_};
}

int PackageUnpacker::UnPackArchive(const base::FilePath& destination,
                                   base::FilePath* output_file) {
  if (!archive_.IsValid())
    return kUnpackFailed;
  LARGE_INTEGER start = {};
  start.QuadPart = static_cast<LONGLONG>(window_offset_);
  if (!::SetFilePointerEx(archive_.Get(), start, nullptr, FILE_BEGIN)) {
    PLOG(ERROR) << "Could not rewind the archive";
    return kUnpackFailed;
  }
  std::optional<ArchiveFileStream> file_stream;
  if (windowed_)
    file_stream.emplace(archive_.Get(), window_offset_, window_length_);
  else
    file_stream.emplace(archive_.Get());
  std::vector<Byte> look_ahead(kLookAheadSize);
  CLookToRead2 look_stream;
  LookToRead2_CreateVTable(&look_stream, False);
  look_stream.buf = look_ahead.data();
  look_stream.bufSize = look_ahead.size();
  look_stream.realStream = file_stream->stream();
  LookToRead2_INIT(&look_stream);
  GenerateCrcTableOnce();

  CSzArEx archive;
  SzArEx_Init(&archive);
  const SRes opened = SzArEx_Open(&archive, &look_stream.vt, &kHeapAllocator,
                                  &kHeapTempAllocator);
  int result = kUnpackFailed;
  if (opened != SZ_OK) {
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << opened;
    error_state_ = kArchiveNotReadable;
  } else if (EveryBlockStreams(archive)) {
    result = StreamEntries(archive, &look_stream.vt, destination, output_file);
  } else {
    result = UnPackEntries(archive, &look_stream.vt, destination, output_file);
  }
  SzArEx_Free(&archive, &kHeapAllocator);
  return result;
}

int PackageUnpacker::StreamEntries(const CSzArEx& archive,
                                   ILookInStreamPtr stream,
                                   const base::FilePath& destination,
                                   base::FilePath* output_file) {
  if (int result = StartEntries(archive, destination))
    return result;

  const std::unique_ptr<EntryFileWriter> writer = EntryFileWriter::Create();
  const int decoded =
      DecodeEntries(archive, stream, destination, output_file, writer.get());
  // The writer is behind the decoder: a file it failed came first.
  EntryFileWriter::Failure failure;
  if (!writer->Finish(&failure)) {
    if (output_file)
      *output_file = failure.path;
    return Fail(static_cast<ErrorState>(failure.state), failure.result);
  }
  return decoded;
}

int PackageUnpacker::DecodeEntries(const CSzArEx& archive,
                                   ILookInStreamPtr stream,
                                   const base::FilePath& destination,
                                   base::FilePath* output_file,
                                   EntryFileWriter* writer) {
  SolidBlockReader reader;
  reader.set_archive_file(archive_path_, window_offset_);
  UInt32 open_block = kNoBlock;
  for (uint32_t i = 0; i < archive.NumFiles; ++i) {
    if (writer->failed())
      return ERROR_SUCCESS;  // The writer's failure is the result.
    if (delegate_)
      delegate_->SetCurrentProgress(static_cast<int>(i));
    const base::FilePath path = destination.Append(
        *GetArchiveEntryRelativePath(GetEntryName(archive, i)));
    if (output_file)
      *output_file = path;
    if (SzArEx_IsDir(&archive, i)) {
      if (int result = UnPackEntry(archive, i, path, nullptr, 0))
        return result;
      continue;
    }
    // A parent that could not be made fails the file's creation, which
    // reports the error with the file's path.
    std::ignore = CreateFolder(path.DirName());
    writer->Open(path);
    if (HasData(archive, i)) {
      // A block's files follow each other in the archive, in the order of
      // their data, so that one pass reads each block once.
      const UInt32 block = archive.FileToFolder[i];
      if (block != open_block) {
        if (const SRes opened = reader.Open(archive, stream, block)) {
          LOG(ERROR) << "Error returned by SzExtract: " << opened;
          return Fail(kExtractionFailed, kUnpackFailed);
        }
        open_block = block;
      }
      if (int result = StreamFileEntry(archive, i, &reader, writer))
        return result;
      if (reader.AtEnd()) {
        if (const SRes finished = reader.Finish()) {
          LOG(ERROR) << "Error returned by SzExtract: " << finished;
          return Fail(kExtractionFailed, kUnpackFailed);
        }
      }
    }
    FILETIME last_write;
    writer->Close(ModificationTime(archive, i, &last_write));
  }
  return ERROR_SUCCESS;
}

int PackageUnpacker::StreamFileEntry(const CSzArEx& archive,
                                     uint32_t index,
                                     SolidBlockReader* reader,
                                     EntryFileWriter* writer) {
  UInt64 left = SzArEx_GetFileSize(&archive, index);
  UInt32 crc = CRC_INIT_VAL;
  while (left > 0) {
    std::vector<uint8_t> piece = writer->TakeBuffer(
        static_cast<size_t>(std::min<UInt64>(kStreamPieceSize, left)));
    if (const SRes read = reader->Read(piece.data(), piece.size())) {
      LOG(ERROR) << "Error returned by SzExtract: " << read;
      return Fail(kExtractionFailed, kUnpackFailed);
    }
    crc = CrcUpdate(crc, piece.data(), piece.size());
    left -= piece.size();
    writer->Write(std::move(piece));
  }
  // The reader's own extraction checks each file's CRC; so does the stream.
  if (SzBitWithVals_Check(&archive.CRCs, index) &&
      CRC_GET_DIGEST(crc) != archive.CRCs.Vals[index]) {
    LOG(ERROR) << "Error returned by SzExtract: " << SZ_ERROR_CRC;
    return Fail(kExtractionFailed, kUnpackFailed);
  }
  return ERROR_SUCCESS;
}

int PackageUnpacker::UnPackEntries(const CSzArEx& archive,
                                   ILookInStreamPtr stream,
                                   const base::FilePath& destination,
                                   base::FilePath* output_file) {
  if (int result = StartEntries(archive, destination))
    return result;
  MappedTempAllocator allocator(destination);

  InPageErrorGuard guard(&allocator);
  OutputBlock block;
  int result = ERROR_SUCCESS;
  for (uint32_t i = 0; i < archive.NumFiles; ++i) {
    if (delegate_)
      delegate_->SetCurrentProgress(static_cast<int>(i));
    const uint8_t* data = nullptr;
    size_t size = 0;
    result = ExtractEntry(archive, stream, i, &allocator, &guard, &block, &data,
                          &size);
    if (result != ERROR_SUCCESS)
      break;
    const base::FilePath path = destination.Append(
        *GetArchiveEntryRelativePath(GetEntryName(archive, i)));
    if (output_file)
      *output_file = path;
    result = UnPackEntry(archive, i, path, data, size);
    if (result != ERROR_SUCCESS)
      break;
  }
  allocator.Free(block.buffer);
  return result;
}

int PackageUnpacker::StartEntries(const CSzArEx& archive,
                                  const base::FilePath& destination) {
  created_folders_.clear();
  error_state_ = kNoError;
  in_page_status_ = 0;
  if (delegate_)
    delegate_->SetTotalProgress(static_cast<int>(archive.NumFiles));
  return CheckEntryNames(archive, destination);
}

int PackageUnpacker::CheckEntryNames(const CSzArEx& archive,
                                     const base::FilePath& destination) {
  std::vector<ArchiveEntryName> entries;
  entries.reserve(archive.NumFiles);
  for (uint32_t i = 0; i < archive.NumFiles; ++i) {
    const std::wstring name = GetEntryName(archive, i);
    if (name.empty()) {
      LOG(ERROR) << "Couldn't get file name";
      return Fail(kEntryWithoutName, kUnpackFailed);
    }
    std::optional<std::wstring> relative = GetArchiveEntryRelativePath(name);
    if (!relative) {
      LOG(ERROR) << "Archive entry outside the destination folder: "
                 << base::FilePath(name).AsUTF8();
      return Fail(kCreateFileFailed, ERROR_BAD_PATHNAME);
    }
    // Under Wine such a file would be written, and then neither run nor
    // deleted by anything that keeps to MAX_PATH, as Windows does.
    const base::FilePath path = destination.Append(*relative);
    if (path.value().size() >= MAX_PATH) {
      LOG(ERROR) << "Archive entry path too long: " << path.value().size()
                 << " characters, at most " << MAX_PATH - 1 << ": "
                 << path.AsUTF8();
      return Fail(kCreateFileFailed, ERROR_FILENAME_EXCED_RANGE);
    }
    entries.push_back({std::move(*relative), SzArEx_IsDir(&archive, i) != 0});
  }
  return CheckEntryPathsDistinct(entries);
}

// Names packed where case counts ("Readme.txt" and "README.TXT") are one
// file here: the package cannot be installed as it was made and signed,
// and its file list would name one file twice.
int PackageUnpacker::CheckEntryPathsDistinct(
    const std::vector<ArchiveEntryName>& entries) {
  const std::optional<std::pair<size_t, size_t>> collision =
      FindEntryPathCollision(entries);
  if (!collision)
    return ERROR_SUCCESS;
  LOG(ERROR) << "Archive entries naming one path: "
             << base::FilePath(entries[collision->first].path).AsUTF8()
             << " and "
             << base::FilePath(entries[collision->second].path).AsUTF8();
  return Fail(kCreateFileFailed, ERROR_FILE_EXISTS);
}

int PackageUnpacker::ExtractEntry(const CSzArEx& archive,
                                  ILookInStreamPtr stream,
                                  uint32_t index,
                                  MappedTempAllocator* allocator,
                                  InPageErrorGuard* guard,
                                  OutputBlock* block,
                                  const uint8_t** data,
                                  size_t* size) {
  // Folders and empty files have no data; asking the reader for them would
  // drop the cached block that the next file may still need.
  if (!HasData(archive, index))
    return ERROR_SUCCESS;
  Extraction extraction = {&archive, stream, index, block,
                           allocator->allocator()};
  // Only the reader's C code runs inside the guard: a fault abandons it
  // where it is, and nothing there has a destructor to miss.
  const bool paged = guard->Run(&Extract, &extraction);
  if (!paged) {
    in_page_status_ = guard->status();
    LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing mapped memory; "
                  "NTSTATUS = "
               << in_page_status_;
    return Fail(kInPageError, ERROR_IO_DEVICE);
  }
  if (extraction.result != SZ_OK) {
    LOG(ERROR) << "Error returned by SzExtract: " << extraction.result;
    return Fail(kExtractionFailed, kUnpackFailed);
  }
  *data = block->buffer + extraction.offset;
  *size = extraction.size;
  return ERROR_SUCCESS;
}

int PackageUnpacker::UnPackEntry(const CSzArEx& archive,
                                 uint32_t index,
                                 const base::FilePath& path,
                                 const uint8_t* data,
                                 size_t size) {
  if (!SzArEx_IsDir(&archive, index)) {
    // As in DecodeEntries: the file's creation reports a missing parent.
    std::ignore = CreateFolder(path.DirName());
    return WriteFileEntry(archive, index, path, data, size);
  }
  if (!CreateFolder(path)) {
    const DWORD error = LastErrorOr(ERROR_CANNOT_MAKE);
    ::SetLastError(error);
    PLOG(ERROR) << "Could not create the folder " << path.AsUTF8();
    return Fail(kCreateFileFailed, static_cast<int>(error));
  }
  return ERROR_SUCCESS;
}

int PackageUnpacker::WriteFileEntry(const CSzArEx& archive,
                                    uint32_t index,
                                    const base::FilePath& path,
                                    const uint8_t* data,
                                    size_t size) {
  EntryFile file(path);
  EntryFileWriter::Failure failure;
  FILETIME last_write;
  if (!file.Create(&failure) || !file.Write(data, size, &failure) ||
      !file.Close(ModificationTime(archive, index, &last_write), &failure)) {
    return Fail(static_cast<ErrorState>(failure.state), failure.result);
  }
  return ERROR_SUCCESS;
}

bool PackageUnpacker::CreateFolder(const base::FilePath& folder) {
  if (created_folders_.count(folder.value()))
    return true;
  if (!base::CreateDirectory(folder))
    return false;
  created_folders_.insert(folder.value());
  return true;
}

int PackageUnpacker::Fail(ErrorState state, int result) {
  error_state_ = state;
  return result;
}

}  // namespace installer
