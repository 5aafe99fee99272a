#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_OFFLINE_CHAIN_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_OFFLINE_CHAIN_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <span>

namespace installer {

// A certificate chain built only from certificates at hand: those a
// signature carries, which have passed the walk and its rules (DerWalker),
// and those the machine keeps as roots and authorities. The chain engine
// fetches an issuer it lacks from the address the certificate names for
// it, and under Wine it does so whatever flags ask it not to; a fetched
// certificate has passed no walk, the engine faults on some shapes of one
// (an issuer whose key usage names no use), and the address is anyone's,
// the connection plain. So no chain is built unless every issuer is at
// hand, and the engine is still asked not to fetch, as Windows honours.
class OfflineChain {
 public:
  static constexpr DWORD kChainFlags =
      CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AIA;
  // Deeper than any chain of a signer.
  static constexpr int kMaxLength = 16;

  // Whether every issuer of `certificate`, up to a self-issued one, is in
  // `signature_store` or among the machine's roots or authorities: found by
  // its encoded name, as the engine looks first. Reads names as bytes only.
  static bool IsAtHand(PCCERT_CONTEXT certificate, HCERTSTORE signature_store);

  // Whether the chains WinVerifyTrust builds for `signature` (a walked
  // signature: its first signer's, its countersigners' and its time-stamp
  // tokens' signers') have every issuer at hand. True when it cannot be
  // read: WinVerifyTrust refuses such a signature before any chain.
  static bool AreTrustChainsAtHand(std::span<const uint8_t> signature);

 private:
  static bool AreSignerChainsAtHand(std::span<const uint8_t> signature,
                                    int depth);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_OFFLINE_CHAIN_H_
