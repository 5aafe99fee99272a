#include "desktop/windows/installer/signing/authenticode_digest.h"

#include <cstring>

#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/scoped_crypt_provider.h"
#include "desktop/windows/installer/signing/sha256_digest.h"

namespace installer {

namespace {

struct DigestAlgorithm {
  const char* oid;
  ALG_ID algorithm;
};

// Windows accepts signatures and time-stamps of each of these; MD5 is
// broken, and a digest not listed is one we cannot vouch for.
constexpr DigestAlgorithm kDigestAlgorithms[] = {
    {szOID_OIWSEC_sha1, CALG_SHA1},
    {szOID_NIST_sha256, CALG_SHA_256},
    {szOID_NIST_sha384, CALG_SHA_384},
    {szOID_NIST_sha512, CALG_SHA_512},
};

bool HashPiece(HCRYPTHASH hash, std::span<const uint8_t> bytes) {
  // CryptHashData takes a DWORD length; views are below 2 GiB.
  return ::CryptHashData(hash, bytes.data(), static_cast<DWORD>(bytes.size()),
                         0);
}

}  // namespace

ALG_ID DigestAlgorithmOf(const char* oid) {
  for (const DigestAlgorithm& candidate : kDigestAlgorithms) {
    if (oid && std::strcmp(oid, candidate.oid) == 0)
      return candidate.algorithm;
  }
  return 0;
}

bool ComputeDigest(ALG_ID algorithm,
                   std::span<const std::span<const uint8_t>> pieces,
                   std::vector<uint8_t>* digest) {
  // SHA-256 through the build's own code: CryptoAPI's under Wine hashes
  // about 160 MB/s, a tenth of it, and every signed start hashes the
  // library before it loads it.
  if (algorithm == CALG_SHA_256) {
    ComputeSha256(pieces, digest);
    return true;
  }
  ScopedCryptProvider provider;
  if (!provider.Acquire())
    return false;
  ScopedCryptHash hash;
  if (!hash.Create(provider.Get(), algorithm))
    return false;
  for (std::span<const uint8_t> piece : pieces) {
    if (!HashPiece(hash.Get(), piece))
      return false;
  }
  DWORD size = 0;
  DWORD size_length = sizeof(size);
  if (!::CryptGetHashParam(hash.Get(), HP_HASHSIZE,
                           reinterpret_cast<BYTE*>(&size), &size_length, 0)) {
    return false;
  }
  digest->resize(size);
  if (!::CryptGetHashParam(hash.Get(), HP_HASHVAL, digest->data(), &size, 0))
    return false;
  digest->resize(size);
  return true;
}

bool ComputeAuthenticodeDigest(const PeImage& image,
                               ALG_ID algorithm,
                               std::vector<uint8_t>* digest) {
  const std::vector<PeImage::Range> ranges = image.GetDigestedRanges();
  if (ranges.empty()) {
    // A layout the format does not hash: the certificate table among the
    // headers or sections or not last, or sections not back to back.
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  std::vector<std::span<const uint8_t>> pieces;
  for (const PeImage::Range& range : ranges)
    pieces.push_back(image.bytes().subspan(range.begin, range.end - range.begin));
  return ComputeDigest(algorithm, pieces, digest);
}

}  // namespace installer
