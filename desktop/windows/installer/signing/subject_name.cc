#include "desktop/windows/installer/signing/subject_name.h"

#include <algorithm>

#include "base/strings/utf_code_point.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/signing/der_element.h"

namespace installer {

namespace {

constexpr uint8_t kObjectIdentifierTag = 0x06;
constexpr uint8_t kSequenceTag = 0x30;
constexpr uint8_t kSetTag = 0x31;
constexpr uint8_t kCommonName[] = {0x55, 0x04, 0x03};

enum class Encoding { kUtf8, kAscii, kLatin1, kUtf16, kUtf32 };

struct StringType {
  uint8_t tag;
  Encoding encoding;
};

// The string types a name's text may take, as the platform reads them.
constexpr StringType kStringTypes[] = {
    {0x0C, Encoding::kUtf8},    // UTF8String
    {0x13, Encoding::kAscii},   // PrintableString
    {0x16, Encoding::kAscii},   // IA5String
    {0x1A, Encoding::kAscii},   // VisibleString
    {0x14, Encoding::kLatin1},  // TeletexString, one byte a character
    {0x1E, Encoding::kUtf16},   // BMPString, big-endian
    {0x1C, Encoding::kUtf32},   // UniversalString, big-endian
};

// The code units of `bytes` read `width` bytes at a time, big-endian.
bool ReadWideUnits(std::span<const uint8_t> bytes,
                   size_t width,
                   std::wstring* text) {
  if (bytes.size() % width != 0)
    return false;
  for (size_t at = 0; at < bytes.size(); at += width) {
    uint32_t unit = 0;
    for (size_t i = 0; i < width; ++i)
      unit = (unit << 8) | bytes[at + i];
    if (width == 2) {
      text->push_back(static_cast<wchar_t>(unit));
    } else if (!base::IsValidCodePoint(static_cast<int32_t>(unit)) ||
               base::WriteCodePointUtf16(static_cast<int32_t>(unit), text) ==
                   0) {
      return false;
    }
  }
  return true;
}

bool DecodeText(Encoding encoding,
                std::span<const uint8_t> bytes,
                std::wstring* text) {
  switch (encoding) {
    case Encoding::kUtf8:
      // A malformed sequence would become U+FFFD: no name at all instead.
      return base::ConvertUtf8ToUtf16(
          reinterpret_cast<const char*>(bytes.data()), bytes.size(), text);
    case Encoding::kAscii:
      if (std::ranges::any_of(bytes, [](uint8_t byte) { return byte > 0x7F; }))
        return false;
      [[fallthrough]];
    case Encoding::kLatin1:
      text->assign(bytes.begin(), bytes.end());
      return true;
    case Encoding::kUtf16:
      return ReadWideUnits(bytes, 2, text);
    case Encoding::kUtf32:
      return ReadWideUnits(bytes, 4, text);
  }
  return false;
}

// The text of a common name's value, or empty.
std::wstring ReadText(const DerElement& value) {
  const auto type =
      std::ranges::find(kStringTypes, value.tag, &StringType::tag);
  std::wstring text;
  if (type == std::end(kStringTypes) ||
      !DecodeText(type->encoding, value.contents, &text) ||
      text.find(L'\0') != std::wstring::npos ||
      text.size() > SubjectName::kMaxCommonNameLength) {
    return std::wstring();
  }
  return text;
}

// The value of `attribute` (a type and a value) when its type is the common
// name.
bool ReadCommonNameValue(const DerElement& attribute, DerElement* value) {
  size_t offset = 0;
  DerElement type;
  return attribute.tag == kSequenceTag &&
         DerElement::ReadTagged(attribute.contents, kObjectIdentifierTag,
                                &offset, &type) &&
         std::ranges::equal(type.contents, kCommonName) &&
         DerElement::Read(attribute.contents, offset, value) &&
         value->end == attribute.contents.size();
}

}  // namespace

// static
std::wstring SubjectName::CommonName(std::span<const uint8_t> encoded_name) {
  DerElement name;
  if (!DerElement::Read(encoded_name, 0, &name) || name.tag != kSequenceTag)
    return std::wstring();
  // A sequence of sets of attributes.
  for (size_t offset = 0; offset < name.contents.size();) {
    DerElement set;
    if (!DerElement::Read(name.contents, offset, &set) || set.tag != kSetTag)
      return std::wstring();
    offset = set.end;
    for (size_t at = 0; at < set.contents.size();) {
      DerElement attribute;
      if (!DerElement::Read(set.contents, at, &attribute))
        return std::wstring();
      at = attribute.end;
      DerElement value;
      if (ReadCommonNameValue(attribute, &value))
        return ReadText(value);
    }
  }
  return std::wstring();
}

}  // namespace installer
