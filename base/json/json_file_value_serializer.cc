#include "base/json/json_file_value_serializer.h"

#include <windows.h>

#include "base/files/new_file_in_folder.h"
#include "base/json/json_reader.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

constexpr DWORD kReadChunkSize = 1 << 20;

constexpr const char* kFileErrorMessages[] = {
    "Access denied.",      "Can't read file.", "File locked.",
    "File doesn't exist.", "File too large.",
};

}  // namespace

JsonFileDeserializer::JsonFileDeserializer(const FilePath& path,
                                           int32_t options)
    : path_(path), options_(options) {}

JsonFileDeserializer::~JsonFileDeserializer() = default;

ValueOwner JsonFileDeserializer::Deserialize(int32_t* error_code,
                                             std::string* error_message) {
  std::string contents;
  const int32_t file_error = ReadFileToString(&contents);
  if (file_error != 0) {
    if (error_code)
      *error_code = file_error;
    if (error_message)
      *error_message = FileErrorMessage(file_error);
    return nullptr;
  }
  last_read_size_ = contents.size();
  return ReadJsonAndReturnError(contents, options_, error_code, error_message);
}

// static
std::string JsonFileDeserializer::FileErrorMessage(int32_t error_code) {
  const int32_t index = error_code - kJsonFileAccessDenied;
  if (index < 0 || index >= static_cast<int32_t>(std::size(kFileErrorMessages)))
    return std::string();
  return kFileErrorMessages[index];
}

int32_t JsonFileDeserializer::ReadFileToString(std::string* contents) const {
  // Preferences may lie in a folder that a less trusted process can write,
  // and be read by an elevated one: never through a link.
  const win::ScopedHandle file = NewFileInFolder::OpenToRead(path_.value());
  if (!file.IsValid())
    return ClassifyReadError(::GetLastError());
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.Get(), &size))
    return ClassifyReadError(::GetLastError());
  if (size.QuadPart > kJsonFileMaxSize)
    return kJsonFileTooLarge;
  contents->reserve(static_cast<size_t>(size.QuadPart));

  // The file may grow while it is read: the limit holds for what is read.
  std::string buffer;
  buffer.resize(kReadChunkSize);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), buffer.data(), kReadChunkSize, &read, nullptr))
      return ClassifyReadError(::GetLastError());
    if (read == 0)
      return 0;
    if (contents->size() + read > static_cast<uint64_t>(kJsonFileMaxSize))
      return kJsonFileTooLarge;
    contents->append(buffer.data(), read);
  }
}

int32_t JsonFileDeserializer::ClassifyReadError(
    unsigned long windows_error) const {
  switch (windows_error) {
    case ERROR_ACCESS_DENIED:
      return kJsonFileAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kJsonFileLocked;
    default:
      return ::GetFileAttributesW(path_.value().c_str()) !=
                     INVALID_FILE_ATTRIBUTES
                 ? kJsonFileCannotRead
                 : kJsonFileDoesNotExist;
  }
}

}  // namespace base
