#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_DATA_LAYOUT_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_DATA_LAYOUT_H_

#include <cstdint>
#include <optional>
#include <span>

#include "desktop/windows/installer/signing/der_reader.h"

namespace installer {

// The fields of a PKCS #7 signed data (a file's signature, a nested one or
// a time-stamp token), each where the standard puts it: a content info of
// the signed-data type holding one SignedData { version, digestAlgorithms,
// encapContentInfo, [0] certificates?, [1] crls?, signerInfos } and nothing
// else. The platform's decoder takes a signed data that lacks a field
// (digestAlgorithms) for whole; read here first, such a one is malformed.
// It does not judge what the fields hold. Pure: no system calls.
class SignedDataLayout {
 public:
  // The layout of the content info that `der` begins with (what follows it,
  // such as a certificate table's padding, is the caller's to judge); none
  // unless every field is in its place.
  static std::optional<SignedDataLayout> Read(std::span<const uint8_t> der);

  // The content info's type, as encoded.
  const DerReader::Element& content_type() const { return content_type_; }
  // The SignedData, as encoded.
  const DerReader::Element& signed_data() const { return signed_data_; }
  // encapContentInfo: { eContentType, [0] eContent? }.
  const DerReader::Element& encapsulated_content() const {
    return encapsulated_content_;
  }

 private:
  SignedDataLayout() = default;

  DerReader::Element content_type_;
  DerReader::Element signed_data_;
  DerReader::Element encapsulated_content_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_DATA_LAYOUT_H_
