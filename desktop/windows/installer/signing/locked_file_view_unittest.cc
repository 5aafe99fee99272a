#include "desktop/windows/installer/signing/locked_file_view.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

base::FilePath WriteTestFile(const base::ScopedTempFolder& folder,
                             const wchar_t* name,
                             const std::string& contents) {
  const base::FilePath path = folder.path().Append(name);
  EXPECT_EQ(base::WriteBufferToFile(path, contents.data(),
                                    static_cast<int>(contents.size())),
            static_cast<int>(contents.size()));
  return path;
}

TEST(LockedFileViewTest, FileCannotChangeWhileHeld) {
  base::ScopedTempFolder folder;
  const base::FilePath path = WriteTestFile(folder, L"signed.exe", "MZ held");
  const base::FilePath other = WriteTestFile(folder, L"other.exe", "MZ other");
  LockedFileView view;
  ASSERT_TRUE(view.Open(path));

  base::win::ScopedHandle writer(::CreateFileW(
      path.value().c_str(), GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.IsValid());
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(::MoveFileExW(other.value().c_str(), path.value().c_str(),
                             MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(::DeleteFileW(path.value().c_str()));

  // Readers, WinVerifyTrust among them, may still open it.
  base::win::ScopedHandle reader(
      ::CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(reader.IsValid());
  EXPECT_EQ(std::string(view.bytes().begin(), view.bytes().end()), "MZ held");
}

TEST(LockedFileViewTest, EmptyFileCannotBeHeld) {
  base::ScopedTempFolder folder;
  LockedFileView view;
  EXPECT_FALSE(view.Open(WriteTestFile(folder, L"empty.exe", "")));
  EXPECT_FALSE(view.Open(folder.path().Append(L"missing.exe")));
}

bool CanOpenForWriting(const base::FilePath& path) {
  return base::win::ScopedHandle(
             ::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE |
                               FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr))
      .IsValid();
}

TEST(LockedFileViewTest, HeldFileMovesOnlyToANewNameAndStaysHeld) {
  const struct {
    const char* contents;
  } kCases[] = {{"MZ partner"}, {""}};
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.contents);
    base::ScopedTempFolder folder;
    const base::FilePath path =
        WriteTestFile(folder, L"download.tmp", test.contents);
    const base::FilePath taken = WriteTestFile(folder, L"taken.dll", "taken");
    const base::FilePath target = folder.path().Append(L"partner.dll");
    LockedFileView view;
    ASSERT_TRUE(view.Open(path, LockedFileView::Access::kReadAndMove));
    EXPECT_EQ(std::string(view.bytes().begin(), view.bytes().end()),
              test.contents);
    EXPECT_FALSE(CanOpenForWriting(path));
    EXPECT_FALSE(::MoveFileExW(path.value().c_str(), target.value().c_str(),
                               0));

    EXPECT_FALSE(view.MoveTo(taken));
    std::string kept;
    ASSERT_TRUE(base::ReadFileToString(taken, &kept));
    EXPECT_EQ(kept, "taken");
    ASSERT_TRUE(view.MoveTo(target));
    EXPECT_FALSE(base::PathExists(path));
    EXPECT_FALSE(CanOpenForWriting(target));
  }
}

}  // namespace
}  // namespace installer
