#include "desktop/windows/installer/signing/certificate_extension_rules.h"

#include <cstdint>
#include <vector>

#include "desktop/windows/installer/test/der_builder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using der_builder::Bytes;
using der_builder::Cat;
using der_builder::Seq;

const Bytes kKeyUsage = {0x55, 0x1D, 0x0F};
const Bytes kBasicConstraints = {0x55, 0x1D, 0x13};
const Bytes kLegacyBasicConstraints = {0x55, 0x1D, 0x0A};
const Bytes kExtendedKeyUsage = {0x55, 0x1D, 0x25};
const Bytes kCertificateType = {0x60, 0x86, 0x48, 0x01, 0x86,
                                0xF8, 0x42, 0x01, 0x01};
const Bytes kSubjectAltName = {0x55, 0x1D, 0x11};

const Bytes kCodeSigning = {0x06, 0x08, 0x2B, 0x06, 0x01,
                            0x05, 0x05, 0x07, 0x03, 0x03};

struct RuleCase {
  const char* name;
  Bytes type;
  Bytes value;
  bool holds;
};

std::vector<RuleCase> RuleCases() {
  Bytes many_purposes;
  for (int i = 0; i < 12; ++i)
    many_purposes.insert(many_purposes.end(), kCodeSigning.begin(),
                         kCodeSigning.end());
  return {
      // Key usage: one bit set at least, of the nine it names.
      {"digital signature", kKeyUsage, {0x03, 0x02, 0x07, 0x80}, true},
      {"certificate and list signing",
       kKeyUsage,
       {0x03, 0x02, 0x01, 0x06},
       true},
      {"decipher only, the ninth bit",
       kKeyUsage,
       {0x03, 0x03, 0x07, 0x00, 0x80},
       true},
      {"key usage of no bit", kKeyUsage, {0x03, 0x01, 0x00}, false},
      {"key usage of zero bits", kKeyUsage, {0x03, 0x02, 0x00, 0x00}, false},
      {"key usage set only in unused bits",
       kKeyUsage,
       {0x03, 0x02, 0x07, 0x7F},
       false},
      {"key usage of three bytes",
       kKeyUsage,
       {0x03, 0x04, 0x00, 0x80, 0x00, 0x01},
       false},
      {"key usage not a bit string", kKeyUsage, {0x04, 0x01, 0x80}, false},
      {"key usage followed by bytes",
       kKeyUsage,
       {0x03, 0x02, 0x07, 0x80, 0x00},
       false},
      // Basic constraints: an optional flag and an optional path length.
      {"end entity", kBasicConstraints, Seq({}), true},
      {"end entity spelled out", kBasicConstraints, Seq({{0x01, 0x01, 0x00}}),
       true},
      {"authority", kBasicConstraints, Seq({{0x01, 0x01, 0xFF}}), true},
      {"authority with a path length", kBasicConstraints,
       Seq({{0x01, 0x01, 0xFF}, {0x02, 0x01, 0x00}}), true},
      {"largest path length", kBasicConstraints,
       Seq({{0x01, 0x01, 0xFF}, {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}}), true},
      {"negative path length", kBasicConstraints,
       Seq({{0x01, 0x01, 0xFF}, {0x02, 0x01, 0x80}}), false},
      {"path length beyond 32 bits", kBasicConstraints,
       Seq({{0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}}), false},
      {"path length before the flag", kBasicConstraints,
       Seq({{0x02, 0x01, 0x00}, {0x01, 0x01, 0xFF}}), false},
      {"two flags", kBasicConstraints,
       Seq({{0x01, 0x01, 0xFF}, {0x01, 0x01, 0xFF}}), false},
      {"constraints not a sequence",
       kBasicConstraints,
       {0x01, 0x01, 0xFF},
       false},
      {"constraints of another field", kBasicConstraints, Seq({{0x04, 0x00}}),
       false},
      // The first version's: a subject type, a path length, subtrees.
      {"legacy authority", kLegacyBasicConstraints,
       Seq({{0x03, 0x02, 0x06, 0x80}, {0x02, 0x01, 0x01}, Seq({})}), true},
      {"legacy subject type of no bit", kLegacyBasicConstraints,
       Seq({{0x03, 0x01, 0x00}}), false},
      {"legacy without a subject type", kLegacyBasicConstraints,
       Seq({{0x02, 0x01, 0x01}}), false},
      // Extended key usage: purposes only, one at least.
      {"code signing", kExtendedKeyUsage, Seq({kCodeSigning}), true},
      {"many purposes", kExtendedKeyUsage, Seq({many_purposes}), true},
      {"no purpose", kExtendedKeyUsage, Seq({}), false},
      {"a purpose not an identifier", kExtendedKeyUsage,
       Seq({kCodeSigning, {0x0C, 0x01, 0x41}}), false},
      {"purposes not a sequence", kExtendedKeyUsage, kCodeSigning, false},
      // The certificate type: one byte of bits.
      {"certificate type", kCertificateType, {0x03, 0x02, 0x04, 0x10}, true},
      {"certificate type of no byte",
       kCertificateType,
       {0x03, 0x01, 0x00},
       false},
      // Names have no shape rule: they are never read before a proof but
      // as the common name.
      {"alternative name of a directory name", kSubjectAltName,
       Seq({{0xA4, 0x02, 0x30, 0x00}}), true},
  };
}

TEST(CertificateExtensionRulesTest, HoldsTheShapesTheStandardAllows) {
  for (const RuleCase& test : RuleCases()) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(CertificateExtensionRules::Holds(test.type, test.value),
              test.holds);
  }
}

}  // namespace
}  // namespace installer
