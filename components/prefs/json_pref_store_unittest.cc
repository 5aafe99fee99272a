#include "components/prefs/json_pref_store.h"

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/json/json_file_value_serializer.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/histogram.h"
#include "base/post_task_and_reply.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/histogram_counts.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "base/threading/pool_sequenced_task_runner.h"
#include "base/threading/prefs_task_pool.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Records what a store told, in order; quits a run once loaded.
class RecordingObserver : public PrefStoreObserver {
 public:
  void OnPrefChanged(StringSlice key) override {
    events.push_back("changed " + key.AsString());
  }
  void OnPrefsLoaded(bool success) override {
    events.push_back(success ? "loaded" : "load failed");
    if (quit_on_load)
      quit_on_load.Run();
  }
  void OnReadError(int32_t code) {
    events.push_back("error " + std::to_string(code));
  }

  std::vector<std::string> events;
  Closure quit_on_load;
};

// Forwards read errors to an observer the test keeps.
class ForwardingDelegate : public PrefReadErrorDelegate {
 public:
  explicit ForwardingDelegate(RecordingObserver* target) : target_(target) {}
  void OnReadError(int32_t code) override { target_->OnReadError(code); }

 private:
  RecordingObserver* target_;
};

// Counts the writes it hands to its writer: each serialization that
// succeeds becomes exactly one write.
class WriteCountingStore : public JsonPrefStore {
 public:
  using JsonPrefStore::JsonPrefStore;

  bool SerializeData(std::string* output) override {
    const bool serialized = JsonPrefStore::SerializeData(output);
    writes += serialized ? 1 : 0;
    return serialized;
  }

  int writes = 0;
};

ValueOwner Int(int32_t value) {
  return MakeValue<Value>(value);
}

class JsonPrefStoreTest : public testing::Test {
 protected:
  JsonPrefStoreTest() : path_(tree_.Path(L"prefs.json")) {}

  RefPtr<JsonPrefStore> MakeStore(const FilePath& path) {
    return MakeRefCounted<JsonPrefStore>(path, FileRunner(path));
  }
  RefPtr<SequencedTaskRunner> FileRunner(const FilePath& path) {
    return JsonPrefStore::GetPrefsTaskRunnerForFile(path,
                                                   pool_holder_.pool().get());
  }

  // Reads on the pool and runs this thread's loop until observers heard.
  void ReadAsync(JsonPrefStore& store, RecordingObserver& observer) {
    LoopRunner run;
    observer.quit_on_load = run.QuitClosure();
    store.AddObserver(&observer);
    store.ReadPrefsAsync(std::make_unique<ForwardingDelegate>(&observer));
    run.Run();
    store.RemoveObserver(&observer);
  }

  // Returns once every task posted to the file's sequence so far has run.
  void DrainFileSequence(const FilePath& path) {
    LoopRunner run;
    ASSERT_TRUE(PostTaskAndReply(*FileRunner(path), FROM_HERE, Bind([] {}),
                                 run.QuitClosure()));
    run.Run();
  }

  // Declared first so that it goes last, after the pool finished its writes.
  TempTree tree_;
  MessageLoop loop_;
  PrefsTaskPool pool_holder_;
  const FilePath path_;
};

TEST_F(JsonPrefStoreTest, ReadResultDecidesWhetherFileIsEverWritten) {
  struct Case {
    const wchar_t* name;
    const char* contents;  // null: no file
    const char* old_bad;   // null: no earlier bad file
    int32_t result;
    bool read_only;
    const char* file_after;  // after setting "x" to 1 and flushing
    const char* bad_after;
  } const kCases[] = {
      {L"none.json", nullptr, nullptr, PrefStore::READ_NO_FILE, false,
       R"({"x":1})", "<missing>"},
      {L"ok.json", R"({"a":{"b":"c"}} // kept)", nullptr, PrefStore::READ_OK,
       false, R"({"a":{"b":"c"},"x":1})", "<missing>"},
      {L"brace.json", "{", nullptr, PrefStore::READ_BAD_JSON, false,
       R"({"x":1})", "{"},
      {L"again.json", "{\"a\":", "older", PrefStore::READ_BAD_JSON_AGAIN,
       false, R"({"x":1})", "{\"a\":"},
      {L"empty.json", "", nullptr, PrefStore::READ_BAD_JSON, false,
       R"({"x":1})", ""},
      {L"array.json", "[]", nullptr, PrefStore::READ_NOT_DICTIONARY, true,
       "[]", "<missing>"},
      {L"string.json", "\"text\"", nullptr, PrefStore::READ_NOT_DICTIONARY,
       true, "\"text\"", "<missing>"},
      // Setting it aside under its own name would leave it to be written
      // over.
      {L"prefs.bad", "{", nullptr, PrefStore::READ_FILE_ERROR, true, "{",
       "{"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.name);
    const FilePath path = tree_.Path(c.name);
    const FilePath bad_path = path.ReplaceExtension(L"bad");
    if (c.contents)
      tree_.WriteFile(c.name, c.contents);
    if (c.old_bad)
      tree_.WriteFile(bad_path.BaseName().value().c_str(), c.old_bad);

    RefPtr<JsonPrefStore> store = MakeStore(path);
    RecordingObserver observer;
    ReadAsync(*store, observer);
    EXPECT_EQ(c.result, store->GetReadResult());
    EXPECT_EQ(c.read_only, store->IsReadOnly());
    EXPECT_TRUE(store->IsLoaded());
    std::vector<std::string> expected_events;
    if (c.result != PrefStore::READ_OK)
      expected_events.push_back("error " + std::to_string(c.result));
    expected_events.push_back("loaded");
    EXPECT_EQ(expected_events, observer.events);

    store->SetValue("x", Int(1), 0);
    store->FlushPendingWrite();
    store.reset();
    DrainFileSequence(path);
    EXPECT_EQ(c.file_after, TempTree::ReadFile(path));
    EXPECT_EQ(c.bad_after, TempTree::ReadFile(bad_path));
  }
}

TEST_F(JsonPrefStoreTest, UnreadableFilesMakeStoreReadOnly) {
  const std::string kContents = R"({"kept":true})";
  // A locked file: another handle shares nothing.
  tree_.WriteFile(L"prefs.json", kContents);
  {
    win::ScopedHandle lock(::CreateFileW(path_.value().c_str(), GENERIC_READ,
                                         0, nullptr, OPEN_EXISTING, 0,
                                         nullptr));
    ASSERT_TRUE(lock.IsValid());
    RefPtr<JsonPrefStore> store = MakeStore(path_);
    EXPECT_EQ(PrefStore::READ_FILE_LOCKED, store->ReadPrefs());
    EXPECT_TRUE(store->IsReadOnly());
    store->SetValue("x", Int(1), 0);
    store->SetValue("lossy", Int(1), PrefStore::kLossyWriteFlag);
    EXPECT_FALSE(store->writer_for_testing().HasPendingWrite());
    store->FlushPendingWrite();
  }
  DrainFileSequence(path_);
  EXPECT_EQ(kContents, TempTree::ReadFile(path_));

  // Too large to read: not known to be broken, so neither set aside nor
  // replaced.
  const FilePath huge = tree_.Path(L"huge.json");
  {
    win::ScopedHandle file(::CreateFileW(huge.value().c_str(), GENERIC_WRITE,
                                         0, nullptr, CREATE_ALWAYS, 0,
                                         nullptr));
    ASSERT_TRUE(file.IsValid());
    LARGE_INTEGER size;
    size.QuadPart = kJsonFileMaxSize + 1;
    ASSERT_TRUE(::SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file.Get()));
  }
  RefPtr<JsonPrefStore> store = MakeStore(huge);
  EXPECT_EQ(PrefStore::READ_FILE_ERROR, store->ReadPrefs());
  EXPECT_TRUE(store->IsReadOnly());
  EXPECT_FALSE(TempTree::Exists(huge.ReplaceExtension(L"bad")));
}

TEST_F(JsonPrefStoreTest, WriteScheduledBeforeReadOnlyReadIsDropped) {
  RefPtr<JsonPrefStore> store = MakeStore(path_);
  store->SetValue("early", Int(1), 0);
  ASSERT_TRUE(store->writer_for_testing().HasPendingWrite());
  tree_.WriteFile(L"prefs.json", "[1]");
  EXPECT_EQ(PrefStore::READ_NOT_DICTIONARY, store->ReadPrefs());
  // What the commit timer would do, then what the destructor does.
  store->writer_for_testing().DoScheduledWrite();
  store.reset();
  DrainFileSequence(path_);
  EXPECT_EQ("[1]", TempTree::ReadFile(path_));
}

TEST_F(JsonPrefStoreTest, MissingFolderFailsTheLoad) {
  const FilePath path = tree_.Path(L"absent\\prefs.json");
  RefPtr<JsonPrefStore> store = MakeStore(path);
  store->SetValue("before", Int(1), 0);
  RecordingObserver observer;
  ReadAsync(*store, observer);
  EXPECT_EQ(std::vector<std::string>{"load failed"}, observer.events);
  EXPECT_FALSE(store->IsLoaded());
  EXPECT_EQ(PrefStore::READ_NO_FILE, store->GetReadResult());
  EXPECT_TRUE(store->GetValue("before", nullptr));
}

TEST_F(JsonPrefStoreTest, BurstOfChangesBecomesOneAtomicWrite) {
  auto store = MakeRefCounted<WriteCountingStore>(path_, FileRunner(path_));
  ASSERT_EQ(PrefStore::READ_NO_FILE, store->ReadPrefs());
  store->SetValue("a.b", Int(1), 0);
  store->SetValue("a.c", MakeValue<Value>("text"), 0);
  store->SetValueQuietly("quiet", MakeValue<Value>(true), 0);
  store->SetValue("lossy", Int(7), PrefStore::kLossyWriteFlag);
  store->SetValue("gone", Int(2), 0);
  store->RemoveValue("gone", 0);
  EXPECT_TRUE(store->writer_for_testing().HasPendingWrite());

  // The commit timer's write, without waiting out its 10 s.
  store->writer_for_testing().DoScheduledWrite();
  DrainFileSequence(path_);
  EXPECT_EQ(1, store->writes);
  // The lossy change rode along with the ordinary write.
  EXPECT_EQ(R"({"a":{"b":1,"c":"text"},"lossy":7,"quiet":true})",
            TempTree::ReadFile(path_));

  // Nothing is left to write: a flush does not write again.
  EXPECT_FALSE(store->writer_for_testing().HasPendingWrite());
  store->FlushPendingWrite();
  EXPECT_EQ(1, store->writes);
  // Only the file itself: the temporary file took its place.
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW(tree_.Path(L"*.tmp").value().c_str(), &entry);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find);
  if (find != INVALID_HANDLE_VALUE)
    ::FindClose(find);
}

// A string from outside JSON (a file name, converted from UTF-16) that holds
// a noncharacter: the file written with it must read back at the next start
// rather than be set aside as bad with every other setting in it.
TEST_F(JsonPrefStoreTest, NoncharacterInAStringSurvivesARestart) {
  {
    RefPtr<JsonPrefStore> store = CreateFilePrefStore(&pool_holder_, path_);
    store->SetValue("file", MakeValue<Value>(WideToUtf8(L"C:\\a\xFFFF.txt")),
                    0);
    store->SetValue("kept", Int(7), 0);
    store->FlushPendingWrite();
  }
  DrainFileSequence(path_);

  RefPtr<JsonPrefStore> restarted = CreateFilePrefStore(&pool_holder_, path_);
  EXPECT_EQ(PrefStore::READ_OK, restarted->GetReadResult());
  EXPECT_FALSE(TempTree::Exists(path_.ReplaceExtension(L"bad")));
  const Value* file = nullptr;
  std::string text;
  ASSERT_TRUE(restarted->GetValue("file", &file));
  ASSERT_TRUE(file->GetAsString(&text));
  EXPECT_EQ(WideToUtf8(L"C:\\a\xFFFD.txt"), text);
  const Value* kept = nullptr;
  int32_t number = 0;
  ASSERT_TRUE(restarted->GetValue("kept", &kept));
  ASSERT_TRUE(kept->GetAsInteger(&number));
  EXPECT_EQ(7, number);
}

TEST_F(JsonPrefStoreTest, LossyChangeWaitsForFlush) {
  RefPtr<JsonPrefStore> store = CreateFilePrefStore(&pool_holder_, path_);
  store->SetValue("lossy", Int(1), PrefStore::kLossyWriteFlag);
  EXPECT_FALSE(store->writer_for_testing().HasPendingWrite());
  store->writer_for_testing().DoScheduledWrite();
  DrainFileSequence(path_);
  EXPECT_EQ("<missing>", TempTree::ReadFile(path_));

  store->FlushPendingWrite();
  DrainFileSequence(path_);
  EXPECT_EQ(R"({"lossy":1})", TempTree::ReadFile(path_));
}

TEST_F(JsonPrefStoreTest, ObserversHearOnlyRealChanges) {
  RefPtr<JsonPrefStore> store = CreateFilePrefStore(&pool_holder_, path_);
  RecordingObserver observer;
  store->AddObserver(&observer);
  store->AddObserver(&observer);
  EXPECT_TRUE(store->HasObservers());

  auto list = [] {
    auto value = MakeValue<ListValue>();
    value->AppendInteger(1);
    value->AppendString("two");
    return ValueOwner(value.release());
  };
  struct Step {
    const char* what;
    Closure change;
    bool told;
  } const kSteps[] = {
      {"new", Bind([&] { store->SetValue("a", Int(1), 0); }), true},
      {"same", Bind([&] { store->SetValue("a", Int(1), 0); }), false},
      {"double", Bind([&] { store->SetValue("a", MakeValue<Value>(1.0), 0); }),
       true},
      {"list", Bind([&] { store->SetValue("n.l", list(), 0); }), true},
      {"equal list", Bind([&] { store->SetValue("n.l", list(), 0); }), false},
      {"quiet", Bind([&] { store->SetValueQuietly("q", Int(1), 0); }), false},
      {"remove absent", Bind([&] { store->RemoveValue("n.x", 0); }), false},
      {"remove", Bind([&] { store->RemoveValue("n.l", 0); }), true},
      {"through non-dictionary",
       Bind([&] { store->SetValue("a.deeper", Int(1), 0); }), true},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.what);
    // Flushed first, so that a step that schedules a write shows.
    store->FlushPendingWrite();
    observer.events.clear();
    step.change.Run();
    EXPECT_EQ(step.told ? 1u : 0u, observer.events.size());
    EXPECT_EQ(step.told || std::string(step.what) == "quiet",
              store->writer_for_testing().HasPendingWrite());
  }

  // A change in place is the caller's to announce.
  Value* writable = nullptr;
  ASSERT_TRUE(store->GetWritableValue("n", &writable));
  DictionaryValue* nested = nullptr;
  ASSERT_TRUE(writable->GetAsDictionary(&nested));
  nested->SetInteger("in_place", 5);
  observer.events.clear();
  store->NotifyValueChanged("n.in_place", 0);
  EXPECT_EQ(std::vector<std::string>{"changed n.in_place"}, observer.events);
  int32_t in_place = 0;
  EXPECT_TRUE(store->CopyValues()->GetInteger("n.in_place", &in_place));
  EXPECT_EQ(5, in_place);

  store->RemoveObserver(&observer);
  EXPECT_FALSE(store->HasObservers());
}

TEST_F(JsonPrefStoreTest, ChangesMadeWithoutTaskRunnerStillReachFile) {
  // The commit timer cannot start on a thread without a task runner.
  RefPtr<JsonPrefStore> store = MakeStore(path_);
  std::thread([&] {
    ScopedLogCapture log;
    store->SetValue("x", Int(1), 0);
    EXPECT_FALSE(store->writer_for_testing().HasPendingWrite());
    store.reset();
  }).join();
  DrainFileSequence(path_);
  EXPECT_EQ(R"({"x":1})", TempTree::ReadFile(path_));
}

TEST_F(JsonPrefStoreTest, ReadAfterPoolShutdownHappensHere) {
  RefPtr<JsonPrefStore> store = MakeStore(path_);
  tree_.WriteFile(L"prefs.json", R"({"a":1})");
  pool_holder_.Shutdown();
  RecordingObserver observer;
  store->AddObserver(&observer);
  ScopedLogCapture log;
  store->ReadPrefsAsync(nullptr);
  EXPECT_EQ(std::vector<std::string>{"loaded"}, observer.events);
  EXPECT_TRUE(store->GetValue("a", nullptr));
  store->RemoveObserver(&observer);

  // A holder without a pool still gives a working store.
  RefPtr<JsonPrefStore> late = CreateFilePrefStore(&pool_holder_, path_);
  EXPECT_TRUE(late->IsLoaded());
  late->SetValue("b", Int(2), 0);
  late.reset();
  EXPECT_EQ(R"({"a":1,"b":2})", TempTree::ReadFile(path_));
}

TEST_F(JsonPrefStoreTest, StoreGoneBeforeReplyLetsGoOfPool) {
  RefPtr<JsonPrefStore> store = MakeStore(path_);
  store->ReadPrefsAsync(nullptr);
  store.reset();
  DrainFileSequence(path_);
  LoopRunner run;
  run.QuitOnceIdle();
  run.Run();
  // The exit wait flag waits for this: no store holds the pool any more.
  pool_holder_.set_wait_for_last_reference(true);
  pool_holder_.set_wait_limit_for_testing(TimeDelta::FromSeconds(30 * 60));
  ScopedLogCapture log;
  pool_holder_.Shutdown();
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(JsonPrefStoreTest, SamePathSameSequence) {
  auto token = [this](const FilePath& path) {
    RefPtr<SequencedTaskRunner> runner = FileRunner(path);
    return static_cast<PoolSequencedTaskRunner*>(runner.get())->token();
  };
  EXPECT_EQ(token(path_), token(path_));
  EXPECT_NE(token(path_), token(tree_.Path(L"other.json")));
}

TEST_F(JsonPrefStoreTest, ReadSizeRecordedForCleanReads) {
  const std::string kContents =
      "{\"k\":\"" + std::string(3 * 1024, 'v') + "\"}";
  tree_.WriteFile(L"read size.json", kContents);
  RefPtr<JsonPrefStore> store = MakeStore(tree_.Path(L"read size.json"));
  ASSERT_EQ(PrefStore::READ_OK, store->ReadPrefs());
  HistogramBase* histogram =
      GetExponentialHistogram("Settings.JsonDataReadSizeKilobytes.read_size.json",
                              1, 10000, 50, HistogramBase::MetricsTargeted);
  EXPECT_EQ(1, TotalCountOf(histogram));
  EXPECT_EQ(1, CountOf(histogram, 3));
}

}  // namespace
}  // namespace base
