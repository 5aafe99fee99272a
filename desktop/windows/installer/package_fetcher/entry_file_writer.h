#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ENTRY_FILE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ENTRY_FILE_WRITER_H_

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Writes the files of unpacked archive entries on threads of their own while
// the caller decodes the next ones: under Wine a file's creation, writes and
// close are each a call to the server, which the decoder need not wait for,
// and a few files made side by side take less time than one after another.
// Each file goes whole to one thread, its pieces in order. At most a few
// megabytes wait at any time; the caller blocks until the threads catch up.
// Once a file fails, the files given after it are no longer started. Where
// the system refuses the threads each call does its work at once. The
// calls come from one thread.
class EntryFileWriter {
 public:
  // What failed first in the order of the files: an LzmaUtil::ErrorState,
  // the unpack's result (the Windows error) and the file.
  struct Failure {
    int32_t state = 0;
    int result = 0;
    base::FilePath path;
  };

  EntryFileWriter();
  EntryFileWriter(const EntryFileWriter&) = delete;
  EntryFileWriter& operator=(const EntryFileWriter&) = delete;
  // Finishes first when the caller did not.
  ~EntryFileWriter();

  // Creates (or truncates) the next file; its data follows in `Write` calls.
  void Open(const base::FilePath& path);
  void Write(std::vector<uint8_t> data);
  // A buffer of `size` bytes for a `Write`: one whose piece was written
  // already when there is one, as fresh memory costs a fault per page.
  std::vector<uint8_t> TakeBuffer(size_t size);
  // Ends the file, with `last_write` as its modification time when given.
  void Close(const FILETIME* last_write);
  // Whether a file failed: the caller need give no more.
  bool failed();
  // Waits until everything given is done and ends the threads. False, with
  // the first failure, when a file failed.
  bool Finish(Failure* failure);

 private:
  class WritingThread;
  struct File;

  // A writing thread's work: whole files until the writer finishes.
  void WriteFiles();
  // Writes and closes `file`, its pieces as they come. Called and returns
  // with `lock_` held, which it releases around the system calls.
  void WriteFile(File* file);
  // The system calls; each returns 0 or the Windows error.
  static DWORD Create(const File& file, base::win::ScopedHandle* handle);
  static DWORD WritePiece(HANDLE handle, const std::vector<uint8_t>& data);
  static DWORD CloseWithTime(const File& file, base::win::ScopedHandle* handle);
  // Keeps the failure of the earliest file. With `lock_` held if threaded.
  void NoteFailure(const File& file, int32_t state, DWORD error);
  bool FailedBefore(const File& file) const;
  // Waits while `cost` more would be too much to hold. With `lock_` held.
  void WaitForRoom(size_t cost);
  void Lock();
  void Unlock();

  std::vector<std::unique_ptr<WritingThread>> threads_;
  bool finished_ = false;
  uint64_t next_order_ = 0;
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  // Guarded by `lock_`: the files no thread has taken yet, oldest first.
  std::deque<std::unique_ptr<File>> waiting_;
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
  // Without threads: the file being written and its handle.
  std::unique_ptr<File> in_turn_;
  base::win::ScopedHandle in_turn_handle_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ENTRY_FILE_WRITER_H_
