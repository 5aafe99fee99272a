#include "desktop/windows/installer/signing/offline_chain.h"

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signed_message.h"

namespace installer {

namespace {

// A time-stamp token, a signature of its own, among a signer's unsigned
// attributes.
constexpr char kTimeStampTokenOid[] = "1.3.6.1.4.1.311.3.3.1";
// A token's signer may carry no token of its own.
constexpr int kMaxTokenDepth = 1;

ScopedCertStore OpenMachineStore(const wchar_t* name) {
  return ScopedCertStore(::CertOpenStore(
      CERT_STORE_PROV_SYSTEM_W, 0, 0,
      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG |
          CERT_STORE_OPEN_EXISTING_FLAG,
      name));
}

// The machine's roots and authorities, opened once for the process on the
// first issuer a signature lacks: opening them reads every certificate they
// hold (under Wine the system's trusted ones too), tens of milliseconds a
// time. A root added later in the run is not seen, and a chain through it
// is refused as incomplete; the installer adds none.
struct MachineStores {
  ScopedCertStore roots = OpenMachineStore(L"Root");
  ScopedCertStore authorities = OpenMachineStore(L"CA");
};

const MachineStores& GetMachineStores() {
  static const MachineStores stores;
  return stores;
}

bool IsSelfIssued(const CERT_INFO& info) {
  return ::CertCompareCertificateName(
      X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&info.Issuer),
      const_cast<CERT_NAME_BLOB*>(&info.Subject));
}

// A certificate named `subject` in one of `stores`, or null.
ScopedCertContext FindBySubject(std::initializer_list<HCERTSTORE> stores,
                                const CERT_NAME_BLOB& subject) {
  for (HCERTSTORE store : stores) {
    if (!store)
      continue;
    if (PCCERT_CONTEXT found = ::CertFindCertificateInStore(
            store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME, &subject,
            nullptr)) {
      return ScopedCertContext(found);
    }
  }
  return nullptr;
}

bool HasType(const CRYPT_ATTRIBUTE& attribute, const char* type) {
  return attribute.pszObjId && std::strcmp(attribute.pszObjId, type) == 0;
}

// Whether the certificate in `store` of the countersigner `encoded` (a DER
// signer information) has every issuer at hand, or is not there to chain.
bool IsCountersignerAtHand(const CRYPT_ATTR_BLOB& encoded,
                           HCERTSTORE store,
                           DWORD encoding) {
  base::win::ScopedLocalAlloc<CMSG_CMS_SIGNER_INFO> countersigner;
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(encoding, CMS_SIGNER_INFO, encoded.pbData,
                             encoded.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             countersigner.Receive(), &size)) {
    return true;
  }
  const ScopedCertContext certificate =
      FindCertificateNamedBy(store, countersigner->SignerId);
  return !certificate || OfflineChain::IsAtHand(certificate.get(), store);
}

}  // namespace

// static
bool OfflineChain::IsAtHand(PCCERT_CONTEXT certificate,
                            HCERTSTORE signature_store) {
  ScopedCertContext current(::CertDuplicateCertificateContext(certificate));
  for (int length = 0; current && length < kMaxLength; ++length) {
    const CERT_INFO& info = *current->pCertInfo;
    if (IsSelfIssued(info))
      return true;
    ScopedCertContext issuer = FindBySubject({signature_store}, info.Issuer);
    if (!issuer) {
      const MachineStores& machine = GetMachineStores();
      issuer = FindBySubject({machine.roots.Get(), machine.authorities.Get()},
                             info.Issuer);
    }
    current = std::move(issuer);
  }
  return false;
}

// static
bool OfflineChain::AreTrustChainsAtHand(std::span<const uint8_t> signature) {
  return AreSignerChainsAtHand(signature, 0);
}

// static
bool OfflineChain::AreSignerChainsAtHand(std::span<const uint8_t> signature,
                                         int depth) {
  ScopedCertStore store;
  ScopedCryptMsg message;
  DWORD encoding = 0;
  std::vector<uint8_t> buffer;
  const CMSG_SIGNER_INFO* info = nullptr;
  if (OpenSignedMessage(signature, &store, &message, &encoding) != 0 ||
      !(info = GetSignerInfo(message.Get(), 0, &buffer))) {
    return true;
  }
  const ScopedCertContext signer =
      FindSignerCertificate(store.Get(), message.Get(), 0);
  if (signer && !IsAtHand(signer.get(), store.Get()))
    return false;
  for (const CRYPT_ATTRIBUTE& attribute : std::span<const CRYPT_ATTRIBUTE>(
           info->UnauthAttrs.rgAttr, info->UnauthAttrs.cAttr)) {
    for (const CRYPT_ATTR_BLOB& value : std::span<const CRYPT_ATTR_BLOB>(
             attribute.rgValue, attribute.cValue)) {
      if (HasType(attribute, szOID_RSA_counterSign) &&
          !IsCountersignerAtHand(value, store.Get(), encoding)) {
        return false;
      }
      if (HasType(attribute, kTimeStampTokenOid) && depth < kMaxTokenDepth &&
          !AreSignerChainsAtHand({value.pbData, value.cbData}, depth + 1)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace installer
