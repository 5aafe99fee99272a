#include "desktop/windows/installer/signing/subject_name.h"

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/windows/installer/test/der_builder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using der_builder::Bytes;
using der_builder::Tlv;
using der_builder::Cat;

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

const Bytes kCommonName = {0x06, 0x03, 0x55, 0x04, 0x03};
const Bytes kOrganization = {0x06, 0x03, 0x55, 0x04, 0x0A};

Bytes Attribute(const Bytes& type, const Bytes& value) {
  return Tlv(0x30, Cat({type, value}));
}
Bytes Rdn(std::initializer_list<Bytes> attributes) {
  return Tlv(0x31, Cat(attributes));
}
Bytes Name(std::initializer_list<Bytes> rdns) {
  return Tlv(0x30, Cat(rdns));
}
Bytes CommonName(const Bytes& value) {
  return Name({Rdn({Attribute(kCommonName, value)})});
}

struct NameCase {
  const char* name;
  Bytes encoded;
  std::wstring common_name;
};

std::vector<NameCase> NameCases() {
  const Bytes organization =
      Rdn({Attribute(kOrganization, Tlv(0x0C, Text("Tarvo Software")))});
  return {
      {"utf-8", CommonName(Tlv(0x0C, Text("T\xC3\xA4rvo"))), L"T\u00E4rvo"},
      {"printable", CommonName(Tlv(0x13, Text("Tarvo"))), L"Tarvo"},
      {"teletex", CommonName(Tlv(0x14, {'T', 0xE4})), L"T\u00E4"},
      {"bmp", CommonName(Tlv(0x1E, {0x00, 'T', 0x00, 0xE4})), L"T\u00E4"},
      {"universal beyond the first plane",
       CommonName(Tlv(0x1C, {0x00, 0x00, 0x00, 'T', 0x00, 0x01, 0xF6, 0x00})),
       L"T\U0001F600"},
      {"after the organization",
       Name(
           {organization, Rdn({Attribute(kCommonName, Tlv(0x0C, Text("x")))})}),
       L"x"},
      {"first of two",
       Name({Rdn({Attribute(kCommonName, Tlv(0x0C, Text("a")))}),
             Rdn({Attribute(kCommonName, Tlv(0x0C, Text("b")))})}),
       L"a"},
      {"in a set of two",
       Name({Rdn({Attribute(kOrganization, Tlv(0x0C, Text("o"))),
                  Attribute(kCommonName, Tlv(0x0C, Text("c")))})}),
       L"c"},
      // What the platform would have named by an alternative name.
      {"organization only", Name({organization}), L""},
      {"empty name", Name({}), L""},
      {"empty set", Name({Rdn({})}), L""},
      {"no value", Name({Rdn({Tlv(0x30, kCommonName)})}), L""},
      {"two values",
       CommonName(Cat({Tlv(0x0C, Text("a")), Tlv(0x0C, Text("b"))})), L""},
      {"an integer", CommonName({0x02, 0x01, 0x05}), L""},
      {"an octet string", CommonName(Tlv(0x04, Text("x"))), L""},
      {"malformed utf-8", CommonName(Tlv(0x0C, {'a', 0xC0, 0x80})), L""},
      {"printable beyond ascii", CommonName(Tlv(0x13, {'a', 0xE4})), L""},
      {"bmp of an odd size", CommonName(Tlv(0x1E, {0x00, 'T', 0x00})), L""},
      {"universal beyond unicode",
       CommonName(Tlv(0x1C, {0x00, 0x11, 0x00, 0x00})), L""},
      {"a nul inside", CommonName(Tlv(0x0C, {'a', 0x00, 'b'})), L""},
      {"too long",
       CommonName(Tlv(0x0C, Bytes(SubjectName::kMaxCommonNameLength + 1, 'a'))),
       L""},
      {"not a sequence", Tlv(0x31, {}), L""},
      {"cut short", {0x30, 0x05, 0x31, 0x03}, L""},
      {"empty", {}, L""},
  };
}

TEST(SubjectNameTest, ReadsTheCommonNameAlone) {
  for (const NameCase& test : NameCases()) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(SubjectName::CommonName(test.encoded), test.common_name);
  }
}

}  // namespace
}  // namespace installer
