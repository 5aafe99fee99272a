#include "base/win/access_list.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

struct Entry {
  BYTE type;
  BYTE flags;
  ACCESS_MASK mask;
  std::wstring sid;

  auto operator<=>(const Entry&) const = default;
};

std::vector<Entry> EntriesOf(PACL dacl) {
  std::vector<Entry> entries;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw))
      break;
    // Allowed and denied entries share one layout.
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    ScopedLocalAlloc<wchar_t> sid;
    ::ConvertSidToStringSidW(const_cast<DWORD*>(&ace->SidStart),
                             sid.Receive());
    entries.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask,
                       sid ? sid.Get() : L"?"});
  }
  return entries;
}

// The list's entries as the system's own SDDL reader made them.
ScopedLocalAlloc<> ParseDescriptor(const wchar_t* sddl, PACL* dacl) {
  ScopedLocalAlloc<> descriptor;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl, SDDL_REVISION_1, descriptor.Receive(), nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  *dacl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor.Get(), &present, dacl, &defaulted);
  return descriptor;
}

TEST(AccessListTest, AddsAnAllowedEntryBesideTheListsOwn) {
  constexpr wchar_t kUsers[] = L"S-1-5-32-545";
  constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
  const struct {
    const char* name;
    const wchar_t* sddl;  // Null: no list at all.
    DWORD inheritance;
    std::vector<Entry> expected;
  } kCases[] = {
      {"no list", nullptr, NO_INHERITANCE,
       {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ, kUsers}}},
      {"inherited by children", L"D:(A;;FA;;;BA)",
       SUB_CONTAINERS_AND_OBJECTS_INHERIT,
       {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, kAdministrators},
        {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
         FILE_GENERIC_READ, kUsers}}},
      {"a deny entry stays", L"D:(D;;FW;;;BU)",
       NO_INHERITANCE,
       {{ACCESS_DENIED_ACE_TYPE, 0, FILE_GENERIC_WRITE, kUsers},
        {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ, kUsers}}},
  };
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(users);
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    PACL dacl = nullptr;
    ScopedLocalAlloc<> descriptor;
    if (test_case.sddl)
      descriptor = ParseDescriptor(test_case.sddl, &dacl);
    ScopedLocalAlloc<ACL> merged = AddAccessAllowedEntry(
        dacl, users, FILE_GENERIC_READ, test_case.inheritance);
    ASSERT_TRUE(merged);
    // Wine orders the entries otherwise than Windows: compare them as a set.
    std::vector<Entry> entries = EntriesOf(merged.Get());
    std::vector<Entry> expected = test_case.expected;
    std::sort(entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(expected == entries);
  }
}

TEST(AccessListTest, UnknownTrusteeNameGivesNoList) {
  TRUSTEE_W trustee = {};
  ::BuildTrusteeWithNameW(&trustee,
                          const_cast<wchar_t*>(L"no such account 7f3a"));
  EXPECT_FALSE(AddAccessAllowedEntry(nullptr, trustee, GENERIC_READ,
                                     NO_INHERITANCE));
}

// The owner hands its block on without freeing it: the block a move or a
// Release passes on is still the system's valid descriptor.
TEST(ScopedLocalAllocTest, MoveAndReleasePassTheBlockOn) {
  PACL dacl = nullptr;
  ScopedLocalAlloc<> first = ParseDescriptor(L"D:(A;;FA;;;BA)", &dacl);
  void* const block = first.Get();
  ASSERT_TRUE(block);
  ScopedLocalAlloc<> second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(block, second.Get());
  EXPECT_TRUE(::IsValidSecurityDescriptor(second.Get()));
  void* released = second.Release();
  EXPECT_FALSE(second);
  EXPECT_TRUE(::IsValidSecurityDescriptor(released));
  EXPECT_EQ(nullptr, ::LocalFree(released));
}

}  // namespace
}  // namespace base::win
