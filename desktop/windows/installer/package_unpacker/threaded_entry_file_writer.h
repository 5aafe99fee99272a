#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_THREADED_ENTRY_FILE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_THREADED_ENTRY_FILE_WRITER_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "base/threading/condition_variable.h"
#include "base/threading/lock.h"
#include "desktop/windows/installer/package_unpacker/entry_file_writer.h"

namespace installer {

// Writes the files on threads of its own while the caller decodes the next
// ones: under Wine a file's creation, writes and close are each a call to
// the server, which the decoder need not wait for, and a few files made
// side by side take less time than one after another. Each file goes whole
// to one thread, its pieces in order; a file waits for an earlier one of
// the same path to be closed, so the later one wins as in turn. At most a
// few megabytes wait at any time; the caller blocks until the threads
// catch up.
class ThreadedEntryFileWriter : public EntryFileWriter {
 public:
  ThreadedEntryFileWriter();
  ThreadedEntryFileWriter(const ThreadedEntryFileWriter&) = delete;
  ThreadedEntryFileWriter& operator=(const ThreadedEntryFileWriter&) = delete;
  // Finishes first when the caller did not.
  ~ThreadedEntryFileWriter() override;

  // Starts the threads, one processor being the decoder's. False when the
  // system gave none: the writer is then of no use.
  [[nodiscard]] bool Start();

  void Open(const base::FilePath& path) override;
  void Write(std::vector<uint8_t> data) override;
  // One whose piece was written already when there is one, as fresh memory
  // costs a fault per page.
  std::vector<uint8_t> TakeBuffer(size_t size) override;
  void Close(const FILETIME* last_write) override;
  bool failed() override;
  // Also ends the threads.
  [[nodiscard]] bool Finish(Failure* failure) override;

 private:
  class WritingThread;
  struct File;

  // A writing thread's work: whole files until the writer finishes.
  void WriteFiles();
  // Writes and closes `file`, its pieces as they come. Called and returns
  // with `lock_` held, which it releases around the system calls.
  void WriteFile(File* file);
  // The rest once the file was created (`writing`) or not: each piece,
  // then the close.
  void WritePieces(File* file, bool writing);
  // With `lock_` held: whether another thread writes an earlier file of the
  // same path.
  bool IsPathBusy(const File& file) const;
  // Keeps the failure of the earliest file. With `lock_` held.
  void NoteFailure(const File& file, const Failure& failure);
  bool FailedBefore(const File& file) const;
  // Waits while `cost` more would be too much to hold. With `lock_` held.
  void WaitForRoom(size_t cost);

  std::vector<std::unique_ptr<WritingThread>> threads_;
  bool finished_ = false;
  uint64_t next_order_ = 0;
  base::Lock lock_;
  base::ConditionVariable changed_{&lock_};
  // Guarded by `lock_`: the files no thread has taken yet, oldest first.
  std::deque<std::unique_ptr<File>> waiting_;
  // Guarded by `lock_`: the files the threads have taken and not finished.
  std::vector<const File*> taken_;
  // Guarded by `lock_`: large pieces written, kept for `TakeBuffer`.
  std::vector<std::vector<uint8_t>> spare_;
  // The file last opened, until its close; owned by `waiting_` or by the
  // thread that writes it.
  File* current_ = nullptr;
  size_t queued_cost_ = 0;
  bool closing_ = false;
  bool failed_ = false;
  uint64_t failed_order_ = 0;
  Failure failure_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_THREADED_ENTRY_FILE_WRITER_H_
