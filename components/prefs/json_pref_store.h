#ifndef COMPONENTS_PREFS_JSON_PREF_STORE_H_
#define COMPONENTS_PREFS_JSON_PREF_STORE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/observer_list.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/values.h"
#include "base/weak_reference.h"
#include "components/prefs/pref_read_error_delegate.h"
#include "components/prefs/pref_store.h"
#include "components/prefs/pref_store_observer.h"
#include "components/prefs/write_count_recorder.h"

namespace base {

class PrefsTaskPool;
class SequencedWorkerPool;
struct ReadPrefsResult;

// One JSON preferences file held in memory as a dictionary. Changes are
// written back lazily and atomically: a burst of them becomes one write one
// commit interval after its first change. A file that cannot be read safely
// (denied, locked, not an object) makes the store read-only, so that it is
// never written over; an unparsable one is set aside as the ".bad" file.
// Lives on the thread that made it; the file work runs on `task_runner`.
class JsonPrefStore : public PrefStore,
                      public ImportantFileWriter::DataSerializer {
 public:
  // A null `task_runner` does the file work on the store's own thread.
  JsonPrefStore(const FilePath& path, RefPtr<SequencedTaskRunner> task_runner);

  // The file's own sequence in `pool`: the same path, the same sequence.
  // Null when there is no pool (it was shut down).
  static RefPtr<SequencedTaskRunner> GetPrefsTaskRunnerForFile(
      const FilePath& path, SequencedWorkerPool* pool);

  // PrefStore:
  void AddObserver(PrefStoreObserver* observer) override;
  void RemoveObserver(PrefStoreObserver* observer) override;
  bool HasObservers() const override;
  bool IsLoaded() const override;
  bool GetValue(StringSlice key, const Value** out) const override;
  DictionaryValueOwner CopyValues() const override;
  void SetValue(StringSlice key, ValueOwner value, uint32_t flags) override;
  void RemoveValue(StringSlice key, uint32_t flags) override;
  bool GetWritableValue(StringSlice key, Value** out) override;
  void NotifyValueChanged(StringSlice key, uint32_t flags) override;
  void SetValueQuietly(StringSlice key, ValueOwner value,
                       uint32_t flags) override;
  bool IsReadOnly() const override;
  int32_t GetReadResult() const override;
  int32_t ReadPrefs() override;
  void FlushPendingWrite() override;
  void ScheduleLossyWrites() override;
  void ClearWritableValues() override;

  // Reads the file on the task runner; observers (and `delegate`, which
  // replaces an earlier one, when the read was not clean) hear of the result
  // on this thread. Falls back to a read here when nothing can be posted.
  void ReadPrefsAsync(std::unique_ptr<PrefReadErrorDelegate> delegate);

  // ImportantFileWriter::DataSerializer:
  bool SerializeData(std::string* output) override;

  // The file's writes make their temporary files through `maker`, which
  // must outlive them (ImportantFileWriter::SetTemporaryFileMaker).
  void SetTemporaryFileMaker(ImportantFileWriter::TemporaryFileMaker* maker) {
    writer_.SetTemporaryFileMaker(maker);
  }

  // Lets tests run the commit timer's write and watch the writes.
  ImportantFileWriter& writer_for_testing() { return writer_; }

 protected:
  ~JsonPrefStore() override;

 private:
  // Stores `value` unless an equal one is there; false when nothing changed.
  bool StoreValue(StringSlice key, ValueOwner value);
  bool SerializePrefs(std::string* output);
  void ScheduleStoreWrite(uint32_t flags);
  void OnPrefsFileRead(ReadPrefsResult result);
  void FinishPrefsLoad(bool success, DictionaryValueOwner prefs);

  WeakReferenceSource weak_source_;
  const FilePath path_;
  RefPtr<SequencedTaskRunner> task_runner_;
  DictionaryValueOwner prefs_;
  bool read_only_ = false;
  ImportantFileWriter writer_;
  ObserverList<PrefStoreObserver> observers_;
  std::unique_ptr<PrefReadErrorDelegate> error_delegate_;
  bool loaded_ = false;
  bool lossy_write_pending_ = false;
  int32_t read_result_ = READ_OK;
  WriteCountRecorder write_count_recorder_;
};

// A store for the file at `path` on its sequence of the pool that
// `pool_holder` holds, already read (synchronously) when returned.
RefPtr<JsonPrefStore> CreateFilePrefStore(PrefsTaskPool* pool_holder,
                                          const FilePath& path);

}  // namespace base

#endif  // COMPONENTS_PREFS_JSON_PREF_STORE_H_
