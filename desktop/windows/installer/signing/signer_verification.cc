#include "desktop/windows/installer/signing/signer_verification.h"

#include <wintrust.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/log_message.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/signing/authenticode_digest.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"

namespace installer {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct DigestAlgorithm {
  const char* oid;
  ALG_ID algorithm;
};

// The digests an Authenticode signature of ours may name.
constexpr DigestAlgorithm kDigestAlgorithms[] = {
    {szOID_OIWSEC_sha1, CALG_SHA1},
    {szOID_NIST_sha256, CALG_SHA_256},
};

std::string LastErrorText() {
  return base::SystemErrorCodeToString(::GetLastError());
}

bool GetMessageParam(HCRYPTMSG message,
                     DWORD type,
                     DWORD index,
                     std::vector<uint8_t>* value) {
  DWORD size = 0;
  if (!::CryptMsgGetParam(message, type, index, nullptr, &size))
    return false;
  value->resize(size);
  if (!::CryptMsgGetParam(message, type, index, value->data(), &size))
    return false;
  value->resize(size);
  return true;
}

bool VerifySignature(HCRYPTMSG message,
                     DWORD signer_index,
                     PCCERT_CONTEXT certificate,
                     std::ostream& report) {
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwSignerIndex = signer_index;
  para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  para.pvSigner = const_cast<CERT_CONTEXT*>(certificate);
  if (!::CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para)) {
    report << "Signature does not verify: " << LastErrorText() << "\n";
    return false;
  }
  return true;
}

const DigestAlgorithm* FindDigestAlgorithm(const char* oid) {
  for (const DigestAlgorithm& candidate : kDigestAlgorithms) {
    if (oid && std::strcmp(oid, candidate.oid) == 0)
      return &candidate;
  }
  return nullptr;
}

// The contents octets of a DER SEQUENCE: what a PKCS #7 message digest
// covers when the content is not plain data.
std::span<const uint8_t> SequenceContents(std::span<const uint8_t> der) {
  if (der.size() < 2 || der[0] != 0x30)
    return {};
  size_t header = 2;
  size_t length = der[1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > sizeof(uint32_t) || der.size() < 2 + count)
      return {};
    length = 0;
    for (size_t i = 0; i < count; ++i)
      length = length << 8 | der[2 + i];
    header += count;
  }
  if (length != der.size() - header)
    return {};
  return der.subspan(header);
}

// The message digest among the authenticated attributes, or false.
bool GetSignedMessageDigest(const CRYPT_ATTRIBUTES& attributes,
                            std::vector<uint8_t>* digest) {
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
    if (!attribute.pszObjId ||
        std::strcmp(attribute.pszObjId, szOID_RSA_messageDigest) != 0 ||
        attribute.cValue != 1) {
      continue;
    }
    CRYPT_DATA_BLOB* decoded = nullptr;
    DWORD decoded_size = 0;
    if (!::CryptDecodeObjectEx(kEncoding, X509_OCTET_STRING,
                               attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                               &decoded_size)) {
      return false;
    }
    const base::win::ScopedLocalAlloc<CRYPT_DATA_BLOB> octets(decoded);
    digest->assign(octets->pbData, octets->pbData + octets->cbData);
    return true;
  }
  return false;
}

// The signature covers the authenticated attributes, and they cover the
// content only through their message digest. Wine's signature check does not
// compare that digest with the content, so a genuine signature would vouch
// for any content put beside it: compare them here.
bool VerifyMessageDigest(HCRYPTMSG message,
                         const CMSG_SIGNER_INFO& signer_info,
                         std::ostream& report) {
  // Without authenticated attributes the signature covers the content.
  if (signer_info.AuthAttrs.cAttr == 0)
    return true;
  std::vector<uint8_t> signed_digest;
  if (!GetSignedMessageDigest(signer_info.AuthAttrs, &signed_digest)) {
    report << "Signed attributes hold no message digest\n";
    return false;
  }
  std::vector<uint8_t> content;
  if (!GetMessageParam(message, CMSG_CONTENT_PARAM, 0, &content)) {
    report << "Cannot get signed content: " << LastErrorText() << "\n";
    return false;
  }
  const DigestAlgorithm* algorithm =
      FindDigestAlgorithm(signer_info.HashAlgorithm.pszObjId);
  const std::span<const uint8_t> contents = SequenceContents(content);
  std::vector<uint8_t> computed;
  if (!algorithm || contents.empty() ||
      !ComputeDigest(algorithm->algorithm, {&contents, 1}, &computed)) {
    report << "Cannot compute the content's digest\n";
    return false;
  }
  if (computed != signed_digest) {
    report << "Signature does not cover the content\n";
    return false;
  }
  return true;
}

// The content must be the Authenticode statement about a PE image, and the
// digest it states must be the image's.
bool VerifySignedDigest(HCRYPTMSG message,
                        const PeImage& image,
                        std::ostream& report) {
  std::vector<uint8_t> content_type;
  if (!GetMessageParam(message, CMSG_INNER_CONTENT_TYPE_PARAM, 0,
                       &content_type) ||
      std::string(content_type.begin(), content_type.end()) !=
          std::string(SPC_INDIRECT_DATA_OBJID, sizeof(SPC_INDIRECT_DATA_OBJID))) {
    report << "Signed content is not Authenticode data\n";
    return false;
  }
  std::vector<uint8_t> content;
  if (!GetMessageParam(message, CMSG_CONTENT_PARAM, 0, &content)) {
    report << "Cannot get signed content: " << LastErrorText() << "\n";
    return false;
  }
  SPC_INDIRECT_DATA_CONTENT* decoded = nullptr;
  DWORD decoded_size = 0;
  if (!::CryptDecodeObjectEx(kEncoding, SPC_INDIRECT_DATA_CONTENT_STRUCT,
                             content.data(), static_cast<DWORD>(content.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                             &decoded_size)) {
    report << "Cannot decode signed content: " << LastErrorText() << "\n";
    return false;
  }
  const base::win::ScopedLocalAlloc<SPC_INDIRECT_DATA_CONTENT> indirect(
      decoded);
  if (!indirect->Data.pszObjId ||
      std::strcmp(indirect->Data.pszObjId, SPC_PE_IMAGE_DATA_OBJID) != 0) {
    report << "Signed content is not about a PE image\n";
    return false;
  }
  const DigestAlgorithm* algorithm =
      FindDigestAlgorithm(indirect->DigestAlgorithm.pszObjId);
  if (!algorithm) {
    report << "Unsupported digest algorithm "
           << (indirect->DigestAlgorithm.pszObjId
                   ? indirect->DigestAlgorithm.pszObjId
                   : "")
           << "\n";
    return false;
  }
  std::vector<uint8_t> digest;
  if (!ComputeAuthenticodeDigest(image, algorithm->algorithm, &digest)) {
    report << "Cannot compute the file's digest\n";
    return false;
  }
  const CRYPT_HASH_BLOB& signed_digest = indirect->Digest;
  if (signed_digest.cbData != digest.size() ||
      std::memcmp(signed_digest.pbData, digest.data(), digest.size()) != 0) {
    report << "Signed digest does not match the file\n";
    return false;
  }
  return true;
}

// As WinVerifyTrust judges the file's own signer: a chain for code signing
// to a trusted root, held against the Authenticode policy, revocation not
// checked.
bool VerifyChain(PCCERT_CONTEXT certificate,
                 HCERTSTORE store,
                 std::ostream& report) {
  LPSTR code_signing = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = &code_signing;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!::CertGetCertificateChain(nullptr, certificate, nullptr, store,
                                 &chain_para, 0, nullptr, &built)) {
    report << "Cannot build certificate chain: " << LastErrorText() << "\n";
    return false;
  }
  ScopedCertChain chain(built);
  // Windows' base policy refuses a chain that does not reach a root; Wine's
  // lets it pass, so a certificate whose issuer is nowhere would be trusted.
  if (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) {
    report << "Certificate chain is incomplete\n";
    return false;
  }
  CERT_CHAIN_POLICY_PARA policy_para = {};
  policy_para.cbSize = sizeof(policy_para);
  CERT_CHAIN_POLICY_STATUS policy_status = {};
  policy_status.cbSize = sizeof(policy_status);
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE,
                                          chain.get(), &policy_para,
                                          &policy_status)) {
    report << "Cannot check certificate chain: " << LastErrorText() << "\n";
    return false;
  }
  if (policy_status.dwError != 0) {
    report << "Certificate chain is not trusted: "
           << base::SystemErrorCodeToString(policy_status.dwError) << "\n";
    return false;
  }
  return true;
}

}  // namespace

bool VerifyUnjudgedSigner(HCRYPTMSG message,
                          DWORD signer_index,
                          const CMSG_SIGNER_INFO& signer_info,
                          PCCERT_CONTEXT certificate,
                          HCERTSTORE store,
                          const PeImage& image,
                          std::ostream& report) {
  return VerifySignature(message, signer_index, certificate, report) &&
         VerifyMessageDigest(message, signer_info, report) &&
         VerifySignedDigest(message, image, report) &&
         VerifyChain(certificate, store, report);
}

}  // namespace installer
