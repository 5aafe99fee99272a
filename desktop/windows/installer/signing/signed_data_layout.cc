#include "desktop/windows/installer/signing/signed_data_layout.h"

#include <algorithm>

namespace installer {

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kObjectIdentifier = 0x06;
constexpr uint8_t kExplicit0 = 0xA0;
constexpr uint8_t kCertificates = 0xA0;
constexpr uint8_t kRevocationLists = 0xA1;
// The contents of the object identifier 1.2.840.113549.1.7.2, signedData.
constexpr uint8_t kSignedDataType[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                       0x0D, 0x01, 0x07, 0x02};

bool IsSignedDataType(const DerReader::Element& type) {
  return std::ranges::equal(type.contents, kSignedDataType);
}

// Reads the optional field of `tag` when it comes next; false when the
// next element is not whole.
bool SkipOptional(DerReader& fields, uint8_t tag) {
  DerReader ahead = fields;
  const std::optional<DerReader::Element> field = ahead.Next();
  if (!field)
    return false;
  if (field->tag == tag)
    fields = ahead;
  return true;
}

}  // namespace

// static
std::optional<SignedDataLayout> SignedDataLayout::Read(
    std::span<const uint8_t> der) {
  DerReader outer(der);
  const std::optional<DerReader::Element> content_info = outer.Next(kSequence);
  if (!content_info)
    return std::nullopt;
  DerReader content_info_fields(content_info->contents);
  const std::optional<DerReader::Element> content_type =
      content_info_fields.Next(kObjectIdentifier);
  if (!content_type || !IsSignedDataType(*content_type))
    return std::nullopt;
  const std::optional<DerReader::Element> content =
      content_info_fields.Next(kExplicit0);
  if (!content || !content_info_fields.AtEnd())
    return std::nullopt;
  DerReader content_reader(content->contents);
  const std::optional<DerReader::Element> signed_data =
      content_reader.Next(kSequence);
  if (!signed_data || !content_reader.AtEnd())
    return std::nullopt;

  DerReader fields(signed_data->contents);
  std::optional<DerReader::Element> encapsulated;
  if (!fields.Next(kInteger) || !fields.Next(kSet) ||
      !(encapsulated = fields.Next(kSequence)) ||
      !SkipOptional(fields, kCertificates) ||
      !SkipOptional(fields, kRevocationLists) || !fields.Next(kSet) ||
      !fields.AtEnd()) {
    return std::nullopt;
  }
  SignedDataLayout layout;
  layout.content_type_ = *content_type;
  layout.signed_data_ = *signed_data;
  layout.encapsulated_content_ = *encapsulated;
  return layout;
}

}  // namespace installer
