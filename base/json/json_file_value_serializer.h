#ifndef BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/json/json_value_serializer.h"
#include "base/values.h"

namespace base {

// Errors of reading the file, numbered on from the reader's codes.
enum JsonFileError : int32_t {
  kJsonFileAccessDenied = 1000,
  kJsonFileCannotRead = 1001,
  kJsonFileLocked = 1002,
  kJsonFileDoesNotExist = 1003,
  kJsonFileTooLarge = 1004,
};

// Larger files are refused rather than read into memory.
inline constexpr int64_t kJsonFileMaxSize = 64 * 1024 * 1024;

// Reads a whole JSON file and parses it.
class JsonFileDeserializer : public JsonDeserializer {
 public:
  JsonFileDeserializer(const FilePath& path, int32_t options);
  ~JsonFileDeserializer() override;

  // On a file error the code is one of JsonFileError; otherwise the reader's.
  ValueOwner Deserialize(int32_t* error_code,
                         std::string* error_message) override;

  // Bytes of the last successful read; 0 before one.
  size_t last_read_size() const { return last_read_size_; }

  // The text of a JsonFileError; empty for other codes.
  static std::string FileErrorMessage(int32_t error_code);

 private:
  // 0 or a JsonFileError.
  int32_t ReadFileToString(std::string* contents) const;
  int32_t ClassifyReadError(unsigned long windows_error) const;

  const FilePath path_;
  const int32_t options_;
  size_t last_read_size_ = 0;
};

}  // namespace base

#endif  // BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_
