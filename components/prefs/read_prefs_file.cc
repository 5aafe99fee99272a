#include "components/prefs/read_prefs_file.h"

#include <string>

#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "components/prefs/pref_store.h"
#include "components/prefs/prefs_histogram_suffix.h"

namespace base {

namespace {

constexpr char kReadSizeHistogramPrefix[] = "Settings.JsonDataReadSizeKilobytes.";
constexpr int32_t kReadSizeMinimumKb = 1;
constexpr int32_t kReadSizeMaximumKb = 10000;
constexpr int32_t kReadSizeBuckets = 50;

// The store's code for an error of the file reader, or READ_OK when the
// error is not the file's but the text's.
int32_t FileErrorToReadResult(int32_t error_code) {
  switch (error_code) {
    case kJsonFileAccessDenied:
      return PrefStore::READ_ACCESS_DENIED;
    case kJsonFileCannotRead:
      return PrefStore::READ_FILE_ERROR;
    case kJsonFileLocked:
      return PrefStore::READ_FILE_LOCKED;
    case kJsonFileDoesNotExist:
      return PrefStore::READ_NO_FILE;
    case kJsonFileTooLarge:
      // Never parsed, so not known to be broken: keep it and stay off it.
      return PrefStore::READ_FILE_ERROR;
    default:
      return PrefStore::READ_OK;
  }
}

// Sets the unparsable file aside. When it cannot be moved the store must
// not write over it, so the read counts as a file error.
int32_t MoveAsideBadFile(const FilePath& path) {
  const FilePath bad_path = GetBadPrefsFilePath(path);
  if (bad_path == path) {
    LOG(ERROR) << "Unparsable preferences file " << path.AsUTF8()
               << " already carries the bad-file name; left in place";
    return PrefStore::READ_FILE_ERROR;
  }
  const bool bad_existed = PathExists(bad_path);
  if (!MovePath(path, bad_path)) {
    PLOG(ERROR) << "Cannot move unparsable preferences file " << path.AsUTF8()
                << " aside";
    return PrefStore::READ_FILE_ERROR;
  }
  return bad_existed ? PrefStore::READ_BAD_JSON_AGAIN : PrefStore::READ_BAD_JSON;
}

void RecordReadSize(const FilePath& path, size_t bytes) {
  const std::string name =
      kReadSizeHistogramPrefix + GetPrefsHistogramSuffix(path);
  if (HistogramBase* histogram = GetExponentialHistogram(
          name, kReadSizeMinimumKb, kReadSizeMaximumKb, kReadSizeBuckets,
          HistogramBase::MetricsTargeted)) {
    histogram->Add(static_cast<int32_t>(bytes / 1024));
  }
}

}  // namespace

ReadPrefsResult ReadPrefsFile(const FilePath& path) {
  ReadPrefsResult result;
  JsonFileDeserializer deserializer(path, 0);
  int32_t error_code = 0;
  std::string error_message;
  result.value = deserializer.Deserialize(&error_code, &error_message);
  if (result.value) {
    result.read_result = result.value->type() == Value::Type::kDictionary
                             ? PrefStore::READ_OK
                             : PrefStore::READ_NOT_DICTIONARY;
  } else {
    result.read_result = FileErrorToReadResult(error_code);
    if (result.read_result == PrefStore::READ_OK) {
      LOG(WARNING) << "Preferences file " << path.AsUTF8()
                   << " does not parse: " << error_message;
      result.read_result = MoveAsideBadFile(path);
    }
  }
  result.directory_missing = !DirectoryExists(path.DirName());
  if (result.read_result == PrefStore::READ_OK)
    RecordReadSize(path, deserializer.last_read_size());
  return result;
}

FilePath GetBadPrefsFilePath(const FilePath& path) {
  return path.ReplaceExtension(L"bad");
}

}  // namespace base
