#include "desktop/windows/installer/signing/held_file_path.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Held as a checked program is: others may only read it.
base::win::ScopedHandle HoldFile(const base::FilePath& path) {
  return base::win::ScopedHandle(
      ::CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// What a second process of the user's gets when it renames `folder` aside.
DWORD RenameAside(const base::FilePath& folder) {
  const std::wstring aside = folder.value() + L"_aside";
  if (::MoveFileExW(folder.value().c_str(), aside.c_str(), 0)) {
    ::MoveFileExW(aside.c_str(), folder.value().c_str(), 0);
    return 0;
  }
  return ::GetLastError();
}

// The path of a held file is pinned from the volume's root down: no folder
// on it can be renamed while it is, each one can again once it is let go.
TEST(HeldFilePathTest, NoFolderOnThePinnedPathCanBeRenamed) {
  base::TempTree tree;
  tree.MakeDir(L"outer\\inner");
  const base::FilePath program =
      tree.WriteFile(L"outer\\inner\\program.exe", "program");
  const base::win::ScopedHandle file = HoldFile(program);
  ASSERT_TRUE(file.IsValid());
  HeldFilePath pinned;
  ASSERT_EQ(0u, pinned.Pin(file.Get()));
  EXPECT_EQ(program.value(), pinned.path());
  EXPECT_EQ(0u, pinned.Verify(file.Get()));

  for (const base::FilePath& folder :
       {tree.root(), tree.Path(L"outer"), tree.Path(L"outer\\inner")}) {
    SCOPED_TRACE(folder.AsUTF8());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              RenameAside(folder));
  }
  pinned.Release();
  EXPECT_TRUE(pinned.path().empty());
  EXPECT_EQ(0u, RenameAside(tree.Path(L"outer\\inner")));
}

// A link on the way (a Unix link, which Wine shows as a junction) is
// resolved once, at the pin: the pinned path is its target's, and a link
// pointed elsewhere afterwards leads nothing astray. What a pin cannot
// stop, a Linux process renaming a held folder, the path's check sees.
TEST(HeldFilePathTest, PinnedPathLeadsToTheHeldFileAlone) {
  base::TempTree tree;
  tree.MakeDir(L"real");
  tree.MakeDir(L"other");
  tree.WriteFile(L"real\\program.exe", "program");
  tree.WriteFile(L"other\\program.exe", "stand-in");
  auto link = std::make_unique<base::ScopedUnixLink>(tree.Path(L"link"),
                                                     tree.Path(L"real"));
  if (!link->made())
    GTEST_SKIP() << "no Unix links outside Wine";
  const base::win::ScopedHandle file =
      HoldFile(tree.Path(L"link\\program.exe"));
  ASSERT_TRUE(file.IsValid());
  HeldFilePath pinned;
  ASSERT_EQ(0u, pinned.Pin(file.Get()));
  EXPECT_EQ(tree.Path(L"real\\program.exe").value(), pinned.path());

  link.reset();
  const base::ScopedUnixLink retargeted(tree.Path(L"link"),
                                        tree.Path(L"other"));
  ASSERT_TRUE(retargeted.made());
  EXPECT_EQ(tree.Path(L"real\\program.exe").value(), pinned.path());
  EXPECT_EQ(0u, pinned.Verify(file.Get()));

  ASSERT_TRUE(base::RenameWithUnix(tree.Path(L"real"),
                                   tree.Path(L"real_aside")));
  ::CreateDirectoryW(tree.Path(L"real").value().c_str(), nullptr);
  tree.WriteFile(L"real\\program.exe", "stand-in");
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_INVALID),
            pinned.Verify(file.Get()));
}

// The names a path is read by as they are spelled: the system's path rules
// drop a last dot or space, read a colon, a slash or a wildcard otherwise,
// and open a device's name (with any extension) as the device.
TEST(HeldFilePathTest, OnlyNamesThePathRulesKeepAreHandedOn) {
  const struct {
    const wchar_t* name;
    bool kept;
  } kCases[] = {
      {L"x", true},         {L"x.y", true},        {L".x", true},
      {L"x y", true},       {L"COM10", true},      {L"CONSOLE", true},
      {L"x.", false},       {L"x ", false},        {L"...", false},
      {L"x. ", false},      {L"NUL", false},       {L"con.txt", false},
      {L"AUX .log", false}, {L"lpt\u00B9", false}, {L"CONOUT$", false},
      {L"a:b", false},      {L"a/b", false},       {L"a*b", false},
      {L"a?b", false},      {L"a\"b", false},      {L"a<b", false},
      {L"a|b", false},      {L"a\tb", false},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(base::WideToUtf8(test_case.name));
    EXPECT_EQ(test_case.kept, HeldFilePath::HasNameKeptAsIs(test_case.name));
  }
}

// A folder whose name the path rules rewrite ("x." is opened as "x", a
// sibling no hold covers) is never pinned, its sibling left unheld and the
// error one that tells to move the file: Windows names the folder with its
// dot, a name refused; Wine names it without, so the path opens the
// sibling's file, or none, and not the one held.
TEST(HeldFilePathTest, FolderNameThePathRulesRewriteIsNeverPinned) {
  for (const bool sibling : {true, false}) {
    for (const wchar_t* name : {L"x.", L"x "}) {
      SCOPED_TRACE(base::WideToUtf8(name) + (sibling ? " beside x" : ""));
      base::TempTree tree;
      if (sibling) {
        tree.MakeDir(L"x");
        tree.WriteFile(L"x\\program.exe", "stand-in");
      }
      // Made as it is spelled: a plain path would make "x".
      const std::wstring folder = L"\\\\?\\" + tree.Path(name).value();
      ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
      const base::FilePath program(folder + L"\\program.exe");
      {
        const base::win::ScopedHandle file(::CreateFileW(
            program.value().c_str(), GENERIC_READ | GENERIC_WRITE,
            FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
            nullptr));
        ASSERT_TRUE(file.IsValid());
        HeldFilePath pinned;

        const DWORD error = pinned.Pin(file.Get());

        EXPECT_TRUE(HeldFilePath::IsFolderRefusal(error)) << error;
        EXPECT_TRUE(pinned.path().empty());
        if (sibling)
          EXPECT_EQ(0u, RenameAside(tree.Path(L"x")));
      }
      // The tree's own removal goes by plain paths.
      ::DeleteFileW(program.value().c_str());
      ::RemoveDirectoryW(folder.c_str());
    }
  }
}

// Wine names no file past about 266 characters: such a path is refused,
// never pinned shorter or elsewhere; where the system names it, it is
// pinned whole.
TEST(HeldFilePathTest, PathTheSystemCannotNameIsNeverPinnedShort) {
  base::TempTree tree;
  std::vector<std::wstring> folders;
  std::wstring folder = L"\\\\?\\" + tree.root().value();
  while (folder.size() < 300) {
    folder += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    folders.push_back(folder);
  }
  const std::wstring program = folder + L"\\program.exe";
  {
    const base::win::ScopedHandle file(::CreateFileW(
        program.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    HeldFilePath pinned;

    const DWORD error = pinned.Pin(file.Get());

    if (error == 0)
      EXPECT_EQ(program.substr(4), pinned.path());
    else
      EXPECT_TRUE(pinned.path().empty());
  }
  // The tree's own removal does not reach this deep.
  ::DeleteFileW(program.c_str());
  for (auto it = folders.rbegin(); it != folders.rend(); ++it)
    ::RemoveDirectoryW(it->c_str());
}

}  // namespace
}  // namespace installer
