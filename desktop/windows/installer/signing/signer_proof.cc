#include "desktop/windows/installer/signing/signer_proof.h"

#include <wintrust.h>

#include <cstring>
#include <span>
#include <vector>

#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/signing/authenticode_digest.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/signed_message.h"

namespace installer {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The DER of SPC_INDIRECT_DATA_OBJID, 1.3.6.1.4.1.311.2.1.4: the content
// type of an Authenticode signature.
constexpr uint8_t kIndirectDataType[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04,
                                         0x01, 0x82, 0x37, 0x02, 0x01, 0x04};

struct FaultText {
  SignerProofFault fault;
  const char* text;
  bool names_error;
};

constexpr FaultText kFaultTexts[] = {
    {SignerProofFault::kNone, "Signature holds", false},
    {SignerProofFault::kSignatureInvalid, "Signature does not verify", true},
    {SignerProofFault::kNoMessageDigest,
     "Signed attributes hold no message digest", false},
    {SignerProofFault::kContentTypeNotSigned,
     "Signed attributes do not name Authenticode data as the content type",
     false},
    {SignerProofFault::kContentUnreadable, "Cannot get signed content", true},
    {SignerProofFault::kContentDigestFailed,
     "Cannot compute the content's digest", false},
    {SignerProofFault::kContentNotCovered,
     "Signature does not cover the content", false},
    {SignerProofFault::kNotAuthenticodeData,
     "Signed content is not Authenticode data", false},
    {SignerProofFault::kContentUndecodable, "Cannot decode signed content",
     true},
    {SignerProofFault::kNotImageData, "Signed content is not about a PE image",
     false},
    {SignerProofFault::kUnsupportedDigest, "Unsupported digest algorithm",
     false},
    {SignerProofFault::kImageDigestFailed, "Cannot compute the file's digest",
     true},
    {SignerProofFault::kImageDigestMismatch,
     "Signed digest does not match the file", false},
};

SignerProof Fault(SignerProofFault fault, DWORD error = 0) {
  return SignerProof{fault, error};
}

SignerProof LastErrorFault(SignerProofFault fault) {
  return SignerProof{fault, ::GetLastError()};
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
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

// The signature covers the authenticated attributes, and they cover the
// content only through their content type and message digest, which a
// content other than plain data must have. Wine's signature check does not
// compare that digest with the content, so a genuine signature would vouch
// for any content put beside it: compare them here.
SignerProof VerifySignedAttributes(HCRYPTMSG message,
                                   const CMSG_SIGNER_INFO& signer_info) {
  if (!SignsContentType(signer_info.AuthAttrs, kIndirectDataType))
    return Fault(SignerProofFault::kContentTypeNotSigned);
  std::vector<uint8_t> signed_digest;
  if (!GetSignedMessageDigest(signer_info.AuthAttrs, &signed_digest))
    return Fault(SignerProofFault::kNoMessageDigest);
  std::vector<uint8_t> content;
  if (!GetMessageParam(message, CMSG_CONTENT_PARAM, 0, &content))
    return LastErrorFault(SignerProofFault::kContentUnreadable);
  const ALG_ID algorithm =
      DigestAlgorithmOf(signer_info.HashAlgorithm.pszObjId);
  if (!algorithm)
    return Fault(SignerProofFault::kUnsupportedDigest);
  const std::span<const uint8_t> contents = SequenceContents(content);
  std::vector<uint8_t> computed;
  if (contents.empty() || !ComputeDigest(algorithm, {&contents, 1}, &computed))
    return Fault(SignerProofFault::kContentDigestFailed);
  if (computed != signed_digest)
    return Fault(SignerProofFault::kContentNotCovered);
  return SignerProof();
}

// The content must be the Authenticode statement about a PE image, and the
// digest it states must be the image's.
SignerProof VerifySignedDigest(HCRYPTMSG message, const PeImage& image) {
  std::vector<uint8_t> content_type;
  if (!GetMessageParam(message, CMSG_INNER_CONTENT_TYPE_PARAM, 0,
                       &content_type) ||
      !SameBytes(content_type,
                 {reinterpret_cast<const uint8_t*>(SPC_INDIRECT_DATA_OBJID),
                  sizeof(SPC_INDIRECT_DATA_OBJID)})) {
    return Fault(SignerProofFault::kNotAuthenticodeData);
  }
  std::vector<uint8_t> content;
  if (!GetMessageParam(message, CMSG_CONTENT_PARAM, 0, &content))
    return LastErrorFault(SignerProofFault::kContentUnreadable);
  base::win::ScopedLocalAlloc<SPC_INDIRECT_DATA_CONTENT> indirect;
  DWORD decoded_size = 0;
  if (!::CryptDecodeObjectEx(kEncoding, SPC_INDIRECT_DATA_CONTENT_STRUCT,
                             content.data(), static_cast<DWORD>(content.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             indirect.Receive(), &decoded_size)) {
    return LastErrorFault(SignerProofFault::kContentUndecodable);
  }
  if (!indirect->Data.pszObjId ||
      std::strcmp(indirect->Data.pszObjId, SPC_PE_IMAGE_DATA_OBJID) != 0) {
    return Fault(SignerProofFault::kNotImageData);
  }
  const ALG_ID algorithm =
      DigestAlgorithmOf(indirect->DigestAlgorithm.pszObjId);
  if (!algorithm)
    return Fault(SignerProofFault::kUnsupportedDigest);
  std::vector<uint8_t> digest;
  if (!ComputeAuthenticodeDigest(image, algorithm, &digest))
    return LastErrorFault(SignerProofFault::kImageDigestFailed);
  const CRYPT_HASH_BLOB& signed_digest = indirect->Digest;
  if (!SameBytes({signed_digest.pbData, signed_digest.cbData}, digest))
    return Fault(SignerProofFault::kImageDigestMismatch);
  return SignerProof();
}

}  // namespace

SignerProof VerifySignerSignature(HCRYPTMSG message,
                                  DWORD signer_index,
                                  PCCERT_CONTEXT certificate) {
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwSignerIndex = signer_index;
  para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  para.pvSigner = const_cast<CERT_CONTEXT*>(certificate);
  if (!::CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para))
    return LastErrorFault(SignerProofFault::kSignatureInvalid);
  return SignerProof();
}

bool GetSignedMessageDigest(const CRYPT_ATTRIBUTES& attributes,
                            std::vector<uint8_t>* digest) {
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
    if (!attribute.pszObjId ||
        std::strcmp(attribute.pszObjId, szOID_RSA_messageDigest) != 0 ||
        attribute.cValue != 1) {
      continue;
    }
    base::win::ScopedLocalAlloc<CRYPT_DATA_BLOB> octets;
    DWORD decoded_size = 0;
    if (!::CryptDecodeObjectEx(kEncoding, X509_OCTET_STRING,
                               attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr,
                               octets.Receive(), &decoded_size)) {
      return false;
    }
    digest->assign(octets->pbData, octets->pbData + octets->cbData);
    return true;
  }
  return false;
}

bool SignsContentType(const CRYPT_ATTRIBUTES& attributes,
                      std::span<const uint8_t> type) {
  const CRYPT_ATTR_BLOB* signed_type = nullptr;
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
    if (!attribute.pszObjId ||
        std::strcmp(attribute.pszObjId, szOID_RSA_contentType) != 0) {
      continue;
    }
    // A second attribute or value would leave open which one was meant.
    if (signed_type || attribute.cValue != 1)
      return false;
    signed_type = &attribute.rgValue[0];
  }
  return signed_type &&
         SameBytes({signed_type->pbData, signed_type->cbData}, type);
}

SignerProof ProveSigner(HCRYPTMSG message,
                        DWORD signer_index,
                        const CMSG_SIGNER_INFO& signer_info,
                        PCCERT_CONTEXT certificate,
                        const PeImage& image) {
  SignerProof proof =
      VerifySignerSignature(message, signer_index, certificate);
  if (proof.holds())
    proof = VerifySignedAttributes(message, signer_info);
  if (proof.holds())
    proof = VerifySignedDigest(message, image);
  return proof;
}

const char* DescribeSignerProofFault(SignerProofFault fault,
                                     bool* names_error) {
  for (const FaultText& entry : kFaultTexts) {
    if (entry.fault == fault) {
      *names_error = entry.names_error;
      return entry.text;
    }
  }
  *names_error = false;
  return "Unknown signature fault";
}

}  // namespace installer
