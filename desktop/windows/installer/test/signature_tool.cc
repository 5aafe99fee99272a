// Runs the signature checks on real files, so that end-to-end tests can hold
// their verdicts against osslsigncode's on files signed at test time:
//   signature_tool verify FILE [ROOT]  "verdict N" (with a report), "quiet N"
//                                      (without one), then the report's lines.
//                                      With ROOT, a DER certificate, it is
//                                      trusted as a root of the machine
//                                      while the checks run, then removed
//                                      unless it was trusted before.
//   signature_tool verify-as SIGNER FILE  the same with SIGNER as the
//                                      expected signer in the branding's
//                                      place, no root added: a file of
//                                      another publisher judged as the
//                                      installer judges a partner's.
//   signature_tool pe FILE             "pe N certificate_table N"
//   signature_tool signer PROGRAM FILE  how a process of PROGRAM judges FILE
//                                      before it runs or loads it: "program
//                                      unsigned", "program unreadable", or
//                                      the check's verdict.
// Exits with 0 when the command ran. Text is UTF-8.

#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/string_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signature_verifier.h"
#include "desktop/windows/installer/signing/signer_certificate.h"

namespace {

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

// A certificate trusted as a root of the machine while the object lives:
// the checks trust no root of the user's own. Only the registry store is
// used: a delete from the "Root" system store, a collection, does not reach
// the registry under Wine. A root the store held already stays: it is
// another's to remove (the build's test root, which other runs trust).
class ScopedTrustedRoot {
 public:
  ScopedTrustedRoot() = default;
  ScopedTrustedRoot(const ScopedTrustedRoot&) = delete;
  ScopedTrustedRoot& operator=(const ScopedTrustedRoot&) = delete;
  ~ScopedTrustedRoot() {
    if (added_)
      ::CertDeleteCertificateFromStore(added_.release());
  }

  bool Add(const base::FilePath& path) {
    std::string der;
    if (!base::ReadFileToString(path, &der))
      return false;
    root_.Set(::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                              CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!root_.IsValid())
      return false;
    PCCERT_CONTEXT added = nullptr;
    if (!::CertAddEncodedCertificateToStore(
            root_.Get(), X509_ASN_ENCODING,
            reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, &added)) {
      return ::GetLastError() == static_cast<DWORD>(CRYPT_E_EXISTS);
    }
    added_.reset(added);
    // The chain engine reads the registry: write the addition through now.
    return ::CertControlStore(root_.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
  }

 private:
  installer::ScopedCertStore root_;
  installer::ScopedCertContext added_;
};

int Verify(const base::FilePath& path, const wchar_t* root) {
  ScopedTrustedRoot trusted_root;
  if (root && !trusted_root.Add(base::FilePath(root))) {
    Print("cannot trust root " + std::to_string(::GetLastError()) + "\n");
    return 3;
  }
  std::string report;
  const bool verdict = installer::VerifyFileSignature(path, &report);
  const bool quiet = installer::VerifyFileSignature(path, nullptr);
  Print("verdict " + std::to_string(verdict) + "\nquiet " +
        std::to_string(quiet) + "\n" + report);
  return 0;
}

int VerifyAs(const wchar_t* signer, const base::FilePath& path) {
  std::string branding = "{\"expected_signer\": ";
  if (!base::EscapeJsonString(base::WideToUtf8(signer), &branding))
    return 2;
  installer::internal::SetBrandingForTesting(branding + "}");
  return Verify(path, nullptr);
}

int Pe(const base::FilePath& path) {
  bool has_certificate_table = false;
  const bool pe = installer::IsPortableExecutable(path, &has_certificate_table);
  Print("pe " + std::to_string(pe) + " certificate_table " +
        std::to_string(has_certificate_table) + "\n");
  return 0;
}

int Signer(const base::FilePath& program, const base::FilePath& path) {
  installer::HeldImageFile own;
  installer::HeldImageFile file;
  if (own.Open(program.value().c_str()) != 0 ||
      file.Open(path.value().c_str()) != 0) {
    Print("cannot open\n");
    return 3;
  }
  const std::optional<installer::SignerCertificate> signer =
      installer::SignerCertificate::OfImage(own.bytes());
  if (!signer) {
    Print("program unreadable\n");
  } else if (!signer->is_signed()) {
    Print("program unsigned\n");
  } else {
    Print(std::string(installer::SignerCertificate::Describe(
              signer->Check(file))) +
          "\n");
  }
  return 0;
}

}  // namespace

int main() {
  int count = 0;
  base::win::ScopedLocalAlloc<wchar_t*> argv(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv || count < 3)
    return 2;
  const std::wstring command = argv.Get()[1];
  const base::FilePath path(argv.Get()[2]);
  if (command == L"verify" && count <= 4)
    return Verify(path, count == 4 ? argv.Get()[3] : nullptr);
  if (command == L"verify-as" && count == 4)
    return VerifyAs(argv.Get()[2], base::FilePath(argv.Get()[3]));
  if (command == L"pe" && count == 3)
    return Pe(path);
  if (command == L"signer" && count == 4)
    return Signer(path, base::FilePath(argv.Get()[3]));
  return 2;
}
