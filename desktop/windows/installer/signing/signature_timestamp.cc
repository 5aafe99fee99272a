#include "desktop/windows/installer/signing/signature_timestamp.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "base/log_message.h"
#include "base/strings/string_format.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/signing/authenticode_digest.h"
#include "desktop/windows/installer/signing/der_reader.h"
#include "desktop/windows/installer/signing/der_walker.h"
#include "desktop/windows/installer/signing/extended_key_usage.h"
#include "desktop/windows/installer/signing/offline_chain.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/scoped_crypt_provider.h"
#include "desktop/windows/installer/signing/signed_message.h"
#include "desktop/windows/installer/signing/signer_proof.h"
#include "desktop/windows/installer/signing/timestamp_token_info.h"

namespace installer {

namespace {

using Fault = SignatureTimestamp::Fault;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kTimestampTokenOid[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kCountersignatureOid[] = "1.2.840.113549.1.9.6";
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
constexpr char kLifetimeSigningOid[] = "1.3.6.1.4.1.311.10.3.13";
// The DER of id-ct-TSTInfo, 1.2.840.113549.1.9.16.1.4.
constexpr uint8_t kTokenInfoType[] = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                      0x0D, 0x01, 0x09, 0x10, 0x01, 0x04};
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kAuthenticatedAttributes = 0xA0;
// A signer carries one time-stamp; a few more are tried, no more, since
// each costs a signature check and a chain.
constexpr int kMaxTimestamps = 4;

struct FaultText {
  Fault fault;
  const char* text;
};

constexpr FaultText kFaultTexts[] = {
    {Fault::kNoTimestamp, "the signature carries no time-stamp"},
    {Fault::kLifetimeSigning, "the certificate is for lifetime signing"},
    {Fault::kMalformed, "time-stamp not used: it cannot be read"},
    {Fault::kNoCertificate,
     "time-stamp not used: its signer's certificate is missing"},
    {Fault::kSignatureInvalid,
     "time-stamp not used: its signature does not verify"},
    {Fault::kContentNotCovered,
     "time-stamp not used: its signature does not cover its content"},
    {Fault::kNotTokenInfo,
     "time-stamp not used: its signer did not sign a token info"},
    {Fault::kUnsupportedDigest,
     "time-stamp not used: unsupported digest algorithm"},
    {Fault::kImprintMismatch,
     "time-stamp not used: it stamps another signature"},
    {Fault::kNotForTimeStamping,
     "time-stamp not used: its signer's certificate is not for time "
     "stamping"},
    {Fault::kChainUnbuildable,
     "time-stamp not used: its signer's chain cannot be built"},
    {Fault::kChainUntrusted,
     "time-stamp not used: its signer's chain is not trusted"},
    {Fault::kAfterNow, "time-stamp not used: its time is after the present"},
};

// A time-stamp's proof: its time, or why it does not hold.
struct Stamp {
  Fault fault = Fault::kNone;
  DWORD error = 0;
  FILETIME time = {};

  bool holds() const { return fault == Fault::kNone; }
};

Stamp Failure(Fault fault, DWORD error = 0) {
  return Stamp{fault, error, {}};
}

bool MatchesOid(const char* oid, const char* wanted) {
  return oid && std::strcmp(oid, wanted) == 0;
}

// The digest of `bytes` with the algorithm of `oid`; false when the
// algorithm is not one of ours or hashing fails.
bool DigestWith(const char* oid,
                std::span<const uint8_t> bytes,
                std::vector<uint8_t>* digest) {
  const ALG_ID algorithm = DigestAlgorithmOf(oid);
  return algorithm && ComputeDigest(algorithm, {&bytes, 1}, digest);
}

// Whether the signed digest among `attributes` is the digest of `bytes`,
// with the algorithm of `oid`.
Stamp CheckSignedDigest(const CRYPT_ATTRIBUTES& attributes,
                        const char* oid,
                        std::span<const uint8_t> bytes,
                        Fault mismatch) {
  std::vector<uint8_t> signed_digest;
  if (!GetSignedMessageDigest(attributes, &signed_digest))
    return Failure(Fault::kMalformed);
  std::vector<uint8_t> digest;
  if (!DigestWith(oid, bytes, &digest))
    return Failure(Fault::kUnsupportedDigest);
  return digest == signed_digest ? Stamp() : Failure(mismatch);
}

bool ToFileTime(const StampTime& stamp_time, FILETIME* time) {
  SYSTEMTIME system_time = {};
  system_time.wYear = stamp_time.year;
  system_time.wMonth = stamp_time.month;
  system_time.wDay = stamp_time.day;
  system_time.wHour = stamp_time.hour;
  system_time.wMinute = stamp_time.minute;
  system_time.wSecond = stamp_time.second;
  return ::SystemTimeToFileTime(&system_time, time);
}

bool IsAfterNow(const FILETIME& time) {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  return ::CompareFileTime(&time, &now) > 0;
}

// The time-stamping authority's chain, as the machine judges it at the
// stamped time: its certificate for time stamping, to a root of the
// machine (whose engine trusts none of the user's own roots), without any
// error, no authority above it excluding time stamping. A time after the
// present proves nothing: a chain judged then holds for a certificate that
// has not begun yet. No clock skew is allowed: a stamp refused only moves
// the judgement to now, the same verdict for a signature stamped moments
// ago unless its certificate begins or ends within them.
Stamp ProveChain(PCCERT_CONTEXT certificate,
                 HCERTSTORE store,
                 const FILETIME& time) {
  if (IsAfterNow(time))
    return Failure(Fault::kAfterNow);
  // The chain engine takes a certificate without the usage for one of
  // every use; an authority's must name it.
  if (!ExtendedKeyUsage::CertificateNames(
          certificate, ExtendedKeyUsage::Purpose::kTimeStamping)) {
    return Failure(Fault::kNotForTimeStamping);
  }
  LPSTR time_stamping = const_cast<LPSTR>(szOID_PKIX_KP_TIMESTAMP_SIGNING);
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = &time_stamping;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  FILETIME chain_time = time;
  if (!OfflineChain::IsAtHand(certificate, store))
    return Failure(Fault::kChainUnbuildable, CERT_E_CHAINING);
  if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate, &chain_time,
                                 store, &chain_para, OfflineChain::kChainFlags,
                                 nullptr, &built)) {
    return Failure(Fault::kChainUnbuildable, ::GetLastError());
  }
  const ScopedCertChain chain(built);
  // Wine's time-stamping chain policy is not implemented: the status says
  // it all, the partial chain and the untrusted root included, once it
  // holds the usages along the chain, which Wine's engine does not
  // intersect.
  const DWORD status = chain->TrustStatus.dwErrorStatus |
                       ExtendedKeyUsage::ChainStatus(
                           *chain, ExtendedKeyUsage::Purpose::kTimeStamping);
  if (status != CERT_TRUST_NO_ERROR)
    return Failure(Fault::kChainUntrusted, status);
  Stamp stamp;
  stamp.time = time;
  return stamp;
}

// An RFC 3161 token: signed data whose content, the token info, states the
// time and the imprint, the digest of the signature value it stamps.
Stamp ProveToken(std::span<const uint8_t> token,
                 std::span<const uint8_t> signature_value) {
  const std::optional<TimestampTokenInfo> info =
      TimestampTokenInfo::FromToken(token);
  if (!info)
    return Failure(Fault::kMalformed);
  ScopedCertStore store;
  ScopedCryptMsg message;
  DWORD encoding = 0;
  if (const DWORD error = OpenSignedMessage(token, &store, &message, &encoding))
    return Failure(Fault::kMalformed, error);
  DWORD count = 0;
  DWORD count_size = sizeof(count);
  std::vector<uint8_t> buffer;
  const CMSG_SIGNER_INFO* signer = nullptr;
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &count,
                          &count_size)) {
    return Failure(Fault::kMalformed, ::GetLastError());
  }
  // A token has one signer, the authority.
  if (count != 1)
    return Failure(Fault::kMalformed);
  if (!(signer = GetSignerInfo(message.Get(), 0, &buffer)))
    return Failure(Fault::kMalformed, ::GetLastError());
  const ScopedCertContext certificate =
      FindSignerCertificate(store.Get(), message.Get(), 0);
  if (!certificate)
    return Failure(Fault::kNoCertificate);
  const SignerProof proof =
      VerifySignerSignature(message.Get(), 0, certificate.get());
  if (!proof.holds())
    return Failure(Fault::kSignatureInvalid, proof.error);
  // The signed content type, not the eContentType beside it that nothing
  // covers (the token info's reader held that to the same): else anything
  // the authority signs, such as the older protocol's reply over bytes the
  // requester chose, would pass for a token of the time written into them.
  if (!SignsContentType(signer->AuthAttrs, kTokenInfoType))
    return Failure(Fault::kNotTokenInfo);
  // Wine's signature check does not compare the signed digest with the
  // content: a genuine token's signature would vouch for any token info.
  Stamp stamp =
      CheckSignedDigest(signer->AuthAttrs, signer->HashAlgorithm.pszObjId,
                        info->encoded(), Fault::kContentNotCovered);
  if (!stamp.holds())
    return stamp;
  std::vector<uint8_t> imprint;
  if (!DigestWith(info->imprint_algorithm().c_str(), signature_value,
                  &imprint)) {
    return Failure(Fault::kUnsupportedDigest);
  }
  if (!std::equal(imprint.begin(), imprint.end(), info->imprint().begin(),
                  info->imprint().end())) {
    return Failure(Fault::kImprintMismatch);
  }
  FILETIME time = {};
  if (!ToFileTime(info->time(), &time))
    return Failure(Fault::kMalformed, ::GetLastError());
  return ProveChain(certificate.get(), store.Get(), time);
}

// The signing time among a countersignature's authenticated attributes.
bool GetSigningTime(const CRYPT_ATTRIBUTES& attributes, FILETIME* time) {
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
    if (!MatchesOid(attribute.pszObjId, kSigningTimeOid) ||
        attribute.cValue != 1) {
      continue;
    }
    const std::optional<StampTime> stamp_time = TimestampTokenInfo::ReadTime(
        {attribute.rgValue[0].pbData, attribute.rgValue[0].cbData});
    return stamp_time && ToFileTime(*stamp_time, time);
  }
  return false;
}

// What a signer info's signature signs: its authenticated attributes as
// encoded, the implicit tag turned into a SET's.
std::vector<uint8_t> SignedAttributes(std::span<const uint8_t> signer_info) {
  DerReader outer(signer_info);
  const std::optional<DerReader::Element> sequence = outer.Next(kSequence);
  if (!sequence)
    return {};
  DerReader fields(sequence->contents);
  const std::optional<DerReader::Element> attributes =
      fields.Find(kAuthenticatedAttributes);
  if (!attributes)
    return {};
  std::vector<uint8_t> encoded(attributes->encoded.begin(),
                               attributes->encoded.end());
  encoded[0] = kSet;
  return encoded;
}

// The countersignature's signature over its authenticated attributes, by
// CryptoAPI: Wine's CryptMsgVerifyCountersignatureEncodedEx returns FALSE
// for a genuine countersignature and a forged one alike.
DWORD VerifyCountersignerSignature(std::span<const uint8_t> encoded,
                                   const CMSG_CMS_SIGNER_INFO& countersigner,
                                   PCCERT_CONTEXT certificate) {
  const std::vector<uint8_t> attributes = SignedAttributes(encoded);
  const ALG_ID algorithm =
      DigestAlgorithmOf(countersigner.HashAlgorithm.pszObjId);
  const std::span<const uint8_t> signed_bytes(attributes);
  std::vector<uint8_t> digest;
  if (attributes.empty() || !algorithm ||
      !ComputeDigest(algorithm, {&signed_bytes, 1}, &digest)) {
    return static_cast<DWORD>(NTE_BAD_SIGNATURE);
  }
  ScopedCryptProvider provider;
  ScopedCryptKey key;
  ScopedCryptHash hash;
  // CryptoAPI takes a signature least significant byte first.
  const CRYPT_DATA_BLOB& value = countersigner.EncryptedHash;
  std::vector<uint8_t> signature(value.pbData, value.pbData + value.cbData);
  std::reverse(signature.begin(), signature.end());
  if (!provider.Acquire() ||
      !key.Import(provider.Get(),
                  certificate->pCertInfo->SubjectPublicKeyInfo) ||
      !hash.Create(provider.Get(), algorithm) ||
      !::CryptSetHashParam(hash.Get(), HP_HASHVAL, digest.data(), 0) ||
      !::CryptVerifySignatureW(hash.Get(), signature.data(),
                               static_cast<DWORD>(signature.size()), key.Get(),
                               nullptr, 0)) {
    return ::GetLastError();
  }
  return 0;
}

// Authenticode's first time-stamp: a signer info that countersigns the
// signature value, its certificate among the signature's own.
Stamp ProveCountersignature(std::span<const uint8_t> encoded,
                            std::span<const uint8_t> signature_value,
                            HCERTSTORE store) {
  // The value was walked with the signature that holds it; walked again
  // here so that this check stands on its own.
  base::win::ScopedLocalAlloc<CMSG_CMS_SIGNER_INFO> countersigner;
  DWORD size = 0;
  if (DerWalker::Check(encoded) != DerWalker::Fault::kNone ||
      !::CryptDecodeObjectEx(kEncoding, CMS_SIGNER_INFO, encoded.data(),
                             static_cast<DWORD>(encoded.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             countersigner.Receive(), &size)) {
    return Failure(Fault::kMalformed, ::GetLastError());
  }
  const ScopedCertContext certificate =
      FindCertificateNamedBy(store, countersigner->SignerId);
  if (!certificate)
    return Failure(Fault::kNoCertificate);
  Stamp stamp = CheckSignedDigest(countersigner->AuthAttrs,
                                  countersigner->HashAlgorithm.pszObjId,
                                  signature_value, Fault::kImprintMismatch);
  if (!stamp.holds())
    return stamp;
  FILETIME time = {};
  if (!GetSigningTime(countersigner->AuthAttrs, &time))
    return Failure(Fault::kMalformed);
  if (const DWORD error = VerifyCountersignerSignature(
          encoded, *countersigner.Get(), certificate.get())) {
    return Failure(Fault::kSignatureInvalid, error);
  }
  return ProveChain(certificate.get(), store, time);
}

bool IsForLifetimeSigning(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(
          certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size)) {
    return false;
  }
  // The vector's storage comes from operator new, aligned for the pointers
  // that CERT_ENHKEY_USAGE holds.
  std::vector<uint8_t> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(
          certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) {
    return false;
  }
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    if (MatchesOid(usage->rgpszUsageIdentifier[i], kLifetimeSigningOid))
      return true;
  }
  return false;
}

std::string ErrorText(Fault fault, DWORD error) {
  if (error == 0)
    return std::string();
  if (fault == Fault::kChainUntrusted)
    return base::FormatString(": chain status 0x%lx", error);
  return ": " + base::SystemErrorCodeToString(error);
}

}  // namespace

SignatureTimestamp SignatureTimestamp::Prove(
    const CMSG_SIGNER_INFO& signer_info,
    PCCERT_CONTEXT certificate,
    HCERTSTORE store) {
  if (IsForLifetimeSigning(certificate))
    return SignatureTimestamp(Fault::kLifetimeSigning, 0);
  const std::span<const uint8_t> signature_value(
      signer_info.EncryptedHash.pbData, signer_info.EncryptedHash.cbData);
  Stamp first_failure = Failure(Fault::kNoTimestamp);
  int tried = 0;
  for (DWORD i = 0; i < signer_info.UnauthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer_info.UnauthAttrs.rgAttr[i];
    const bool token = MatchesOid(attribute.pszObjId, kTimestampTokenOid);
    if (!token && !MatchesOid(attribute.pszObjId, kCountersignatureOid))
      continue;
    for (DWORD j = 0; j < attribute.cValue && tried < kMaxTimestamps; ++j) {
      ++tried;
      const std::span<const uint8_t> value(attribute.rgValue[j].pbData,
                                           attribute.rgValue[j].cbData);
      const Stamp stamp =
          token ? ProveToken(value, signature_value)
                : ProveCountersignature(value, signature_value, store);
      if (stamp.holds()) {
        SignatureTimestamp proven(Fault::kNone, 0);
        proven.time_ = stamp.time;
        return proven;
      }
      if (first_failure.fault == Fault::kNoTimestamp)
        first_failure = stamp;
    }
  }
  return SignatureTimestamp(first_failure.fault, first_failure.error);
}

void SignatureTimestamp::Describe(std::ostream& stream) const {
  if (holds()) {
    SYSTEMTIME time = {};
    // A time made by SystemTimeToFileTime converts back.
    ::FileTimeToSystemTime(&time_, &time);
    stream << base::FormatString(
        "Chain judged at the signature's time-stamp "
        "%04u-%02u-%02u %02u:%02u:%02u UTC\n",
        time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
        time.wSecond);
    return;
  }
  for (const FaultText& entry : kFaultTexts) {
    if (entry.fault == fault_) {
      stream << "Chain judged now: " << entry.text << ErrorText(fault_, error_)
             << "\n";
      return;
    }
  }
  stream << "Chain judged now\n";
}

}  // namespace installer
