#include "desktop/windows/installer/package_fetcher/entry_file_writer.h"

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/threading/runnable_thread.h"
#include "base/win/handle_verifier.h"
#include "desktop/windows/installer/package_fetcher/lzma_util.h"
#include "desktop/windows/installer/package_fetcher/write_whole_buffer.h"

namespace installer {
namespace {

// What may wait for the writing threads: enough to cover files' creations
// while the decoder goes on, little beside the decoder's own memory.
constexpr size_t kMaxQueuedCost = 16 << 20;
// A file without data still holds a path and a queue slot.
constexpr size_t kFileCost = 512;
// Measured under Wine with 2 KiB files: two threads make them about a third
// faster than one, four about three fifths; beyond, they wait for the
// server in turn.
constexpr int kMaxThreads = 4;
// Only pieces this large are kept for reuse, and at most this many: a small
// piece would hold a large buffer's memory.
constexpr size_t kMinSpareSize = 256 << 10;
constexpr size_t kMaxSpares = 8;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace

struct EntryFileWriter::File {
  uint64_t order = 0;
  base::FilePath path;
  // Guarded by the writer's lock.
  std::deque<std::vector<uint8_t>> pieces;
  bool closed = false;
  bool has_time = false;
  FILETIME last_write = {};
};

class EntryFileWriter::WritingThread : public base::RunnableThread {
 public:
  explicit WritingThread(EntryFileWriter* writer)
      : base::RunnableThread("EntryFileWriter"), writer_(writer) {}

 private:
  void Run() override { writer_->WriteFiles(); }

  EntryFileWriter* const writer_;
};

EntryFileWriter::EntryFileWriter() {
  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  // One processor stays the decoder's.
  const int count = std::clamp(
      static_cast<int>(system.dwNumberOfProcessors) - 1, 1, kMaxThreads);
  for (int i = 0; i < count; ++i) {
    auto thread = std::make_unique<WritingThread>(this);
    if (!thread->Start())
      break;
    threads_.push_back(std::move(thread));
  }
  if (threads_.empty())
    LOG(WARNING) << "No thread for writing the package's files: written in turn";
}

EntryFileWriter::~EntryFileWriter() {
  Failure ignored;
  Finish(&ignored);
}

void EntryFileWriter::Open(const base::FilePath& path) {
  auto file = std::make_unique<File>();
  file->order = next_order_++;
  file->path = path;
  if (threads_.empty()) {
    in_turn_ = std::move(file);
    if (!failed_) {
      if (const DWORD error = Create(*in_turn_, &in_turn_handle_))
        NoteFailure(*in_turn_, LzmaUtil::kCreateFileFailed, error);
    }
    return;
  }
  Lock();
  WaitForRoom(kFileCost);
  current_ = nullptr;
  if (!failed_) {
    current_ = file.get();
    waiting_.push_back(std::move(file));
    queued_cost_ += kFileCost;
    ::WakeAllConditionVariable(&changed_);
  }
  Unlock();
}

void EntryFileWriter::Write(std::vector<uint8_t> data) {
  if (threads_.empty()) {
    if (!failed_) {
      if (const DWORD error = WritePiece(in_turn_handle_.Get(), data))
        NoteFailure(*in_turn_, LzmaUtil::kWriteFileFailed, error);
    }
    return;
  }
  Lock();
  // A reused buffer holds its whole capacity.
  WaitForRoom(data.capacity());
  // After a failure nothing more is written: the unpack has failed.
  if (current_ && !failed_) {
    queued_cost_ += data.capacity();
    current_->pieces.push_back(std::move(data));
    ::WakeAllConditionVariable(&changed_);
  }
  Unlock();
}

std::vector<uint8_t> EntryFileWriter::TakeBuffer(size_t size) {
  std::vector<uint8_t> buffer;
  if (size >= kMinSpareSize && !threads_.empty()) {
    Lock();
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
    Unlock();
  }
  buffer.resize(size);
  return buffer;
}

void EntryFileWriter::Close(const FILETIME* last_write) {
  if (threads_.empty()) {
    in_turn_->has_time = last_write != nullptr;
    if (last_write)
      in_turn_->last_write = *last_write;
    if (!failed_) {
      if (const DWORD error = CloseWithTime(*in_turn_, &in_turn_handle_)) {
        NoteFailure(*in_turn_,
                    in_turn_handle_.IsValid() ? LzmaUtil::kSetFileTimeFailed
                                              : LzmaUtil::kCloseFileFailed,
                    error);
      }
    }
    return;
  }
  Lock();
  if (current_) {
    current_->has_time = last_write != nullptr;
    if (last_write)
      current_->last_write = *last_write;
    current_->closed = true;
    current_ = nullptr;
    ::WakeAllConditionVariable(&changed_);
  }
  Unlock();
}

bool EntryFileWriter::failed() {
  Lock();
  const bool failed = failed_;
  Unlock();
  return failed;
}

bool EntryFileWriter::Finish(Failure* failure) {
  if (!finished_) {
    finished_ = true;
    Lock();
    // A file the decoder gave up in the middle ends as it stands.
    if (current_)
      current_->closed = true;
    current_ = nullptr;
    closing_ = true;
    ::WakeAllConditionVariable(&changed_);
    Unlock();
    for (const std::unique_ptr<WritingThread>& thread : threads_)
      thread->Join();
    in_turn_handle_.Close();
  }
  if (!failed_)
    return true;
  *failure = failure_;
  return false;
}

void EntryFileWriter::WriteFiles() {
  Lock();
  for (;;) {
    while (waiting_.empty() && !closing_)
      ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    if (waiting_.empty())
      break;
    std::unique_ptr<File> file = std::move(waiting_.front());
    waiting_.pop_front();
    WriteFile(file.get());
    // Freed outside the lock.
    Unlock();
    file.reset();
    Lock();
  }
  Unlock();
}

void EntryFileWriter::WriteFile(File* file) {
  base::win::ScopedHandle handle;
  // A file after one that failed is not started.
  bool writing = !FailedBefore(*file);
  if (writing) {
    Unlock();
    const DWORD error = Create(*file, &handle);
    Lock();
    if (error)
      NoteFailure(*file, LzmaUtil::kCreateFileFailed, error);
    writing = !error;
  }
  for (;;) {
    while (file->pieces.empty() && !file->closed)
      ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    if (file->pieces.empty())
      break;
    std::vector<uint8_t> piece = std::move(file->pieces.front());
    file->pieces.pop_front();
    if (writing) {
      Unlock();
      const DWORD error = WritePiece(handle.Get(), piece);
      Lock();
      if (error)
        NoteFailure(*file, LzmaUtil::kWriteFileFailed, error);
      writing = !error;
    }
    queued_cost_ -= piece.capacity();
    if (piece.size() >= kMinSpareSize && spare_.size() < kMaxSpares)
      spare_.push_back(std::move(piece));
    ::WakeAllConditionVariable(&changed_);
  }
  if (writing) {
    Unlock();
    const DWORD error = CloseWithTime(*file, &handle);
    Lock();
    if (error) {
      NoteFailure(*file,
                  handle.IsValid() ? LzmaUtil::kSetFileTimeFailed
                                   : LzmaUtil::kCloseFileFailed,
                  error);
    }
  }
  queued_cost_ -= kFileCost;
  ::WakeAllConditionVariable(&changed_);
}

// static
DWORD EntryFileWriter::Create(const File& file,
                              base::win::ScopedHandle* handle) {
  handle->Set(::CreateFileW(file.path.value().c_str(), GENERIC_WRITE, 0,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
  if (handle->IsValid())
    return ERROR_SUCCESS;
  const DWORD error = LastErrorOr(ERROR_CANNOT_MAKE);
  LOG(ERROR) << "Error returned by CreateFile: " << error;
  return error;
}

// static
DWORD EntryFileWriter::WritePiece(HANDLE handle,
                                  const std::vector<uint8_t>& data) {
  const DWORD error = WriteWholeBuffer(handle, data.data(), data.size());
  if (error) {
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by WriteFile";
  }
  return error;
}

// static
// A failed time leaves `handle` open (closed by its owner); a failed close
// leaves it taken.
DWORD EntryFileWriter::CloseWithTime(const File& file,
                                     base::win::ScopedHandle* handle) {
  if (file.has_time &&
      !::SetFileTime(handle->Get(), nullptr, nullptr, &file.last_write)) {
    const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by SetFileTime";
    return error;
  }
  if (!base::win::CloseHandleVerified(handle->Take())) {
    const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by CloseHandle";
    return error;
  }
  return ERROR_SUCCESS;
}

void EntryFileWriter::NoteFailure(const File& file,
                                  int32_t state,
                                  DWORD error) {
  if (failed_ && failed_order_ < file.order)
    return;
  failed_ = true;
  failed_order_ = file.order;
  failure_ = {state, static_cast<int>(error), file.path};
  if (!threads_.empty())
    ::WakeAllConditionVariable(&changed_);
}

bool EntryFileWriter::FailedBefore(const File& file) const {
  return failed_ && failed_order_ < file.order;
}

void EntryFileWriter::WaitForRoom(size_t cost) {
  while (!failed_ && queued_cost_ > 0 && queued_cost_ + cost > kMaxQueuedCost)
    ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
}

void EntryFileWriter::Lock() {
  ::AcquireSRWLockExclusive(&lock_);
}

void EntryFileWriter::Unlock() {
  ::ReleaseSRWLockExclusive(&lock_);
}

}  // namespace installer
