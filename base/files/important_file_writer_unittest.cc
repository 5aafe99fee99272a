#include "base/files/important_file_writer.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/test/histogram_counts.h"
#include "base/test/planted_link_tree.h"
#include "base/test/temp_tree.h"
#include "base/test/test_thread_runner.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Runs tasks only when told, so that the commit timer's delay can be seen
// and skipped. Serves both as the owner's sequence and as the file runner.
class ManualTaskRunner : public SequencedTaskRunner {
 public:
  struct Posted {
    Closure task;
    TimeDelta delay;
  };

  bool PostTaskWithDelay(const SourceLocation&, Closure task,
                         TimeDelta delay) override {
    queue_.push_back({std::move(task), delay});
    return true;
  }
  bool PostNonNestableTaskWithDelay(const SourceLocation& from_here,
                                    Closure task, TimeDelta delay) override {
    return PostTaskWithDelay(from_here, std::move(task), delay);
  }
  bool IsOnOwnThread() const override { return true; }

  // Runs everything queued, and what that posts, without waiting out delays.
  void RunUntilIdle() {
    while (!queue_.empty()) {
      Closure task = std::move(queue_.front().task);
      queue_.pop_front();
      task.Run();
    }
  }
  const std::deque<Posted>& queue() const { return queue_; }

 private:
  std::deque<Posted> queue_;
};

class CountingSerializer : public ImportantFileWriter::DataSerializer {
 public:
  bool SerializeData(std::string* output) override {
    ++calls;
    *output = state;
    return succeed;
  }

  std::string state;
  bool succeed = true;
  int calls = 0;
};

// What the callbacks of one write saw.
struct CallbackLog {
  int before_runs = 0;
  int after_runs = 0;
  bool success = false;
  std::string contents_before_write;
  DWORD before_thread = 0;
  DWORD after_thread = 0;
};

void RegisterLoggingCallbacks(ImportantFileWriter& writer, const FilePath& path,
                              CallbackLog* log) {
  writer.RegisterOnNextWriteCallbacks(
      Bind([log, path] {
        ++log->before_runs;
        log->before_thread = ::GetCurrentThreadId();
        log->contents_before_write = TempTree::ReadFile(path);
      }),
      Bind<void(bool)>([log](bool success) {
        ++log->after_runs;
        log->after_thread = ::GetCurrentThreadId();
        log->success = success;
      }));
}

// Wine's ReplaceFileW makes an empty "rf*.tmp" scratch file of its own and
// leaves it when the replacement fails; only our own leftovers count here.
bool IsWineReplaceScratch(const std::wstring& name) {
  return name.size() > 2 && name.compare(0, 2, L"rf") == 0 &&
         name.compare(name.size() - 4, 4, L".tmp") == 0;
}

std::vector<std::wstring> ListFolder(const FilePath& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW(dir.Append(L"*").value().c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L".." && !IsWineReplaceScratch(name))
      names.push_back(name);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return names;
}

HistogramBase* TempFileFailures() {
  return GetLinearHistogram("ImportantFile.TempFileFailures", 6, 7);
}

std::unique_ptr<std::string> Data(const std::string& text) {
  return std::make_unique<std::string>(text);
}

class ImportantFileWriterTest : public testing::Test {
 protected:
  ImportantFileWriterTest()
      : runner_(new ManualTaskRunner),
        current_(RefPtr<SequencedTaskRunner>(runner_)),
        target_(tree_.Path(L"prefs.json")) {}

  TempTree tree_;
  RefPtr<ManualTaskRunner> runner_;
  // The commit timer posts to the owner's current runner.
  CurrentTaskRunnerHandle current_;
  const FilePath target_;
};

TEST_F(ImportantFileWriterTest, WriteNowReplacesWholeFile) {
  const struct {
    const char* name;
    const char* old_contents;  // null: no file yet
    std::string data;
  } kCases[] = {
      {"new file", nullptr, "{\"a\":1}"},
      {"longer than before", "short", std::string(100000, 'L')},
      {"shorter than before", "a much longer old text", "s"},
      {"empty", "old", ""},
      {"binary", "old", std::string("\0\r\n\xff", 4)},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    if (test.old_contents)
      tree_.WriteFile(L"prefs.json", test.old_contents);
    ImportantFileWriter writer(target_, runner_);
    writer.WriteNow(Data(test.data));
    // Nothing touches the disk before the file runner runs the write.
    EXPECT_EQ(test.old_contents ? test.old_contents : "<missing>",
              TempTree::ReadFile(target_));
    runner_->RunUntilIdle();
    EXPECT_EQ(test.data, TempTree::ReadFile(target_));
    EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"},
              ListFolder(tree_.root()));
    ::DeleteFileW(target_.value().c_str());
  }
}

// The failures Wine lets a test provoke. Opening, writing and flushing the
// temporary file (samples 1, 3, 5) cannot be made to fail here: the tests
// run as root, so folder permissions do not stop anything.
// The folder may be one that others write while the writer is elevated:
// a link planted under the target's name is never written through (nor
// replaced: Wine would write what it leads to), and no temporary file is
// left beside it.
TEST(ImportantFileWriterLinkTest, NeverWritesThroughALinkAtTheTarget) {
  PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  const struct {
    const wchar_t* name;
    bool written;
  } kCases[] = {
      {L"inst\\filelink", false},
      {L"inst\\fileinlink", false},
      {L"inst\\plain.txt", true},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(FilePath(test.name).AsUTF8());
    EXPECT_EQ(test.written, ImportantFileWriter::WriteFileAtomically(
                                tree.Path(test.name), "written"));
  }
  EXPECT_TRUE(tree.CanariesKept());
  EXPECT_EQ("written", TempTree::ReadFile(tree.Path(L"inst\\plain.txt")));
  for (const std::wstring& name : ListFolder(tree.Path(L"inst")))
    EXPECT_FALSE(name.ends_with(L".tmp")) << FilePath(name).AsUTF8();
}

TEST_F(ImportantFileWriterTest, FailureKeepsOldFileAndRecordsStep) {
  tree_.WriteFile(L"plain_file", "x");
  tree_.MakeDir(L"locked");
  const FilePath locked = tree_.WriteFile(L"locked\\prefs.json", "old whole");
  const struct {
    const char* name;
    FilePath target;
    int32_t sample;
    const char* contents_after;
  } kCases[] = {
      {"missing folder", tree_.Path(L"missing\\prefs.json"), 0, "<missing>"},
      {"folder is a file", tree_.Path(L"plain_file\\prefs.json"), 0,
       "<missing>"},
      {"target in use", locked, 4, "old whole"},
  };
  // Held the way another process using the file would: sharing nothing.
  win::ScopedHandle lock(::CreateFileW(locked.value().c_str(), GENERIC_READ, 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock.IsValid());
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    const int64_t recorded = CountOf(TempFileFailures(), test.sample);
    const int64_t total = TotalCountOf(TempFileFailures());
    EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(
        test.target, std::string(5000, 'n')));
    EXPECT_EQ(recorded + 1, CountOf(TempFileFailures(), test.sample));
    EXPECT_EQ(total + 1, TotalCountOf(TempFileFailures()));
    lock.Close();
    EXPECT_EQ(test.contents_after, TempTree::ReadFile(test.target));
    lock = win::ScopedHandle(::CreateFileW(locked.value().c_str(), GENERIC_READ,
                                           0, nullptr, OPEN_EXISTING, 0,
                                           nullptr));
  }
  // No temporary file is left beside the locked target.
  EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"},
            ListFolder(tree_.Path(L"locked")));
}

// Asked for each temporary file before it exists; makes it, or refuses as
// a caller that could not note its name would.
class RecordingMaker : public ImportantFileWriter::TemporaryFileMaker {
 public:
  NewFileInFolder::Result Make(const FilePath& temporary) override {
    asked.push_back(temporary);
    existed_when_asked |= TempTree::Exists(temporary);
    if (refuse) {
      NewFileInFolder::Result refused;
      refused.path = temporary.value();
      refused.error = ERROR_WRITE_FAULT;
      return refused;
    }
    return NewFileInFolder::Create(
        temporary.value(), NewFileInFolder::OldFile::kKeep, GENERIC_WRITE);
  }

  bool refuse = false;
  std::vector<FilePath> asked;
  bool existed_when_asked = false;
};

// A caller's maker is told the temporary file's name, in the one form its
// target is read back from, before the file exists: by the static write and
// by a writer's posted one. A refused temporary writes nothing and leaves
// nothing; a made one is gone once it took the target's place.
TEST_F(ImportantFileWriterTest, CallersMakerMakesTheTemporaryFile) {
  const struct {
    const char* name;
    bool through_writer;
    bool refuse;
    const char* contents_after;
  } kCases[] = {
      {"written", false, false, "new"},
      {"refused", false, true, "old"},
      {"writer's write", true, false, "new"},
      {"writer's write refused", true, true, "old"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    tree_.WriteFile(L"prefs.json", "old");
    RecordingMaker maker;
    maker.refuse = test.refuse;
    bool written = false;
    if (test.through_writer) {
      ImportantFileWriter writer(target_, runner_);
      writer.SetTemporaryFileMaker(&maker);
      CallbackLog log;
      RegisterLoggingCallbacks(writer, target_, &log);
      writer.WriteNow(Data("new"));
      runner_->RunUntilIdle();
      written = log.success;
    } else {
      written =
          ImportantFileWriter::WriteFileAtomically(target_, "new", &maker);
    }
    EXPECT_EQ(!test.refuse, written);
    ASSERT_EQ(1u, maker.asked.size());
    EXPECT_FALSE(maker.existed_when_asked);
    EXPECT_EQ(tree_.root(), maker.asked[0].DirName());
    EXPECT_EQ(std::optional<std::wstring>(L"prefs.json"),
              ImportantFileWriter::GetTargetOfTemporaryName(
                  maker.asked[0].BaseName().value()));
    EXPECT_EQ(test.contents_after, TempTree::ReadFile(target_));
    EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"},
              ListFolder(tree_.root()));
  }
}

// The name a write's temporary file has is read back as its target's, in
// any letter case; nothing else is (a staged copy's temporary among them,
// read as that copy's).
TEST(ImportantFileWriterNameTest, TemporaryNameIsReadBackOnlyInItsOwnForm) {
  const struct {
    const wchar_t* name;
    const wchar_t* target;  // null: not a temporary file's name
  } kCases[] = {
      {L"prefs.json.0123abcd.tmp", L"prefs.json"},
      {L"PREFS.JSON.89F5FBF9.TMP", L"PREFS.JSON"},
      {L"648e.tmp.89f5fbf9.tmp", L"648e.tmp"},
      {L".0123abcd.tmp", nullptr},
      {L"prefs.json.0123abc.tmp", nullptr},
      {L"prefs.json.0123abcde.tmp", nullptr},
      {L"prefs.json.0123abcg.tmp", nullptr},
      {L"prefs.json.0123abcd.tmpx", nullptr},
      {L"prefs.json.0123abcd_2.tmp", nullptr},
      {L"prefs.json.0123abcd.bad", nullptr},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(FilePath(test.name).AsUTF8());
    const std::optional<std::wstring> target =
        ImportantFileWriter::GetTargetOfTemporaryName(test.name);
    EXPECT_EQ(test.target != nullptr, target.has_value());
    if (test.target && target)
      EXPECT_EQ(test.target, *target);
  }
  const FilePath made =
      ImportantFileWriter::MakeTemporaryPath(FilePath(L"C:\\dir\\prefs.json"));
  EXPECT_EQ(L"C:\\dir", made.DirName().value());
  EXPECT_EQ(
      std::optional<std::wstring>(L"prefs.json"),
      ImportantFileWriter::GetTargetOfTemporaryName(made.BaseName().value()));
}

TEST_F(ImportantFileWriterTest, AfterWriteCallbackReportsOutcome) {
  const struct {
    const char* name;
    bool target_in_missing_folder;
    size_t max_data_size;
    bool success;
    const char* contents_after;
  } kCases[] = {
      {"written", false, ImportantFileWriter::kMaxDataSize, true, "new"},
      {"folder missing", true, ImportantFileWriter::kMaxDataSize, false,
       "<missing>"},
      // Stands in for data of 2 GB or more, which used to vanish silently.
      {"data too large", false, 3, false, "old"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    tree_.WriteFile(L"prefs.json", "old");
    const FilePath target = test.target_in_missing_folder
                                ? tree_.Path(L"missing\\prefs.json")
                                : target_;
    const int64_t failures = TotalCountOf(TempFileFailures());
    ImportantFileWriter writer(target, runner_);
    writer.SetMaxDataSizeForTesting(test.max_data_size);
    CallbackLog log;
    RegisterLoggingCallbacks(writer, target, &log);
    writer.WriteNow(Data("new"));
    runner_->RunUntilIdle();
    EXPECT_EQ(1, log.before_runs);
    EXPECT_EQ(1, log.after_runs);
    EXPECT_EQ(test.success, log.success);
    EXPECT_EQ(test.contents_after, TempTree::ReadFile(target));
    // The before-write callback runs while the old file is still whole.
    EXPECT_EQ(test.target_in_missing_folder ? "<missing>" : "old",
              log.contents_before_write);
    // A refusal is not a temporary-file failure.
    EXPECT_EQ(test.target_in_missing_folder ? failures + 1 : failures,
              TotalCountOf(TempFileFailures()));
  }
}

TEST_F(ImportantFileWriterTest, CallbacksServeOneWriteOnly) {
  ImportantFileWriter writer(target_, runner_);
  CallbackLog first;
  RegisterLoggingCallbacks(writer, target_, &first);
  writer.WriteNow(Data("1"));
  writer.WriteNow(Data("2"));
  runner_->RunUntilIdle();
  EXPECT_EQ(1, first.before_runs);
  EXPECT_EQ(1, first.after_runs);
  // Registering again replaces the pair that has not run yet.
  CallbackLog replaced;
  CallbackLog second;
  RegisterLoggingCallbacks(writer, target_, &replaced);
  RegisterLoggingCallbacks(writer, target_, &second);
  writer.WriteNow(Data("3"));
  runner_->RunUntilIdle();
  EXPECT_EQ(0, replaced.before_runs + replaced.after_runs);
  EXPECT_EQ(1, second.before_runs);
  EXPECT_EQ(1, second.after_runs);
  EXPECT_EQ("3", TempTree::ReadFile(target_));
}

TEST_F(ImportantFileWriterTest, ScheduledWritesCoalesceIntoOne) {
  ImportantFileWriter writer(target_, runner_);
  CountingSerializer serializer;
  for (int i = 0; i < 10; ++i) {
    serializer.state = "state " + std::to_string(i);
    writer.ScheduleWrite(&serializer);
    EXPECT_TRUE(writer.HasPendingWrite());
  }
  ASSERT_EQ(1u, runner_->queue().size());
  EXPECT_EQ(TimeDelta::FromSeconds(10), runner_->queue().front().delay);
  EXPECT_EQ(0, serializer.calls);
  serializer.state = "state at commit";
  runner_->RunUntilIdle();
  EXPECT_EQ(1, serializer.calls);
  EXPECT_FALSE(writer.HasPendingWrite());
  EXPECT_EQ("state at commit", TempTree::ReadFile(target_));
}

TEST_F(ImportantFileWriterTest, WriteNowCancelsScheduledWrite) {
  ImportantFileWriter writer(target_, runner_);
  CountingSerializer serializer;
  serializer.state = "scheduled";
  writer.ScheduleWrite(&serializer);
  writer.WriteNow(Data("now"));
  EXPECT_FALSE(writer.HasPendingWrite());
  runner_->RunUntilIdle();
  EXPECT_EQ(0, serializer.calls);
  EXPECT_EQ("now", TempTree::ReadFile(target_));
}

TEST_F(ImportantFileWriterTest, FailedSerializationWritesNothing) {
  ImportantFileWriter writer(target_, runner_);
  CountingSerializer serializer;
  serializer.succeed = false;
  CallbackLog log;
  RegisterLoggingCallbacks(writer, target_, &log);
  writer.ScheduleWrite(&serializer);
  runner_->RunUntilIdle();
  EXPECT_EQ(1, serializer.calls);
  EXPECT_FALSE(writer.HasPendingWrite());
  EXPECT_EQ("<missing>", TempTree::ReadFile(target_));
  // Nothing was written, so the callbacks wait for the next write.
  EXPECT_EQ(0, log.before_runs + log.after_runs);
  writer.WriteNow(Data("later"));
  runner_->RunUntilIdle();
  EXPECT_EQ(1, log.after_runs);
  EXPECT_TRUE(log.success);
}

TEST_F(ImportantFileWriterTest, DestroyedWriterFinishesOnlyPostedWrites) {
  CountingSerializer serializer;
  CallbackLog log;
  {
    ImportantFileWriter posted(target_, runner_);
    RegisterLoggingCallbacks(posted, target_, &log);
    posted.WriteNow(Data("posted"));
    ImportantFileWriter scheduled(target_, runner_);
    scheduled.ScheduleWrite(&serializer);
  }
  runner_->RunUntilIdle();
  EXPECT_EQ(0, serializer.calls);
  EXPECT_TRUE(log.success);
  EXPECT_EQ("posted", TempTree::ReadFile(target_));
}

TEST_F(ImportantFileWriterTest, WriteRunsOnTaskRunnerThread) {
  RefPtr<TestThreadRunner> file_runner = TestThreadRunner::Start();
  ImportantFileWriter writer(target_, file_runner);
  CallbackLog log;
  RegisterLoggingCallbacks(writer, target_, &log);
  writer.WriteNow(Data("threaded"));
  file_runner->RunAndWait([] {});
  EXPECT_EQ(file_runner->thread_id(), log.before_thread);
  EXPECT_EQ(file_runner->thread_id(), log.after_thread);
  EXPECT_EQ("threaded", TempTree::ReadFile(target_));
  file_runner->Stop();
}

TEST_F(ImportantFileWriterTest, RefusedPostWritesOnCallingThread) {
  RefPtr<TestThreadRunner> stopped = TestThreadRunner::Start();
  stopped->Stop();
  ImportantFileWriter writer(target_, stopped);
  CallbackLog log;
  RegisterLoggingCallbacks(writer, target_, &log);
  writer.WriteNow(Data("at once"));
  EXPECT_EQ("at once", TempTree::ReadFile(target_));
  EXPECT_EQ(1, log.after_runs);
  EXPECT_EQ(::GetCurrentThreadId(), log.after_thread);
}

// A reader opening the file at any moment finds one complete version. The
// reader shares deletion, as a careful reader does, so that the writer's
// renames are not refused while it holds the file. Wine refuses a rename
// over a file held open, and the ReplaceFileW the writer falls back to then
// moves the old file aside before renaming the new one in, so a reader there
// may briefly find no file (error 2): that is counted, not asserted.
TEST_F(ImportantFileWriterTest, ReaderNeverSeesPartialFile) {
  const std::string versions[] = {std::string(300000, 'a'),
                                  std::string(200000, 'b')};
  tree_.WriteFile(L"prefs.json", versions[0]);
  RefPtr<TestThreadRunner> file_runner = TestThreadRunner::Start();
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<int> torn{0};
  std::atomic<int> unopened{0};
  std::thread reader([&] {
    std::vector<char> buffer(400000);
    while (!done.load()) {
      win::ScopedHandle file(::CreateFileW(
          target_.value().c_str(), GENERIC_READ,
          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
          OPEN_EXISTING, 0, nullptr));
      if (!file.IsValid()) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
        ++unopened;
        continue;
      }
      std::string contents;
      DWORD read = 0;
      while (::ReadFile(file.Get(), buffer.data(),
                        static_cast<DWORD>(buffer.size()), &read, nullptr) &&
             read) {
        contents.append(buffer.data(), read);
      }
      ++reads;
      if (contents != versions[0] && contents != versions[1])
        ++torn;
    }
  });
  int succeeded = 0;
  {
    ImportantFileWriter writer(target_, file_runner);
    for (int i = 0; i < 60; ++i) {
      writer.RegisterOnNextWriteCallbacks(
          nullptr, Bind<void(bool)>([&succeeded](bool success) {
            succeeded += success;
          }));
      writer.WriteNow(Data(versions[(i + 1) % 2]));
    }
    file_runner->RunAndWait([] {});
  }
  done = true;
  reader.join();
  file_runner->Stop();
  EXPECT_EQ(0, torn.load()) << "of " << reads.load() << " reads";
  EXPECT_GT(reads.load(), 0) << unopened.load() << " opens found no file";
  EXPECT_EQ(60, succeeded);
  EXPECT_EQ(versions[0], TempTree::ReadFile(target_));
}

}  // namespace
}  // namespace base
