#include "desktop/windows/installer/signing/timestamp_token_info.h"

#include <iterator>

#include "desktop/windows/installer/signing/der_reader.h"
#include "desktop/windows/installer/signing/signed_data_layout.h"

namespace installer {

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kExplicit0 = 0xA0;
constexpr uint8_t kBoolean = 0x01;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kObjectIdentifier = 0x06;
constexpr uint8_t kUtcTime = 0x17;
constexpr uint8_t kGeneralizedTime = 0x18;

constexpr char kTstInfoOid[] = "1.2.840.113549.1.9.16.1.4";

// The largest digest an imprint names (SHA-512).
constexpr size_t kMaxImprint = 64;
// "YYYYMMDDhhmmss" and "Z", with a fraction of the second of at most this
// many digits between them.
constexpr size_t kMaxFractionDigits = 9;
// FILETIME begins in 1601.
constexpr int kFirstYear = 1601;

bool HasObjectIdentifier(DerReader& reader, const char* oid) {
  const std::optional<DerReader::Element> element =
      reader.Next(kObjectIdentifier);
  if (!element)
    return false;
  const std::optional<std::string> text =
      DerReader::ObjectIdentifierText(element->contents);
  return text && *text == oid;
}

constexpr uint8_t kAuthorityName = 0xA0;
constexpr uint8_t kExtensions = 0xA1;
// The fields a token info may carry after its time, each at most once and
// in this order: accuracy, ordering, nonce, tsa, extensions.
constexpr uint8_t kFieldsAfterTime[] = {kSequence, kBoolean, kInteger,
                                        kAuthorityName, kExtensions};

// Extension { extnID, critical BOOLEAN DEFAULT FALSE, extnValue }: none is
// known to a token info's reader, so one marked critical makes the token
// info one it cannot read, as the standard says.
bool IsNonCriticalExtension(const DerReader::Element& extension) {
  if (extension.tag != kSequence)
    return false;
  DerReader fields(extension.contents);
  if (!fields.Next(kObjectIdentifier))
    return false;
  std::optional<DerReader::Element> value = fields.Next();
  if (value && value->tag == kBoolean) {
    if (value->contents.size() != 1 || value->contents[0] != 0)
      return false;
    value = fields.Next();
  }
  return value && value->tag == kOctetString && fields.AtEnd();
}

// Extensions ::= SEQUENCE SIZE (1..MAX) OF Extension, tagged implicitly.
bool AreNonCriticalExtensions(std::span<const uint8_t> contents) {
  DerReader extensions(contents);
  if (extensions.AtEnd())
    return false;
  while (!extensions.AtEnd()) {
    const std::optional<DerReader::Element> extension = extensions.Next();
    if (!extension || !IsNonCriticalExtension(*extension))
      return false;
  }
  return true;
}

// Whether what follows the time in `fields` is read to its end: only the
// known optional fields, in their order, and no critical extension. An
// element after them is one the reader does not know, which may change
// what the token says.
bool HasOnlyKnownFieldsAfterTime(DerReader fields) {
  size_t next_known = 0;
  while (!fields.AtEnd()) {
    const std::optional<DerReader::Element> field = fields.Next();
    if (!field)
      return false;
    while (next_known < std::size(kFieldsAfterTime) &&
           kFieldsAfterTime[next_known] != field->tag) {
      ++next_known;
    }
    if (next_known == std::size(kFieldsAfterTime))
      return false;
    ++next_known;
    if (field->tag == kExtensions && !AreNonCriticalExtensions(field->contents))
      return false;
  }
  return true;
}

// The element of `tag` that `der` holds whole, and nothing after it.
std::optional<DerReader::Element> WholeElement(std::span<const uint8_t> der,
                                               uint8_t tag) {
  DerReader reader(der);
  std::optional<DerReader::Element> element = reader.Next(tag);
  if (!element || !reader.AtEnd())
    return std::nullopt;
  return element;
}

// `count` decimal digits at `offset` as a number, or -1.
int Digits(std::span<const uint8_t> text, size_t offset, size_t count) {
  int value = 0;
  for (size_t i = offset; i < offset + count; ++i) {
    if (text[i] < '0' || text[i] > '9')
      return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// "MMDDhhmmss" at `offset`, after a year already read.
std::optional<StampTime> ReadMonthToSecond(std::span<const uint8_t> text,
                                           size_t offset,
                                           int year) {
  const int month = Digits(text, offset, 2);
  const int day = Digits(text, offset + 2, 2);
  const int hour = Digits(text, offset + 4, 2);
  const int minute = Digits(text, offset + 6, 2);
  const int second = Digits(text, offset + 8, 2);
  if (year < kFirstYear || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  StampTime time;
  time.year = static_cast<uint16_t>(year);
  time.month = static_cast<uint8_t>(month);
  time.day = static_cast<uint8_t>(day);
  time.hour = static_cast<uint8_t>(hour);
  time.minute = static_cast<uint8_t>(minute);
  time.second = static_cast<uint8_t>(second);
  return time;
}

// "YYMMDDhhmmssZ": years 50 to 99 are of the 1900s, as the standard says.
std::optional<StampTime> ReadUtcTime(std::span<const uint8_t> text) {
  if (text.size() != 13 || text[12] != 'Z')
    return std::nullopt;
  const int year = Digits(text, 0, 2);
  if (year < 0)
    return std::nullopt;
  return ReadMonthToSecond(text, 2, year < 50 ? 2000 + year : 1900 + year);
}

// "YYYYMMDDhhmmss[.f...]Z"; the fraction is dropped.
std::optional<StampTime> ReadGeneralizedTime(std::span<const uint8_t> text) {
  constexpr size_t kWhole = 14;
  if (text.size() < kWhole + 1 || text.back() != 'Z')
    return std::nullopt;
  const size_t fraction = text.size() - 1 - kWhole;
  if (fraction != 0) {
    if (fraction < 2 || fraction > kMaxFractionDigits + 1 ||
        text[kWhole] != '.' || Digits(text, kWhole + 1, fraction - 1) < 0) {
      return std::nullopt;
    }
  }
  return ReadMonthToSecond(text, 4, Digits(text, 0, 4));
}

}  // namespace

std::optional<TimestampTokenInfo> TimestampTokenInfo::FromToken(
    std::span<const uint8_t> token) {
  const std::optional<DerReader::Element> content_info =
      WholeElement(token, kSequence);
  if (!content_info)
    return std::nullopt;
  const std::optional<SignedDataLayout> layout =
      SignedDataLayout::Read(content_info->encoded);
  if (!layout)
    return std::nullopt;
  DerReader encapsulated_fields(layout->encapsulated_content().contents);
  if (!HasObjectIdentifier(encapsulated_fields, kTstInfoOid))
    return std::nullopt;
  const std::optional<DerReader::Element> explicit_info =
      encapsulated_fields.Next(kExplicit0);
  if (!explicit_info || !encapsulated_fields.AtEnd())
    return std::nullopt;
  const std::optional<DerReader::Element> octets =
      WholeElement(explicit_info->contents, kOctetString);
  if (!octets)
    return std::nullopt;
  return Parse(octets->contents);
}

std::optional<TimestampTokenInfo> TimestampTokenInfo::Parse(
    std::span<const uint8_t> der) {
  const std::optional<DerReader::Element> tst_info =
      WholeElement(der, kSequence);
  if (!tst_info)
    return std::nullopt;
  DerReader fields(tst_info->contents);
  const std::optional<DerReader::Element> version = fields.Next(kInteger);
  if (!version || version->contents.size() != 1 || version->contents[0] != 1)
    return std::nullopt;
  std::optional<DerReader::Element> imprint;
  if (!fields.Next(kObjectIdentifier) || !(imprint = fields.Next(kSequence)))
    return std::nullopt;
  std::optional<DerReader::Element> gen_time;
  if (!fields.Next(kInteger) || !(gen_time = fields.Next(kGeneralizedTime)))
    return std::nullopt;

  DerReader imprint_fields(imprint->contents);
  const std::optional<DerReader::Element> algorithm =
      imprint_fields.Next(kSequence);
  const std::optional<DerReader::Element> digest =
      imprint_fields.Next(kOctetString);
  if (!algorithm || !digest || !imprint_fields.AtEnd() ||
      digest->contents.empty() || digest->contents.size() > kMaxImprint) {
    return std::nullopt;
  }
  DerReader algorithm_fields(algorithm->contents);
  const std::optional<DerReader::Element> algorithm_oid =
      algorithm_fields.Next(kObjectIdentifier);
  if (!algorithm_oid)
    return std::nullopt;
  std::optional<std::string> algorithm_text =
      DerReader::ObjectIdentifierText(algorithm_oid->contents);
  std::optional<StampTime> time = ReadTime(gen_time->encoded);
  if (!algorithm_text || !time || !HasOnlyKnownFieldsAfterTime(fields))
    return std::nullopt;

  TimestampTokenInfo info;
  info.encoded_ = tst_info->encoded;
  info.imprint_algorithm_ = std::move(*algorithm_text);
  info.imprint_ = digest->contents;
  info.time_ = *time;
  return info;
}

std::optional<StampTime> TimestampTokenInfo::ReadTime(
    std::span<const uint8_t> der) {
  DerReader reader(der);
  const std::optional<DerReader::Element> element = reader.Next();
  if (!element || !reader.AtEnd())
    return std::nullopt;
  if (element->tag == kUtcTime)
    return ReadUtcTime(element->contents);
  if (element->tag == kGeneralizedTime)
    return ReadGeneralizedTime(element->contents);
  return std::nullopt;
}

}  // namespace installer
