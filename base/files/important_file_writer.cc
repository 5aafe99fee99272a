#include "base/files/important_file_writer.h"

#include <atomic>
#include <cstdint>
#include <utility>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/files/resolved_entry.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/rand_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

constexpr char kTempFileFailuresHistogram[] = "ImportantFile.TempFileFailures";
constexpr int32_t kTempFileFailuresMaximum = 6;
constexpr int32_t kTempFileFailuresBuckets = 7;

// The step at which a write through the temporary file failed, as recorded.
// 2 is not used, nor is 1 any more: the temporary file is written through
// the handle that made it.
enum TempFileFailure : int32_t {
  kFailedCreating = 0,
  kFailedOpening = 1,
  kFailedWriting = 3,
  kFailedRenaming = 4,
  kFailedFlushing = 5,
};

constexpr TimeDelta kCommitInterval = TimeDelta::FromSeconds(10);

// "<target>.<digits>.tmp": the digits keep two writers of one target, or a
// write and what a killed one left, apart.
constexpr size_t kTemporaryDigits = 8;
constexpr char kTemporaryExtension[] = ".tmp";
static_assert(ImportantFileWriter::kTemporarySuffixLength ==
              1 + kTemporaryDigits + sizeof(kTemporaryExtension) - 1);

bool IsHexDigits(std::wstring_view text) {
  for (const wchar_t c : text) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
          (c >= L'A' && c <= L'F'))) {
      return false;
    }
  }
  return true;
}

// One rename where it can be: Wine's ReplaceFileW first moves the target
// aside under a scratch name of its own, which a process killed in between
// leaves behind in the folder, holding the target's contents, with no
// target. Wine refuses a rename over a file that another handle holds open,
// which ReplaceFileW still replaces.
bool RenameOverTarget(const FilePath& temporary, const FilePath& target) {
  return ::MoveFileExW(temporary.value().c_str(), target.value().c_str(),
                       MOVEFILE_REPLACE_EXISTING) ||
         ReplaceFile(temporary, target);
}

// Without a maker of the caller's: a new file, never through a link nor
// over an existing one.
NewFileInFolder::Result MakeTemporaryFile(
    const FilePath& temporary,
    ImportantFileWriter::TemporaryFileMaker* maker) {
  if (maker)
    return maker->Make(temporary);
  return NewFileInFolder::Create(
      temporary.value(), NewFileInFolder::OldFile::kKeep, GENERIC_WRITE);
}

void RecordTempFileFailure(TempFileFailure failure) {
  // Made once and kept: histograms live for the process.
  static std::atomic<HistogramBase*> histogram{nullptr};
  HistogramBase* cached = histogram.load(std::memory_order_acquire);
  if (!cached) {
    cached = GetLinearHistogram(kTempFileFailuresHistogram,
                                kTempFileFailuresMaximum,
                                kTempFileFailuresBuckets);
    histogram.store(cached, std::memory_order_release);
  }
  if (cached)
    cached->Add(failure);
}

// Records `failure` and removes the temporary file; a temporary file that
// cannot be removed is left for the folder's owner and changes nothing.
bool FailWrite(TempFileFailure failure, const FilePath& temp_path) {
  RecordTempFileFailure(failure);
  DeletePath(temp_path, false);
  return false;
}

}  // namespace

ImportantFileWriter::ImportantFileWriter(
    const FilePath& path, RefPtr<SequencedTaskRunner> task_runner)
    : path_(path),
      task_runner_(std::move(task_runner)),
      timer_(/*retain_user_task=*/false, /*is_repeating=*/false),
      commit_interval_(kCommitInterval) {}

ImportantFileWriter::~ImportantFileWriter() = default;

bool ImportantFileWriter::HasPendingWrite() const {
  return timer_.IsRunning();
}

void ImportantFileWriter::WriteNow(std::unique_ptr<std::string> data) {
  // The caller still learns of a refused write through the after-write
  // callback; the data need not travel to the task runner for that.
  if (data && data->size() >= max_data_size_)
    data.reset();
  if (timer_.IsRunning())
    timer_.Stop();
  Closure task = Bind(
      [](const FilePath& path, std::unique_ptr<std::string>& task_data,
         TemporaryFileMaker* maker, const Closure& before,
         const AfterWriteCallback& after) {
        WriteDataTask(path, std::move(task_data), maker, before, after);
      },
      path_, std::move(data), temporary_file_maker_,
      std::exchange(before_next_write_, nullptr),
      std::exchange(after_next_write_, nullptr));
  // A refused post releases its reference without running; this one keeps
  // the write alive so that it can run here instead.
  Closure fallback = task;
  if (!task_runner_ || !task_runner_->PostTask(FROM_HERE, std::move(task)))
    fallback.Run();
}

void ImportantFileWriter::ScheduleWrite(DataSerializer* serializer) {
  serializer_ = serializer;
  // Not restarted: a burst of changes is written at most one interval after
  // its first change.
  if (timer_.IsRunning())
    return;
  // The timer is a member, so its task never runs after the writer is gone.
  timer_.Start(FROM_HERE, commit_interval_,
               Bind([](ImportantFileWriter* writer) {
                 writer->DoScheduledWrite();
               }, this));
}

void ImportantFileWriter::DoScheduledWrite() {
  DataSerializer* serializer = std::exchange(serializer_, nullptr);
  if (!serializer)
    return;
  auto data = std::make_unique<std::string>();
  if (serializer->SerializeData(data.get()))
    WriteNow(std::move(data));
}

void ImportantFileWriter::RegisterOnNextWriteCallbacks(
    Closure before_next_write, AfterWriteCallback after_next_write) {
  before_next_write_ = std::move(before_next_write);
  after_next_write_ = std::move(after_next_write);
}

void ImportantFileWriter::SetTemporaryFileMaker(TemporaryFileMaker* maker) {
  temporary_file_maker_ = maker;
}

// static
void ImportantFileWriter::WriteDataTask(const FilePath& path,
                                        std::unique_ptr<std::string> data,
                                        TemporaryFileMaker* maker,
                                        const Closure& before_write,
                                        const AfterWriteCallback& after_write) {
  if (before_write)
    before_write.Run();
  const bool success = data && WriteFileAtomically(path, *data, maker);
  if (after_write)
    after_write.Run(success);
}

// static
bool ImportantFileWriter::WriteFileAtomically(const FilePath& path,
                                              const std::string& data,
                                              TemporaryFileMaker* maker) {
  // Written in one call, whose count is a DWORD.
  if (data.size() >= kMaxDataSize)
    return false;
  // Made new and written through the handle that made it: the folder may
  // be one that others can write (an installation folder granted to its
  // user) while this process is elevated, and a temporary file reopened by
  // its name could be a link by then.
  NewFileInFolder::Result made =
      MakeTemporaryFile(MakeTemporaryPath(path), maker);
  if (!made.file.IsValid()) {
    RecordTempFileFailure(kFailedCreating);
    return false;
  }
  const FilePath temp_path(made.path);
  const DWORD size = static_cast<DWORD>(data.size());
  DWORD written = 0;
  if (!::WriteFile(made.file.Get(), data.data(), size, &written, nullptr))
    written = 0;
  // Flushed before the rename: otherwise a crash could leave the new name
  // on data that never reached the disk.
  const bool flushed = ::FlushFileBuffers(made.file.Get()) != FALSE;
  made.file.Close();

  if (written != size)
    return FailWrite(kFailedWriting, temp_path);
  if (!flushed)
    return FailWrite(kFailedFlushing, temp_path);
  // Replacing a link, Wine writes what it leads to: one in the target's
  // place is left, and nothing is written.
  if (ResolvedEntry::Resolve(path).kind() == ResolvedEntry::Kind::kLink ||
      !RenameOverTarget(temp_path, path)) {
    return FailWrite(kFailedRenaming, temp_path);
  }
  return true;
}

// static
FilePath ImportantFileWriter::MakeTemporaryPath(const FilePath& target) {
  return FilePath(target.value() +
                  Utf8ToWide("." +
                             GenerateGuidText().substr(0, kTemporaryDigits) +
                             kTemporaryExtension));
}

// static
std::optional<std::wstring> ImportantFileWriter::GetTargetOfTemporaryName(
    std::wstring_view name) {
  // ".<digits>.tmp" after a target name of at least one character.
  constexpr size_t kExtensionLength = sizeof(kTemporaryExtension) - 1;
  constexpr size_t kSuffixLength = 1 + kTemporaryDigits + kExtensionLength;
  if (name.size() <= kSuffixLength)
    return std::nullopt;
  const size_t dot = name.size() - kSuffixLength;
  const std::wstring_view digits = name.substr(dot + 1, kTemporaryDigits);
  const std::wstring_view extension =
      name.substr(name.size() - kExtensionLength);
  if (name[dot] != L'.' || !IsHexDigits(digits) ||
      !WideLowerCaseEqualsAscii(
          WideStringSlice(extension.data(), extension.size()),
          kTemporaryExtension)) {
    return std::nullopt;
  }
  return std::wstring(name.substr(0, dot));
}

void ImportantFileWriter::SetMaxDataSizeForTesting(size_t max_data_size) {
  max_data_size_ = max_data_size;
}

}  // namespace base
