#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_COUNTER_FILE_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_COUNTER_FILE_WRITER_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "base/files/file_path.h"
#include "base/threading/lock.h"
#include "base/threading/os_thread.h"
#include "base/threading/sync_event.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Counts crashes by process type in a JSON dictionary file that other
// programs read ({"browser": 3}). Increments gather in memory and are merged
// into the file on the writer's own thread, so a crash never waits for the
// file; a locked file is retried. Keys of the file that are not ours are
// kept; values that are not integers are dropped at the next rewrite.
class CounterFileWriter : public base::ThreadDelegate {
 public:
  // Starts the writer's thread.
  explicit CounterFileWriter(const base::FilePath& path);
  CounterFileWriter(const CounterFileWriter&) = delete;
  CounterFileWriter& operator=(const CounterFileWriter&) = delete;
  // Makes the last attempts to write what is pending, then joins the thread.
  ~CounterFileWriter() override;

  // Any thread. `wake` starts a write now; without it the count waits for
  // the next write.
  void AddCount(const std::string& name, uint32_t count, bool wake);

 private:
  using Counts = std::map<std::string, uint32_t>;

  void ThreadMain() override;
  bool FlushOnce();
  bool HasPending();
  void Restore(const Counts& counts);
  bool MergeIntoFile(const Counts& counts);

  const base::FilePath path_;
  base::win::ScopedHandle thread_;
  base::SyncEvent wake_;
  base::Lock lock_;
  Counts pending_;
  std::atomic<bool> stop_{false};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_COUNTER_FILE_WRITER_H_
