#include "desktop/windows/installer/package_fetcher/entry_file_writer.h"

#include <utility>

#include "base/logging.h"
#include "base/win/handle_verifier.h"
#include "desktop/windows/installer/package_fetcher/lzma_util.h"
#include "desktop/windows/installer/package_fetcher/write_whole_buffer.h"

namespace installer {
namespace {

// What may wait for the writing thread: enough to cover a file's creation
// while the decoder goes on, little beside the decoder's own memory.
constexpr size_t kMaxQueuedCost = 16 << 20;
// A task without data still holds a path and a queue slot.
constexpr size_t kTaskCost = 512;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace

EntryFileWriter::EntryFileWriter() : base::RunnableThread("EntryFileWriter") {
  threaded_ = Start();
  if (!threaded_)
    LOG(WARNING) << "No thread for writing the package's files: written in turn";
}

EntryFileWriter::~EntryFileWriter() {
  Failure ignored;
  Finish(&ignored);
}

void EntryFileWriter::Open(const base::FilePath& path) {
  Push({Task::Kind::kOpen, path, {}});
}

void EntryFileWriter::Write(std::vector<uint8_t> data) {
  Push({Task::Kind::kWrite, base::FilePath(), std::move(data)});
}

void EntryFileWriter::Close(const FILETIME* last_write) {
  Task task = {Task::Kind::kClose, base::FilePath(), {}};
  if (last_write) {
    task.has_time = true;
    task.last_write = *last_write;
  }
  Push(std::move(task));
}

bool EntryFileWriter::failed() {
  ::AcquireSRWLockExclusive(&lock_);
  const bool failed = failed_;
  ::ReleaseSRWLockExclusive(&lock_);
  return failed;
}

bool EntryFileWriter::Finish(Failure* failure) {
  if (!finished_) {
    finished_ = true;
    if (threaded_) {
      ::AcquireSRWLockExclusive(&lock_);
      closing_ = true;
      ::WakeAllConditionVariable(&changed_);
      ::ReleaseSRWLockExclusive(&lock_);
      Join();
    }
    // A file left open by a failed unpack is closed as it stands.
    file_.Close();
  }
  if (!failed_)
    return true;
  *failure = failure_;
  return false;
}

void EntryFileWriter::Push(Task task) {
  if (!threaded_) {
    if (!failed_)
      Perform(task);
    return;
  }
  const size_t cost = CostOf(task);
  ::AcquireSRWLockExclusive(&lock_);
  while (!failed_ && queued_cost_ > 0 && queued_cost_ + cost > kMaxQueuedCost)
    ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
  if (!failed_) {
    tasks_.push_back(std::move(task));
    queued_cost_ += cost;
    ::WakeAllConditionVariable(&changed_);
  }
  ::ReleaseSRWLockExclusive(&lock_);
}

void EntryFileWriter::Run() {
  ::AcquireSRWLockExclusive(&lock_);
  for (;;) {
    while (tasks_.empty() && !closing_)
      ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    if (tasks_.empty())
      break;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    const bool failed = failed_;
    // The lock is not held across the file's system calls.
    ::ReleaseSRWLockExclusive(&lock_);
    if (!failed)
      Perform(task);
    ::AcquireSRWLockExclusive(&lock_);
    queued_cost_ -= CostOf(task);
    ::WakeAllConditionVariable(&changed_);
  }
  ::ReleaseSRWLockExclusive(&lock_);
}

void EntryFileWriter::Perform(Task& task) {
  switch (task.kind) {
    case Task::Kind::kOpen:
      PerformOpen(task.path);
      break;
    case Task::Kind::kWrite:
      PerformWrite(task.data);
      break;
    case Task::Kind::kClose:
      PerformClose(task);
      break;
  }
}

void EntryFileWriter::PerformOpen(const base::FilePath& path) {
  path_ = path;
  file_.Set(::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file_.IsValid())
    return;
  const DWORD error = LastErrorOr(ERROR_CANNOT_MAKE);
  LOG(ERROR) << "Error returned by CreateFile: " << error;
  SetFailure(LzmaUtil::kCreateFileFailed, error);
}

void EntryFileWriter::PerformWrite(const std::vector<uint8_t>& data) {
  if (const DWORD error = WriteWholeBuffer(file_.Get(), data.data(), data.size())) {
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by WriteFile";
    SetFailure(LzmaUtil::kWriteFileFailed, error);
  }
}

void EntryFileWriter::PerformClose(const Task& task) {
  if (task.has_time &&
      !::SetFileTime(file_.Get(), nullptr, nullptr, &task.last_write)) {
    const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by SetFileTime";
    SetFailure(LzmaUtil::kSetFileTimeFailed, error);
    return;
  }
  if (!base::win::CloseHandleVerified(file_.Take())) {
    const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by CloseHandle";
    SetFailure(LzmaUtil::kCloseFileFailed, error);
  }
}

void EntryFileWriter::SetFailure(int32_t state, DWORD error) {
  if (threaded_)
    ::AcquireSRWLockExclusive(&lock_);
  failed_ = true;
  failure_ = {state, static_cast<int>(error), path_};
  if (threaded_) {
    ::WakeAllConditionVariable(&changed_);
    ::ReleaseSRWLockExclusive(&lock_);
  }
}

// static
size_t EntryFileWriter::CostOf(const Task& task) {
  return kTaskCost + task.data.size();
}

}  // namespace installer
