#include "desktop/windows/installer/signing/build_publisher.h"

#include <cstdint>
#include <span>

#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/running_image.h"
#include "desktop/windows/installer/signing/signer_certificate.h"

namespace installer {

namespace {

// The DER certificate, written by write_publisher_certificate.py.
constexpr uint8_t kPublisherCertificate[] = {
#include "publisher_certificate.inc"
};

// kPublisherRootList, written by write_publisher_certificate.py --roots.
#include "publisher_roots.inc"

}  // namespace

// static
const SignerCertificate& BuildPublisher::Certificate() {
  static const SignerCertificate certificate =
      SignerCertificate::FromEncoded(kPublisherCertificate);
  return certificate;
}

// static
const PublisherRoots& BuildPublisher::Roots() {
  static const PublisherRoots roots =
      PublisherRoots::FromEncoded(kPublisherRootList);
  return roots;
}

// static
const SignerCertificate* BuildPublisher::RequiredSigner() {
  return RunningImage::IsOwnProgramSigned() ? &Certificate() : nullptr;
}

}  // namespace installer
