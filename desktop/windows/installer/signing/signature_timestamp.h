#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_TIMESTAMP_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_TIMESTAMP_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <ostream>

namespace installer {

// The time a signer's time-stamp proves the signature was made at, which
// its certificate's chain is judged at: a release is signed once and
// installed for years, long after the certificate ends. A time-stamp counts
// only once proven here, as the platform's checks under Wine prove none of
// it: an RFC 3161 token among the signer's unauthenticated attributes, or
// the older countersignature, whose signature holds with its signer's
// certificate over the digest of this signer's signature value (a token's
// signed as a token info), and whose signer, the certificate its signer
// identifier names, naming the time-stamping usage, chains at the stamped
// time to a root the machine trusts, no authority above it excluding that
// usage; a token info is read to its end (TimestampTokenInfo). A stamped
// time after the present proves nothing, nor does a stamp that does not
// hold: the chain is then judged now. A certificate for lifetime signing is
// judged now.
class SignatureTimestamp {
 public:
  enum class Fault : uint8_t {
    kNone,
    kNoTimestamp,
    kLifetimeSigning,
    // The token or countersignature cannot be read, or it states no time.
    kMalformed,
    kNoCertificate,
    kSignatureInvalid,
    // The token's signed message digest is not its content's.
    kContentNotCovered,
    // Its signer did not sign a token info: the signed content type is
    // absent or another.
    kNotTokenInfo,
    kUnsupportedDigest,
    // What it stamps is not this signer's signature value.
    kImprintMismatch,
    // Its signer's certificate does not name the time-stamping usage.
    kNotForTimeStamping,
    kChainUnbuildable,
    kChainUntrusted,
    // Its time is after the present.
    kAfterNow,
  };

  // The first proven time-stamp of the signer described by `signer_info`
  // with `certificate` (its signature's certificates in `store`), or why
  // there is none.
  static SignatureTimestamp Prove(const CMSG_SIGNER_INFO& signer_info,
                                  PCCERT_CONTEXT certificate,
                                  HCERTSTORE store);

  bool holds() const { return fault_ == Fault::kNone; }
  // The time to judge the signer's chain at: the stamp's, or null for now
  // (CertGetCertificateChain's pTime).
  const FILETIME* chain_time() const { return holds() ? &time_ : nullptr; }
  // One report line: the time the chain is judged at, and why a time-stamp
  // the signer carries does not count.
  void Describe(std::ostream& stream) const;

 private:
  SignatureTimestamp(Fault fault, DWORD error) : fault_(fault), error_(error) {}

  Fault fault_;
  // The Windows error of the check that failed; the chain's status for
  // kChainUntrusted.
  DWORD error_;
  FILETIME time_ = {};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_TIMESTAMP_H_
