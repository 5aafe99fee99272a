#include "desktop/windows/installer/signing/publisher_roots.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/test/signed_test_images.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Der = std::vector<uint8_t>;

ScopedCertContext Decode(const Der& der) {
  return ScopedCertContext(::CertCreateCertificateContext(
      X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

// The chain the engine builds for `leaf` with the CAs at hand, as a
// signature carries them; trusted or not.
ScopedCertChain BuildChain(const std::wstring& leaf) {
  ScopedCertStore cas(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0,
                                      nullptr));
  for (const wchar_t* ca : {L"ca", L"rogue_ca"}) {
    const Der der = SignedTestImages::Certificate(ca);
    EXPECT_TRUE(::CertAddEncodedCertificateToStore(
        cas.Get(), X509_ASN_ENCODING, der.data(),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, nullptr));
  }
  const ScopedCertContext certificate =
      Decode(SignedTestImages::Certificate(leaf));
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof(para);
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  EXPECT_TRUE(::CertGetCertificateChain(nullptr, certificate.get(), nullptr,
                                        cas.Get(), &para, 0, nullptr, &chain));
  return ScopedCertChain(chain);
}

PublisherRoots RootsOf(const std::vector<std::wstring>& names) {
  std::vector<Der> roots;
  for (const std::wstring& name : names)
    roots.push_back(SignedTestImages::Certificate(name));
  const std::vector<std::span<const uint8_t>> encoded(roots.begin(),
                                                       roots.end());
  return PublisherRoots::FromEncoded(encoded);
}

// The rogue CA bears the test root's name: only its bytes tell them apart.
TEST(PublisherRootsTest, ChainEndsInARootOnlyWhenItsLastCertificateIsOne) {
  if (!SignedTestImages::Available())
    GTEST_SKIP() << "no signed test images in a release's build";
  const struct {
    const wchar_t* leaf;
    std::vector<std::wstring> roots;
    bool ends;
  } kCases[] = {
      {L"good", {L"ca"}, true},
      {L"renewed", {L"ca"}, true},
      {L"good", {L"rogue_ca", L"ca"}, true},
      {L"rogue", {L"ca"}, false},
      // Whether the machine trusts the root is the chain's status, not this.
      {L"rogue", {L"rogue_ca"}, true},
      {L"good", {L"rogue_ca"}, false},
      // A certificate of the chain that is not its root does not count.
      {L"good", {L"good"}, false},
      {L"good", {}, false},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(std::wstring(test_case.leaf) + L" under " +
                 (test_case.roots.empty() ? L"none" : test_case.roots[0]));
    const PublisherRoots roots = RootsOf(test_case.roots);
    const ScopedCertChain chain = BuildChain(test_case.leaf);
    ASSERT_TRUE(chain);
    EXPECT_EQ(roots.EndsChain(chain.get()), test_case.ends);
  }
  EXPECT_FALSE(RootsOf({L"ca"}).EndsChain(nullptr));
}

}  // namespace
}  // namespace installer
