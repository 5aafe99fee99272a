#include "desktop/windows/installer/signing/authenticode_digest.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include "desktop/windows/installer/signing/held_file_registry.h"
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

// What a held file's digest reads at a time.
constexpr size_t kHeldReadSize = 1 << 20;

bool HashPiece(HCRYPTHASH hash, std::span<const uint8_t> bytes) {
  // CryptHashData takes a DWORD length; views are below 2 GiB.
  return ::CryptHashData(hash, bytes.data(), static_cast<DWORD>(bytes.size()),
                         0);
}

// Hands `ranges` of the file held open on `file` to `hash`, read through
// the handle a bounded buffer at a time: a mapped view read whole would
// keep every page of it resident. False, with the Windows error, when a
// range cannot be read to its end.
bool ReadHeldRanges(HANDLE file,
                    std::span<const PeImage::Range> ranges,
                    const std::function<void(std::span<const uint8_t>)>& hash) {
  std::vector<uint8_t> buffer(kHeldReadSize);
  for (const PeImage::Range& range : ranges) {
    for (size_t at = range.begin; at < range.end;) {
      const DWORD wanted =
          static_cast<DWORD>(std::min(buffer.size(), range.end - at));
      OVERLAPPED position = {};
      position.Offset = static_cast<DWORD>(at);
      position.OffsetHigh = static_cast<DWORD>(uint64_t{at} >> 32);
      DWORD read = 0;
      if (!::ReadFile(file, buffer.data(), wanted, &read, &position))
        return false;
      if (read == 0) {
        ::SetLastError(ERROR_HANDLE_EOF);
        return false;
      }
      hash({buffer.data(), read});
      at += read;
    }
  }
  return true;
}

// The digest of `ranges` of the file held open on `file`, read once while
// the file is held (HeldFileRegistry): a backend proves its 96 MB program
// to start its crash reporter and checks it again as the package it
// unpacks. Read anew when the hold that kept it broke since: the file may
// have been written meanwhile.
bool ComputeHeldDigest(HANDLE file,
                       std::span<const PeImage::Range> ranges,
                       ALG_ID algorithm,
                       std::vector<uint8_t>* digest) {
  HeldFileRegistry& registry = HeldFileRegistry::Get();
  const std::optional<HeldFileIdentity> identity =
      HeldFileRegistry::IdentityOf(file);
  const std::optional<uint64_t> hold =
      identity ? registry.FindHold(*identity) : std::nullopt;
  if (hold) {
    if (std::optional<std::vector<uint8_t>> known =
            registry.FindDigest(*identity, algorithm)) {
      *digest = std::move(*known);
      return true;
    }
  }
  if (!ComputeDigest(
          algorithm,
          [file, ranges](
              const std::function<void(std::span<const uint8_t>)>& hash) {
            return ReadHeldRanges(file, ranges, hash);
          },
          digest)) {
    return false;
  }
  if (hold)
    registry.RememberDigest(*identity, *hold, algorithm, *digest);
  return true;
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
  return ComputeDigest(
      algorithm,
      [pieces](const std::function<void(std::span<const uint8_t>)>& hash) {
        for (std::span<const uint8_t> piece : pieces)
          hash(piece);
        return true;
      },
      digest);
}

bool ComputeDigest(ALG_ID algorithm,
                   const DigestFeed& feed,
                   std::vector<uint8_t>* digest) {
  // SHA-256 through the build's own code: CryptoAPI's under Wine hashes
  // about 160 MB/s, a tenth of it, and every signed start hashes the
  // library before it loads it.
  if (algorithm == CALG_SHA_256)
    return ComputeSha256(feed, digest);
  ScopedCryptProvider provider;
  if (!provider.Acquire())
    return false;
  ScopedCryptHash hash;
  if (!hash.Create(provider.Get(), algorithm))
    return false;
  bool hashed = true;
  if (!feed([&hash, &hashed](std::span<const uint8_t> piece) {
        hashed = hashed && HashPiece(hash.Get(), piece);
      }) ||
      !hashed) {
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
  if (image.held_file())
    return ComputeHeldDigest(image.held_file(), ranges, algorithm, digest);
  std::vector<std::span<const uint8_t>> pieces;
  for (const PeImage::Range& range : ranges)
    pieces.push_back(image.bytes().subspan(range.begin, range.end - range.begin));
  return ComputeDigest(algorithm, pieces, digest);
}

}  // namespace installer
