#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_BUILD_PUBLISHER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_BUILD_PUBLISHER_H_

namespace installer {

class PublisherRoots;
class SignerCertificate;

// The product's publisher as the build knows it: the certificate that its
// programs and libraries are signed with, compiled in (a release's own; the
// test certificate the build makes, in a test build). What an installer
// process runs or loads of its own build from a folder others may write is
// held to this certificate, never to one read from a file: a program's own
// file can be renamed while it runs and a copy signed by anyone with the
// vendor's names put in its place. A file of another release, signed after
// the publisher renewed its certificate, is held to the roots of the
// publisher's certificate authorities, compiled in alike.
class BuildPublisher {
 public:
  BuildPublisher() = delete;

  static const SignerCertificate& Certificate();
  static const PublisherRoots& Roots();

  // The signer that files this process runs or loads must carry: the
  // publisher when this process's program is signed, as the loader mapped
  // it; none in a development build, whose program is unsigned and which
  // runs unsigned packages.
  static const SignerCertificate* RequiredSigner();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_BUILD_PUBLISHER_H_
