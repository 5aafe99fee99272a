#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_OBJECTS_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_OBJECTS_H_

#include <windows.h>
#include <wincrypt.h>

#include <memory>

namespace installer {

struct CertContextFreer {
  void operator()(PCCERT_CONTEXT certificate) const {
    ::CertFreeCertificateContext(certificate);
  }
};

struct CertChainFreer {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const {
    ::CertFreeCertificateChain(chain);
  }
};

using ScopedCertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFreer>;
using ScopedCertChain =
    std::unique_ptr<const CERT_CHAIN_CONTEXT, CertChainFreer>;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_OBJECTS_H_
