#ifndef BASE_TEST_TEXT_FILE_H_
#define BASE_TEST_TEXT_FILE_H_

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"

namespace base {

// Tests write and read small files whole; a short write fails the write.
inline bool WriteTextFile(const FilePath& path, const std::string& text) {
  return WriteBufferToFile(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

// Empty for a file that cannot be read.
inline std::string ReadTextFile(const FilePath& path) {
  std::string text;
  ReadFileToString(path, &text);
  return text;
}

}  // namespace base

#endif  // BASE_TEST_TEXT_FILE_H_
