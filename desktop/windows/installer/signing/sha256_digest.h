#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SHA256_DIGEST_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SHA256_DIGEST_H_

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace installer {

// Hands the bytes to digest to `hash` a piece at a time, in order; false
// when a piece could not be had.
using DigestFeed = std::function<bool(
    const std::function<void(std::span<const uint8_t>)>& hash)>;

// The SHA-256 of what `feed` hands over, by BoringSSL's code (kept apart
// from the system's headers, whose names clash with its own); false when it
// could not hand all.
bool ComputeSha256(const DigestFeed& feed, std::vector<uint8_t>* digest);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SHA256_DIGEST_H_
