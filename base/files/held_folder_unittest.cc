#include "base/files/held_folder.h"

#include <memory>
#include <string>
#include <vector>

#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::string Write(HANDLE file, const char* text) {
  DWORD written = 0;
  return ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written,
                     nullptr)
             ? text
             : "unwritten";
}

TEST(HeldFolderOpen, ReachesOnlyPlainFoldersFromTheRoot) {
  TempTree tree;
  TempTree outside;
  tree.MakeDir(L"a\\b");
  ScopedUnixLink link(tree.Path(L"linked"), outside.root());
  ASSERT_TRUE(link.made());
  const struct {
    const char* label;
    std::wstring path;
    DWORD error;  // 0: held
  } kCases[] = {
      {"plain", tree.Path(L"a\\b").value(), 0},
      {"link on the way", tree.Path(L"linked").value(),
       ERROR_CANT_RESOLVE_FILENAME},
      {"below a link", tree.Path(L"linked\\x").value(),
       ERROR_CANT_RESOLVE_FILENAME},
      {"missing", tree.Path(L"a\\missing").value(), ERROR_FILE_NOT_FOUND},
      {"trimmed name", tree.Path(L"a.").value(), ERROR_INVALID_NAME},
      {"relative", L"a\\b", ERROR_BAD_PATHNAME},
      {"share", L"\\\\server\\share\\a", ERROR_BAD_PATHNAME},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const HeldFolder::Ref held = HeldFolder::Open(FilePath(c.path));
    if (c.error == 0) {
      ASSERT_TRUE(held);
      EXPECT_TRUE(::CompareStringOrdinal(held->path().value().c_str(), -1,
                                         c.path.c_str(), -1,
                                         TRUE) == CSTR_EQUAL);
    } else {
      EXPECT_FALSE(held);
      EXPECT_EQ(c.error, ::GetLastError());
    }
  }
}

// The user's own Windows process tries to swap a folder on the way: while
// held, no level can be renamed away. (A Linux process's rename is not
// stopped by Wine: the image and path checks cover that elsewhere.)
TEST(HeldFolderOpen, NoLevelCanBeRenamedWhileHeld) {
  TempTree tree;
  tree.MakeDir(L"a\\b\\c");
  const HeldFolder::Ref held = HeldFolder::Open(tree.Path(L"a\\b\\c"));
  ASSERT_TRUE(held);
  for (const wchar_t* level : {L"a", L"a\\b", L"a\\b\\c"}) {
    SCOPED_TRACE(level);
    const std::wstring away = tree.Path(level).value() + L".away";
    EXPECT_FALSE(::MoveFileW(tree.Path(level).value().c_str(), away.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
  }
  const win::ScopedHandle file =
      held->CreateNewFile(L"f.txt", GENERIC_WRITE, 0);
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ("new", Write(file.Get(), "new"));
}

// What a name in a held folder can hold, and what each entry point makes
// of it: nothing is ever written, opened or moved through a link.
TEST(HeldFolderEntries, LinksAndSecondNamesAreRefused) {
  enum class Occupant { kNothing, kFile, kFolder, kFileLink, kFolderLink,
                        kHardLink };
  const struct {
    Occupant occupant;
    DWORD create_error;  // CreateNewFile
    DWORD open_error;    // OpenPlainFile
    DWORD folder_error;  // OpenSubfolder with create
    DWORD move_error;    // MoveInto
    DWORD entry_error;   // OpenEntry
    // RemoveEntry, recursive: a link goes itself where the system opens it
    // as itself; Wine opens what it leads to, and there it stays.
    DWORD remove_error;
  } kCases[] = {
      {Occupant::kNothing, 0, ERROR_FILE_NOT_FOUND, 0, 0, ERROR_FILE_NOT_FOUND,
       0},
      {Occupant::kFile, ERROR_ALREADY_EXISTS, 0, ERROR_DIRECTORY,
       ERROR_ALREADY_EXISTS, 0, 0},
      {Occupant::kFolder, ERROR_ALREADY_EXISTS, ERROR_CANT_RESOLVE_FILENAME,
       0, ERROR_ALREADY_EXISTS, 0, 0},
      {Occupant::kFileLink, ERROR_ALREADY_EXISTS, ERROR_CANT_RESOLVE_FILENAME,
       ERROR_DIRECTORY, ERROR_ALREADY_EXISTS, ERROR_CANT_RESOLVE_FILENAME,
       ERROR_CANT_ACCESS_FILE},
      {Occupant::kFolderLink, ERROR_ALREADY_EXISTS,
       ERROR_CANT_RESOLVE_FILENAME, ERROR_CANT_RESOLVE_FILENAME,
       ERROR_ALREADY_EXISTS, ERROR_CANT_RESOLVE_FILENAME,
       ERROR_CANT_ACCESS_FILE},
      {Occupant::kHardLink, ERROR_ALREADY_EXISTS, ERROR_CANT_RESOLVE_FILENAME,
       ERROR_DIRECTORY, ERROR_ALREADY_EXISTS, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.occupant));
    TempTree tree;
    TempTree outside;
    const FilePath victim = outside.WriteFile(L"victim.txt", "victim");
    tree.MakeDir(L"held");
    const FilePath name = tree.Path(L"held\\x");
    std::unique_ptr<ScopedUnixLink> link;
    switch (c.occupant) {
      case Occupant::kNothing:
        break;
      case Occupant::kFile:
        tree.WriteFile(L"held\\x", "earlier");
        break;
      case Occupant::kFolder:
        tree.MakeDir(L"held\\x");
        break;
      case Occupant::kFileLink:
        link = std::make_unique<ScopedUnixLink>(name, victim);
        break;
      case Occupant::kFolderLink:
        link = std::make_unique<ScopedUnixLink>(name, outside.root());
        break;
      case Occupant::kHardLink:
        ASSERT_TRUE(::CreateHardLinkW(name.value().c_str(),
                                      victim.value().c_str(), nullptr));
        break;
    }
    ASSERT_TRUE(!link || link->made());
    const HeldFolder::Ref held = HeldFolder::Open(tree.Path(L"held"));
    ASSERT_TRUE(held);

    {
      win::ScopedHandle made = held->CreateNewFile(L"x", GENERIC_WRITE, 0);
      EXPECT_EQ(c.create_error, made.IsValid() ? 0 : ::GetLastError());
      if (made.IsValid()) {
        made.Close();
        ASSERT_TRUE(::DeleteFileW(name.value().c_str()));
      }
    }
    {
      const win::ScopedHandle opened =
          held->OpenPlainFile(L"x", GENERIC_READ, FILE_SHARE_READ);
      EXPECT_EQ(c.open_error, opened.IsValid() ? 0 : ::GetLastError());
    }
    {
      bool is_folder = false;
      const win::ScopedHandle opened =
          held->OpenEntry(L"x", GENERIC_READ, FILE_SHARE_READ, &is_folder);
      EXPECT_EQ(c.entry_error, opened.IsValid() ? 0 : ::GetLastError());
      EXPECT_EQ(opened.IsValid() && c.occupant == Occupant::kFolder,
                is_folder);
    }
    {
      bool made = false;
      const HeldFolder::Ref sub = held->OpenSubfolder(L"x", true, &made);
      EXPECT_EQ(c.folder_error, sub ? 0 : ::GetLastError());
      if (sub && made)
        EXPECT_TRUE(sub->RemoveWhenReleased());
    }
    {
      const FilePath source = tree.WriteFile(L"source.txt", "moved");
      win::ScopedHandle file(::CreateFileW(
          source.value().c_str(), DELETE | SYNCHRONIZE, 0, nullptr,
          OPEN_EXISTING, 0, nullptr));
      const bool moved = held->MoveInto(file.Get(), L"x");
      EXPECT_EQ(c.move_error, moved ? 0 : ::GetLastError());
      file.Close();
      if (moved)
        EXPECT_EQ("moved", TempTree::ReadFile(name));
    }
    const bool removed = held->RemoveEntry(L"x", /*recursive=*/true);
    EXPECT_EQ(c.remove_error, removed ? 0 : ::GetLastError());
    EXPECT_EQ(!removed, TempTree::Exists(name));
    EXPECT_EQ("victim", TempTree::ReadFile(victim));
    EXPECT_FALSE(TempTree::Exists(outside.Path(L"x")));
  }
}

// A tree removed through handles goes whole, read-only entries too; a link
// inside, or a folder on the way that is one, takes nothing it leads to.
TEST(HeldFolderEntries, RemovalTakesNothingALinkLeadsTo) {
  enum class Link { kNone, kFolderInside, kFileInside, kOnTheWay };
  const struct {
    Link link;
    DWORD error;  // Wine opens a link inside as what it leads to: it stays
  } kCases[] = {
      {Link::kNone, 0},
      {Link::kFolderInside, ERROR_CANT_ACCESS_FILE},
      {Link::kFileInside, ERROR_CANT_ACCESS_FILE},
      {Link::kOnTheWay, ERROR_CANT_RESOLVE_FILENAME},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.link));
    TempTree tree;
    TempTree outside;
    outside.MakeDir(L"x");
    const FilePath victim = outside.WriteFile(L"x\\victim.txt", "victim",
                                              FILE_ATTRIBUTE_READONLY);
    tree.MakeDir(L"held\\x\\sub");
    tree.WriteFile(L"held\\x\\sub\\a.txt", "a", FILE_ATTRIBUTE_READONLY);
    tree.WriteFile(L"held\\x\\b.txt", "b", FILE_ATTRIBUTE_READONLY);
    std::unique_ptr<ScopedUnixLink> link;
    switch (c.link) {
      case Link::kNone:
        break;
      case Link::kFolderInside:
        link = std::make_unique<ScopedUnixLink>(tree.Path(L"held\\x\\sub\\l"),
                                                outside.Path(L"x"));
        break;
      case Link::kFileInside:
        link = std::make_unique<ScopedUnixLink>(tree.Path(L"held\\x\\l.txt"),
                                                victim);
        break;
      case Link::kOnTheWay:
        link = std::make_unique<ScopedUnixLink>(tree.Path(L"linked"),
                                                outside.root());
        break;
    }
    ASSERT_TRUE(!link || link->made());
    const FilePath path = tree.Path(c.link == Link::kOnTheWay ? L"linked\\x"
                                                              : L"held\\x");

    const bool removed = HeldFolder::RemovePath(path, /*recursive=*/true);

    EXPECT_EQ(c.error, removed ? 0 : ::GetLastError());
    EXPECT_EQ(!removed, TempTree::Exists(path));
    EXPECT_EQ("victim", TempTree::ReadFile(victim));
    ::SetFileAttributesW(victim.value().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(HeldFolderEntries, NewFileSecurityLeavesNothingAndMadeFoldersGoAgain) {
  TempTree tree;
  tree.MakeDir(L"held");
  const HeldFolder::Ref held = HeldFolder::Open(tree.Path(L"held"));
  ASSERT_TRUE(held);
  EXPECT_FALSE(held->NewFileSecurity().empty());

  bool made = false;
  HeldFolder::Ref empty = held->OpenSubfolder(L"empty", true, &made);
  ASSERT_TRUE(empty && made);
  HeldFolder::Ref full = held->OpenSubfolder(L"full", true, &made);
  ASSERT_TRUE(full && made);
  ASSERT_TRUE(full->CreateNewFile(L"f", GENERIC_WRITE, 0).IsValid());
  EXPECT_TRUE(empty->RemoveWhenReleased());
  EXPECT_FALSE(full->RemoveWhenReleased());
  empty.reset();
  full.reset();

  EXPECT_FALSE(TempTree::Exists(tree.Path(L"held\\empty")));
  EXPECT_TRUE(TempTree::Exists(tree.Path(L"held\\full\\f")));
  WIN32_FIND_DATAW found;
  const HANDLE find =
      ::FindFirstFileW(tree.Path(L"held\\~*").value().c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find) << "the probe stayed";
  if (find != INVALID_HANDLE_VALUE)
    ::FindClose(find);
}

// A descriptor of `entries` allowing entries (the user's SID, each its own
// rights), self-relative; empty when one cannot be made.
std::vector<unsigned char> DescriptorWithEntries(int entries) {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token))
    return {};
  const win::ScopedHandle token(raw_token);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(),
                                          size, &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  std::vector<unsigned char> acl(sizeof(ACL) +
                                 entries * (sizeof(ACCESS_ALLOWED_ACE) +
                                            ::GetLengthSid(sid)));
  auto* dacl = reinterpret_cast<ACL*>(acl.data());
  if (!::InitializeAcl(dacl, static_cast<DWORD>(acl.size()), ACL_REVISION))
    return {};
  for (int entry = 0; entry < entries; ++entry) {
    if (!::AddAccessAllowedAce(dacl, ACL_REVISION, 1u << (entry % 16), sid))
      return {};
  }
  SECURITY_DESCRIPTOR absolute;
  if (!::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorOwner(&absolute, sid, FALSE) ||
      !::SetSecurityDescriptorDacl(&absolute, TRUE, dacl, FALSE)) {
    return {};
  }
  DWORD length = 0;
  ::MakeSelfRelativeSD(&absolute, nullptr, &length);
  std::vector<unsigned char> relative(length);
  if (length == 0 ||
      !::MakeSelfRelativeSD(&absolute, relative.data(), &length)) {
    return {};
  }
  return relative;
}

DWORD EntriesOf(const std::vector<unsigned char>& descriptor) {
  BOOL present = FALSE, defaulted = FALSE;
  ACL* dacl = nullptr;
  if (descriptor.empty() ||
      !::GetSecurityDescriptorDacl(
          const_cast<unsigned char*>(descriptor.data()), &present, &dacl,
          &defaulted) ||
      !present || !dacl) {
    return 0;
  }
  return dacl->AceCount;
}

// Read back whole, whether it fits the first request or needs a second
// (40 entries: well over a kilobyte), and exactly as long as it is. On an
// event: Wine keeps a file's list only where its file system keeps extended
// attributes, an event's always, and the reading is the same for both.
TEST(HeldFolderEntries, SecurityReadsBackWhatWasGivenAtAnySize) {
  const win::ScopedHandle object(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(object.IsValid());
  for (const int entries : {1, 3, 40}) {
    const std::vector<unsigned char> given = DescriptorWithEntries(entries);
    ASSERT_FALSE(given.empty());
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              HeldFolder::GiveSecurity(object.Get(), given));
    const std::vector<unsigned char> read =
        HeldFolder::ReadSecurity(object.Get());
    ASSERT_FALSE(read.empty()) << entries << " entries";
    EXPECT_EQ(static_cast<DWORD>(entries), EntriesOf(read));
    EXPECT_EQ(::GetSecurityDescriptorLength(
                  const_cast<unsigned char*>(read.data())),
              read.size());
  }

  // Nothing read through a handle that may not read it, nor a closed one.
  HANDLE raw_no_read = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), object.Get(),
                                ::GetCurrentProcess(), &raw_no_read,
                                SYNCHRONIZE, FALSE, 0));
  const win::ScopedHandle no_read(raw_no_read);
  EXPECT_TRUE(HeldFolder::ReadSecurity(no_read.Get()).empty());
  EXPECT_TRUE(HeldFolder::ReadSecurity(nullptr).empty());
}

// The owner is set only where the descriptor read before says it differs:
// setting it asks for WRITE_OWNER, which the handle here lacks, so the
// result tells whether it was asked for. Read again (nothing passed), the
// file's own read before, none, or one that names another owner.
TEST(HeldFolderEntries, OwnerIsSetOnlyWhereTheOneReadBeforeDiffers) {
  const win::ScopedHandle object(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(object.IsValid());
  const std::vector<unsigned char> given = DescriptorWithEntries(2);
  ASSERT_FALSE(given.empty());
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            HeldFolder::GiveSecurity(object.Get(), given));
  HANDLE raw_no_owner = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), object.Get(),
                                ::GetCurrentProcess(), &raw_no_owner,
                                READ_CONTROL | WRITE_DAC, FALSE, 0));
  const win::ScopedHandle no_owner(raw_no_owner);
  std::vector<unsigned char> own = HeldFolder::ReadSecurity(object.Get());
  ASSERT_FALSE(own.empty());
  // The same list, owned by the Administrators.
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(administrators);
  BOOL present = FALSE, defaulted = FALSE;
  ACL* dacl = nullptr;
  SECURITY_DESCRIPTOR absolute;
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                                   administrators, &sid_size));
  ASSERT_TRUE(
      ::GetSecurityDescriptorDacl(own.data(), &present, &dacl, &defaulted));
  ASSERT_TRUE(
      ::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&absolute, administrators, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&absolute, present, dacl, FALSE));
  DWORD length = 0;
  ::MakeSelfRelativeSD(&absolute, nullptr, &length);
  std::vector<unsigned char> others(length);
  ASSERT_TRUE(::MakeSelfRelativeSD(&absolute, others.data(), &length));
  const std::vector<unsigned char> none;
  const struct {
    const char* label;
    const std::vector<unsigned char>* current;
    DWORD expected;
  } kCases[] = {
      {"read again", nullptr, ERROR_SUCCESS},
      {"its own read before", &own, ERROR_SUCCESS},
      {"none read", &none, ERROR_ACCESS_DENIED},
      {"another owner read", &others, ERROR_ACCESS_DENIED},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.label);
    EXPECT_EQ(test_case.expected,
              test_case.current
                  ? HeldFolder::GiveSecurity(no_owner.Get(), given,
                                             *test_case.current)
                  : HeldFolder::GiveSecurity(no_owner.Get(), given));
  }
}

}  // namespace
}  // namespace base
