#include "desktop/windows/installer/signing/der_walker.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/signed_message.h"
#include "desktop/windows/installer/test/der_builder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using der_builder::Bytes;
using der_builder::Tlv;
using der_builder::Cat;
using der_builder::Seq;
using der_builder::Set;
using der_builder::Oid;
using Fault = DerWalker::Fault;

Bytes Explicit0(const Bytes& inner) { return Tlv(0xA0, inner); }
Bytes TextBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

const Bytes kSignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kIndirectDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const Bytes kPeImageDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
const Bytes kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

const Bytes kKeyUsageOid = {0x55, 0x1D, 0x0F};
// The key usage of a signing certificate, digital signature only.
const Bytes kKeyUsageValue = {0x03, 0x02, 0x07, 0x80};

// A certificate's frame with one critical extension.
Bytes Certificate(const Bytes& extension_type,
                  const Bytes& signature_value = {0, 1},
                  const Bytes& extension_value = kKeyUsageValue) {
  const Bytes algorithm = Seq({Oid(kSha256Oid), Tlv(0x05, {})});
  const Bytes time = Tlv(0x17, TextBytes("250101000000Z"));
  const Bytes extension = Seq(
      {Oid(extension_type), Tlv(0x01, {0xFF}), Tlv(0x04, extension_value)});
  const Bytes tbs = Seq({Tlv(0xA0, Tlv(0x02, {2})), Tlv(0x02, {7}), algorithm,
                         Seq({}), Seq({time, time}), Seq({}),
                         Seq({algorithm, Tlv(0x03, {0, 0x30, 0x00})}),
                         Tlv(0xA3, Seq({extension}))});
  return Seq({tbs, algorithm, Tlv(0x03, signature_value)});
}

// An Authenticode signature's frame, without signers: the content type,
// the signed data, the indirect data carrying the image digest, and the
// certificates. An empty content type crashes Wine's decoder as it opens
// the message; an empty extension type in a signer's certificate crashed it
// once that certificate was read and its chain built.
Bytes Signature(const Bytes& content_type = kSignedDataOid,
                const Bytes& indirect_type = kIndirectDataOid,
                const Bytes& certificate = Certificate(kKeyUsageOid)) {
  const Bytes algorithm = Seq({Oid(kSha256Oid), Tlv(0x05, {})});
  const Bytes indirect = Seq({Seq({Oid(kPeImageDataOid), Seq({})}),
                              Seq({algorithm, Tlv(0x04, Bytes(32, 0xAB))})});
  const Bytes signed_data =
      Seq({Tlv(0x02, {1}), Set({algorithm}),
           Seq({Oid(indirect_type), Explicit0(indirect)}),
           Tlv(0xA0, certificate), Set({})});
  return Seq({Oid(content_type), Explicit0(signed_data)});
}

// A signature frame whose signed data holds `fields`, by letter: version,
// digest algorithms, content, certificates ("x"), signer infos.
Bytes SignatureOfFields(const std::string& fields) {
  const Bytes algorithm = Seq({Oid(kSha256Oid), Tlv(0x05, {})});
  const struct {
    char letter;
    Bytes field;
  } kFields[] = {
      {'v', Tlv(0x02, {1})},
      {'d', Set({algorithm})},
      {'c', Seq({Oid(kIndirectDataOid)})},
      {'x', Tlv(0xA0, Certificate(kKeyUsageOid))},
      {'s', Set({})},
  };
  Bytes signed_data;
  for (const char letter : fields) {
    for (const auto& known : kFields) {
      if (known.letter == letter)
        signed_data = Cat({signed_data, known.field});
    }
  }
  return Seq({Oid(kSignedDataOid), Explicit0(Tlv(0x30, signed_data))});
}

Bytes Nested(int depth) {
  Bytes inner = Tlv(0x05, {});
  for (int i = 1; i < depth; ++i)
    inner = Seq({inner});
  return inner;
}

Bytes With(Bytes bytes, std::initializer_list<uint8_t> tail) {
  bytes.insert(bytes.end(), tail);
  return bytes;
}

struct ShapeCase {
  const char* name;
  Bytes der;
  Fault fault;
};

std::vector<ShapeCase> ShapeCases() {
  const Bytes signature = Signature();
  return {
      {"signature frame", signature, Fault::kNone},
      {"padded to eight bytes", With(signature, {0, 0, 0, 0, 0, 0, 0}),
       Fault::kNone},
      {"arc of 32 bits", Oid({0x2A, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}), Fault::kNone},
      {"deepest nesting", Nested(DerWalker::kMaxDepth), Fault::kNone},
      {"empty content type", Signature({}), Fault::kMalformedObjectIdentifier},
      {"empty indirect data type", Signature(kSignedDataOid, {}),
       Fault::kMalformedObjectIdentifier},
      {"empty certificate extension type",
       Signature(kSignedDataOid, kIndirectDataOid, Certificate({})),
       Fault::kMalformedObjectIdentifier},
      // A fuzz case well formed but for this crashed Wine's decoder.
      {"certificate signed with an empty bit string",
       Signature(kSignedDataOid, kIndirectDataOid,
                 Certificate(kKeyUsageOid, {})),
       Fault::kMalformedValue},
      // Read when a chain is built: a fuzz case with a key usage of no
      // byte but its count of unused bits, the next element cut, crashed
      // Wine's decoder.
      {"key usage of no byte", Signature(kSignedDataOid, kIndirectDataOid,
                                        Certificate(kKeyUsageOid, {0, 1},
                                                    {0x03, 0x01, 0x01, 0x06})),
       Fault::kMalformedValue},
      // Well formed, but a chain built through it ended the process under
      // Wine: the rules of the extension's type refuse it.
      {"key usage holding no bit",
       Signature(kSignedDataOid, kIndirectDataOid,
                 Certificate(kKeyUsageOid, {0, 1}, {0x03, 0x01, 0x00})),
       Fault::kDisallowedExtension},
      {"extension value followed by bytes",
       Signature(kSignedDataOid, kIndirectDataOid,
                 Certificate(kKeyUsageOid, {0, 1}, With(kKeyUsageValue, {0}))),
       Fault::kTrailingBytes},
      {"extension value not encoded",
       Signature(kSignedDataOid, kIndirectDataOid,
                 Certificate(kKeyUsageOid, {0, 1}, {0xFF, 0xFF})),
       Fault::kHighTagNumber},
      {"bit string leaving bits of no byte unused", Tlv(0x03, {1}),
       Fault::kMalformedValue},
      {"bit string leaving eight bits unused", Tlv(0x03, {8, 0}),
       Fault::kMalformedValue},
      {"bit string of one byte", Tlv(0x03, {7, 0x80}), Fault::kNone},
      {"empty integer", Seq({Tlv(0x02, {})}), Fault::kMalformedValue},
      {"boolean of two bytes", Tlv(0x01, {0, 0}), Fault::kMalformedValue},
      {"null with contents", Tlv(0x05, {0}), Fault::kMalformedValue},
      {"object identifier ending inside an arc", Oid({0x2A, 0x86}),
       Fault::kMalformedObjectIdentifier},
      {"padded arc", Oid({0x2A, 0x80, 0x01}), Fault::kMalformedObjectIdentifier},
      {"arc beyond 32 bits", Oid({0x2A, 0x90, 0x80, 0x80, 0x80, 0x00}),
       Fault::kMalformedObjectIdentifier},
      {"arc of six bytes", Oid({0x2A, 0x81, 0x80, 0x80, 0x80, 0x80, 0x00}),
       Fault::kMalformedObjectIdentifier},
      {"too deep", Nested(DerWalker::kMaxDepth + 1), Fault::kTooDeep},
      {"indefinite length", {0x30, 0x80, 0x05, 0x00, 0x00, 0x00},
       Fault::kUnsupportedLength},
      {"five length bytes", {0x04, 0x85, 0, 0, 0, 0, 1, 0},
       Fault::kUnsupportedLength},
      {"length past the end", {0x04, 0x82, 0x01, 0x00, 0x00},
       Fault::kTruncated},
      {"length bytes past the end", {0x04, 0x84, 0x01}, Fault::kTruncated},
      {"child past its parent", {0x30, 0x03, 0x04, 0x05, 0x00, 0x00, 0x00},
       Fault::kTruncated},
      {"half an element inside", {0x30, 0x01, 0x04}, Fault::kTruncated},
      {"empty", {}, Fault::kTruncated},
      {"tag of several bytes", {0x30, 0x03, 0x1F, 0x81, 0x00},
       Fault::kHighTagNumber},
      {"eight bytes of padding", With(signature, {0, 0, 0, 0, 0, 0, 0, 0}),
       Fault::kTrailingBytes},
      {"data after the signature", Cat({signature, TextBytes("TRV")}),
       Fault::kTrailingBytes},
  };
}

TEST(DerWalkerTest, FindsTheFirstFaultOfEachShape) {
  for (const ShapeCase& test : ShapeCases()) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(DerWalker::Check(test.der), test.fault)
        << DerWalker::Describe(DerWalker::Check(test.der));
  }
}

// Each malformed shape is refused before the platform's decoder sees it:
// under Wine some of them would end this process.
TEST(OpenSignedMessageTest, RefusesMalformedShapesBeforeDecoding) {
  for (const ShapeCase& test : ShapeCases()) {
    if (test.fault == Fault::kNone || test.der.empty())
      continue;
    SCOPED_TRACE(test.name);
    ScopedCertStore store;
    ScopedCryptMsg message;
    DWORD encoding = 0;
    EXPECT_EQ(OpenSignedMessage(test.der, &store, &message, &encoding),
              static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  }
  ScopedCertStore store;
  ScopedCryptMsg message;
  DWORD encoding = 0;
  EXPECT_EQ(OpenSignedMessage(Signature(), &store, &message, &encoding), 0u);
}

// Well formed DER, but a field of the signed data missing, out of its
// place or unknown: the platform's decoder takes the first for whole.
TEST(OpenSignedMessageTest, RefusesSignedDataWithoutEachFieldInItsPlace) {
  struct {
    const char* fields;
    bool opened;
  } cases[] = {
      {"vdcxs", true},   {"vdcs", true},   {"vcxs", false},
      {"vdxs", false},   {"vdcx", false},  {"vdcsx", false},
      {"vdcxss", false}, {"dcxs", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.fields);
    const Bytes signature = SignatureOfFields(test.fields);
    ASSERT_EQ(DerWalker::Check(signature), Fault::kNone);
    ScopedCertStore store;
    ScopedCryptMsg message;
    DWORD encoding = 0;
    const DWORD error =
        OpenSignedMessage(signature, &store, &message, &encoding);
    EXPECT_EQ(error,
              test.opened ? 0u : static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  }
}

}  // namespace
}  // namespace installer
