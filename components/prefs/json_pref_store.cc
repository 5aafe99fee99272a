#include "components/prefs/json_pref_store.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/json/json_string_value_serializer.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/post_task_and_reply.h"
#include "base/threading/pool_sequenced_task_runner.h"
#include "base/threading/prefs_task_pool.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/time/default_clock.h"
#include "components/prefs/read_prefs_file.h"

namespace base {

namespace {

constexpr char kSequenceNamePrefix[] = "json_pref_store-";
// The writer's commit interval, which sizes the write-count histogram.
constexpr TimeDelta kCommitInterval = TimeDelta::FromSeconds(10);

// Reads that leave the store empty and never written: what is in the file
// may be fine, the store just cannot see it.
bool MakesReadOnly(int32_t read_result) {
  switch (read_result) {
    case PrefStore::READ_NOT_DICTIONARY:
    case PrefStore::READ_ACCESS_DENIED:
    case PrefStore::READ_FILE_ERROR:
    case PrefStore::READ_FILE_LOCKED:
      return true;
    default:
      return false;
  }
}

}  // namespace

JsonPrefStore::JsonPrefStore(const FilePath& path,
                             RefPtr<SequencedTaskRunner> task_runner)
    : path_(path),
      task_runner_(std::move(task_runner)),
      prefs_(MakeValue<DictionaryValue>()),
      writer_(path, task_runner_),
      write_count_recorder_(kCommitInterval, path,
                            std::make_unique<DefaultClock>()) {}

JsonPrefStore::~JsonPrefStore() {
  FlushPendingWrite();
}

// static
RefPtr<SequencedTaskRunner> JsonPrefStore::GetPrefsTaskRunnerForFile(
    const FilePath& path, SequencedWorkerPool* pool) {
  if (!pool)
    return nullptr;
  const int32_t token =
      pool->GetNamedSequenceToken(kSequenceNamePrefix + path.AsUTF8());
  return MakeRefCounted<PoolSequencedTaskRunner>(
      RefPtr<SequencedWorkerPool>(pool), token,
      SequencedWorkerPool::ShutdownBehavior::kBlockShutdown);
}

void JsonPrefStore::AddObserver(PrefStoreObserver* observer) {
  observers_.AddObserver(observer);
}

void JsonPrefStore::RemoveObserver(PrefStoreObserver* observer) {
  observers_.RemoveObserver(observer);
}

bool JsonPrefStore::HasObservers() const {
  return !observers_.empty();
}

bool JsonPrefStore::IsLoaded() const {
  return loaded_;
}

bool JsonPrefStore::GetValue(StringSlice key, const Value** out) const {
  const Value* value = nullptr;
  if (!static_cast<const DictionaryValue&>(*prefs_).Get(key, &value))
    return false;
  if (out)
    *out = value;
  return true;
}

DictionaryValueOwner JsonPrefStore::CopyValues() const {
  return DictionaryValue::From(prefs_->DeepCopyOwned());
}

void JsonPrefStore::SetValue(StringSlice key, ValueOwner value,
                             uint32_t flags) {
  if (StoreValue(key, std::move(value)))
    NotifyValueChanged(key, flags);
}

void JsonPrefStore::RemoveValue(StringSlice key, uint32_t flags) {
  if (prefs_->Remove(key, nullptr))
    NotifyValueChanged(key, flags);
}

bool JsonPrefStore::GetWritableValue(StringSlice key, Value** out) {
  return prefs_->Get(key, out);
}

void JsonPrefStore::NotifyValueChanged(StringSlice key, uint32_t flags) {
  for (PrefStoreObserver& observer : observers_)
    observer.OnPrefChanged(key);
  ScheduleStoreWrite(flags);
}

void JsonPrefStore::SetValueQuietly(StringSlice key, ValueOwner value,
                                    uint32_t flags) {
  if (StoreValue(key, std::move(value)))
    ScheduleStoreWrite(flags);
}

bool JsonPrefStore::IsReadOnly() const {
  return read_only_;
}

int32_t JsonPrefStore::GetReadResult() const {
  return read_result_;
}

int32_t JsonPrefStore::ReadPrefs() {
  OnPrefsFileRead(ReadPrefsFile(path_));
  return read_result_;
}

void JsonPrefStore::ReadPrefsAsync(
    std::unique_ptr<PrefReadErrorDelegate> delegate) {
  loaded_ = false;
  error_delegate_ = std::move(delegate);
  if (task_runner_) {
    // Filled on the file's sequence, read by the reply on this thread.
    auto result = std::make_shared<ReadPrefsResult>();
    Closure task = Bind(
        [](const FilePath& path, const std::shared_ptr<ReadPrefsResult>& out) {
          *out = ReadPrefsFile(path);
        },
        path_, result);
    Closure reply = Bind(
        [](const WeakReference& store_ref, JsonPrefStore* store,
           const std::shared_ptr<ReadPrefsResult>& read) {
          if (store_ref.IsValid())
            store->OnPrefsFileRead(std::move(*read));
        },
        weak_source_.GetRef(), this, result);
    if (PostTaskAndReply(*task_runner_, FROM_HERE, std::move(task),
                         std::move(reply))) {
      return;
    }
    LOG(WARNING) << "Cannot post the read of " << path_.AsUTF8()
                 << "; reading it here";
  }
  // Otherwise the store would stay unloaded and nobody would hear of it.
  OnPrefsFileRead(ReadPrefsFile(path_));
}

void JsonPrefStore::FlushPendingWrite() {
  ScheduleLossyWrites();
  // Asked even when the commit timer is not running: it cannot start on a
  // thread without a task runner, and a loop that is gone drops it, yet the
  // scheduled change must still reach the file.
  if (!read_only_)
    writer_.DoScheduledWrite();
}

void JsonPrefStore::ScheduleLossyWrites() {
  // A store that turned read-only after a lossy change keeps off the file.
  if (lossy_write_pending_ && !read_only_)
    writer_.ScheduleWrite(this);
}

void JsonPrefStore::ClearWritableValues() {
  LOG(ERROR) << "NOT IMPLEMENTED";
}

bool JsonPrefStore::SerializeData(std::string* output) {
  return SerializePrefs(output);
}

bool JsonPrefStore::StoreValue(StringSlice key, ValueOwner value) {
  if (!value)
    return false;
  const Value* current = nullptr;
  if (GetValue(key, &current) && current->Equals(*value))
    return false;
  prefs_->Set(key, std::move(value));
  return true;
}

bool JsonPrefStore::SerializePrefs(std::string* output) {
  // A write scheduled before a read made the store read-only must not land
  // on the file that read could not trust.
  if (read_only_)
    return false;
  lossy_write_pending_ = false;
  write_count_recorder_.RecordWriteOccurred();
  JsonStringSerializer serializer(output, /*pretty_print=*/false);
  return serializer.Serialize(*prefs_);
}

void JsonPrefStore::ScheduleStoreWrite(uint32_t flags) {
  if (read_only_)
    return;
  if (flags & kLossyWriteFlag)
    lossy_write_pending_ = true;
  else
    writer_.ScheduleWrite(this);
}

void JsonPrefStore::OnPrefsFileRead(ReadPrefsResult result) {
  read_result_ = result.read_result;
  DictionaryValueOwner prefs = MakeValue<DictionaryValue>();
  if (!result.directory_missing) {
    if (read_result_ == READ_OK)
      prefs = DictionaryValue::From(std::move(result.value));
    else if (MakesReadOnly(read_result_))
      read_only_ = true;
  }
  FinishPrefsLoad(!result.directory_missing, std::move(prefs));
}

void JsonPrefStore::FinishPrefsLoad(bool success, DictionaryValueOwner prefs) {
  if (!success) {
    for (PrefStoreObserver& observer : observers_)
      observer.OnPrefsLoaded(false);
    return;
  }
  prefs_ = std::move(prefs);
  loaded_ = true;
  if (error_delegate_ && read_result_ != READ_OK)
    error_delegate_->OnReadError(read_result_);
  for (PrefStoreObserver& observer : observers_)
    observer.OnPrefsLoaded(true);
}

RefPtr<JsonPrefStore> CreateFilePrefStore(PrefsTaskPool* pool_holder,
                                          const FilePath& path) {
  SequencedWorkerPool* pool =
      pool_holder ? pool_holder->pool().get() : nullptr;
  RefPtr<JsonPrefStore> store = MakeRefCounted<JsonPrefStore>(
      path, JsonPrefStore::GetPrefsTaskRunnerForFile(path, pool));
  store->ReadPrefs();
  return store;
}

}  // namespace base
