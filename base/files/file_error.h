#ifndef BASE_FILES_FILE_ERROR_H_
#define BASE_FILES_FILE_ERROR_H_

#include <cstdint>

namespace base {

// Why a file operation failed. Negative so that functions returning a count
// or a position can hand one back in the same integer.
enum class FileError : int32_t {
  kOk = 0,
  kFailed = -1,
  kInUse = -2,
  kExists = -3,
  kNotFound = -4,
  kAccessDenied = -5,
  kTooManyOpened = -6,
  kNoMemory = -7,
  kNoSpace = -8,
  kNotADirectory = -9,
  kInvalidRequest = -10,
  kIo = -16,
};

}  // namespace base

#endif  // BASE_FILES_FILE_ERROR_H_
