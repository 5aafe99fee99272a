#include "desktop/windows/installer/package_unpacker/threaded_entry_file_writer.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/threading/runnable_thread.h"
#include "desktop/windows/installer/package_unpacker/entry_file.h"

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

}  // namespace

struct ThreadedEntryFileWriter::File {
  File(uint64_t order, const base::FilePath& path)
      : order(order), entry_file(path) {}

  const uint64_t order;
  // Its system calls are made outside the writer's lock; a handle a failure
  // left open is closed where the file is freed, outside it too.
  EntryFile entry_file;
  // Guarded by the writer's lock.
  std::deque<std::vector<uint8_t>> pieces;
  bool closed = false;
  bool has_time = false;
  FILETIME last_write = {};
};

class ThreadedEntryFileWriter::WritingThread : public base::RunnableThread {
 public:
  explicit WritingThread(ThreadedEntryFileWriter* writer)
      : base::RunnableThread("EntryFileWriter"), writer_(writer) {}

 private:
  void Run() override { writer_->WriteFiles(); }

  ThreadedEntryFileWriter* const writer_;
};

ThreadedEntryFileWriter::ThreadedEntryFileWriter() = default;

ThreadedEntryFileWriter::~ThreadedEntryFileWriter() {
  Failure ignored;
  (void)Finish(&ignored);
}

bool ThreadedEntryFileWriter::Start() {
  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  const int count = std::clamp(
      static_cast<int>(system.dwNumberOfProcessors) - 1, 1, kMaxThreads);
  for (int i = 0; i < count; ++i) {
    auto thread = std::make_unique<WritingThread>(this);
    if (!thread->Start())
      break;
    threads_.push_back(std::move(thread));
  }
  return !threads_.empty();
}

void ThreadedEntryFileWriter::Open(const base::FilePath& path) {
  auto file = std::make_unique<File>(next_order_++, path);
  base::AutoLock hold(lock_);
  WaitForRoom(kFileCost);
  current_ = nullptr;
  if (!failed_) {
    current_ = file.get();
    waiting_.push_back(std::move(file));
    queued_cost_ += kFileCost;
    changed_.Broadcast();
  }
}

void ThreadedEntryFileWriter::Write(std::vector<uint8_t> data) {
  base::AutoLock hold(lock_);
  // A reused buffer holds its whole capacity.
  WaitForRoom(data.capacity());
  // After a failure nothing more is written: the unpack has failed.
  if (current_ && !failed_) {
    queued_cost_ += data.capacity();
    current_->pieces.push_back(std::move(data));
    changed_.Broadcast();
  }
}

std::vector<uint8_t> ThreadedEntryFileWriter::TakeBuffer(size_t size) {
  std::vector<uint8_t> buffer;
  if (size >= kMinSpareSize) {
    base::AutoLock hold(lock_);
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  buffer.resize(size);
  return buffer;
}

void ThreadedEntryFileWriter::Close(const FILETIME* last_write) {
  base::AutoLock hold(lock_);
  if (!current_)
    return;
  current_->has_time = last_write != nullptr;
  if (last_write)
    current_->last_write = *last_write;
  current_->closed = true;
  current_ = nullptr;
  changed_.Broadcast();
}

bool ThreadedEntryFileWriter::failed() {
  base::AutoLock hold(lock_);
  return failed_;
}

bool ThreadedEntryFileWriter::Finish(Failure* failure) {
  if (!finished_) {
    finished_ = true;
    {
      base::AutoLock hold(lock_);
      // A file the decoder gave up in the middle ends as it stands.
      if (current_)
        current_->closed = true;
      current_ = nullptr;
      closing_ = true;
      changed_.Broadcast();
    }
    for (const std::unique_ptr<WritingThread>& thread : threads_)
      thread->Join();
  }
  if (!failed_)
    return true;
  *failure = failure_;
  return false;
}

void ThreadedEntryFileWriter::WriteFiles() {
  base::AutoLock hold(lock_);
  for (;;) {
    while (waiting_.empty() && !closing_)
      changed_.Wait();
    if (waiting_.empty())
      break;
    std::unique_ptr<File> file = std::move(waiting_.front());
    waiting_.pop_front();
    taken_.push_back(file.get());
    WriteFile(file.get());
    taken_.erase(std::find(taken_.begin(), taken_.end(), file.get()));
    changed_.Broadcast();
    base::AutoUnlock unlocked(lock_);
    // Freed outside the lock.
    file.reset();
  }
}

void ThreadedEntryFileWriter::WriteFile(File* file) {
  // Two entries may name one file (names that differ only in case): the
  // later is made once the earlier is closed, or the two would meet
  // without sharing.
  while (IsPathBusy(*file))
    changed_.Wait();
  // A file after one that failed is not started.
  bool writing = !FailedBefore(*file);
  if (writing) {
    Failure failure;
    {
      base::AutoUnlock unlocked(lock_);
      writing = file->entry_file.Create(&failure);
    }
    if (!writing)
      NoteFailure(*file, failure);
  }
  WritePieces(file, writing);
  queued_cost_ -= kFileCost;
}

void ThreadedEntryFileWriter::WritePieces(File* file, bool writing) {
  Failure failure;
  for (;;) {
    while (file->pieces.empty() && !file->closed)
      changed_.Wait();
    if (file->pieces.empty())
      break;
    std::vector<uint8_t> piece = std::move(file->pieces.front());
    file->pieces.pop_front();
    if (writing) {
      {
        base::AutoUnlock unlocked(lock_);
        writing = file->entry_file.Write(piece.data(), piece.size(), &failure);
      }
      if (!writing)
        NoteFailure(*file, failure);
    }
    queued_cost_ -= piece.capacity();
    if (piece.size() >= kMinSpareSize && spare_.size() < kMaxSpares)
      spare_.push_back(std::move(piece));
    changed_.Broadcast();
  }
  if (!writing)
    return;
  bool closed = false;
  {
    base::AutoUnlock unlocked(lock_);
    closed = file->entry_file.Close(
        file->has_time ? &file->last_write : nullptr, &failure);
  }
  if (!closed)
    NoteFailure(*file, failure);
}

bool ThreadedEntryFileWriter::IsPathBusy(const File& file) const {
  return std::any_of(taken_.begin(), taken_.end(), [&file](const File* other) {
    return other->order < file.order &&
           base::FilePath::CompareIgnoreCase(other->entry_file.path(),
                                             file.entry_file.path()) == 0;
  });
}

void ThreadedEntryFileWriter::NoteFailure(const File& file,
                                          const Failure& failure) {
  if (failed_ && failed_order_ < file.order)
    return;
  failed_ = true;
  failed_order_ = file.order;
  failure_ = failure;
  changed_.Broadcast();
}

bool ThreadedEntryFileWriter::FailedBefore(const File& file) const {
  return failed_ && failed_order_ < file.order;
}

void ThreadedEntryFileWriter::WaitForRoom(size_t cost) {
  while (!failed_ && queued_cost_ > 0 && queued_cost_ + cost > kMaxQueuedCost)
    changed_.Wait();
}

}  // namespace installer
