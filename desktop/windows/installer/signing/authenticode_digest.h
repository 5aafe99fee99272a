#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_AUTHENTICODE_DIGEST_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_AUTHENTICODE_DIGEST_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <span>
#include <vector>

#include "desktop/windows/installer/signing/sha256_digest.h"

namespace installer {

class PeImage;

// Built from system calls and the SHA-256 of BoringSSL alone, for the host
// executable too: a failure leaves the Windows error as the thread's last
// error, for the caller to report.

// The CryptoAPI algorithm of the digest that object identifier `oid` names
// (SHA-1, SHA-256, SHA-384 or SHA-512), or 0 for any other (MD5, an unknown
// one, none): the digests a signature or time-stamp we prove may name.
ALG_ID DigestAlgorithmOf(const char* oid);

// The digest with `algorithm` of `pieces` one after the other. False when
// hashing fails.
bool ComputeDigest(ALG_ID algorithm,
                   std::span<const std::span<const uint8_t>> pieces,
                   std::vector<uint8_t>* digest);
// The same of what `feed` hands over; false also when it could not hand
// all.
bool ComputeDigest(ALG_ID algorithm,
                   const DigestFeed& feed,
                   std::vector<uint8_t>* digest);

// The Authenticode digest of `image` with `algorithm` (one that
// DigestAlgorithmOf names), computed by us so that a signature can be held
// against the file without the platform's trust check. False when the
// image's layout is one the format does not hash
// (PeImage::GetDigestedRanges; ERROR_INVALID_DATA) or hashing fails. An
// image parsed with its held file is read through the file's handle.
bool ComputeAuthenticodeDigest(const PeImage& image,
                               ALG_ID algorithm,
                               std::vector<uint8_t>* digest);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_AUTHENTICODE_DIGEST_H_
