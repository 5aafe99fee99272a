#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_TIMESTAMP_TOKEN_INFO_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_TIMESTAMP_TOKEN_INFO_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace installer {

// A time in UTC to the second, as a time-stamp states it.
struct StampTime {
  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
};

// What a time-stamping authority's token says (its TSTInfo): the digest it
// vouches for and the time it vouches for it at. Read from the token's DER
// by hand, as the platform has no decoder for it under Wine, with every
// length and value bounded; nothing here proves the token's signature.
// Pure: no system calls.
class TimestampTokenInfo {
 public:
  // The token info carried by `token`, an RFC 3161 time-stamp token (a
  // ContentInfo of signed data whose content is a TSTInfo); none unless
  // both are whole and of the shape the standard gives them.
  static std::optional<TimestampTokenInfo> FromToken(
      std::span<const uint8_t> token);
  // The same from the DER of a TSTInfo itself.
  static std::optional<TimestampTokenInfo> Parse(std::span<const uint8_t> der);

  // A GeneralizedTime ("YYYYMMDDhhmmss[.f...]Z") or UTCTime
  // ("YYMMDDhhmmssZ") element, tag included; none unless every field is in
  // range.
  static std::optional<StampTime> ReadTime(std::span<const uint8_t> der);

  // The TSTInfo's DER, which the token's signer digests.
  std::span<const uint8_t> encoded() const { return encoded_; }
  // The object identifier of the imprint's digest algorithm, dotted.
  const std::string& imprint_algorithm() const { return imprint_algorithm_; }
  std::span<const uint8_t> imprint() const { return imprint_; }
  const StampTime& time() const { return time_; }

 private:
  TimestampTokenInfo() = default;

  std::span<const uint8_t> encoded_;
  std::string imprint_algorithm_;
  std::span<const uint8_t> imprint_;
  StampTime time_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_TIMESTAMP_TOKEN_INFO_H_
