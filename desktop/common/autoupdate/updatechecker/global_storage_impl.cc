#include "desktop/common/autoupdate/updatechecker/global_storage_impl.h"

#include <windows.h>

#include <functional>
#include <vector>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/ref_counted.h"
#include "base/threading/thread.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr char kFallbackFileName[] = "au_global_storage";
constexpr char kStorageKey[] = "GS";
constexpr REGSAM kWriteAccess =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | READ_CONTROL;

using FileOperation = std::function<void(base::JsonPrefStore* store)>;

// Runs `operation` on a store of the fallback file, read at once, on a
// thread made for this one operation: the store's writer needs a thread with
// a task runner, which the caller's may lack. The store's last write runs
// before the thread ends. False when the operation could not run.
bool RunOnFallbackFile(const base::FilePath& path,
                       const FileOperation& operation) {
  base::Thread thread("GsTaskThread");
  if (!thread.Start())
    return false;
  const base::RefPtr<base::SequencedTaskRunner> runner = thread.GetTaskRunner();
  bool ran = false;
  runner->PostTask(FROM_HERE, base::Bind([&]() {
                     auto store = base::MakeRefCounted<base::JsonPrefStore>(
                         path, runner);
                     store->ReadPrefs();
                     operation(store.get());
                     ran = true;
                   }));
  thread.Stop();
  return ran;
}

// The "GS" dictionary of `store`; null when there is none, with `malformed`
// set when "GS" is something else.
const base::DictionaryValue* GetStorage(const base::JsonPrefStore& store,
                                        bool* malformed) {
  *malformed = false;
  const base::Value* storage = nullptr;
  if (!store.GetValue(kStorageKey, &storage))
    return nullptr;
  const base::DictionaryValue* dictionary = nullptr;
  *malformed = !storage->GetAsDictionary(&dictionary);
  return dictionary;
}

}  // namespace

GlobalStorageImpl::GlobalStorageImpl(const wchar_t* mutex_name)
    : mutex_(mutex_name) {}

GlobalStorageImpl::~GlobalStorageImpl() = default;

void GlobalStorageImpl::Initialize(bool is_copy_only) {
  if (initialised_)
    return;
  initialised_ = true;
  if (is_copy_only) {
    use_fallback_ = true;
    return;
  }
  base::win::RegistryKey key;
  use_fallback_ = key.Open(HKEY_CURRENT_USER, GetCompanyRegistryPath().c_str(),
                           KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) ==
                  ERROR_ACCESS_DENIED;
}

void GlobalStorageImpl::SetFallbackDirectory(const base::FilePath& folder) {
  fallback_file_ = folder.AppendASCII(kFallbackFileName);
  if (use_fallback_ || registry_written_ || !base::PathExists(fallback_file_))
    return;
  replaying_ = true;
  base::DictionaryValueOwner entries;
  RunOnFallbackFile(fallback_file_, [&entries](base::JsonPrefStore* store) {
    bool malformed = false;
    if (const base::DictionaryValue* storage = GetStorage(*store, &malformed))
      entries = base::DictionaryValue::From(storage->DeepCopyOwned());
  });
  if (entries) {
    for (base::DictionaryValue::Iterator entry(*entries); !entry.IsAtEnd();
         entry.Advance()) {
      std::string value;
      if (entry.value().GetAsString(&value))
        Write(entry.key(), value);
    }
  }
  replaying_ = false;
}

int GlobalStorageImpl::Write(const std::string& name,
                             const std::string& value) {
  if (name.empty())
    return kInvalidArgument;
  if (!mutex_.Open()) {
    LOG(ERROR) << "[AU] GS: Couldn't create an access mutex";
    return kFailure;
  }
  switch (mutex_.TryAcquire()) {
    case GlobalStorageMutex::Acquisition::kAcquired:
      break;
    case GlobalStorageMutex::Acquisition::kBusy:
      LOG(ERROR) << "[AU] GS: Couldn't get hold on an access mutex";
      return kBusy;
    case GlobalStorageMutex::Acquisition::kFailed:
      return kFailure;
  }
  const int result = WriteHeld(name, value);
  mutex_.Release();
  return result;
}

int GlobalStorageImpl::Read(const std::string& name, std::string* value) {
  if (!value)
    return kInvalidArgument;
  value->clear();
  if (name.empty())
    return kInvalidArgument;
  if (!mutex_.Open())
    return kFailure;
  switch (mutex_.TryAcquire()) {
    case GlobalStorageMutex::Acquisition::kAcquired:
      break;
    case GlobalStorageMutex::Acquisition::kBusy:
      return kBusy;
    case GlobalStorageMutex::Acquisition::kFailed:
      return kFailure;
  }
  const int result =
      use_fallback_ ? ReadFromFile(name, value) : ReadFromRegistry(name, value);
  mutex_.Release();
  return result;
}

int GlobalStorageImpl::WriteHeld(const std::string& name,
                                 const std::string& value) {
  if (use_fallback_ || (!replaying_ && !fallback_file_.empty() &&
                        base::PathExists(fallback_file_))) {
    const int result = WriteToFile(name, value);
    if (use_fallback_)
      return result;
  }
  return value.empty() ? DeleteFromRegistry(name)
                       : WriteToRegistry(name, value);
}

int GlobalStorageImpl::WriteToFile(const std::string& name,
                                   const std::string& value) {
  int result = kFailure;
  // Without a folder, or with a file that cannot be trusted, the store
  // would only pretend to write.
  if (!fallback_file_.empty()) {
    RunOnFallbackFile(fallback_file_, [&](base::JsonPrefStore* store) {
      if (store->IsReadOnly() || !store->IsLoaded())
        return;
      bool malformed = false;
      const base::DictionaryValue* current = GetStorage(*store, &malformed);
      base::DictionaryValueOwner storage =
          current ? base::DictionaryValue::From(current->DeepCopyOwned())
                  : base::MakeValue<base::DictionaryValue>();
      if (value.empty())
        storage->RemoveByKey(name, nullptr);
      else
        storage->SetStringByKey(name, value);
      store->SetValue(kStorageKey, std::move(storage), 0);
      store->FlushPendingWrite();
      result = kSuccess;
    });
  }
  if (result != kSuccess)
    LOG(ERROR) << "[AU] GS: Writing to a fallback storage failed";
  return result;
}

int GlobalStorageImpl::WriteToRegistry(const std::string& name,
                                       const std::string& value) {
  base::win::RegistryKey key;
  LONG error = key.Create(HKEY_CURRENT_USER, GetCompanyRegistryPath().c_str(),
                          kWriteAccess);
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Creating reg key failed with: " << error;
    registry_written_ = false;
    return kFailure;
  }
  // Stored without a terminator, as the other readers of the storage
  // expect; Read adds one.
  error = ::RegSetValueExA(key.Handle(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.data()),
                           static_cast<DWORD>(value.size()));
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Setting reg value failed with: " << error;
    registry_written_ = false;
    return kFailure;
  }
  registry_written_ = true;
  return kSuccess;
}

int GlobalStorageImpl::DeleteFromRegistry(const std::string& name) {
  base::win::RegistryKey key;
  const LONG error = key.Open(HKEY_CURRENT_USER,
                              GetCompanyRegistryPath().c_str(), kWriteAccess);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND &&
      error != ERROR_PATH_NOT_FOUND) {
    LOG(ERROR) << "[AU] GS: Deleting reg value failed with: " << error;
    registry_written_ = false;
    return kFailure;
  }
  // A missing key holds nothing to delete; a missing value neither.
  if (key.Valid())
    ::RegDeleteValueA(key.Handle(), name.c_str());
  registry_written_ = true;
  return kSuccess;
}

int GlobalStorageImpl::ReadFromFile(const std::string& name,
                                    std::string* value) {
  if (fallback_file_.empty())
    return kSuccess;
  int result = kFailure;
  RunOnFallbackFile(fallback_file_, [&](base::JsonPrefStore* store) {
    bool malformed = false;
    const base::DictionaryValue* storage = GetStorage(*store, &malformed);
    if (malformed)
      return;
    std::string stored;
    if (storage && storage->GetAsciiString(name, &stored))
      *value = stored;
    result = kSuccess;
  });
  return result;
}

int GlobalStorageImpl::ReadFromRegistry(const std::string& name,
                                        std::string* value) {
  base::win::RegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, GetCompanyRegistryPath().c_str(),
               KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    return kSuccess;
  }
  DWORD size = 0;
  if (::RegQueryValueExA(key.Handle(), name.c_str(), nullptr, nullptr, nullptr,
                         &size) != ERROR_SUCCESS ||
      size == 0) {
    return kSuccess;
  }
  // One byte more for the terminator a stored value may lack.
  std::vector<char> buffer(size + 1, '\0');
  if (::RegQueryValueExA(key.Handle(), name.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
    return kFailure;
  }
  buffer[size < buffer.size() ? size : buffer.size() - 1] = '\0';
  *value = buffer.data();
  return kSuccess;
}

}  // namespace installer
