#include "base/win/inherited_security.h"

#include <sddl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes FromText(const std::wstring& text) {
  ScopedLocalAlloc<void> descriptor;
  ULONG size = 0;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          text.c_str(), SDDL_REVISION_1, descriptor.Receive(), &size)) {
    return {};
  }
  const auto* bytes = static_cast<const unsigned char*>(descriptor.Get());
  return Bytes(bytes, bytes + size);
}

// The owner and list, in the descriptor language.
std::wstring ToText(const Bytes& descriptor) {
  ScopedLocalAlloc<wchar_t> text;
  if (descriptor.empty() ||
      !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          const_cast<unsigned char*>(descriptor.data()), SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          text.Receive(), nullptr)) {
    return L"<none>";
  }
  return text.Get();
}

// Written as read back, so that both sides are spelled alike.
std::wstring Normalized(const std::wstring& text) {
  return ToText(FromText(text));
}

// Windows' rules, one kind of entry of the parent's list at a time: what
// a folder and a file made in it get, and a folder and a file made in
// that folder (two levels down). The creator (the administrators' owner,
// its default list) shows where nothing is passed on.
TEST(InheritedSecurityTest, EachKindOfEntryReachesTheLevelsAndKindsItNames) {
  const std::wstring kDefault = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)";
  const Bytes creator = FromText(L"O:BAG:SYD:(A;;FA;;;SY)(A;;FA;;;BA)");
  const struct {
    const char* label;
    const wchar_t* parent;
    // A folder, a file, a folder in the folder, a file in the folder.
    const wchar_t* folder;
    const wchar_t* file;
    const wchar_t* folder_below;
    const wchar_t* file_below;
  } kCases[] = {
      {"to folders", L"D:P(A;CI;FA;;;WD)", L"O:BAD:AI(A;CIID;FA;;;WD)",
       kDefault.c_str(), L"O:BAD:AI(A;CIID;FA;;;WD)", kDefault.c_str()},
      {"to files", L"D:P(A;OI;FA;;;WD)", L"O:BAD:AI(A;OIIOID;FA;;;WD)",
       L"O:BAD:AI(A;ID;FA;;;WD)", L"O:BAD:AI(A;OIIOID;FA;;;WD)",
       L"O:BAD:AI(A;ID;FA;;;WD)"},
      {"to both", L"D:P(A;OICI;0x1200a9;;;BU)",
       L"O:BAD:AI(A;OICIID;0x1200a9;;;BU)", L"O:BAD:AI(A;ID;0x1200a9;;;BU)",
       L"O:BAD:AI(A;OICIID;0x1200a9;;;BU)", L"O:BAD:AI(A;ID;0x1200a9;;;BU)"},
      {"not on the folder itself", L"D:P(A;OICIIO;FA;;;WD)",
       L"O:BAD:AI(A;OICIID;FA;;;WD)", L"O:BAD:AI(A;ID;FA;;;WD)",
       L"O:BAD:AI(A;OICIID;FA;;;WD)", L"O:BAD:AI(A;ID;FA;;;WD)"},
      {"one level only", L"D:P(A;OICINP;FA;;;WD)", L"O:BAD:AI(A;ID;FA;;;WD)",
       L"O:BAD:AI(A;ID;FA;;;WD)", kDefault.c_str(), kDefault.c_str()},
      {"files of the first level only", L"D:P(A;OINP;FA;;;WD)",
       kDefault.c_str(), L"O:BAD:AI(A;ID;FA;;;WD)", kDefault.c_str(),
       kDefault.c_str()},
      {"folder's own entry", L"D:P(A;;FA;;;WD)", kDefault.c_str(),
       kDefault.c_str(), kDefault.c_str(), kDefault.c_str()},
      // Applied: the creator's own owner and the rights spelled out; the
      // entry that passes on stays as it was, apart.
      {"creator owner, generic rights", L"D:P(A;OICIIO;GA;;;CO)",
       L"O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)", L"O:BAD:AI(A;ID;FA;;;BA)",
       L"O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)",
       L"O:BAD:AI(A;ID;FA;;;BA)"},
      {"denial kept first", L"D:P(D;OICI;FA;;;BG)(A;OICI;FA;;;WD)",
       L"O:BAD:AI(D;OICIID;FA;;;BG)(A;OICIID;FA;;;WD)",
       L"O:BAD:AI(D;ID;FA;;;BG)(A;ID;FA;;;WD)",
       L"O:BAD:AI(D;OICIID;FA;;;BG)(A;OICIID;FA;;;WD)",
       L"O:BAD:AI(D;ID;FA;;;BG)(A;ID;FA;;;WD)"},
      {"no list at all", L"O:SY", kDefault.c_str(), kDefault.c_str(),
       kDefault.c_str(), kDefault.c_str()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const Bytes parent = FromText(std::wstring(L"O:SYG:SY") +
                                  (c.parent[0] == L'O' ? L"" : c.parent));
    ASSERT_FALSE(parent.empty());
    for (const wchar_t* expected :
         {c.folder, c.file, c.folder_below, c.file_below}) {
      ASSERT_NE(L"<none>", Normalized(expected)) << expected;
    }
    const Bytes folder = InheritedSecurity(parent, true, creator);
    EXPECT_EQ(Normalized(c.folder), ToText(folder));
    EXPECT_EQ(Normalized(c.file),
              ToText(InheritedSecurity(parent, false, creator)));
    EXPECT_EQ(Normalized(c.folder_below),
              ToText(InheritedSecurity(folder, true, creator)));
    EXPECT_EQ(Normalized(c.file_below),
              ToText(InheritedSecurity(folder, false, creator)));
  }
}

TEST(InheritedSecurityTest, RefusesWhatIsNoDescriptor) {
  const Bytes creator = FromText(L"O:BAG:SYD:(A;;FA;;;SY)");
  const Bytes parent = FromText(L"O:SYG:SYD:(A;OICI;FA;;;WD)");
  EXPECT_TRUE(InheritedSecurity({}, true, creator).empty());
  EXPECT_TRUE(InheritedSecurity(parent, true, {}).empty());
  EXPECT_TRUE(InheritedSecurity(Bytes(20, 0xff), false, creator).empty());
  // A creator without an owner has none to give.
  EXPECT_TRUE(InheritedSecurity(parent, false, FromText(L"G:SYD:(A;;FA;;;SY)"))
                  .empty());
  EXPECT_FALSE(ReadCreatorSecurity().empty());
}

}  // namespace
}  // namespace base::win
