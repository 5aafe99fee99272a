#ifndef BASE_FILES_IMPORTANT_FILE_WRITER_H_
#define BASE_FILES_IMPORTANT_FILE_WRITER_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/closure.h"
#include "base/files/file_path.h"
#include "base/files/new_file_in_folder.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/time/time_delta.h"
#include "base/timer/timer.h"

namespace base {

// Writes one file so that readers see either its old or its new contents,
// never a mix: the data goes to a temporary file in the same folder, is
// flushed, and then takes the target's place in one rename. The writer lives
// on its owner's sequence (scheduled writes need a current task runner
// there); the disk work runs on `task_runner`.
class ImportantFileWriter {
 public:
  // Makes the temporary file of a write, for a caller that must know it
  // before it exists: a process killed in the middle of a write leaves the
  // file behind, and only one who knew its name can remove it then. Called
  // where the write runs (on the task runner; inline without one).
  class TemporaryFileMaker {
   public:
    // `temporary`, a name MakeTemporaryPath gave, made new under that very
    // name and open for writing; an invalid file (its error set) when it
    // could not be made, and nothing is written.
    virtual NewFileInFolder::Result Make(const FilePath& temporary) = 0;

   protected:
    virtual ~TemporaryFileMaker() = default;
  };

  // The source of a scheduled write, asked for its data when the write is due.
  class DataSerializer {
   public:
    virtual bool SerializeData(std::string* output) = 0;

   protected:
    virtual ~DataSerializer() = default;
  };

  using AfterWriteCallback = Callback<void(bool success)>;

  // One write of this many bytes or more does not fit File::Write's count.
  static constexpr size_t kMaxDataSize = 0x80000000u;

  ImportantFileWriter(const FilePath& path,
                      RefPtr<SequencedTaskRunner> task_runner);
  ImportantFileWriter(const ImportantFileWriter&) = delete;
  ImportantFileWriter& operator=(const ImportantFileWriter&) = delete;
  // A scheduled write still pending is dropped; writes already posted finish.
  ~ImportantFileWriter();

  // Whether a scheduled write waits for its commit interval.
  bool HasPendingWrite() const;
  // Posts the write of `data` and cancels any scheduled one. Data too large
  // for one write is refused and reported as a failed write.
  void WriteNow(std::unique_ptr<std::string> data);
  // Writes what `serializer` gives one commit interval after the first of a
  // burst of calls; the last serializer given is the one asked.
  void ScheduleWrite(DataSerializer* serializer);
  // Writes the scheduled data now (the timer's task).
  void DoScheduledWrite();
  // Both run once, on the task runner, around the next write only; null
  // callbacks clear a slot.
  void RegisterOnNextWriteCallbacks(Closure before_next_write,
                                    AfterWriteCallback after_next_write);

  // Every write of this writer's makes its temporary file through `maker`
  // (null: by itself), which must outlive the writes.
  void SetTemporaryFileMaker(TemporaryFileMaker* maker);

  // The work of one posted write. A null `data` stands for a write that was
  // refused: the callbacks run and report failure.
  static void WriteDataTask(const FilePath& path,
                            std::unique_ptr<std::string> data,
                            TemporaryFileMaker* maker,
                            const Closure& before_write,
                            const AfterWriteCallback& after_write);
  // Replaces `path` with `data` through a temporary file, made by `maker`
  // where one is given; each failure is counted in
  // "ImportantFile.TempFileFailures".
  static bool WriteFileAtomically(const FilePath& path,
                                  const std::string& data,
                                  TemporaryFileMaker* maker = nullptr);

  // The temporary file a write of `target` goes through, beside it:
  // "<target's name>.<8 hex digits>.tmp", new digits each call. The one
  // place this form is made or read.
  static FilePath MakeTemporaryPath(const FilePath& target);
  // What MakeTemporaryPath adds to the target's name: ".<8 hex digits>.tmp".
  static constexpr size_t kTemporarySuffixLength = 1 + 8 + 4;
  // The name of the file whose temporary `name` is, when `name` has the
  // form MakeTemporaryPath gives (its letters in any case, as the file
  // system matches names); nullopt for any other name.
  static std::optional<std::wstring> GetTargetOfTemporaryName(
      std::wstring_view name);

  // Lowers the size from which WriteNow refuses data, so that the refusal
  // can be tested without a buffer of 2 GB.
  void SetMaxDataSizeForTesting(size_t max_data_size);

 private:
  Closure before_next_write_;
  AfterWriteCallback after_next_write_;
  TemporaryFileMaker* temporary_file_maker_ = nullptr;
  const FilePath path_;
  RefPtr<SequencedTaskRunner> task_runner_;
  Timer timer_;
  DataSerializer* serializer_ = nullptr;
  const TimeDelta commit_interval_;
  size_t max_data_size_ = kMaxDataSize;
};

}  // namespace base

#endif  // BASE_FILES_IMPORTANT_FILE_WRITER_H_
