#include "desktop/windows/installer/signing/signature_verifier.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/log_message.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/signing/der_walker.h"
#include "desktop/windows/installer/signing/locked_file_view.h"
#include "desktop/windows/installer/signing/offline_chain.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signed_message.h"
#include "desktop/windows/installer/signing/signer_report.h"
#include "desktop/windows/installer/signing/signer_verification.h"
#include "desktop/windows/installer/signing/subject_name.h"
#include "desktop/windows/installer/signing/trust_verdict.h"

namespace installer {

namespace {

// The unauthenticated attribute that carries a nested signature.
constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";
constexpr DWORD kSha1Length = 20;

std::string ErrorText(DWORD error) {
  return base::SystemErrorCodeToString(error);
}

// Only the subject's common name is read: every name is read before its
// certificate is proven, and the platform's readers fall back into the
// alternative names, some of which fault under Wine (SubjectName).
std::wstring GetCommonName(PCCERT_CONTEXT certificate) {
  const CERT_NAME_BLOB& subject = certificate->pCertInfo->Subject;
  return SubjectName::CommonName({subject.pbData, subject.cbData});
}

bool GetSignerName(PCCERT_CONTEXT certificate,
                   std::wstring* name,
                   std::ostream& stream) {
  *name = GetCommonName(certificate);
  if (name->empty()) {
    stream << "Cert signer name has 0 size\n";
    return false;
  }
  return true;
}

std::string GetSha1Thumbprint(PCCERT_CONTEXT certificate) {
  BYTE hash[kSha1Length];
  DWORD size = sizeof(hash);
  if (!::CryptHashCertificate(0, CALG_SHA1, 0, certificate->pbCertEncoded,
                              certificate->cbCertEncoded, hash, &size)) {
    return std::string();
  }
  return base::HexEncode(hash, size);
}

// The refusal that says most of why no signer was found: the first that
// says more than "another publisher".
void KeepTellingRefusal(SignatureRefusal refusal, SignatureRefusal* kept) {
  if (*kept == SignatureRefusal::kOtherPublisher)
    *kept = refusal;
}

SignatureRefusal CheckNestedSignatures(const CMSG_SIGNER_INFO& info,
                                       const PeImage& image,
                                       const PublisherRoots* roots,
                                       SignerReport* report,
                                       int depth) {
  SignatureRefusal refusal = SignatureRefusal::kOtherPublisher;
  for (DWORD i = 0; i < info.UnauthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = info.UnauthAttrs.rgAttr[i];
    if (!attribute.pszObjId ||
        std::strcmp(attribute.pszObjId, kNestedSignatureOid) != 0 ||
        attribute.cValue == 0) {
      continue;
    }
    const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
    ScopedCertStore store;
    ScopedCryptMsg message;
    DWORD encoding = 0;
    const DWORD error = OpenSignedMessage({value.pbData, value.cbData},
                                          &store, &message, &encoding);
    if (error != 0) {
      report->GetLineStream(depth + 1)
          << "Cannot CryptQueryObject nested signature: " << ErrorText(error)
          << "\n";
      KeepTellingRefusal(SignatureRefusal::kMalformed, &refusal);
      continue;
    }
    const SignatureRefusal nested = CheckSigners(
        store.Get(), message.Get(), encoding, image, roots, report, depth + 1);
    if (nested == SignatureRefusal::kNone)
      return nested;
    KeepTellingRefusal(nested, &refusal);
  }
  return refusal;
}

// What opening a file's signature says of it: an empty one is none.
SignatureRefusal RefusalOfOpenError(DWORD error) {
  return error == static_cast<DWORD>(TRUST_E_NOSIGNATURE)
             ? SignatureRefusal::kNotSigned
             : SignatureRefusal::kMalformed;
}

// What WinVerifyTrust said of a file, and the error it left.
struct PlatformVerdict {
  LONG trust = ERROR_SUCCESS;
  DWORD error = 0;
};

PlatformVerdict AskPlatform(HANDLE file,
                            const base::FilePath& path,
                            std::span<const uint8_t> signature) {
  PlatformVerdict verdict;
  verdict.trust = GetTrustVerdict(file, path.value().c_str(), signature);
  verdict.error = ::GetLastError();
  return verdict;
}

// What WinVerifyTrust says of the held `file`, asked while `own_checks`
// run. It reads the whole file for its digest (most of a second for a 96 MB
// installer under Wine, whose CryptoAPI hashes 160 MB/s) and builds its
// chain: beside our own checks, which build theirs meanwhile, it costs no
// more than they do. It reads at the file's position, which our reads
// through the held handle move: it gets a handle of its own to the held
// file (one held to be moved shares deleting; the holder's own handle keeps
// writers, movers and deleters out), or else goes first.
PlatformVerdict AskPlatformWhile(HANDLE file,
                                 const base::FilePath& path,
                                 std::span<const uint8_t> signature,
                                 const std::function<void()>& own_checks) {
  const base::win::ScopedHandle platform_file(::ReOpenFile(
      file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0));
  PlatformVerdict platform;
  {
    std::jthread asking;
    if (platform_file.IsValid()) {
      asking = std::jthread([&platform, &platform_file, &path, signature] {
        platform = AskPlatform(platform_file.Get(), path, signature);
      });
    } else {
      platform = AskPlatform(file, path, signature);
    }
    own_checks();
  }
  return platform;
}

// Our own checks of the signature of `image` (CheckSignature), the report
// appended to `report_text` when given.
SignatureRefusal CheckOwn(const std::optional<PeImage>& image,
                          const PublisherRoots* roots,
                          std::string* report_text) {
  ScopedCertStore store;
  ScopedCryptMsg message;
  DWORD encoding = 0;
  const DWORD error =
      OpenSignedMessage(image ? image->GetEmbeddedSignature()
                              : std::span<const uint8_t>(),
                        &store, &message, &encoding);
  if (error != 0) {
    if (report_text) {
      base::AppendFormat(report_text, "Cannot CryptQueryObject:%s\n",
                         ErrorText(error).c_str());
    }
    return RefusalOfOpenError(error);
  }
  return CheckSignature(std::move(store), std::move(message), encoding, *image,
                        roots, report_text);
}

}  // namespace

bool IsPortableExecutable(const base::FilePath& path,
                          bool* has_certificate_table) {
  base::MappedFile file;
  if (!file.Initialize(path, base::MappedFile::kReadOnly))
    return false;
  const std::optional<PeImage> image = PeImage::Parse(
      {file.data(), static_cast<size_t>(file.length())});
  if (!image)
    return false;
  *has_certificate_table = image->has_certificate_table();
  return true;
}

SignatureRefusal CheckFileSignature(const base::FilePath& path,
                                    const PublisherRoots* roots,
                                    std::string* report_text) {
  LockedFileView file;
  if (!file.Open(path)) {
    if (report_text) {
      base::AppendFormat(report_text, "Cannot open file: %s\n",
                         ErrorText(::GetLastError()).c_str());
    }
    // Nothing was read that could carry a signature.
    return SignatureRefusal::kNotSigned;
  }
  return CheckHeldFileSignature(file, path, roots, report_text);
}

SignatureRefusal CheckHeldFileSignature(const LockedFileView& file,
                                        const base::FilePath& path,
                                        const PublisherRoots* roots,
                                        std::string* report_text) {
  return CheckImageSignature(file.bytes(), file.file_handle(), path, roots,
                             report_text);
}

SignatureRefusal CheckImageSignature(std::span<const uint8_t> bytes,
                                     HANDLE file,
                                     const base::FilePath& path,
                                     const PublisherRoots* roots,
                                     std::string* report_text) {
  // The signature is read from the held view, not by path, so that it is the
  // one WinVerifyTrust judged. Only a PE image carries one we can read.
  const std::optional<PeImage> image = PeImage::Parse(bytes, file);
  // WinVerifyTrust hands the table to the platform's decoder, which a
  // malformed signature can crash: a table whose signature we cannot walk
  // is refused before it is read.
  if (image && image->has_certificate_table()) {
    const std::span<const uint8_t> signature = image->GetEmbeddedSignature();
    const DerWalker::Fault fault = signature.empty()
                                       ? DerWalker::Fault::kTruncated
                                       : DerWalker::Check(signature);
    if (fault != DerWalker::Fault::kNone) {
      if (report_text) {
        base::AppendFormat(report_text, "Malformed signature: %s\n",
                           DerWalker::Describe(fault));
      }
      return SignatureRefusal::kMalformed;
    }
  }
  std::string own_report;
  SignatureRefusal own = SignatureRefusal::kNone;
  const PlatformVerdict platform = AskPlatformWhile(
      file, path,
      image ? image->GetEmbeddedSignature() : std::span<const uint8_t>(),
      [&] { own = CheckOwn(image, roots, report_text ? &own_report : nullptr); });
  if (platform.trust != ERROR_SUCCESS && report_text) {
    base::AppendFormat(report_text, "Cannot WinVerifyTrust: %ld, %s\n",
                       platform.trust, ErrorText(platform.error).c_str());
  }
  // Our own checks' refusal names the cause more closely than the
  // platform's, with a report or without.
  if (report_text)
    report_text->append(own_report);
  return own != SignatureRefusal::kNone ? own
                                        : RefusalOfTrustVerdict(platform.trust);
}

bool VerifyFileSignature(const base::FilePath& path, std::string* report_text) {
  return CheckFileSignature(path, nullptr, report_text) ==
         SignatureRefusal::kNone;
}

bool VerifyHeldFileSignature(const LockedFileView& file,
                             const base::FilePath& path,
                             std::string* report_text) {
  return CheckHeldFileSignature(file, path, nullptr, report_text) ==
         SignatureRefusal::kNone;
}

SignatureRefusal CheckSignature(ScopedCertStore store,
                                ScopedCryptMsg message,
                                DWORD encoding,
                                const PeImage& image,
                                const PublisherRoots* roots,
                                std::string* report_text) {
  if (!report_text) {
    DiscardingSignerReport report;
    return CheckSigners(store.Get(), message.Get(), encoding, image, roots,
                        &report, 0);
  }
  CollectingSignerReport report;
  const SignatureRefusal result = CheckSigners(
      store.Get(), message.Get(), encoding, image, roots, &report, 0);
  report_text->append(report.GetText());
  return result;
}

SignatureRefusal CheckSigners(HCERTSTORE store,
                              HCRYPTMSG message,
                              DWORD encoding,
                              const PeImage& image,
                              const PublisherRoots* roots,
                              SignerReport* report,
                              int depth) {
  std::ostream& stream = report->GetLineStream(depth);
  DWORD count = 0;
  DWORD count_size = sizeof(count);
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &count,
                          &count_size)) {
    stream << "Cannot get signer count\n";
    return SignatureRefusal::kMalformed;
  }
  const std::wstring expected = base::Utf8ToWide(GetExpectedSigner());
  SignatureRefusal refusal = SignatureRefusal::kOtherPublisher;
  for (DWORD index = 0; index < count; ++index) {
    std::vector<uint8_t> buffer;
    const CMSG_SIGNER_INFO* info = GetSignerInfo(message, index, &buffer);
    if (!info) {
      stream << "Cannot get signer info\n";
      return SignatureRefusal::kMalformed;
    }
    const ScopedCertContext certificate =
        FindSignerCertificate(store, message, index);
    if (!certificate) {
      stream << "Cannot find certificate info in store\n";
      return SignatureRefusal::kMalformed;
    }
    if (report->WantsDetail()) {
      stream << "Trust chain:\n";
      DescribeTrustChain(certificate.get(), stream);
    }
    std::wstring name;
    if (!GetSignerName(certificate.get(), &name, stream))
      return SignatureRefusal::kMalformed;
    // Whatever WinVerifyTrust made of the file, the name counts only for a
    // signer proven here, the file's first as any other.
    if (!expected.empty() && name == expected) {
      const SignatureRefusal signer =
          VerifySigner(message, index, *info, certificate.get(), store, image,
                       roots, stream);
      if (signer == SignatureRefusal::kNone)
        return signer;
      KeepTellingRefusal(signer, &refusal);
    }
    stream << "Tried signer " << base::WideToUtf8(name) << "\n";
    const SignatureRefusal nested =
        CheckNestedSignatures(*info, image, roots, report, depth);
    if (nested == SignatureRefusal::kNone)
      return nested;
    KeepTellingRefusal(nested, &refusal);
  }
  stream << "Cannot find any viable signers\n";
  return refusal;
}

void DescribeTrustChain(PCCERT_CONTEXT certificate, std::ostream& stream) {
  // The signer's own store is the signature's.
  if (!OfflineChain::IsAtHand(certificate, certificate->hCertStore)) {
    stream << "Cannot get trust chain: an issuer is not at hand\n";
    return;
  }
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof(para);
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!::CertGetCertificateChain(nullptr, certificate, nullptr, nullptr, &para,
                                 OfflineChain::kChainFlags, nullptr, &built)) {
    stream << "Cannot get trust chain\n";
    return;
  }
  const ScopedCertChain chain(built);
  stream << "Chain trust status: " << chain->TrustStatus.dwErrorStatus << "\n";
  for (DWORD i = 0; i < chain->cChain; ++i) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[i];
    for (DWORD j = 0; j < simple->cElement; ++j) {
      PCCERT_CONTEXT element = simple->rgpElement[j]->pCertContext;
      stream << "Chain " << i << " element: "
             << base::WideToUtf8(GetCommonName(element)) << " "
             << GetSha1Thumbprint(element) << "\n";
    }
  }
}

}  // namespace installer
