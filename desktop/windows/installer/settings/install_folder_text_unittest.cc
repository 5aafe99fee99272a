#include "desktop/windows/installer/settings/install_folder_text.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

struct FolderCase {
  const wchar_t* stored;
  const wchar_t* folder;
};

constexpr FolderCase kFolderCases[] = {
    // As this installer writes it, and as older runs grew it.
    {L"C:\\Users\\u\\Tarvo\\", L"C:\\Users\\u\\Tarvo"},
    {L"C:\\Users\\u\\Tarvo\\\\\\", L"C:\\Users\\u\\Tarvo"},
    // As older installers wrote it.
    {L"C:\\Users\\u\\Tarvo", L"C:\\Users\\u\\Tarvo"},
    {L"D:\\Tarvo/", L"D:\\Tarvo"},
    // A drive root stays a root.
    {L"C:\\", L"C:\\"},
    {L"C:\\\\", L"C:\\"},
    {L"e:/", L"e:\\"},
    {L"\\\\server\\share\\Tarvo\\\\", L"\\\\server\\share\\Tarvo"},
    // Not folders this function can mend: left for the caller's checks.
    {L"C:", L"C:"},
    {L"\\\\", L"\\\\"},
    {L"", L""},
    {L"Tarvo\\", L"Tarvo"},
};

TEST(InstallFolderTextTest, StoredFolderHasOneSpelling) {
  for (const FolderCase& test : kFolderCases) {
    SCOPED_TRACE(testing::Message() << "stored \"" << test.stored << "\"");
    EXPECT_EQ(test.folder, InstallFolderFromStoredText(test.stored).value());
  }
}

}  // namespace
}  // namespace installer
