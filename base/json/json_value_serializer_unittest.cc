#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/json/json_file_value_serializer.h"
#include "base/json/json_reader.h"
#include "base/json/json_string_value_serializer.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(JsonStringSerializer, WritesCompactOrPretty) {
  DictionaryValue root;
  root.SetInteger("a", 1);
  std::string compact;
  EXPECT_TRUE(JsonStringSerializer(&compact, false).Serialize(root));
  EXPECT_EQ("{\"a\":1}", compact);
  std::string pretty;
  EXPECT_TRUE(JsonStringSerializer(&pretty, true).Serialize(root));
  EXPECT_EQ("{\r\n   \"a\": 1\r\n}\r\n", pretty);
  EXPECT_FALSE(JsonStringSerializer(nullptr, false).Serialize(root));
}

TEST(JsonStringDeserializer, ReportsReaderErrors) {
  int32_t code = 0;
  std::string message;
  EXPECT_FALSE(JsonStringDeserializer("[1,]", 0).Deserialize(&code, &message));
  EXPECT_EQ(kJsonTrailingComma, code);
  EXPECT_EQ("Line: 1, column: 4, Trailing comma not allowed.", message);
  EXPECT_TRUE(JsonStringDeserializer("[1,]", kJsonAllowTrailingCommas)
                  .Deserialize(nullptr, nullptr));
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using ScopedFile = std::unique_ptr<void, HandleCloser>;

// A fresh folder under the temporary folder, removed with its files.
class JsonFileDeserializerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
    folder_ = std::wstring(temp) + L"json_file_test_" +
              std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
  }
  void TearDown() override {
    for (const std::wstring& file : files_)
      ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }

  std::wstring Path(const wchar_t* name) {
    files_.push_back(folder_ + L"\\" + name);
    return files_.back();
  }

  ScopedFile Create(const std::wstring& path, DWORD share) {
    return ScopedFile(::CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  }

  std::wstring WriteFile(const wchar_t* name, const std::string& contents) {
    const std::wstring path = Path(name);
    ScopedFile file = Create(path, 0);
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(file.get(), contents.data(),
                            static_cast<DWORD>(contents.size()), &written,
                            nullptr));
    return path;
  }

  std::wstring folder_;
  std::vector<std::wstring> files_;
};

TEST_F(JsonFileDeserializerTest, ReadsAndRecordsSize) {
  const std::string json = "{\"a\": [1, 2]}\r\n";
  JsonFileDeserializer reader(FilePath(WriteFile(L"ok.json", json)), 0);
  EXPECT_EQ(0u, reader.last_read_size());
  int32_t code = -1;
  ValueOwner root = reader.Deserialize(&code, nullptr);
  ASSERT_TRUE(root);
  EXPECT_EQ(json.size(), reader.last_read_size());
}

TEST_F(JsonFileDeserializerTest, ParseErrorsComeFromTheReader) {
  JsonFileDeserializer reader(FilePath(WriteFile(L"bad.json", "{\"a\" 1}")), 0);
  int32_t code = 0;
  std::string message;
  EXPECT_FALSE(reader.Deserialize(&code, &message));
  EXPECT_EQ(kJsonSyntaxError, code);
  EXPECT_EQ("Line: 1, column: 6, Syntax error.", message);
  EXPECT_EQ(7u, reader.last_read_size());
}

TEST_F(JsonFileDeserializerTest, FileErrors) {
  const std::wstring locked = WriteFile(L"locked.json", "{}");
  ScopedFile holder = Create(locked, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder.get());
  // A second name of a file elsewhere, which a reader would read through.
  const std::wstring linked = Path(L"linked.json");
  ASSERT_TRUE(::CreateHardLinkW(linked.c_str(),
                                WriteFile(L"elsewhere.json", "{}").c_str(),
                                nullptr));

  const struct {
    std::wstring path;
    int32_t code;
    const char* message;
  } kCases[] = {
      {folder_ + L"\\missing.json", kJsonFileDoesNotExist,
       "File doesn't exist."},
      {folder_ + L"\\no\\such\\folder.json", kJsonFileDoesNotExist,
       "File doesn't exist."},
      {locked, kJsonFileLocked, "File locked."},
      {linked, kJsonFileCannotRead, "Can't read file."},
      // Opening a folder as a file is refused with ERROR_ACCESS_DENIED.
      {folder_, kJsonFileAccessDenied, "Access denied."},
  };
  for (const auto& c : kCases) {
    JsonFileDeserializer reader((FilePath(c.path)), 0);
    int32_t code = 0;
    std::string message;
    EXPECT_FALSE(reader.Deserialize(&code, &message));
    EXPECT_EQ(c.code, code);
    EXPECT_EQ(c.message, message);
    EXPECT_EQ(0u, reader.last_read_size());
  }
}

TEST_F(JsonFileDeserializerTest, RefusesFilesOverTheSizeLimit) {
  const std::wstring path = Path(L"huge.json");
  {
    ScopedFile file = Create(path, 0);
    LARGE_INTEGER size;
    size.QuadPart = kJsonFileMaxSize + 1;
    ASSERT_TRUE(::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file.get()));
  }
  JsonFileDeserializer reader((FilePath(path)), 0);
  int32_t code = 0;
  std::string message;
  EXPECT_FALSE(reader.Deserialize(&code, &message));
  EXPECT_EQ(kJsonFileTooLarge, code);
  EXPECT_EQ("File too large.", message);
}

}  // namespace
}  // namespace base
