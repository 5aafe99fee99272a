#include "desktop/windows/installer/signing/extended_key_usage.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <vector>

#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
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
using Purpose = ExtendedKeyUsage::Purpose;

const Bytes kCodeSigning =
    Oid({0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03});
const Bytes kTimeStamping =
    Oid({0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x08});
const Bytes kServerAuth = Oid({0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01});
const Bytes kAnyPurpose = Oid({0x55, 0x1D, 0x25, 0x00});
// 1.3.6.1.5.5.7.3.3.1: code signing's identifier with an arc more.
const Bytes kBelowCodeSigning =
    Oid({0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03, 0x01});

struct ListingCase {
  const char* name;
  Bytes value;
  Purpose purpose;
  bool allows;
  bool names;
};

std::vector<ListingCase> ListingCases() {
  return {
      {"code signing", Seq({kCodeSigning}), Purpose::kCodeSigning, true, true},
      {"time stamping", Seq({kTimeStamping}), Purpose::kTimeStamping, true,
       true},
      {"time stamping after another", Seq({kServerAuth, kTimeStamping}),
       Purpose::kTimeStamping, true, true},
      {"any purpose", Seq({kAnyPurpose}), Purpose::kCodeSigning, true, false},
      {"server authentication only", Seq({kServerAuth}),
       Purpose::kCodeSigning, false, false},
      {"an identifier below code signing's", Seq({kBelowCodeSigning}),
       Purpose::kCodeSigning, false, false},
      {"no purpose", Seq({}), Purpose::kCodeSigning, false, false},
      {"bytes after the sequence", Cat({Seq({kCodeSigning}), {0x00}}),
       Purpose::kCodeSigning, false, false},
      {"a purpose that is no identifier",
       Seq({kCodeSigning, Tlv(0x0C, {0x41})}), Purpose::kCodeSigning, false,
       false},
      {"a sequence longer than its value",
       {0x30, 0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03,
        0x03},
       Purpose::kCodeSigning, false, false},
  };
}

TEST(ExtendedKeyUsageTest, ReadsWhatAUsageAllowsAndNames) {
  for (const ListingCase& test : ListingCases()) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(ExtendedKeyUsage::Allows(test.value, test.purpose), test.allows);
    EXPECT_EQ(ExtendedKeyUsage::Names(test.value, test.purpose), test.names);
  }
}

// A certificate that carries one extended key usage extension of each
// value given, and no other extension; its signature is never checked.
Bytes Certificate(const std::vector<Bytes>& usages) {
  const Bytes name = Seq({Set({Seq({Oid({0x55, 0x04, 0x03}),
                                    Tlv(0x0C, {'T', 'e', 's', 't'})})})});
  const Bytes algorithm =
      Seq({Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B}),
           Tlv(0x05, {})});
  const Bytes time = Tlv(0x17, Bytes({'2', '5', '0', '1', '0', '1', '0', '0',
                                      '0', '0', '0', '0', 'Z'}));
  const Bytes key = Seq(
      {Seq({Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}),
            Tlv(0x05, {})}),
       Tlv(0x03, {0x00, 0x30, 0x06, 0x02, 0x01, 0x03, 0x02, 0x01, 0x03})});
  Bytes extensions;
  for (const Bytes& usage : usages) {
    const Bytes extension =
        Seq({Oid({0x55, 0x1D, 0x25}), Tlv(0x04, usage)});
    extensions.insert(extensions.end(), extension.begin(), extension.end());
  }
  Bytes fields = Cat({Tlv(0xA0, Tlv(0x02, {0x02})), Tlv(0x02, {0x01}),
                      algorithm, name, Seq({time, time}), name, key});
  if (!usages.empty())
    fields = Cat({fields, Tlv(0xA3, Tlv(0x30, extensions))});
  return Seq({Tlv(0x30, fields), algorithm, Tlv(0x03, {0x00, 0x01})});
}

// A chain as the engine hands one over, leaf first: only its certificates
// are read.
class AssembledChain {
 public:
  explicit AssembledChain(const std::vector<std::vector<Bytes>>& usages) {
    for (const std::vector<Bytes>& certificate_usages : usages) {
      const Bytes der = Certificate(certificate_usages);
      certificates_.emplace_back(::CertCreateCertificateContext(
          X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    }
    elements_.resize(certificates_.size());
    for (size_t i = 0; i < elements_.size(); ++i) {
      elements_[i].cbSize = sizeof(CERT_CHAIN_ELEMENT);
      elements_[i].pCertContext = certificates_[i].get();
      element_pointers_.push_back(&elements_[i]);
    }
    simple_.cbSize = sizeof(simple_);
    simple_.cElement = static_cast<DWORD>(element_pointers_.size());
    simple_.rgpElement = element_pointers_.data();
    simple_pointer_ = &simple_;
    chain_.cbSize = sizeof(chain_);
    chain_.cChain = 1;
    chain_.rgpChain = &simple_pointer_;
  }

  bool decoded() const {
    for (const ScopedCertContext& certificate : certificates_) {
      if (!certificate)
        return false;
    }
    return true;
  }
  const CERT_CHAIN_CONTEXT& get() const { return chain_; }

 private:
  std::vector<ScopedCertContext> certificates_;
  std::vector<CERT_CHAIN_ELEMENT> elements_;
  std::vector<CERT_CHAIN_ELEMENT*> element_pointers_;
  CERT_SIMPLE_CHAIN simple_ = {};
  CERT_SIMPLE_CHAIN* simple_pointer_ = nullptr;
  CERT_CHAIN_CONTEXT chain_ = {};
};

struct ChainCase {
  const char* name;
  // Each certificate's usage extensions, leaf first; none: no extension.
  std::vector<std::vector<Bytes>> usages;
  Purpose purpose;
  bool allowed;
};

std::vector<ChainCase> ChainCases() {
  const Bytes code_signing = Seq({kCodeSigning});
  const Bytes time_stamping = Seq({kTimeStamping});
  const Bytes server_auth = Seq({kServerAuth});
  const Bytes any_purpose = Seq({kAnyPurpose});
  const Bytes server_and_code_signing = Seq({kServerAuth, kCodeSigning});
  return {
      {"no usage anywhere", {{}, {}, {}}, Purpose::kCodeSigning, true},
      {"code signing under authorities without usage",
       {{code_signing}, {}, {}}, Purpose::kCodeSigning, true},
      {"code signing under any purpose", {{code_signing}, {any_purpose}, {}},
       Purpose::kCodeSigning, true},
      {"code signing under a list that holds it",
       {{code_signing}, {server_and_code_signing}, {}}, Purpose::kCodeSigning,
       true},
      {"code signing under server authentication",
       {{code_signing}, {server_auth}, {}}, Purpose::kCodeSigning, false},
      {"code signing under a root of server authentication",
       {{code_signing}, {}, {server_auth}}, Purpose::kCodeSigning, false},
      {"a leaf of server authentication", {{server_auth}, {}, {}},
       Purpose::kCodeSigning, false},
      {"a leaf of no usage under server authentication",
       {{}, {server_auth}, {}}, Purpose::kCodeSigning, false},
      {"an authority with its usage twice",
       {{code_signing}, {code_signing, code_signing}, {}},
       Purpose::kCodeSigning, false},
      {"an authority with a malformed usage",
       {{code_signing}, {Seq({})}, {}}, Purpose::kCodeSigning, false},
      {"time stamping under time stamping",
       {{time_stamping}, {time_stamping}, {}}, Purpose::kTimeStamping, true},
      {"time stamping under code signing",
       {{time_stamping}, {code_signing}, {}}, Purpose::kTimeStamping, false},
  };
}

TEST(ExtendedKeyUsageTest, ChainAllowsOnlyWhatEveryCertificateAllows) {
  for (const ChainCase& test : ChainCases()) {
    SCOPED_TRACE(test.name);
    const AssembledChain chain(test.usages);
    ASSERT_TRUE(chain.decoded());
    EXPECT_EQ(ExtendedKeyUsage::ChainStatus(chain.get(), test.purpose),
              test.allowed ? CERT_TRUST_NO_ERROR
                           : CERT_TRUST_IS_NOT_VALID_FOR_USAGE);
  }
}

}  // namespace
}  // namespace installer
