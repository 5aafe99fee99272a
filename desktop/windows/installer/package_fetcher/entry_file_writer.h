#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ENTRY_FILE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ENTRY_FILE_WRITER_H_

#include <windows.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "base/files/file_path.h"
#include "base/threading/runnable_thread.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Writes the files of unpacked archive entries on a thread of its own, in
// the order they are given, while the caller decodes the next ones: under
// Wine a file's creation, writes and close are each a call to the server,
// which the decoder need not wait for. At most a few megabytes wait at any
// time; the caller blocks until the thread catches up. Once a file fails,
// everything given after it is dropped. Where the system refuses the thread
// each call does its work at once. The calls come from one thread.
class EntryFileWriter : private base::RunnableThread {
 public:
  // What failed first: an LzmaUtil::ErrorState, the unpack's result (the
  // Windows error) and the file.
  struct Failure {
    int32_t state = 0;
    int result = 0;
    base::FilePath path;
  };

  EntryFileWriter();
  EntryFileWriter(const EntryFileWriter&) = delete;
  EntryFileWriter& operator=(const EntryFileWriter&) = delete;
  // Finishes first when the caller did not.
  ~EntryFileWriter() override;

  // Creates (or truncates) the next file; its data follows in `Write` calls.
  void Open(const base::FilePath& path);
  void Write(std::vector<uint8_t> data);
  // Ends the file, with `last_write` as its modification time when given.
  void Close(const FILETIME* last_write);
  // Whether a file failed: the caller need give no more.
  bool failed();
  // Waits until everything given is done and ends the thread. False, with
  // the first failure, when a file failed.
  bool Finish(Failure* failure);

 private:
  struct Task {
    enum class Kind { kOpen, kWrite, kClose };
    Kind kind;
    base::FilePath path;
    std::vector<uint8_t> data;
    bool has_time = false;
    FILETIME last_write = {};
  };

  void Run() override;
  void Push(Task task);
  // On the writing thread (or the caller's without one).
  void Perform(Task& task);
  void PerformOpen(const base::FilePath& path);
  void PerformWrite(const std::vector<uint8_t>& data);
  void PerformClose(const Task& task);
  void SetFailure(int32_t state, DWORD error);
  static size_t CostOf(const Task& task);

  bool threaded_ = false;
  bool finished_ = false;
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  // Guarded by `lock_`.
  std::deque<Task> tasks_;
  size_t queued_cost_ = 0;
  bool closing_ = false;
  bool failed_ = false;
  Failure failure_;

  // The writing side's file.
  base::win::ScopedHandle file_;
  base::FilePath path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ENTRY_FILE_WRITER_H_
