#include "desktop/windows/installer/signing/certificate_set.h"

#include "desktop/windows/installer/signing/der_reader.h"
#include "desktop/windows/installer/signing/signed_data_layout.h"

namespace installer {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kExplicit0 = 0xA0;
// Signed data's certificates field, [0] IMPLICIT SET: no field before it
// (version, digest algorithms, content) carries this tag.
constexpr uint8_t kCertificatesField = 0xA0;
// Of the set's choices, only a plain certificate is a SEQUENCE.
constexpr uint8_t kPlainCertificate = 0x30;
constexpr uint8_t kLongLength = 0x80;

void AppendElement(uint8_t tag,
                   std::span<const uint8_t> contents,
                   Bytes* out) {
  out->push_back(tag);
  const size_t length = contents.size();
  if (length < kLongLength) {
    out->push_back(static_cast<uint8_t>(length));
  } else {
    int count = 0;
    for (size_t rest = length; rest; rest >>= 8)
      ++count;
    out->push_back(static_cast<uint8_t>(kLongLength | count));
    for (int i = count - 1; i >= 0; --i)
      out->push_back(static_cast<uint8_t>(length >> (8 * i)));
  }
  out->insert(out->end(), contents.begin(), contents.end());
}

// Appends the certificates field `field` holding only its plain
// certificates, or nothing when it holds none; `dropped` is set when it
// held another choice. False when a choice is not a whole element.
bool AppendPlainCertificates(const DerReader::Element& field,
                             Bytes* fields,
                             bool* dropped) {
  Bytes certificates;
  DerReader choices(field.contents);
  while (!choices.AtEnd()) {
    const std::optional<DerReader::Element> choice = choices.Next();
    if (!choice)
      return false;
    if (choice->tag == kPlainCertificate) {
      certificates.insert(certificates.end(), choice->encoded.begin(),
                          choice->encoded.end());
    } else {
      *dropped = true;
    }
  }
  if (!certificates.empty())
    AppendElement(kCertificatesField, certificates, fields);
  return true;
}

// The fields of `signed_data` with its certificate set made plain; none
// when no field changed or one is not a whole element.
std::optional<Bytes> PlainSignedDataFields(
    std::span<const uint8_t> signed_data) {
  Bytes fields;
  bool dropped = false;
  DerReader reader(signed_data);
  while (!reader.AtEnd()) {
    const std::optional<DerReader::Element> field = reader.Next();
    if (!field)
      return std::nullopt;
    if (field->tag != kCertificatesField) {
      fields.insert(fields.end(), field->encoded.begin(), field->encoded.end());
    } else if (!AppendPlainCertificates(*field, &fields, &dropped)) {
      return std::nullopt;
    }
  }
  if (!dropped)
    return std::nullopt;
  return fields;
}

}  // namespace

// static
std::optional<std::vector<uint8_t>> CertificateSet::WithPlainCertificatesOnly(
    std::span<const uint8_t> signature) {
  // A signature in a certificate table may be followed by padding, which
  // is left behind.
  const std::optional<SignedDataLayout> layout =
      SignedDataLayout::Read(signature);
  if (!layout)
    return std::nullopt;
  const std::optional<Bytes> fields =
      PlainSignedDataFields(layout->signed_data().contents);
  if (!fields)
    return std::nullopt;
  Bytes plain_signed_data;
  AppendElement(kSequence, *fields, &plain_signed_data);
  Bytes content_info_contents(layout->content_type().encoded.begin(),
                              layout->content_type().encoded.end());
  AppendElement(kExplicit0, plain_signed_data, &content_info_contents);
  Bytes plain;
  AppendElement(kSequence, content_info_contents, &plain);
  return plain;
}

}  // namespace installer
