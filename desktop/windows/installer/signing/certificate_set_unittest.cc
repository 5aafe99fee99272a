#include "desktop/windows/installer/signing/certificate_set.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signed_message.h"
#include "desktop/windows/installer/test/der_builder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using der_builder::Bytes;
using der_builder::Cat;
using der_builder::Oid;
using der_builder::Seq;
using der_builder::Set;
using der_builder::Tlv;

const Bytes kSignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const Bytes kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes kRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const Bytes kCommonNameOid = {0x55, 0x04, 0x03};

Bytes Name(const std::string& common_name) {
  return Seq({Set({Seq({Oid(kCommonNameOid),
                        Tlv(0x0C, Bytes(common_name.begin(),
                                        common_name.end()))})})});
}

Bytes Algorithm(const Bytes& oid) {
  return Seq({Oid(oid), Tlv(0x05, {})});
}

const Bytes kSubjectKeyIdentifierOid = {0x55, 0x1D, 0x0E};

// A certificate of `subject` by "Set Test CA", of serial `serial`, with the
// subject key identifier `key_identifier` unless it is empty: its
// signature is never checked here.
Bytes Certificate(uint8_t serial,
                  const std::string& subject,
                  const Bytes& key_identifier = {}) {
  const Bytes time = Tlv(0x17, {'2', '5', '0', '1', '0', '1', '0', '0', '0',
                                '0', '0', '0', 'Z'});
  const Bytes extensions =
      key_identifier.empty()
          ? Bytes()
          : Tlv(0xA3, Seq({Seq({Oid(kSubjectKeyIdentifierOid),
                                Tlv(0x04, Tlv(0x04, key_identifier))})}));
  const Bytes tbs =
      Seq({Tlv(0xA0, Tlv(0x02, {2})), Tlv(0x02, {serial}),
           Algorithm(kSha256Oid), Name("Set Test CA"), Seq({time, time}),
           Name(subject),
           Seq({Algorithm(kRsaOid), Tlv(0x03, {0, 0x30, 0x00})}),
           extensions});
  return Seq({tbs, Algorithm(kSha256Oid), Tlv(0x03, {0, 1})});
}

// The same element under another tag: an attribute certificate ([1]
// version 1, [2] version 2), the extended form ([0]) or another format
// ([3]) made of the bytes of a plain certificate.
Bytes Retagged(Bytes element, uint8_t tag) {
  element[0] = tag;
  return element;
}

// The identifier of the certificate of serial `serial` by `issuer`.
Bytes IssuerAndSerial(const std::string& issuer, uint8_t serial) {
  return Seq({Name(issuer), Tlv(0x02, {serial})});
}

// A signer named by `signer_id`: by issuer and serial number (version 1)
// or by subject key identifier ([0], version 3).
Bytes SignerInfo(const Bytes& signer_id) {
  const uint8_t version = signer_id[0] == 0x80 ? 3 : 1;
  return Seq({Tlv(0x02, {version}), signer_id, Algorithm(kSha256Oid),
              Algorithm(kRsaOid), Tlv(0x04, Bytes(32, 0x5A))});
}

// Signed data of the signer `signer_id` (the certificate of serial 1)
// whose certificate set holds `choices` (no set when there are none),
// padded with `padding` zeros as a certificate table pads a signature.
Bytes Signature(const std::vector<Bytes>& choices,
                size_t padding = 0,
                const Bytes& signer_id = IssuerAndSerial("Set Test CA", 1)) {
  Bytes set;
  for (const Bytes& choice : choices)
    set = Cat({set, choice});
  const Bytes signed_data =
      Seq({Tlv(0x02, {1}), Set({Algorithm(kSha256Oid)}), Seq({Oid(kDataOid)}),
           choices.empty() ? Bytes() : Tlv(0xA0, set),
           Set({SignerInfo(signer_id)})});
  Bytes signature = Seq({Oid(kSignedDataOid), Tlv(0xA0, signed_data)});
  signature.insert(signature.end(), padding, 0);
  return signature;
}

std::vector<Bytes> PlainOnly(const std::vector<Bytes>& choices) {
  std::vector<Bytes> plain;
  for (const Bytes& choice : choices) {
    if (choice[0] == 0x30)
      plain.push_back(choice);
  }
  return plain;
}

int CountCertificates(HCERTSTORE store) {
  int count = 0;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = ::CertEnumCertificatesInStore(store, certificate)))
    ++count;
  return count;
}

const Bytes kKeyIdentifier(20, 0x4B);
const Bytes kSigner = Certificate(1, "Set Test Signer", kKeyIdentifier);
const Bytes kIssuer = Certificate(2, "Set Test Issuer");
// An attribute certificate's frame: information, algorithm, signature.
const Bytes kAttributeInformation =
    Seq({Tlv(0x02, {1}), Seq({Tlv(0xA0, Seq({Name("Set Test Signer")}))}),
         Algorithm(kSha256Oid), Tlv(0x02, {9}), Seq({})});
const Bytes kAttributeV1 =
    Tlv(0xA1, Cat({kAttributeInformation, Algorithm(kSha256Oid),
                   Tlv(0x03, {0, 7})}));
const Bytes kAttributeV2 =
    Tlv(0xA2, Cat({kAttributeInformation, Algorithm(kSha256Oid),
                   Tlv(0x03, {0, 7})}));
const Bytes kOtherFormat = Tlv(0xA3, Cat({Oid({0x2A, 0x03}), Tlv(0x05, {})}));

struct SetCase {
  const char* name;
  std::vector<Bytes> choices;
  size_t padding;
  // What the opened store holds, and whether the signer is found there.
  int certificates;
  bool signer_found;
};

// Given to Wine's decoder as they are, the sets holding another choice
// opened with no store (an attribute certificate after the certificates)
// or not at all (every other place and choice).
const SetCase kSetCases[] = {
    {"no set", {}, 0, 0, false},
    {"certificates alone", {kSigner, kIssuer}, 0, 2, true},
    {"attribute certificate after them", {kSigner, kIssuer, kAttributeV1}, 0,
     2, true},
    {"second version between them", {kSigner, kAttributeV2, kIssuer}, 0, 2,
     true},
    {"other format first", {kOtherFormat, kSigner, kIssuer}, 0, 2, true},
    {"extended form and both versions",
     {Retagged(kIssuer, 0xA0), kAttributeV1, kSigner, kAttributeV2}, 0, 1,
     true},
    {"padded after the signature", {kSigner, kAttributeV2}, 7, 1, true},
    // Other choices are never read as certificates, whatever they hold.
    {"signer only as an attribute certificate",
     {Retagged(kSigner, 0xA1), kIssuer}, 0, 1, false},
    {"signer only in another format", {Retagged(kSigner, 0xA3)}, 0, 0, false},
};

// The platform's decoder on the signature of `test`: what it opens, and
// whether it finds the signer there.
void ExpectOpenedAsPlain(const SetCase& test, const Bytes& signature) {
  ScopedCertStore store;
  ScopedCryptMsg message;
  DWORD encoding = 0;
  ASSERT_EQ(OpenSignedMessage(signature, &store, &message, &encoding), 0u);
  ASSERT_TRUE(store.IsValid());
  EXPECT_EQ(CountCertificates(store.Get()), test.certificates);
  const ScopedCertContext found =
      FindSignerCertificate(store.Get(), message.Get(), 0);
  EXPECT_EQ(static_cast<bool>(found), test.signer_found);
}

TEST(CertificateSetTest, KeepsPlainCertificatesForTheDecoder) {
  for (const SetCase& test : kSetCases) {
    SCOPED_TRACE(test.name);
    const Bytes signature = Signature(test.choices, test.padding);
    const std::vector<Bytes> plain = PlainOnly(test.choices);
    const std::optional<std::vector<uint8_t>> kept =
        CertificateSet::WithPlainCertificatesOnly(signature);
    if (plain.size() == test.choices.size())
      EXPECT_FALSE(kept);
    else
      EXPECT_EQ(kept, std::optional<Bytes>(Signature(plain)));
    ExpectOpenedAsPlain(test, signature);
  }
}

// The certificate a signer's identifier names is the one taken, compared
// here: the platform's search also takes one whose subject is the named
// issuer, of the same serial number (Wine's does).
TEST(FindSignerCertificateTest, TakesOnlyTheCertificateTheSignerNames) {
  struct {
    const char* name;
    Bytes signer_id;
    bool found;
  } cases[] = {
      {"issuer and serial", IssuerAndSerial("Set Test CA", 1), true},
      {"subject as issuer", IssuerAndSerial("Set Test Signer", 1), false},
      {"another serial", IssuerAndSerial("Set Test CA", 3), false},
      {"key identifier", Tlv(0x80, kKeyIdentifier), true},
      {"another key identifier", Tlv(0x80, Bytes(20, 0x4C)), false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ScopedCertStore store;
    ScopedCryptMsg message;
    DWORD encoding = 0;
    const Bytes signature = Signature({kIssuer, kSigner}, 0, test.signer_id);
    ASSERT_EQ(OpenSignedMessage(signature, &store, &message, &encoding), 0u);
    const ScopedCertContext found =
        FindSignerCertificate(store.Get(), message.Get(), 0);
    ASSERT_EQ(static_cast<bool>(found), test.found);
    if (found) {
      EXPECT_TRUE(std::ranges::equal(
          std::span<const uint8_t>(found->pbCertEncoded, found->cbCertEncoded),
          kSigner));
    }
  }
}

}  // namespace
}  // namespace installer
